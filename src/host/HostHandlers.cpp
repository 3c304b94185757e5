#include "host/HostHandlers.h"

#include "auth/AuthController.h"
#include "host/HostBootstrap.h"
#include "host/ObsWebSocketVendor.h"
#include "plugin/ModuleLifecycle.h"
#include "plugin/ModuleState.h"

#include <QJsonArray>
#include <QUrl>

namespace {

using Responder = ObsWebSocketVendor::Responder;

QString stringParam(const QJsonObject &params, const char *key)
{
	return params.value(QLatin1String(key)).toString();
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
	answerFixedResult(vendor, "getSessionJson", QJsonObject());
	vendor.registerHandler(QStringLiteral("authenticate"), [](const QJsonObject &, const Responder &r) {
		AuthController *controller = moduleState().authController.get();
		r.success(controller ? controller->beginAccountLogin() : QJsonObject());
	});
	answerFixedResult(vendor, "listDisplays", QJsonArray());
	answerFixedResult(vendor, "listWindows", QJsonArray());
	answerFixedResult(vendor, "listCameras", QJsonArray());
	answerFixedResult(vendor, "notify", QJsonObject());
	answerFixedError(vendor, "takeScreenshot", "Screenshots are not available from OBS yet.", "NOT_IMPLEMENTED");
	answerFixedError(vendor, "applySessionOps", "applySessionOps is handled by the OBS shim.", "SHIM_REQUIRED");
	answerFixedError(vendor, "evalBrowserLayerJs", "Browser-layer JS evaluation is not enabled in OBS yet.",
			 "NOT_IMPLEMENTED");
	answerFixedError(vendor, "getBrowserLayerConsoleLogs",
			 "Browser-layer console logs are not enabled in OBS yet.", "NOT_IMPLEMENTED");
	vendor.registerHandler(QStringLiteral("accounts.handleRedirect"), [](const QJsonObject &params,
									      const Responder &r) {
		AuthController *controller = moduleState().authController.get();
		const QUrl url(stringParam(params, "url"), QUrl::TolerantMode);
		const bool handled = controller && controller->handleRedirect(url);
		r.success(QJsonObject{{QStringLiteral("handled"), handled}});
	});
}
