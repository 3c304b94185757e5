#pragma once

#include "host/HostBootstrap.h"
#include "host/HostTargets.h"

#include <functional>

class AuthController;
class EventProxyServer;

// The host methods' targets as the loaded module has them: the account
// controller, the event proxy on the worker thread, and the module's state
// through the two functions it hands in. The module destroys this object
// before either of the two objects it points to.
class ModuleHostTargets final : public HostTargets {
public:
	struct Collaborators {
		AuthController &authController;
		EventProxyServer *eventProxy = nullptr; // lives on the worker thread
		std::function<HostBootstrapSources()> bootstrapSources;
		std::function<void()> refreshHostState;
	};

	explicit ModuleHostTargets(Collaborators collaborators);

	QJsonObject status() override;
	QJsonObject hostBootstrap() override;
	void refreshHostState() override;

	QJsonObject accountsList() override;
	QJsonObject requirePlatforms(const QStringList &platforms) override;
	QJsonObject beginAccountLogin() override;
	Result<QJsonObject> beginIntegrationLogin(const QString &platform) override;
	Result<QJsonObject> refreshAccount() override;
	QJsonObject logoutAccount() override;
	bool handleRedirect(const QUrl &url) override;
	QJsonObject logoutIntegration(const QString &upid) override;

	bool hasEventProxy() override;
	Result<json> simulateEvent(const QString &type, const QString &platform, const QString &username,
				   const QString &chatMessage) override;
	void publishLogout(const std::string &upid) override;

private:
	Collaborators with;
};
