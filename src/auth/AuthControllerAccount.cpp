// The Vorn account: login with PKCE in the system browser, token exchange,
// refresh and logout.

#include "auth/AuthController.h"

#include "auth/JsonReply.h"
#include "obs/Log.h"
#include "values/ErrorCodes.h"

#include <QDesktopServices>

QString AuthController::callbackUrl() const
{
	return QStringLiteral("http://localhost:%1/callback").arg(listener.port());
}

QJsonObject AuthController::beginAccountLogin()
{
	oauth.resetLogin();
	if (!listener.listen())
		return QJsonObject{
			{QStringLiteral("opened"), false},
			{QStringLiteral("error"), QStringLiteral("Unable to start local login callback server.")}};

	const QString url = oauth.startLogin();
	const QString callback = callbackUrl();
	const bool opened = QDesktopServices::openUrl(QUrl(url));
	QJsonObject result{{QStringLiteral("opened"), opened},
			   {QStringLiteral("url"), url},
			   {QStringLiteral("callbackUrl"), callback}};
	if (opened) {
		logInfo("Started Vorn account login.");
		listener.startTimeout();
	} else {
		oauth.resetLogin();
		stopListenerIfIdle();
		result.insert(QStringLiteral("error"), QStringLiteral("Unable to open system browser."));
	}
	return result;
}

bool AuthController::acceptAccountCallback(const QString &state, const QString &code)
{
	if (!oauth.isLoginState(state)) {
		logWarning("Ignoring login callback with invalid state.");
		return false;
	}
	if (code.isEmpty()) {
		logWarning("Vorn account callback rejected: missing authorization code.");
		return false;
	}
	// The page of a repeat says what it said the first time: the code arrived.
	if (!exchangeAccountCode(code, state)) {
		logInfo("Vorn account callback repeated; its code is being exchanged already.");
		return true;
	}
	logInfo("Vorn account callback accepted; exchanging token.");
	Q_EMIT redirectConsumed();
	return true;
}

bool AuthController::exchangeAccountCode(const QString &code, const QString &state)
{
	return oauth.exchangeCode(code, state, this, [this](const QJsonObject &response, const QString &error) {
		onAccountCodeExchanged(response, error);
	});
}

void AuthController::onAccountCodeExchanged(const QJsonObject &response, const QString &error)
{
	if (!error.isEmpty()) {
		oauth.resetLogin();
		stopListenerIfIdle();
		logWarning("Vorn account token exchange failed: %s", redactTokens(error).toUtf8().constData());
		Q_EMIT statusChanged();
		return;
	}
	applyTokenResponse(response);
	oauth.resetLogin();
	stopListenerIfIdle();
}

void AuthController::applyTokenResponse(const QJsonObject &response)
{
	if (!account.applyTokenResponse(response)) {
		logWarning("Vorn account exchange failed: unsupported token type.");
		return;
	}
	saveAuthState();
	logInfo("Authenticated Vorn account for %s",
		account.email().isEmpty() ? "<unknown>" : account.email().toUtf8().constData());
	Q_EMIT statusChanged();
}

Result<QJsonObject> AuthController::refreshAccount()
{
	if (account.refreshToken().isEmpty())
		return Failure{QStringLiteral("No refresh token is available."), ErrorCodes::noRefreshToken};
	// The wait lets a logout or another token answer in first. This answer
	// then belongs to tokens that are gone, and must not bring them back.
	const quint64 generation = account.generation();
	const Result<QJsonObject> answer = oauth.refresh(account.refreshToken());
	if (!answer.ok())
		return answer.failure();
	if (account.generation() != generation) {
		logInfo("Ignoring Vorn account refresh answer: the account changed meanwhile.");
		return accountStatus();
	}
	applyTokenResponse(answer.value());
	return accountStatus();
}

QJsonObject AuthController::logoutAccount()
{
	oauth.resetLogin();
	account.clear();
	saveAuthState();
	stopListenerIfIdle();
	Q_EMIT statusChanged();
	return QJsonObject{{QStringLiteral("logoutUrl"), oauth.logoutUrl()}};
}
