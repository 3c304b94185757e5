#pragma once

#include "auth/AccountOAuthClient.h"
#include "auth/AuthStateFile.h"
#include "auth/CallbackListener.h"
#include "auth/IntegrationLogins.h"
#include "auth/LinkedAccounts.h"
#include "auth/TokenStore.h"
#include "auth/VekLoginClient.h"
#include "values/Result.h"
#include "values/ServiceEndpoints.h"

#include <chrono>

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

// Everything the module knows about who is logged in: the Vorn account
// (OAuth tokens and identity), the platform accounts linked through Vek, the
// platforms the pages require and the logins in progress. It coordinates the
// pieces that do the work: the token store, the auth file, the account
// service's OAuth client, Vek's login calls, the integration login attempts
// and the callback listener. Lives on the UI thread.
class AuthController : public QObject {
	Q_OBJECT

public:
	struct Options {
		ServiceEndpoints endpoints;
		std::chrono::milliseconds callbackTimeout = std::chrono::minutes(10); // login callback listener
		std::chrono::milliseconds requestTimeout = std::chrono::seconds(15);  // refresh and login-URL requests
		// The auth file ("zorva-auth.json" in the module's configuration
		// folder, which the module passes in). Empty: nothing is loaded or saved.
		QString stateFilePath;
		quint16 callbackPort = 49231;
	};

	explicit AuthController(Options options, QObject *parent = nullptr);
	~AuthController() override;

	// Snapshots, built fresh on every call.
	QJsonObject accountStatus() const;
	QJsonObject integrationsStatus() const;
	QJsonObject statusSnapshot() const;
	QJsonObject accountsList() const;
	QJsonArray integrationSnapshot() const;
	QString currentAccessToken() const;

	QJsonObject requirePlatforms(const QStringList &platforms);

	// Account login, refresh and logout. The login start has no failure of
	// its own: "opened": false and an "error" text are members of its result.
	QJsonObject beginAccountLogin();
	// The account status after a refresh. Waits for the account service's
	// answer at most the request time-out. An answer that a logout or
	// another token answer overtook changes nothing: the account status
	// returned is then the one they left.
	Result<QJsonObject> refreshAccount();
	QJsonObject logoutAccount();
	QString callbackUrl() const;

	// Platform accounts linked through Vek.
	Result<QJsonObject> beginIntegrationLogin(const QString &platform);
	QJsonObject logoutIntegration(const QString &upid);
	// Vek rejected the token: the account goes if it still holds that token,
	// and true is returned; one linked anew since, with another token, stays.
	bool removeIntegration(const QString &upid, const QString &rejectedToken);

	// Consumes a "vorn" redirect carrying the code of a pending login.
	bool handleRedirect(const QUrl &url);

	QString authStateFilePath() const { return stateFile.path(); }

Q_SIGNALS:
	void statusChanged();
	void redirectConsumed();

private:
	// The callback listener runs while a login waits for it.
	bool hasPendingWork() const;
	void stopListenerIfIdle();
	void onListenerTimedOut();
	bool takeCallbackCode(const QString &state, const QString &code);
	void saveAuthState();
	void startupRefresh();

	// Account flow.
	bool acceptAccountCallback(const QString &state, const QString &code);
	// False when the login's code is being exchanged already: a browser that
	// retries, or a code that comes both to the listener and as a redirect,
	// delivers it twice, and a repeat starts nothing.
	bool exchangeAccountCode(const QString &code, const QString &state);
	void onAccountCodeExchanged(const QJsonObject &response, const QString &error);
	void applyTokenResponse(const QJsonObject &response);

	// Integration flow.
	bool acceptIntegrationCallback(const QString &state, const QString &code);
	// False, as for the account, when the login's code is being exchanged.
	bool exchangeIntegrationCode(const QString &code, const QString &state);
	void onIntegrationCodeExchanged(const PendingIntegrationLogin &login, const VekAnswer &answer);
	void onIntegrationInspected(const PendingIntegrationLogin &login, const QString &token,
				    const VekAnswer &answer);
	// Ends an attempt that failed or lost its purpose; a failure is announced.
	void endIntegrationAttempt(quint64 attemptId);
	void failIntegrationAttempt(quint64 attemptId);

	const Options options;
	QNetworkAccessManager network;
	AuthStateFile stateFile;
	TokenStore account;
	LinkedAccounts linkedAccounts;
	QSet<QString> requiredPlatforms;
	AccountOAuthClient oauth;
	VekLoginClient vek;
	IntegrationLogins integrationLogins;
	CallbackListener listener;
};
