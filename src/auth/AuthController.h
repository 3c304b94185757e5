#pragma once

#include "auth/IntegrationRecord.h"
#include "values/ServiceEndpoints.h"

#include <map>

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

class QNetworkReply;
class QTcpSocket;
class QUrlQuery;

// An integration login waiting for its callback, exchange or inspection.
struct PendingIntegrationLogin {
	QString platform;
	QString requestState; // sent to Vek with the login-URL request; echoed by the exchange
	QString loginState;   // "state" of Vek's login URL; the map key
	QString status;       // "logging_in", then "authorizing"
	quint64 attemptId = 0;
};

// "Authorizing", "Logging in" or "Pending".
QString displayReason(const QString &status);

// Owner of everything the module knows about who is logged in: the Vorn
// account (OAuth tokens and identity), the platform accounts linked through
// Vek, the platforms the pages require and the logins in progress. Lives on
// the UI thread; persisted in "zorva-auth.json".
class AuthController : public QObject {
	Q_OBJECT

public:
	struct Options {
		ServiceEndpoints endpoints;
		int callbackTimeoutMs = 600000; // login callback listener
		int requestTimeoutMs = 15000;   // refresh and login-URL requests
		// The auth file ("zorva-auth.json" in the module's configuration
		// folder, as the module passes it). Empty: nothing is loaded or saved.
		QString stateFilePath;
		quint16 callbackPort = 49231;
	};

	static constexpr const char *accountClientId = "5b9e2c7a1d4f8e3b6a0c9d2e7f1a4b8c";

	AuthController();
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

	// Account login, refresh and logout.
	QJsonObject beginAccountLogin();
	QJsonObject refreshAccount();
	QJsonObject logoutAccount();
	QString callbackUrl() const;

	// Platform accounts linked through Vek.
	QJsonObject beginIntegrationLogin(const QString &platform);
	QJsonObject logoutIntegration(const QString &upid);
	bool removeIntegration(const QString &upid);

	// Consumes a "vorn" redirect carrying the code of a pending login.
	bool handleRedirect(const QUrl &url);

	QString authStateFilePath() const { return options.stateFilePath; }

Q_SIGNALS:
	void statusChanged();
	void redirectConsumed();

private:
	// State operations.
	void resetAccountLogin();
	void finishAttempt(quint64 id);
	bool isAttemptLive(quint64 id) const;
	bool hasPendingWork() const;
	void cancelPlatformLogins(const QString &platform);
	void cancelAllIntegrationLogins();
	bool ensureCallbackListener();
	void stopListenerIfIdle();
	bool isAuthenticated() const;

	// Persistence.
	void saveAuthState();
	void loadAuthState();
	void applyIdTokenClaims();
	void startupRefresh();

	// Account flow.
	QString buildAuthorizeUrl();
	void exchangeAccountCode(const QString &code, const QString &state);
	void applyTokenResponse(const QJsonObject &response);
	QNetworkReply *postForm(const QString &url, const QList<std::pair<QString, QString>> &items);
	// Waits in a nested event loop for the reply, at most the request time-out;
	// true when it timed out (the reply is then still unfinished).
	bool waitForReply(QNetworkReply *reply);

	// Integration flow.
	void exchangeIntegrationCode(const QString &code, const QString &state);
	void inspectIntegration(const QString &platform, const QString &token, quint64 attemptId);
	// Ends a failed or abandoned integration attempt; with a warning, the
	// change is announced.
	void endIntegrationAttempt(quint64 attemptId, const char *warning = nullptr, const QString &detail = QString());
	QNetworkReply *getFromVek(const QString &path, const QUrlQuery &query, const QByteArray &authorization = {});

	// Callback listener.
	void onNewCallbackConnection();
	void handleCallbackRequest(QTcpSocket *socket);
	bool handleAccountCallback(const QUrlQuery &query);
	bool handleIntegrationCallback(const QUrlQuery &query);
	void writeCallbackPage(QTcpSocket *socket, bool success, const QString &message);
	void onCallbackTimeout();

	Options options;

	QNetworkAccessManager network;
	// Bytes of callback connections whose request head is still incomplete.
	// Declared before the server: the server deletes the connections still
	// open when it is destroyed, and each removes itself from this table.
	QHash<QTcpSocket *, QByteArray> callbackBytes;
	QTcpServer callbackServer;
	QTimer callbackTimeout;
	QString idToken;
	QString accessToken;
	QString refreshToken;
	QDateTime expiresAt;
	QString subject;
	QString email;
	QString displayName;
	std::map<QString, IntegrationRecord> integrations; // ascending UPID order
	QSet<QString> requiredPlatforms;
	QString pendingAccountState;
	QString pendingCodeVerifier;
	QString pendingRedirectUri;
	quint64 pendingAccountAttempt = 0;
	std::map<QString, PendingIntegrationLogin> pendingIntegrationLogins; // by loginState
	std::map<quint64, QString> attemptPlatforms;
	QSet<quint64> activeAttempts;
	QSet<quint64> cancelledAttempts;
	quint64 nextAccountAttempt = 1;
	quint64 nextIntegrationAttempt = 1;
};
