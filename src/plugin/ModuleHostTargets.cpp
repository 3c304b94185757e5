#include "plugin/ModuleHostTargets.h"

#include "auth/AuthController.h"
#include "proxy/EventProxyServer.h"
#include "threading/ThreadCalls.h"

namespace {

class ModuleHostTargets final : public HostTargets {
public:
	explicit ModuleHostTargets(HostTargetCollaborators collaborators) : with(std::move(collaborators)) {}

	QJsonObject status() override { return statusWithHostBootstrap(with.bootstrapSources()); }
	QJsonObject hostBootstrap() override { return buildHostBootstrap(with.bootstrapSources()).toJson(); }
	void refreshHostState() override { with.refreshHostState(); }

	QJsonObject accountsList() override { return with.authController.accountsList(); }
	QJsonObject requirePlatforms(const QStringList &platforms) override
	{
		return with.authController.requirePlatforms(platforms);
	}
	QJsonObject beginAccountLogin() override { return with.authController.beginAccountLogin(); }
	Result<QJsonObject> beginIntegrationLogin(const QString &platform) override
	{
		return with.authController.beginIntegrationLogin(platform);
	}
	Result<QJsonObject> refreshAccount() override { return with.authController.refreshAccount(); }
	QJsonObject logoutAccount() override { return with.authController.logoutAccount(); }
	bool handleRedirect(const QUrl &url) override { return with.authController.handleRedirect(url); }
	QJsonObject logoutIntegration(const QString &upid) override
	{
		return with.authController.logoutIntegration(upid);
	}

	bool hasEventProxy() override { return with.eventProxy != nullptr; }
	Result<json> simulateEvent(const QString &type, const QString &platform, const QString &username,
				   const QString &chatMessage) override;
	void publishLogout(const std::string &upid) override;

private:
	HostTargetCollaborators with;
};

// The worker thread never waits on the UI thread, so these blocking calls
// cannot deadlock; the handlers ask hasEventProxy() before either.
Result<json> ModuleHostTargets::simulateEvent(const QString &type, const QString &platform, const QString &username,
					      const QString &chatMessage)
{
	EventProxyServer *proxy = with.eventProxy;
	return callOn(proxy, [&] { return proxy->simulateEvent(type, platform, username, chatMessage); });
}

void ModuleHostTargets::publishLogout(const std::string &upid)
{
	EventProxyServer *proxy = with.eventProxy;
	callOn(proxy, [proxy, &upid] { proxy->publishLogout(upid); });
}

} // namespace

std::unique_ptr<HostTargets> makeModuleHostTargets(HostTargetCollaborators collaborators)
{
	return std::make_unique<ModuleHostTargets>(std::move(collaborators));
}
