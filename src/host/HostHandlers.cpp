#include "host/HostHandlers.h"

#include "auth/AuthController.h"
#include "host/ObsWebSocketVendor.h"
#include "proxy/EventProxyServer.h"
#include "threading/ThreadCalls.h"
#include "values/ErrorCodes.h"
#include "values/JsonBridge.h"

#include <QJsonArray>

#include <memory>

namespace {

using Responder = ObsWebSocketVendor::Responder;

// A member's string value; empty when it is absent or not a string.
QString stringParam(const QJsonObject &params, const char *key)
{
	return params.value(QLatin1String(key)).toString();
}

// "platform" first when it is a string, then the string elements of
// "platforms"; the controller normalises and de-duplicates.
QStringList requiredPlatforms(const QJsonObject &params)
{
	QStringList platforms;
	const QJsonValue platform = params.value(QStringLiteral("platform"));
	if (platform.isString())
		platforms << platform.toString();
	for (const QJsonValue &element : params.value(QStringLiteral("platforms")).toArray()) {
		if (element.isString())
			platforms << element.toString();
	}
	return platforms;
}

// The proxy's calls wait for the worker thread, which never waits on the UI
// thread, so they cannot deadlock.
Result<QJsonObject> simulateEvent(const HostTargets &t, const QJsonObject &params)
{
	EventProxyServer *proxy = t.eventProxy;
	if (!proxy)
		return Failure{QStringLiteral("Event proxy is not available."), ErrorCodes::proxyUnavailable};
	const Result<json> simulated = callOn(proxy, [&] {
		return proxy->simulateEvent(stringParam(params, "type"), stringParam(params, "platform"),
					    stringParam(params, "username"), stringParam(params, "chatMessage"));
	});
	if (!simulated.ok())
		return simulated.failure();
	return toQJsonObject(simulated.value());
}

Result<QJsonObject> logoutIntegration(const HostTargets &t, const QJsonObject &params)
{
	const QString upid = stringParam(params, "upid").trimmed();
	if (upid.isEmpty())
		return Failure{QStringLiteral("Missing upid."), ErrorCodes::missingUpid};
	// The pages hear of the logout before the account is dropped.
	if (EventProxyServer *proxy = t.eventProxy)
		callOn(proxy, [proxy, upid = upid.toStdString()] { proxy->publishLogout(upid); });
	return t.authController.logoutIntegration(upid);
}

// Every host method is an operation on the targets that gives a Result;
// here, and only here, its value becomes the answer and its failure an error.
class Registrar {
public:
	Registrar(ObsWebSocketVendor &into, HostTargets on)
		: vendor(into), targets(std::make_shared<const HostTargets>(std::move(on)))
	{
	}

	template<typename Operation> void add(const char *method, Operation operation)
	{
		vendor.registerHandler(QString::fromLatin1(method), [t = targets, operation](const QJsonObject &params,
											     const Responder &r) {
			const auto outcome = operation(*t, params);
			if (outcome.ok())
				r.success(outcome.value());
			else
				r.error(outcome.failure().message, QString::fromLatin1(outcome.failure().code));
		});
	}

	void fixedResult(const char *method, const QJsonValue &value)
	{
		add(method, [value](const HostTargets &, const QJsonObject &) { return Result(value); });
	}

	void fixedError(const char *method, const char *message, const char *code)
	{
		add(method, [message, code](const HostTargets &, const QJsonObject &) {
			return Result<QJsonValue>(Failure{QString::fromUtf8(message), code});
		});
	}

private:
	ObsWebSocketVendor &vendor;
	std::shared_ptr<const HostTargets> targets;
};

} // namespace

void registerHostHandlers(ObsWebSocketVendor &vendor, HostTargets targets)
{
	Registrar reg(vendor, std::move(targets));
	// The account login start never answers with an error: its failures are
	// the result members "opened": false and "error".
	const auto beginAccountLogin = [](const HostTargets &t, const QJsonObject &) {
		return Result(t.authController.beginAccountLogin());
	};
	const auto logoutAccount = [](const HostTargets &t, const QJsonObject &) {
		return Result(t.authController.logoutAccount());
	};

	reg.add("zorva.status", [](const HostTargets &t, const QJsonObject &) {
		return Result(statusWithHostBootstrap(t.bootstrapSources()));
	});
	reg.add("zorva.getHostBootstrap", [](const HostTargets &t, const QJsonObject &) {
		return Result(buildHostBootstrap(t.bootstrapSources()).toJson());
	});
	reg.add("zorva.refreshHostBootstrap", [](const HostTargets &t, const QJsonObject &) {
		t.refreshHostState();
		return Result(buildHostBootstrap(t.bootstrapSources()).toJson());
	});
	reg.add("accounts.list",
		[](const HostTargets &t, const QJsonObject &) { return Result(t.authController.accountsList()); });
	reg.add("accounts.require", [](const HostTargets &t, const QJsonObject &params) {
		return Result(t.authController.requirePlatforms(requiredPlatforms(params)));
	});
	reg.fixedResult("getSessionJson", QJsonObject());
	reg.add("authenticate", beginAccountLogin);
	reg.fixedResult("listDisplays", QJsonArray());
	reg.fixedResult("listWindows", QJsonArray());
	reg.fixedResult("listCameras", QJsonArray());
	reg.fixedResult("notify", QJsonObject());
	reg.add("simulateEvent", &simulateEvent);
	reg.fixedError("takeScreenshot", "Screenshots are not available from OBS yet.", ErrorCodes::notImplemented);
	reg.fixedError("applySessionOps", "applySessionOps is handled by the OBS shim.", ErrorCodes::shimRequired);
	reg.fixedError("evalBrowserLayerJs", "Browser-layer JS evaluation is not enabled in OBS yet.",
		       ErrorCodes::notImplemented);
	reg.fixedError("getBrowserLayerConsoleLogs", "Browser-layer console logs are not enabled in OBS yet.",
		       ErrorCodes::notImplemented);
	reg.add("accounts.beginLogin", [beginAccountLogin](const HostTargets &t, const QJsonObject &params) {
		const QString platform = stringParam(params, "platform").trimmed();
		return platform.isEmpty() ? beginAccountLogin(t, params)
					  : t.authController.beginIntegrationLogin(platform);
	});
	reg.add("accounts.refresh",
		[](const HostTargets &t, const QJsonObject &) { return t.authController.refreshAccount(); });
	reg.add("accounts.logout", logoutAccount);
	reg.add("zorva.logout", logoutAccount);
	reg.add("accounts.handleRedirect", [](const HostTargets &t, const QJsonObject &params) {
		const QUrl url(stringParam(params, "url"), QUrl::TolerantMode);
		return Result(QJsonObject{{QStringLiteral("handled"), t.authController.handleRedirect(url)}});
	});
	// The platform goes unchanged: rejecting an empty one is the controller's.
	reg.add("vek.beginLogin", [](const HostTargets &t, const QJsonObject &params) {
		return t.authController.beginIntegrationLogin(stringParam(params, "platform"));
	});
	reg.add("vek.logout", &logoutIntegration);
}
