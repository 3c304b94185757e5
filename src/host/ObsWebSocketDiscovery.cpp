#include "host/ObsWebSocketDiscovery.h"

#include <cmath>
#include <limits>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <obs.h>
#include <util/platform.h>

namespace {

constexpr int kProbeTimeoutMs = 100;

QJsonObject readSettings(const QString &path)
{
	QFile file(path);
	if (!file.exists() || !file.open(QIODevice::ReadOnly))
		return {};
	const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
	return document.isObject() ? document.object() : QJsonObject();
}

// Integral numbers within the 32-bit range give their value, any other number 0.
qint32 integerOf(const QJsonValue &value)
{
	const double number = value.toDouble();
	if (std::trunc(number) != number || number < std::numeric_limits<qint32>::min() ||
	    number > std::numeric_limits<qint32>::max())
		return 0;
	return qint32(number);
}

void readBool(const QJsonObject &settings, const char *key, bool &target)
{
	const QJsonValue value = settings.value(QLatin1String(key));
	if (value.isBool())
		target = value.toBool();
}

void readInteger(const QJsonObject &settings, const char *key, qint32 &target)
{
	const QJsonValue value = settings.value(QLatin1String(key));
	if (value.isDouble())
		target = integerOf(value);
}

void readString(const QJsonObject &settings, const char *key, QString &target)
{
	const QJsonValue value = settings.value(QLatin1String(key));
	if (value.isString())
		target = value.toString();
}

bool serverReachable(const QString &host, quint16 port)
{
	QTcpSocket socket;
	socket.connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
	if (!socket.waitForConnected(kProbeTimeoutMs))
		return false;
	socket.disconnectFromHost();
	return true;
}

} // namespace

QString obsWebSocketConfigPath()
{
	char *path = os_get_config_path_ptr("obs-studio/plugin_config/obs-websocket/config.json");
	if (!path)
		return {};
	QString result = QString::fromUtf8(path);
	bfree(path);
	return result;
}

ObsWebSocketBootstrap ObsWebSocketDiscovery::discover() const
{
	ObsWebSocketBootstrap result;
	const QString path = obsWebSocketConfigPath();
	if (path.isEmpty()) {
		result.error = QStringLiteral("Unable to resolve obs-websocket config path.");
		return result;
	}

	const QJsonObject settings = readSettings(path);
	readBool(settings, "server_enabled", result.enabled);
	qint32 port = result.port;
	readInteger(settings, "server_port", port);
	result.port = quint16(port);
	result.ssl = false;
	readString(settings, "server_password", result.password);
	readString(settings, "server_version", result.version);
	readInteger(settings, "server_rpc_version", result.rpcVersion);

	bool authRequired = false;
	readBool(settings, "auth_required", authRequired);

	if (!result.enabled)
		result.error = QStringLiteral("obs-websocket is disabled. Enable it in OBS to continue.");
	else if (result.port == 0)
		result.error = QStringLiteral("obs-websocket is enabled, but no server port is configured.");
	else if (authRequired && result.password.isEmpty())
		result.error = QStringLiteral("obs-websocket requires authentication, but no password is configured.");
	else if (!serverReachable(result.host, result.port))
		result.error = QStringLiteral("obs-websocket is enabled, but the local server is not reachable yet.");
	return result;
}
