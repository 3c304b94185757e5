// The loopback login callback listener, "vorn" redirects and the result page.

#include "auth/AuthController.h"

#include "auth/CallbackPage.h"
#include "obs/Log.h"

#include <QTcpSocket>
#include <QUrlQuery>

#include <obs.h>

namespace {

// A browser's request head is small; anything larger is not a callback.
constexpr qsizetype kMaxCallbackRequestBytes = 64 * 1024;

QString queryItem(const QUrlQuery &query, const char *name)
{
	return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
}

} // namespace

void AuthController::onNewCallbackConnection()
{
	while (QTcpSocket *socket = callbackServer.nextPendingConnection()) {
		connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handleCallbackRequest(socket); });
		connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
		connect(socket, &QObject::destroyed, this, [this, socket] { callbackBytes.remove(socket); });
	}
}

void AuthController::handleCallbackRequest(QTcpSocket *socket)
{
	// A request head may arrive in several reads: keep its bytes until it is
	// complete, up to a bound.
	QByteArray &bytes = callbackBytes[socket];
	bytes += socket->readAll();
	const CallbackRequest request = parseCallbackRequest(bytes);
	if (request.outcome == CallbackRequest::Outcome::Incomplete) {
		if (bytes.size() > kMaxCallbackRequestBytes)
			writeCallbackPage(socket, false, QStringLiteral("Invalid callback request."));
		return;
	}

	switch (request.outcome) {
	case CallbackRequest::Outcome::Invalid:
		writeCallbackPage(socket, false, QStringLiteral("Invalid callback request."));
		return;
	case CallbackRequest::Outcome::UnknownPath:
		writeCallbackPage(socket, false, QStringLiteral("Unknown callback path."));
		return;
	default:
		break;
	}

	const QUrlQuery &query = request.query;
	if (!queryItem(query, "error").isEmpty()) {
		const QString description = queryItem(query, "error_description");
		logWarning("Auth callback failed: %s", description.toUtf8().constData());
		writeCallbackPage(socket, false, description);
		return;
	}
	const bool accepted = handleAccountCallback(query) || handleIntegrationCallback(query);
	writeCallbackPage(socket, accepted, QStringLiteral("Login callback could not be accepted."));
}

bool AuthController::handleAccountCallback(const QUrlQuery &query)
{
	const QString state = queryItem(query, "state");
	if (state.isEmpty() || state != pendingAccountState) {
		logWarning("Ignoring login callback with invalid state.");
		return false;
	}
	const QString code = queryItem(query, "code");
	if (code.isEmpty()) {
		logWarning("Vorn account callback rejected: missing authorization code.");
		return false;
	}
	logInfo("Vorn account callback accepted; exchanging token.");
	exchangeAccountCode(code, state);
	Q_EMIT redirectConsumed();
	return true;
}

bool AuthController::handleIntegrationCallback(const QUrlQuery &query)
{
	const QString state = queryItem(query, "state");
	const auto login = state.isEmpty() ? pendingIntegrationLogins.end() : pendingIntegrationLogins.find(state);
	if (login == pendingIntegrationLogins.end())
		return false;
	if (login->second.status == QStringLiteral("authorizing"))
		return false;
	const QString code = queryItem(query, "code");
	if (code.isEmpty()) {
		logWarning("Vek callback rejected: missing authorization code.");
		return false;
	}
	login->second.status = QStringLiteral("authorizing");
	logInfo("Vek callback accepted for %s; exchanging token.",
	     login->second.platform.toUtf8().constData());
	Q_EMIT statusChanged();
	exchangeIntegrationCode(code, state);
	Q_EMIT redirectConsumed();
	return true;
}

bool AuthController::handleRedirect(const QUrl &url)
{
	if (url.scheme() != QStringLiteral("vorn"))
		return false;
	QUrlQuery query(url.query(QUrl::FullyEncoded));
	QString state = queryItem(query, "state");
	QString code = queryItem(query, "code");
	if (state.isEmpty() && url.hasFragment()) {
		const QUrlQuery fragment(url.fragment(QUrl::FullyEncoded));
		state = queryItem(fragment, "state");
		code = queryItem(fragment, "code");
	}
	if (state.isEmpty() || code.isEmpty())
		return false;

	if (state == pendingAccountState) {
		exchangeAccountCode(code, state);
		Q_EMIT redirectConsumed();
		return true;
	}
	if (pendingIntegrationLogins.count(state)) {
		exchangeIntegrationCode(code, state);
		Q_EMIT redirectConsumed();
		return true;
	}
	return false;
}

void AuthController::writeCallbackPage(QTcpSocket *socket, bool success, const QString &message)
{
	// One answer per connection: later bytes from the browser are ignored.
	socket->disconnect(this);
	callbackBytes.remove(socket);
	socket->write(callbackPageResponse(success, message, options.endpoints.iconUrl));
	socket->disconnectFromHost();
}

void AuthController::onCallbackTimeout()
{
	const bool accountPending = !pendingAccountState.isEmpty();
	const int vekPending = int(pendingIntegrationLogins.size());
	resetAccountLogin();
	cancelAllIntegrationLogins();
	callbackServer.close();
	if (accountPending || vekPending > 0) {
		logWarning("Auth callback listener timed out before completion (account=%d, vek=%d).",
		     accountPending ? 1 : 0, vekPending);
		Q_EMIT statusChanged();
	}
}
