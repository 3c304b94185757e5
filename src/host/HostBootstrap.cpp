#include "host/HostBootstrap.h"

#include "BuildConfig.h"
#include "auth/AuthController.h"
#include "host/ObsWebSocketDiscovery.h"

#include <obs.h>

QJsonObject ObsWebSocketBootstrap::toJson() const
{
	QJsonObject object{
		{QStringLiteral("host"), host},
		{QStringLiteral("port"), int(port)},
		{QStringLiteral("password"), password},
		{QStringLiteral("ssl"), ssl},
		{QStringLiteral("version"), version},
		{QStringLiteral("rpcVersion"), rpcVersion},
		{QStringLiteral("vendorName"), vendorName},
		{QStringLiteral("vendorRequestType"), vendorRequestType},
		{QStringLiteral("vendorEventType"), vendorEventType},
		{QStringLiteral("enabled"), enabled},
	};
	if (!error.isEmpty())
		object.insert(QStringLiteral("error"), error);
	return object;
}

QJsonObject HostBootstrap::toJson() const
{
	return QJsonObject{
		{QStringLiteral("host"), host},
		{QStringLiteral("obsVersion"), obsVersion},
		{QStringLiteral("pluginVersion"), pluginVersion},
		{QStringLiteral("sessionToken"), sessionToken},
		{QStringLiteral("accessToken"), accessToken},
		{QStringLiteral("eventProxyUrl"), eventProxyUrl},
		{QStringLiteral("capabilities"), capabilities},
		{QStringLiteral("obsWebSocket"), obsWebSocket.toJson()},
	};
}

QJsonObject hostCapabilities()
{
	return QJsonObject{
		{QStringLiteral("eventProxyMode"), QStringLiteral("vorn-compatible")},
		{QStringLiteral("sessionMutationMode"), QStringLiteral("shim-obs-websocket")},
		{QStringLiteral("controlTransport"), QStringLiteral("obs-websocket-vendor")},
		{QStringLiteral("evalBrowserLayerJs"), false},
		{QStringLiteral("getSessionJson"), true},
		{QStringLiteral("applySessionOps"), true},
	};
}

QString eventProxyUrl(quint16 port, const QString &token)
{
	if (port == 0)
		return {};
	// The token is inserted as it is: it is made of URL-safe characters only.
	return QStringLiteral("ws://127.0.0.1:%1?token=%2").arg(port).arg(token);
}

HostBootstrap buildHostBootstrap(const HostBootstrapSources &sources)
{
	HostBootstrap bootstrap;
	bootstrap.host = QStringLiteral("obs");
	bootstrap.pluginVersion = QStringLiteral(ZORVA_VERSION);
	bootstrap.obsVersion = QString::fromUtf8(obs_get_version_string());
	bootstrap.sessionToken = sources.eventProxyToken;
	if (sources.authController)
		bootstrap.accessToken = sources.authController->currentAccessToken();
	bootstrap.eventProxyUrl = eventProxyUrl(sources.eventProxyPort, sources.eventProxyToken);
	bootstrap.capabilities = hostCapabilities();
	if (sources.discovery)
		bootstrap.obsWebSocket = sources.discovery->discover();
	return bootstrap;
}

QJsonObject statusWithHostBootstrap(const HostBootstrapSources &sources)
{
	QJsonObject status = sources.authController ? sources.authController->statusSnapshot() : QJsonObject();
	status.insert(QStringLiteral("hostBootstrap"), buildHostBootstrap(sources).toJson());
	return status;
}
