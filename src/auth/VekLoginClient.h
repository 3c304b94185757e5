#pragma once

#include "values/Result.h"
#include "values/ServiceEndpoints.h"

#include <chrono>
#include <functional>

#include <QJsonObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;
class QUrlQuery;

// Vek's answer to an auth request: its "data", or the reader's error text.
// The data is empty when the answer lists errors.
struct VekAnswer {
	QJsonObject data;
	QString error;
};

// Vek's login page for a platform.
struct VekLoginUrl {
	QUrl url;
	QString loginState; // the page's "state", which its callback carries
};

// Vek's REST calls that link a platform account: the platform's login URL,
// the exchange of the callback's code for a token, and the identity the
// token belongs to.
class VekLoginClient {
public:
	using AnswerDone = std::function<void(const VekAnswer &answer)>;

	VekLoginClient(QNetworkAccessManager &network, const ServiceEndpoints &endpoints,
		       std::chrono::milliseconds requestTimeout);

	// The platform as one percent-encoded segment of a request path, or
	// INVALID_PLATFORM for "." and "..", which no segment can carry.
	static Result<QByteArray> pathSegment(const QString &platform);
	// Asks for the platform's login URL, waiting in a nested event loop at
	// most the request time-out: the URL, or why there is none. The URL
	// returned sends the browser back to the account redirect page. A
	// platform pathSegment refuses is refused without a request; OBS
	// quitting during the wait gives HOST_SHUTTING_DOWN.
	Result<VekLoginUrl> fetchLoginUrl(const QString &platform, const QString &requestState);
	// Both run done in the context's thread once Vek has answered.
	void exchangeCode(const QString &code, const QString &loginState, QObject *context, AnswerDone done);
	void inspect(const QString &token, QObject *context, AnswerDone done);

private:
	// The path below the API base URL, percent-encoded.
	QNetworkReply *get(const QString &encodedPath, const QUrlQuery &query, const QByteArray &authorization = {});
	void whenAnswered(QNetworkReply *reply, QObject *context, AnswerDone done);

	QNetworkAccessManager &network;
	const ServiceEndpoints &endpoints;
	const std::chrono::milliseconds requestTimeout;
};
