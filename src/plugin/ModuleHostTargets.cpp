#include "plugin/ModuleHostTargets.h"

#include "auth/AuthController.h"
#include "host/HostBootstrap.h"
#include "plugin/ModuleLifecycle.h"
#include "plugin/ModuleState.h"
#include "proxy/EventProxyServer.h"

#include <QMetaObject>

namespace {

// The controller lives from load to unload, which spans every host request;
// the empty answers only cover a request racing the module's teardown.
AuthController *controller()
{
	return moduleState().authController.get();
}

} // namespace

QJsonObject ModuleHostTargets::status()
{
	return statusWithHostBootstrap(hostBootstrapSources());
}

QJsonObject ModuleHostTargets::hostBootstrap()
{
	return buildHostBootstrap(hostBootstrapSources()).toJson();
}

void ModuleHostTargets::refreshHostState()
{
	::refreshHostState();
}

QJsonObject ModuleHostTargets::accountsList()
{
	return controller() ? controller()->accountsList() : QJsonObject();
}

QJsonObject ModuleHostTargets::requirePlatforms(const QStringList &platforms)
{
	return controller() ? controller()->requirePlatforms(platforms) : QJsonObject();
}

QJsonObject ModuleHostTargets::beginAccountLogin()
{
	return controller() ? controller()->beginAccountLogin() : QJsonObject();
}

QJsonObject ModuleHostTargets::beginIntegrationLogin(const QString &platform)
{
	return controller() ? controller()->beginIntegrationLogin(platform) : QJsonObject();
}

QJsonObject ModuleHostTargets::refreshAccount()
{
	return controller() ? controller()->refreshAccount() : QJsonObject();
}

QJsonObject ModuleHostTargets::logoutAccount()
{
	return controller() ? controller()->logoutAccount() : QJsonObject();
}

bool ModuleHostTargets::handleRedirect(const QUrl &url)
{
	return controller() && controller()->handleRedirect(url);
}

QJsonObject ModuleHostTargets::logoutIntegration(const QString &upid)
{
	return controller() ? controller()->logoutIntegration(upid) : QJsonObject();
}

bool ModuleHostTargets::hasEventProxy()
{
	return moduleState().eventProxy != nullptr;
}

// The worker thread never waits on the UI thread, so these blocking calls
// cannot deadlock.
json ModuleHostTargets::simulateEvent(const QString &type, const QString &platform, const QString &username,
				      const QString &chatMessage)
{
	json result;
	QMetaObject::invokeMethod(moduleState().eventProxy, "simulateEvent", Qt::BlockingQueuedConnection,
				  Q_RETURN_ARG(nlohmann::json, result), Q_ARG(QString, type), Q_ARG(QString, platform),
				  Q_ARG(QString, username), Q_ARG(QString, chatMessage));
	return result;
}

void ModuleHostTargets::publishLogout(const std::string &upid)
{
	QMetaObject::invokeMethod(moduleState().eventProxy, "publishLogout", Qt::BlockingQueuedConnection,
				  Q_ARG(std::string, upid));
}
