// The coordinator: snapshots, the auth file, the callback listener and the
// "vorn" redirects that complete a login.

#include "auth/AuthController.h"

#include "auth/AccountSnapshots.h"
#include "auth/CallbackPage.h"
#include "auth/JsonReply.h"
#include "obs/Log.h"
#include "values/ErrorCodes.h"

#include <QTimer>
#include <QUrlQuery>

AuthController::AuthController(Options givenOptions, QObject *parent)
	: QObject(parent), options(std::move(givenOptions)), stateFile(options.stateFilePath),
	  oauth(network, options.endpoints, options.requestTimeout),
	  vek(network, options.endpoints, options.requestTimeout),
	  listener(options.callbackPort, options.callbackTimeout, options.endpoints.iconUrl,
		   [this](const QString &state, const QString &code) { return takeCallbackCode(state, code); })
{
	connect(&listener, &CallbackListener::timedOut, this, &AuthController::onListenerTimedOut);
	AuthState saved = stateFile.load();
	account.restore(saved.account);
	linkedAccounts.restore(std::move(saved.integrations));
	if (!account.refreshToken().isEmpty())
		QTimer::singleShot(0, this, &AuthController::startupRefresh);
}

AuthController::~AuthController() = default;

// ---- snapshots

QJsonObject AuthController::accountStatus() const
{
	return account.status();
}

QJsonObject AuthController::integrationsStatus() const
{
	return integrationsStatusJson(linkedAccounts, integrationLogins);
}

QJsonObject AuthController::statusSnapshot() const
{
	return QJsonObject{
		{QStringLiteral("account"), accountStatus()},
		{QStringLiteral("integrations"), integrationsStatus()},
		{QStringLiteral("vekEndpoint"), options.endpoints.vekApiBaseUrl},
	};
}

QJsonObject AuthController::accountsList() const
{
	return accountsListJson(linkedAccounts, integrationLogins, requiredPlatforms);
}

QJsonArray AuthController::integrationSnapshot() const
{
	return linkedAccounts.snapshot();
}

QString AuthController::currentAccessToken() const
{
	return account.currentAccessToken();
}

// ---- persistence

void AuthController::saveAuthState()
{
	stateFile.save(account.tokens(), linkedAccounts.records());
}

void AuthController::startupRefresh()
{
	const Result<QJsonObject> result = refreshAccount();
	if (!result.ok()) {
		// A quit is no failure of the refresh, and the client said so.
		if (result.failure().code != ErrorCodes::hostShuttingDown)
			logWarning("Startup auth refresh failed (%s): %s", result.failure().code,
				   redactTokens(result.failure().message).toUtf8().constData());
		return;
	}
	Q_EMIT statusChanged();
}

// ---- the callback listener and redirects

bool AuthController::hasPendingWork() const
{
	return oauth.isLoginPending() || integrationLogins.hasPendingWork();
}

void AuthController::stopListenerIfIdle()
{
	if (!hasPendingWork())
		listener.close();
}

void AuthController::onListenerTimedOut()
{
	const bool accountPending = oauth.isLoginPending();
	const int vekPending = integrationLogins.listedCount();
	oauth.resetLogin();
	integrationLogins.cancelAll();
	if (accountPending || vekPending > 0) {
		logWarning("Auth callback listener timed out before completion (account=%d, vek=%d).",
			   accountPending ? 1 : 0, vekPending);
		Q_EMIT statusChanged();
	}
}

bool AuthController::takeCallbackCode(const QString &state, const QString &code)
{
	return acceptAccountCallback(state, code) || acceptIntegrationCallback(state, code);
}

bool AuthController::handleRedirect(const QUrl &url)
{
	if (url.scheme() != QStringLiteral("vorn"))
		return false;
	QUrlQuery query(url.query(QUrl::FullyEncoded));
	QString state = decodedQueryItem(query, "state");
	QString code = decodedQueryItem(query, "code");
	if (state.isEmpty() && url.hasFragment()) {
		const QUrlQuery fragment(url.fragment(QUrl::FullyEncoded));
		state = decodedQueryItem(fragment, "state");
		code = decodedQueryItem(fragment, "code");
	}
	if (state.isEmpty() || code.isEmpty())
		return false;

	bool exchanging = false;
	if (oauth.isLoginState(state))
		exchanging = exchangeAccountCode(code, state);
	else if (integrationLogins.listed(state))
		exchanging = exchangeIntegrationCode(code, state);
	else
		return false;
	// A repeat of a code under exchange is still the module's; it starts nothing.
	if (exchanging)
		Q_EMIT redirectConsumed();
	return true;
}
