#pragma once

#include "integration/VekService.h"
#include "values/MetaTypes.h"

#include <memory>
#include <string>

#include <QObject>

class QNetworkAccessManager;

// Carries the pages' REST requests to Vek's API with a linked account's token
// and reports each reply's body. One for the runtime, on the module's worker
// thread; it keeps no cookies, so no account's request carries another's.
class VekRestClient : public QObject {
	Q_OBJECT

public:
	explicit VekRestClient(VekService service, QObject *parent = nullptr);
	~VekRestClient() override;

	// Sends the request a page described ("endpoint", "method", "nonce" and a
	// "bytes" or "json" body) with the token; incomplete descriptions and other
	// methods are dropped. The reply is reported only while `requester` lives:
	// an account that goes takes its pending requests along, unanswered.
	void send(const nlohmann::json &payload, const std::string &token, QObject *requester);

Q_SIGNALS:
	void apiResponse(const std::string &nonce, const std::string &response);

private:
	QNetworkAccessManager &networkManager();

	VekService service;
	// Made on first use: the client is built before it moves to the thread
	// that sends.
	std::unique_ptr<QNetworkAccessManager> network;
};
