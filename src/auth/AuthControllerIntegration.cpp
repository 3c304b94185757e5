// Platform accounts linked through Vek: login URL, code exchange, identity
// inspection, logout and removal.

#include "auth/AuthController.h"

#include "auth/JsonReply.h"
#include "auth/Pkce.h"
#include "integration/VekService.h"
#include "obs/Log.h"

#include <QDesktopServices>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

#include <obs.h>

namespace {

QJsonObject dataOf(const QJsonObject &reply)
{
	return reply.value(QStringLiteral("data")).toObject();
}

bool hasErrors(const QJsonObject &reply)
{
	const QJsonValue errors = reply.value(QStringLiteral("errors"));
	return errors.isArray() && !errors.toArray().isEmpty();
}

} // namespace

QNetworkReply *AuthController::getFromVek(const QString &path, const QUrlQuery &query,
					  const QByteArray &authorization)
{
	QUrl url(options.endpoints.vekApiBaseUrl + path);
	url.setQuery(query);
	QNetworkRequest request(url);
	request.setRawHeader("Client-ID", VekService::clientId);
	if (!authorization.isEmpty())
		request.setRawHeader("Authorization", authorization);
	return network.get(request);
}

QJsonObject AuthController::beginIntegrationLogin(const QString &platform)
{
	const QString name = platform.trimmed().toUpper();
	if (name.isEmpty())
		return errorObject(QStringLiteral("Missing platform."), "MISSING_PLATFORM");
	cancelPlatformLogins(name);

	PendingIntegrationLogin login{name, makeState(QString()), QString(), QStringLiteral("logging_in"), 0};
	if (!ensureCallbackListener())
		return errorObject(QStringLiteral("Unable to start local login callback server."), "CALLBACK_SERVER_FAILED");

	const quint64 id = nextIntegrationAttempt++;
	activeAttempts.insert(id);
	attemptPlatforms[id] = name;

	QUrlQuery query;
	query.addQueryItem(QStringLiteral("state"), login.requestState);
	QNetworkReply *reply = getFromVek(QStringLiteral("/auth/%1/redirect").arg(name), query);
	const bool timedOut = waitForReply(reply);
	QString error;
	const QJsonObject response = timedOut ? QJsonObject() : readJsonReply(reply, error);
	reply->deleteLater();

	auto fail = [this, id](const QString &message, const char *code) {
		finishAttempt(id);
		stopListenerIfIdle();
		return errorObject(message, code);
	};
	const QByteArray platformText = name.toUtf8();
	if (timedOut) {
		logWarning("Timed out fetching %s login URL from Vek.", platformText.constData());
		return fail(QStringLiteral("Timed out preparing the integration login."), "VEK_LOGIN_URL_TIMEOUT");
	}
	if (!error.isEmpty()) {
		logWarning("Failed to fetch %s login URL: %s", platformText.constData(),
		     redactTokens(error).toUtf8().constData());
		return fail(error, "VEK_LOGIN_URL_FAILED");
	}
	if (hasErrors(response)) {
		const QJsonValue first = response.value(QStringLiteral("errors")).toArray().first();
		const QString message = first.isString() ? first.toString() : QStringLiteral("Vek login failed.");
		logWarning("Vek returned %s login error: %s", platformText.constData(),
		     message.toUtf8().constData());
		return fail(message, "VEK_LOGIN_URL_FAILED");
	}
	const QJsonObject data = dataOf(response);
	if (data.value(QStringLiteral("action")).toString() != QStringLiteral("OPEN_LINK"))
		return fail(QStringLiteral("Vek returned an unsupported login action."), "UNSUPPORTED_ACTION");
	QUrl next(data.value(QStringLiteral("next")).toString());
	QUrlQuery nextQuery(next);
	const QString loginState = nextQuery.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
	if (!next.isValid() || loginState.isEmpty())
		return fail(QStringLiteral("Vek returned an invalid login URL."), "INVALID_LOGIN_URL");

	login.loginState = loginState;
	login.attemptId = id;
	pendingIntegrationLogins[loginState] = login;

	nextQuery.removeAllQueryItems(QStringLiteral("redirect_uri"));
	nextQuery.addQueryItem(QStringLiteral("redirect_uri"),
			       QString::fromUtf8(QUrl::toPercentEncoding(options.endpoints.accountRedirectUrl)));
	next.setQuery(nextQuery);
	if (!QDesktopServices::openUrl(next))
		return fail(QStringLiteral("Unable to open system browser."), "BROWSER_OPEN_FAILED");

	callbackTimeout.start();
	logInfo("Started Vek login for %s.", platformText.constData());
	Q_EMIT statusChanged();
	return QJsonObject{{QStringLiteral("opened"), true},
			   {QStringLiteral("url"), next.toString()},
			   {QStringLiteral("callbackUrl"), callbackUrl()}};
}

