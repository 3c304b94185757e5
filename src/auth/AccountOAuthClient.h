#pragma once

#include "values/Result.h"
#include "values/ServiceEndpoints.h"

#include <chrono>
#include <functional>

#include <QJsonObject>
#include <QList>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;

// The Vorn account login in progress: what the authorize URL carried.
struct AccountLoginAttempt {
	quint64 id = 0;
	QString state;        // "vorn." and a random UUID
	QString codeVerifier; // PKCE verifier of the authorize URL's challenge
	QString redirectUri;
	bool exchanging = false; // its code went to the token endpoint
};

// OAuth client of the Vorn account service: the login with PKCE (authorize
// URL, then the code exchange), the refresh and the logout URL.
class AccountOAuthClient {
public:
	static constexpr const char *clientId = "5b9e2c7a1d4f8e3b6a0c9d2e7f1a4b8c";

	using ExchangeDone = std::function<void(const QJsonObject &response, const QString &error)>;

	AccountOAuthClient(QNetworkAccessManager &network, const ServiceEndpoints &endpoints,
			   std::chrono::milliseconds requestTimeout);

	// Starts a new login, replacing any other; its authorize URL.
	QString startLogin();
	// Forgets the login in progress.
	void resetLogin() { login = AccountLoginAttempt(); }
	bool isLoginPending() const { return !login.state.isEmpty(); }
	// The state of the login in progress.
	bool isLoginState(const QString &state) const { return !state.isEmpty() && state == login.state; }

	// Exchanges the code of the login in progress; done runs, in the
	// context's thread, with the token object or the error text, and only if
	// that login is still the current one when the answer comes. False, with
	// nothing sent, for another state or a login whose code is being
	// exchanged already: the service takes a code once and refuses a repeat
	// at once, and that refusal would end the login before the first answer.
	bool exchangeCode(const QString &code, const QString &state, QObject *context, ExchangeDone done);
	// Refreshes the tokens, waiting in a nested event loop at most the
	// request time-out: the account service's token object, or why there is
	// none (HOST_SHUTTING_DOWN when OBS quits during the wait).
	Result<QJsonObject> refresh(const QString &refreshToken);
	// The account service's logout page, returning to the post-logout page.
	QString logoutUrl() const;

private:
	QNetworkReply *postForm(const QList<std::pair<QString, QString>> &items);

	QNetworkAccessManager &network;
	const ServiceEndpoints &endpoints;
	const std::chrono::milliseconds requestTimeout;
	AccountLoginAttempt login;
	quint64 nextLoginId = 1;
};
