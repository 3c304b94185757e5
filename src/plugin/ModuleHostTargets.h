#pragma once

#include "host/HostTargets.h"

// The host methods' targets as the loaded module has them: the account
// controller, the event proxy on the worker thread and the module state.
class ModuleHostTargets final : public HostTargets {
public:
	QJsonObject status() override;
	QJsonObject hostBootstrap() override;
	void refreshHostState() override;

	QJsonObject accountsList() override;
	QJsonObject requirePlatforms(const QStringList &platforms) override;
	QJsonObject beginAccountLogin() override;
	QJsonObject beginIntegrationLogin(const QString &platform) override;
	QJsonObject refreshAccount() override;
	QJsonObject logoutAccount() override;
	bool handleRedirect(const QUrl &url) override;
	QJsonObject logoutIntegration(const QString &upid) override;

	bool hasEventProxy() override;
	json simulateEvent(const QString &type, const QString &platform, const QString &username,
			   const QString &chatMessage) override;
	void publishLogout(const std::string &upid) override;
};
