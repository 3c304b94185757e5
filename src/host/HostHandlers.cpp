#include "host/HostHandlers.h"

#include "host/HostTargets.h"
#include "host/ObsWebSocketVendor.h"
#include "values/ErrorCodes.h"
#include "values/JsonBridge.h"

#include <QJsonArray>

namespace {

using Responder = ObsWebSocketVendor::Responder;

// A member's string value; empty when it is absent or not a string.
QString stringParam(const QJsonObject &params, const char *key)
{
	return params.value(QLatin1String(key)).toString();
}

// An operation's value is the answer; its failure is answered as an error.
template<typename T> void answer(const Responder &r, const Result<T> &outcome)
{
	if (outcome.ok())
		r.success(outcome.value());
	else
		r.error(outcome.failure().message, QString::fromLatin1(outcome.failure().code));
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

Result<QJsonObject> simulateEvent(HostTargets &targets, const QJsonObject &params)
{
	if (!targets.hasEventProxy())
		return Failure{QStringLiteral("Event proxy is not available."), ErrorCodes::proxyUnavailable};
	const Result<json> simulated =
		targets.simulateEvent(stringParam(params, "type"), stringParam(params, "platform"),
				      stringParam(params, "username"), stringParam(params, "chatMessage"));
	if (!simulated.ok())
		return simulated.failure();
	return toQJsonObject(simulated.value());
}

void logoutIntegration(HostTargets &targets, const QJsonObject &params, const Responder &r)
{
	const QString upid = stringParam(params, "upid").trimmed();
	if (upid.isEmpty()) {
		r.error(QStringLiteral("Missing upid."), QString::fromLatin1(ErrorCodes::missingUpid));
		return;
	}
	// The pages hear of the logout before the account is dropped.
	if (targets.hasEventProxy())
		targets.publishLogout(upid.toStdString());
	r.success(targets.logoutIntegration(upid));
}

class Registrar {
public:
	Registrar(ObsWebSocketVendor &into, HostTargets &on) : vendor(into), targets(on) {}

	// A handler that answers with the operation's result.
	template<typename Operation> void result(const char *method, Operation operation)
	{
		HostTargets *t = &targets;
		add(method, [t, operation](const QJsonObject &params, const Responder &r) {
			r.success(operation(*t, params));
		});
	}

	// A handler whose operation can fail.
	template<typename Operation> void fallible(const char *method, Operation operation)
	{
		HostTargets *t = &targets;
		add(method, [t, operation](const QJsonObject &params, const Responder &r) {
			answer(r, operation(*t, params));
		});
	}

	template<typename Handler> void handler(const char *method, Handler serve)
	{
		HostTargets *t = &targets;
		add(method, [t, serve](const QJsonObject &params, const Responder &r) { serve(*t, params, r); });
	}

	void fixedResult(const char *method, const QJsonValue &value)
	{
		add(method, [value](const QJsonObject &, const Responder &r) { r.success(value); });
	}

	void fixedError(const char *method, const char *message, const char *code)
	{
		add(method, [message, code](const QJsonObject &, const Responder &r) {
			r.error(QString::fromUtf8(message), QString::fromLatin1(code));
		});
	}

	void add(const char *method, ObsWebSocketVendor::Handler handler)
	{
		vendor.registerHandler(QString::fromLatin1(method), std::move(handler));
	}

private:
	ObsWebSocketVendor &vendor;
	HostTargets &targets;
};

} // namespace

void registerHostHandlers(ObsWebSocketVendor &vendor, HostTargets &targets)
{
	Registrar reg(vendor, targets);
	const auto beginAccountLogin = [](HostTargets &t, const QJsonObject &) {
		return t.beginAccountLogin();
	};

	reg.result("zorva.status", [](HostTargets &t, const QJsonObject &) { return t.status(); });
	reg.result("zorva.getHostBootstrap", [](HostTargets &t, const QJsonObject &) { return t.hostBootstrap(); });
	reg.result("zorva.refreshHostBootstrap", [](HostTargets &t, const QJsonObject &) {
		t.refreshHostState();
		return t.hostBootstrap();
	});
	reg.result("accounts.list", [](HostTargets &t, const QJsonObject &) { return t.accountsList(); });
	reg.result("accounts.require", [](HostTargets &t, const QJsonObject &params) {
		return t.requirePlatforms(requiredPlatforms(params));
	});
	reg.fixedResult("getSessionJson", QJsonObject());
	// The account login start never answers with an error: its failures are
	// the result members "opened": false and "error".
	reg.result("authenticate", beginAccountLogin);
	reg.fixedResult("listDisplays", QJsonArray());
	reg.fixedResult("listWindows", QJsonArray());
	reg.fixedResult("listCameras", QJsonArray());
	reg.fixedResult("notify", QJsonObject());
	reg.fallible("simulateEvent", &simulateEvent);
	reg.fixedError("takeScreenshot", "Screenshots are not available from OBS yet.", ErrorCodes::notImplemented);
	reg.fixedError("applySessionOps", "applySessionOps is handled by the OBS shim.", ErrorCodes::shimRequired);
	reg.fixedError("evalBrowserLayerJs", "Browser-layer JS evaluation is not enabled in OBS yet.",
		       ErrorCodes::notImplemented);
	reg.fixedError("getBrowserLayerConsoleLogs", "Browser-layer console logs are not enabled in OBS yet.",
		       ErrorCodes::notImplemented);
	reg.handler("accounts.beginLogin",
		    [beginAccountLogin](HostTargets &t, const QJsonObject &params, const Responder &r) {
			    const QString platform = stringParam(params, "platform").trimmed();
			    if (platform.isEmpty())
				    r.success(beginAccountLogin(t, params));
			    else
				    answer(r, t.beginIntegrationLogin(platform));
		    });
	reg.fallible("accounts.refresh", [](HostTargets &t, const QJsonObject &) { return t.refreshAccount(); });
	const ObsWebSocketVendor::Handler logoutAccount = [t = &targets](const QJsonObject &, const Responder &r) {
		r.success(t->logoutAccount());
	};
	reg.add("accounts.logout", logoutAccount);
	reg.add("zorva.logout", logoutAccount);
	reg.result("accounts.handleRedirect", [](HostTargets &t, const QJsonObject &params) {
		const QUrl url(stringParam(params, "url"), QUrl::TolerantMode);
		return QJsonObject{{QStringLiteral("handled"), t.handleRedirect(url)}};
	});
	// The platform goes unchanged: rejecting an empty one is the controller's.
	reg.fallible("vek.beginLogin", [](HostTargets &t, const QJsonObject &params) {
		return t.beginIntegrationLogin(stringParam(params, "platform"));
	});
	reg.handler("vek.logout", &logoutIntegration);
}
