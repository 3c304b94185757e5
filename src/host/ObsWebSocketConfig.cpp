#include "host/ObsWebSocketConfig.h"

#include <cmath>
#include <limits>

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

QJsonObject settingsOf(const QByteArray &text)
{
	const QJsonDocument document = QJsonDocument::fromJson(text);
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

QString errorOf(const ObsWebSocketConfig &config)
{
	if (!config.enabled)
		return QStringLiteral("obs-websocket is disabled. Enable it in OBS to continue.");
	if (config.port == 0)
		return QStringLiteral("obs-websocket is enabled, but no server port is configured.");
	if (config.authRequired && config.password.isEmpty())
		return QStringLiteral("obs-websocket requires authentication, but no password is configured.");
	return {};
}

} // namespace

ObsWebSocketConfig parseObsWebSocketConfig(const QByteArray &text)
{
	const QJsonObject settings = settingsOf(text);
	ObsWebSocketConfig config;
	readBool(settings, "server_enabled", config.enabled);
	// The port is read as a 32-bit integer and kept in 16 bits, so 65536 is 0.
	qint32 port = config.port;
	readInteger(settings, "server_port", port);
	config.port = quint16(port);
	readString(settings, "server_password", config.password);
	readString(settings, "server_version", config.version);
	readInteger(settings, "server_rpc_version", config.rpcVersion);
	readBool(settings, "auth_required", config.authRequired);
	config.error = errorOf(config);
	return config;
}
