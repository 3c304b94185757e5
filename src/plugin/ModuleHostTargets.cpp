#include "plugin/ModuleHostTargets.h"

#include "auth/AuthController.h"
#include "proxy/EventProxyServer.h"

#include <QMetaObject>

ModuleHostTargets::ModuleHostTargets(Collaborators collaborators) : with(std::move(collaborators)) {}

QJsonObject ModuleHostTargets::status()
{
	return statusWithHostBootstrap(with.bootstrapSources());
}

QJsonObject ModuleHostTargets::hostBootstrap()
{
	return buildHostBootstrap(with.bootstrapSources()).toJson();
}

void ModuleHostTargets::refreshHostState()
{
	with.refreshHostState();
}

QJsonObject ModuleHostTargets::accountsList()
{
	return with.authController.accountsList();
}

QJsonObject ModuleHostTargets::requirePlatforms(const QStringList &platforms)
{
	return with.authController.requirePlatforms(platforms);
}

QJsonObject ModuleHostTargets::beginAccountLogin()
{
	return with.authController.beginAccountLogin();
}

QJsonObject ModuleHostTargets::beginIntegrationLogin(const QString &platform)
{
	return with.authController.beginIntegrationLogin(platform);
}

QJsonObject ModuleHostTargets::refreshAccount()
{
	return with.authController.refreshAccount();
}

QJsonObject ModuleHostTargets::logoutAccount()
{
	return with.authController.logoutAccount();
}

bool ModuleHostTargets::handleRedirect(const QUrl &url)
{
	return with.authController.handleRedirect(url);
}

QJsonObject ModuleHostTargets::logoutIntegration(const QString &upid)
{
	return with.authController.logoutIntegration(upid);
}

bool ModuleHostTargets::hasEventProxy()
{
	return with.eventProxy != nullptr;
}

// The worker thread never waits on the UI thread, so these blocking calls
// cannot deadlock.
json ModuleHostTargets::simulateEvent(const QString &type, const QString &platform, const QString &username,
				      const QString &chatMessage)
{
	json result;
	QMetaObject::invokeMethod(with.eventProxy, "simulateEvent", Qt::BlockingQueuedConnection,
				  Q_RETURN_ARG(nlohmann::json, result), Q_ARG(QString, type), Q_ARG(QString, platform),
				  Q_ARG(QString, username), Q_ARG(QString, chatMessage));
	return result;
}

void ModuleHostTargets::publishLogout(const std::string &upid)
{
	QMetaObject::invokeMethod(with.eventProxy, "publishLogout", Qt::BlockingQueuedConnection,
				  Q_ARG(std::string, upid));
}
