#include "host/HostHandlers.h"

#include "auth/AuthController.h"
#include "host/HostBootstrap.h"
#include "host/JsonBridge.h"
#include "host/ObsWebSocketVendor.h"
#include "plugin/ModuleLifecycle.h"
#include "plugin/ModuleState.h"
#include "proxy/EventProxyServer.h"

#include <QJsonArray>
#include <QStringList>
#include <QUrl>

namespace {

using Responder = ObsWebSocketVendor::Responder;

QString stringParam(const QJsonObject &params, const char *key)
{
	return params.value(QLatin1String(key)).toString();
}

AuthController *controller()
{
	return moduleState().authController.get();
}

// Controller operations answer with one object that is a result or an error.
void answerUnwrapped(const Responder &r, const QJsonObject &outcome)
{
	const QJsonValue error = outcome.value(QStringLiteral("error"));
	if (error.isString())
		r.error(error.toString(), outcome.value(QStringLiteral("errorCode")).toString());
	else
		r.success(outcome);
}

void answerFixedError(ObsWebSocketVendor &vendor, const char *method, const char *message, const char *code)
{
	vendor.registerHandler(QString::fromLatin1(method), [message, code](const QJsonObject &, const Responder &r) {
		r.error(QString::fromUtf8(message), QString::fromLatin1(code));
	});
}

void answerFixedResult(ObsWebSocketVendor &vendor, const char *method, const QJsonValue &result)
{
	vendor.registerHandler(QString::fromLatin1(method),
			       [result](const QJsonObject &, const Responder &r) { r.success(result); });
}

void beginAccountLogin(const Responder &r)
{
	r.success(controller() ? controller()->beginAccountLogin() : QJsonObject());
}

void simulateEvent(const QJsonObject &params, const Responder &r)
{
	EventProxyServer *proxy = moduleState().eventProxy;
	if (!proxy) {
		r.error(QStringLiteral("Event proxy is not available."), QStringLiteral("PROXY_UNAVAILABLE"));
		return;
	}
	json result;
	QMetaObject::invokeMethod(proxy, "simulateEvent", Qt::BlockingQueuedConnection, Q_RETURN_ARG(nlohmann::json, result),
				  Q_ARG(QString, stringParam(params, "type")), Q_ARG(QString, stringParam(params, "platform")),
				  Q_ARG(QString, stringParam(params, "username")),
				  Q_ARG(QString, stringParam(params, "chatMessage")));
	const auto error = result.is_object() ? result.find("error") : result.end();
	if (result.is_object() && error != result.end() && error->is_string()) {
		const auto code = result.find("errorCode");
		const std::string errorCode = code != result.end() && code->is_string() ? code->get<std::string>() : "INVALID_PARAMS";
		r.error(QString::fromStdString(error->get<std::string>()), QString::fromStdString(errorCode));
		return;
	}
	r.success(toQJsonObject(result));
}

void logoutIntegration(const QJsonObject &params, const Responder &r)
{
	const QString upid = stringParam(params, "upid").trimmed();
	if (upid.isEmpty()) {
		r.error(QStringLiteral("Missing upid."), QStringLiteral("MISSING_UPID"));
		return;
	}
	// The pages hear of the logout before the account is dropped.
	if (EventProxyServer *proxy = moduleState().eventProxy)
		QMetaObject::invokeMethod(proxy, "publishLogout", Qt::BlockingQueuedConnection,
					  Q_ARG(std::string, upid.toStdString()));
	r.success(controller() ? controller()->logoutIntegration(upid) : QJsonObject());
}

} // namespace

