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

Result<QJsonObject> ModuleHostTargets::beginIntegrationLogin(const QString &platform)
{
	return with.authController.beginIntegrationLogin(platform);
}

Result<QJsonObject> ModuleHostTargets::refreshAccount()
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
// cannot deadlock; the handlers ask hasEventProxy() before either.
Result<json> ModuleHostTargets::simulateEvent(const QString &type, const QString &platform, const QString &username,
					      const QString &chatMessage)
{
	EventProxyServer *proxy = with.eventProxy;
	Result<json> result = json(); // the proxy's answer replaces it
	[[maybe_unused]] const bool ran = QMetaObject::invokeMethod(
		proxy, [&] { return proxy->simulateEvent(type, platform, username, chatMessage); },
		Qt::BlockingQueuedConnection, &result);
	Q_ASSERT(ran);
	return result;
}

void ModuleHostTargets::publishLogout(const std::string &upid)
{
	EventProxyServer *proxy = with.eventProxy;
	[[maybe_unused]] const bool ran = QMetaObject::invokeMethod(
		proxy, [proxy, &upid] { proxy->publishLogout(upid); }, Qt::BlockingQueuedConnection);
	Q_ASSERT(ran);
}
