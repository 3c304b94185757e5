#pragma once

#include "integration/VekRestClient.h"
#include "integration/VekService.h"
#include "values/MetaTypes.h"

#include <string>
#include <unordered_map>

#include <QJsonArray>
#include <QObject>

class VekConnectionWorker;

// Keeps one live Vek connection per linked account of the integration
// snapshot, announces their traffic and carries the pages' requests to them.
// Lives on the module's worker thread.
class VekRuntime : public QObject {
	Q_OBJECT

public:
	VekRuntime();
	explicit VekRuntime(VekService service, QObject *parent = nullptr);
	~VekRuntime() override;

	size_t workerCount() const { return workers.size(); }
	VekConnectionWorker *worker(const std::string &upid) const;

Q_SIGNALS:
	// What the accounts' connections and REST replies bring, for the pages.
	// By reference: an event reaches the proxy within the worker thread
	// without a copy.
	void rawEvent(const std::string &upid, const nlohmann::json &event);
	void loggedOut(const std::string &upid);
	void apiResponse(const std::string &nonce, const std::string &response);
	// Vek rejected the account's token, the one named: the account may have
	// been linked anew with another token meanwhile. Emitted after loggedOut.
	void integrationLoggedOut(const std::string &upid, const std::string &rejectedToken);

public Q_SLOTS:
	void syncIntegrations(QJsonArray snapshot);
	void handleProxyRequest(const std::string &upid, const nlohmann::json &payload);
	void handleProxyPassthrough(const std::string &upid, const nlohmann::json &payload);
	void stop();

private:
	VekConnectionWorker *createWorker(const std::string &platform, const std::string &token,
					  const std::string &upid, const std::string &username);
	static void dismiss(VekConnectionWorker *worker);

	VekService service;
	// A child, so that it moves to the worker thread with the runtime.
	VekRestClient restClient;
	std::unordered_map<std::string, VekConnectionWorker *> workers;
};
