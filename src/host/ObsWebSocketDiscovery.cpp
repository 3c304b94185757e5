#include "host/ObsWebSocketDiscovery.h"

#include "host/ObsWebSocketConfig.h"
#include "host/ObsWebSocketNames.h"
#include "obs/ObsString.h"

#include <chrono>

#include <QFile>
#include <QTcpSocket>

#include <util/platform.h>

namespace {

constexpr std::chrono::milliseconds kProbeTimeout{100};

// The file's bytes; a missing or unreadable file reads as no text at all.
QByteArray readConfigText(const QString &path)
{
	QFile file(path);
	if (!file.exists() || !file.open(QIODevice::ReadOnly))
		return {};
	return file.readAll();
}

bool serverReachable(const QString &host, quint16 port)
{
	QTcpSocket socket;
	socket.connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
	if (!socket.waitForConnected(int(kProbeTimeout.count())))
		return false;
	socket.disconnectFromHost();
	return true;
}

} // namespace

QString obsWebSocketConfigPath()
{
	return takeObsString(os_get_config_path_ptr(ObsWebSocketNames::configRelativePath));
}

ObsWebSocketBootstrap ObsWebSocketDiscovery::discover() const
{
	ObsWebSocketBootstrap result;
	const QString path = obsWebSocketConfigPath();
	if (path.isEmpty()) {
		result.error = QStringLiteral("Unable to resolve obs-websocket config path.");
		return result;
	}

	const ObsWebSocketConfig config = parseObsWebSocketConfig(readConfigText(path));
	result.enabled = config.enabled;
	result.port = config.port;
	result.ssl = false;
	result.password = config.password;
	result.version = config.version;
	result.rpcVersion = config.rpcVersion;
	result.error = config.error;
	if (result.error.isEmpty() && !serverReachable(result.host, result.port))
		result.error = QStringLiteral("obs-websocket is enabled, but the local server is not reachable yet.");
	return result;
}
