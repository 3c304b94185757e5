// obs-websocket's configuration file over arbitrary text.

#include "host/ObsWebSocketConfig.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

const QString kDisabled = QStringLiteral("obs-websocket is disabled. Enable it in OBS to continue.");
const QString kNoPort = QStringLiteral("obs-websocket is enabled, but no server port is configured.");
const QString kNoPassword = QStringLiteral("obs-websocket requires authentication, but no password is configured.");

// The error follows from the values read, in the order the pages rely on.
QString expectedError(const ObsWebSocketConfig &config)
{
	if (!config.enabled)
		return kDisabled;
	if (config.port == 0)
		return kNoPort;
	if (config.authRequired && config.password.isEmpty())
		return kNoPassword;
	return QString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
	const ObsWebSocketConfig config = parseObsWebSocketConfig(text);
	if (config.error != expectedError(config))
		std::abort();
	// A value leaves its default only through its key with the key's type;
	// real ports come through as they are.
	const QJsonObject settings = QJsonDocument::fromJson(text).object();
	const QJsonValue port = settings.value(QStringLiteral("server_port"));
	if (config.port != 4455 && !port.isDouble())
		std::abort();
	if (port.isDouble() && port.toDouble() >= 1 && port.toDouble() <= 65535 &&
	    std::trunc(port.toDouble()) == port.toDouble() && config.port != port.toDouble())
		std::abort();
	if (config.enabled && settings.value(QStringLiteral("server_enabled")) != QJsonValue(true))
		std::abort();
	if (config.rpcVersion != 1 && !settings.value(QStringLiteral("server_rpc_version")).isDouble())
		std::abort();
	if (!config.password.isEmpty() &&
	    settings.value(QStringLiteral("server_password")) != QJsonValue(config.password))
		std::abort();
	return 0;
}