void registerHostHandlers(ObsWebSocketVendor &vendor)
{
	vendor.registerHandler(QStringLiteral("zorva.status"), [](const QJsonObject &, const Responder &r) {
		r.success(statusWithHostBootstrap(hostBootstrapSources()));
	});
	vendor.registerHandler(QStringLiteral("zorva.getHostBootstrap"), [](const QJsonObject &, const Responder &r) {
		r.success(buildHostBootstrap(hostBootstrapSources()).toJson());
	});
	vendor.registerHandler(QStringLiteral("zorva.refreshHostBootstrap"),
			       [](const QJsonObject &, const Responder &r) {
				       refreshHostState();
				       r.success(buildHostBootstrap(hostBootstrapSources()).toJson());
			       });
	vendor.registerHandler(QStringLiteral("accounts.list"), [](const QJsonObject &, const Responder &r) {
		r.success(controller() ? controller()->accountsList() : QJsonObject());
	});
	vendor.registerHandler(QStringLiteral("accounts.require"), [](const QJsonObject &params, const Responder &r) {
		QStringList platforms;
		if (params.value(QStringLiteral("platform")).isString())
			platforms << stringParam(params, "platform");
		for (const QJsonValue &platform : params.value(QStringLiteral("platforms")).toArray()) {
			if (platform.isString())
				platforms << platform.toString();
		}
		r.success(controller() ? controller()->requirePlatforms(platforms) : QJsonObject());
	});
	answerFixedResult(vendor, "getSessionJson", QJsonObject());
	vendor.registerHandler(QStringLiteral("authenticate"),
			       [](const QJsonObject &, const Responder &r) { beginAccountLogin(r); });
	answerFixedResult(vendor, "listDisplays", QJsonArray());
	answerFixedResult(vendor, "listWindows", QJsonArray());
	answerFixedResult(vendor, "listCameras", QJsonArray());
	answerFixedResult(vendor, "notify", QJsonObject());
	vendor.registerHandler(QStringLiteral("simulateEvent"), &simulateEvent);
	answerFixedError(vendor, "takeScreenshot", "Screenshots are not available from OBS yet.", "NOT_IMPLEMENTED");
	answerFixedError(vendor, "applySessionOps", "applySessionOps is handled by the OBS shim.", "SHIM_REQUIRED");
	answerFixedError(vendor, "evalBrowserLayerJs", "Browser-layer JS evaluation is not enabled in OBS yet.",
			 "NOT_IMPLEMENTED");
	answerFixedError(vendor, "getBrowserLayerConsoleLogs",
			 "Browser-layer console logs are not enabled in OBS yet.", "NOT_IMPLEMENTED");
	vendor.registerHandler(QStringLiteral("accounts.beginLogin"), [](const QJsonObject &params, const Responder &r) {
		const QString platform = stringParam(params, "platform").trimmed();
		if (platform.isEmpty() || !controller())
			beginAccountLogin(r);
		else
			answerUnwrapped(r, controller()->beginIntegrationLogin(platform));
	});
	vendor.registerHandler(QStringLiteral("accounts.refresh"), [](const QJsonObject &, const Responder &r) {
		answerUnwrapped(r, controller() ? controller()->refreshAccount() : QJsonObject());
	});
	const ObsWebSocketVendor::Handler logoutAccount = [](const QJsonObject &, const Responder &r) {
		r.success(controller() ? controller()->logoutAccount() : QJsonObject());
	};
	vendor.registerHandler(QStringLiteral("accounts.logout"), logoutAccount);
	vendor.registerHandler(QStringLiteral("zorva.logout"), logoutAccount);
	vendor.registerHandler(QStringLiteral("accounts.handleRedirect"), [](const QJsonObject &params,
									      const Responder &r) {
		const QUrl url(stringParam(params, "url"), QUrl::TolerantMode);
		const bool handled = controller() && controller()->handleRedirect(url);
		r.success(QJsonObject{{QStringLiteral("handled"), handled}});
	});
	vendor.registerHandler(QStringLiteral("vek.beginLogin"), [](const QJsonObject &params, const Responder &r) {
		answerUnwrapped(r, controller() ? controller()->beginIntegrationLogin(stringParam(params, "platform"))
						: QJsonObject());
	});
	vendor.registerHandler(QStringLiteral("vek.logout"), &logoutIntegration);
}
