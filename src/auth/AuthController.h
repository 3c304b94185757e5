#pragma once

#include "auth/IntegrationRecord.h"
#include "plugin/ServiceEndpoints.h"

#include <map>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>

// Owner of everything the module knows about who is logged in: the Vorn
// account and the platform accounts linked through Vek. Lives on the UI thread.
class AuthController : public QObject {
	Q_OBJECT

public:
	explicit AuthController(ServiceEndpoints endpoints = {}, QObject *parent = nullptr);
	~AuthController() override;

	QJsonObject accountStatus() const;
	QJsonObject integrationsStatus() const;
	QJsonObject statusSnapshot() const;
	QJsonArray integrationSnapshot() const;
	QString currentAccessToken() const;

	// Consumes the account-login redirect of the pending login; false for any
	// other URL.
	bool handleRedirect(const QUrl &url);

	// Drops a linked account that Vek no longer accepts; false when none matched.
	bool removeIntegration(const QString &upid);

Q_SIGNALS:
	void statusChanged();
	void redirectConsumed();

private:
	bool isAuthenticated() const;

	ServiceEndpoints endpoints;
	QString accessToken;
	QDateTime expiresAt;
	QString subject;
	QString email;
	QString displayName;
	std::map<QString, IntegrationRecord> integrations; // ascending UPID order
};
