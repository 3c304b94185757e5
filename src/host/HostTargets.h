#pragma once

#include "values/Json.h"
#include "values/Result.h"

#include <string>

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// What the host methods act on: the account controller, the event proxy and
// the module's own state. The module serves these from its state; the
// handlers see only this interface, so they can be exercised on their own.
// Every function is called on the UI thread.
class HostTargets {
public:
	virtual ~HostTargets() = default;

	// The status snapshot with its "hostBootstrap" member.
	virtual QJsonObject status() = 0;
	virtual QJsonObject hostBootstrap() = 0;
	virtual void refreshHostState() = 0;

	virtual QJsonObject accountsList() = 0;
	virtual QJsonObject requirePlatforms(const QStringList &platforms) = 0;
	virtual QJsonObject beginAccountLogin() = 0;
	virtual Result<QJsonObject> beginIntegrationLogin(const QString &platform) = 0;
	virtual Result<QJsonObject> refreshAccount() = 0;
	virtual QJsonObject logoutAccount() = 0;
	virtual bool handleRedirect(const QUrl &url) = 0;
	virtual QJsonObject logoutIntegration(const QString &upid) = 0;

	virtual bool hasEventProxy() = 0;
	// Both run on the worker thread; the caller waits until they ran.
	virtual Result<json> simulateEvent(const QString &type, const QString &platform, const QString &username,
					   const QString &chatMessage) = 0;
	virtual void publishLogout(const std::string &upid) = 0;
};