void AuthController::endIntegrationAttempt(quint64 attemptId, const char *warning, const QString &detail)
{
	finishAttempt(attemptId);
	stopListenerIfIdle();
	if (!warning)
		return;
	blog(LOG_WARNING, warning, redactTokens(detail).toUtf8().constData());
	Q_EMIT statusChanged();
}

void AuthController::exchangeIntegrationCode(const QString &code, const QString &state)
{
	const auto found = pendingIntegrationLogins.find(state);
	if (found == pendingIntegrationLogins.end() || found->second.platform.isEmpty())
		return;
	const PendingIntegrationLogin login = found->second;

	QUrlQuery query;
	query.addQueryItem(QStringLiteral("code"), QString::fromUtf8(QUrl::toPercentEncoding(code)));
	query.addQueryItem(QStringLiteral("state"), QString::fromUtf8(QUrl::toPercentEncoding(state)));
	QNetworkReply *reply = getFromVek(QStringLiteral("/auth/exchange"), query);
	connect(reply, &QNetworkReply::finished, this, [this, reply, login] {
		QString error;
		const QJsonObject response = readJsonReply(reply, error);
		reply->deleteLater();
		if (!isAttemptLive(login.attemptId))
			return endIntegrationAttempt(login.attemptId);
		if (!error.isEmpty())
			return endIntegrationAttempt(login.attemptId, "[vorn-zorva] Vek token exchange failed: %s", error);
		const QJsonObject data = dataOf(response);
		const QString token = data.value(QStringLiteral("token")).toString();
		const QString echoedState = data.value(QStringLiteral("state")).toString();
		if (hasErrors(response) || token.isEmpty() || echoedState != login.requestState)
			return endIntegrationAttempt(login.attemptId, "[vorn-zorva] Vek token exchange failed: invalid response.");
		logInfo("Vek token exchange completed for %s; inspecting identity.",
		     login.platform.toUtf8().constData());
		inspectIntegration(login.platform, token, login.attemptId);
	});
}

void AuthController::inspectIntegration(const QString &platform, const QString &token, quint64 attemptId)
{
	QNetworkReply *reply = getFromVek(QStringLiteral("/auth/inspect"), QUrlQuery(),
					  QByteArrayLiteral("Vek ") + token.toUtf8());
	connect(reply, &QNetworkReply::finished, this, [this, reply, platform, token, attemptId] {
		QString error;
		const QJsonObject response = readJsonReply(reply, error);
		reply->deleteLater();
		if (!isAttemptLive(attemptId))
			return endIntegrationAttempt(attemptId);
		if (!error.isEmpty())
			return endIntegrationAttempt(attemptId, "[vorn-zorva] Vek inspect failed: %s", error);
		const QJsonObject data = dataOf(response);
		const QString upid = data.value(QStringLiteral("UPID")).toString();
		const QString username = data.value(QStringLiteral("username")).toString();
		if (hasErrors(response) || upid.isEmpty() || username.isEmpty())
			return endIntegrationAttempt(attemptId, "[vorn-zorva] Vek inspect failed: invalid identity response.");

		// The same token under another UPID is the same account renamed by Vek.
		for (auto it = integrations.begin(); it != integrations.end();) {
			if (it->second.token == token && it->second.upid != upid)
				it = integrations.erase(it);
			else
				++it;
		}
		integrations[upid] = IntegrationRecord{platform, token, upid, username};
		saveAuthState();
		finishAttempt(attemptId);
		stopListenerIfIdle();
		logInfo("Vek auth completed for %s as %s (%s).", platform.toUtf8().constData(),
		     username.toUtf8().constData(), upid.toUtf8().constData());
		Q_EMIT statusChanged();
	});
}

QJsonObject AuthController::logoutIntegration(const QString &upid)
{
	const QString key = upid.trimmed();
	QString platform;
	if (!key.isEmpty()) {
		if (auto it = integrations.find(key); it != integrations.end()) {
			platform = it->second.platform;
			integrations.erase(it);
		}
	}
	if (!platform.isEmpty())
		cancelPlatformLogins(platform);
	saveAuthState();
	stopListenerIfIdle();
	Q_EMIT statusChanged();
	return statusSnapshot();
}

bool AuthController::removeIntegration(const QString &upid)
{
	const QString key = upid.trimmed();
	if (key.isEmpty())
		return false;
	const auto it = integrations.find(key);
	if (it == integrations.end())
		return false;
	const QString platform = it->second.platform;
	integrations.erase(it);
	cancelPlatformLogins(platform);
	saveAuthState();
	stopListenerIfIdle();
	Q_EMIT statusChanged();
	return true;
}
