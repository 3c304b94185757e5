// obs-websocket discovery from its configuration file, and the bootstrap JSON.

#include "host/HostBootstrap.h"
#include "BuildConfig.h"
#include "host/ObsWebSocketDiscovery.h"
#include "host/ObsWebSocketNames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class DiscoveryTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_TRUE(configHome.isValid());
		qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
	}

	void writeConfig(const QByteArray &text)
	{
		const QString dir =
			QFileInfo(configHome.filePath(QString::fromLatin1(ObsWebSocketNames::configRelativePath)))
				.path();
		QDir().mkpath(dir);
		QFile file(dir + QStringLiteral("/config.json"));
		ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
		file.write(text);
	}

	// A loopback port with nothing listening on it.
	static quint16 closedPort()
	{
		QTcpServer server;
		server.listen(QHostAddress::LocalHost, 0);
		return server.serverPort();
	}

	QTemporaryDir configHome;
	ObsWebSocketDiscovery discovery;
};

// Time bounds, under the label timing.
using DiscoveryTiming = DiscoveryTest;

} // namespace

TEST_F(DiscoveryTest, NoFileMeansDisabled)
{
	const ObsWebSocketBootstrap result = discovery.discover();
	EXPECT_FALSE(result.enabled);
	EXPECT_EQ(result.port, 4455);
	EXPECT_EQ(result.error, QStringLiteral("obs-websocket is disabled. Enable it in OBS to continue."));
	EXPECT_EQ(obsWebSocketConfigPath(),
		  configHome.filePath(QString::fromLatin1(ObsWebSocketNames::configRelativePath)));
}

TEST_F(DiscoveryTest, BrokenFilesCountAsEmptySettings)
{
	for (const QByteArray &text : {QByteArray("not json"), QByteArray("[1,2]"), QByteArray("")}) {
		writeConfig(text);
		EXPECT_EQ(discovery.discover().error,
			  QStringLiteral("obs-websocket is disabled. Enable it in OBS to continue."))
			<< text.constData();
	}
}

TEST_F(DiscoveryTest, PortRules)
{
	writeConfig(R"({"server_enabled": true, "server_port": 0})");
	EXPECT_EQ(discovery.discover().error,
		  QStringLiteral("obs-websocket is enabled, but no server port is configured."));
	writeConfig(R"({"server_enabled": true, "server_port": 4455.5})");
	ObsWebSocketBootstrap result = discovery.discover();
	EXPECT_EQ(result.port, 0);
	EXPECT_EQ(result.error, QStringLiteral("obs-websocket is enabled, but no server port is configured."));
	// A port of the wrong type is ignored and the default stays.
	writeConfig(R"({"server_enabled": "yes", "server_port": "4456"})");
	result = discovery.discover();
	EXPECT_FALSE(result.enabled);
	EXPECT_EQ(result.port, 4455);
}

TEST_F(DiscoveryTest, AuthenticationWithoutPassword)
{
	QTcpServer server;
	ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
	writeConfig(
		QStringLiteral(
			R"({"server_enabled": true, "server_port": %1, "auth_required": true, "server_password": ""})")
			.arg(server.serverPort())
			.toUtf8());
	EXPECT_EQ(discovery.discover().error,
		  QStringLiteral("obs-websocket requires authentication, but no password is configured."));
}

TEST_F(DiscoveryTest, ReachableServerHasNoError)
{
	QTcpServer server;
	ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
	writeConfig(QStringLiteral(R"({"server_enabled": true, "server_port": %1, "auth_required": true,
		"server_password": "pw", "server_version": "5.1.0", "server_rpc_version": 1, "ssl": true})")
			    .arg(server.serverPort())
			    .toUtf8());
	const ObsWebSocketBootstrap result = discovery.discover();
	EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
	EXPECT_EQ(result.password, QStringLiteral("pw"));
	EXPECT_EQ(result.version, QStringLiteral("5.1.0"));
	EXPECT_FALSE(result.ssl);
	const QJsonObject json = result.toJson();
	EXPECT_FALSE(json.contains(QStringLiteral("error")));
	EXPECT_EQ(json.value(QStringLiteral("port")).toInt(), server.serverPort());
}

// The probe waits at most 100 ms (a refused connection ends sooner), not the
// 30 s of a socket's default wait: 1 s is ten times the probe.
TEST_F(DiscoveryTiming, UnreachableServerGivesUpAfterTheProbe)
{
	writeConfig(QStringLiteral(R"({"server_enabled": true, "server_port": %1})").arg(closedPort()).toUtf8());
	QElapsedTimer timer;
	timer.start();
	const ObsWebSocketBootstrap result = discovery.discover();
	EXPECT_LT(timer.elapsed(), 1000);
	EXPECT_EQ(result.error, QStringLiteral("obs-websocket is enabled, but the local server is not reachable yet."));
	EXPECT_EQ(result.toJson().value(QStringLiteral("error")).toString(), result.error);
}

TEST(HostBootstrapTest, EventProxyUrlNeedsAPort)
{
	EXPECT_EQ(eventProxyUrl(0, QStringLiteral("abc")), QString());
	EXPECT_EQ(eventProxyUrl(44423, QStringLiteral("abc")), QStringLiteral("ws://127.0.0.1:44423?token=abc"));
}

TEST(HostBootstrapTest, BootstrapWithoutControllerOrDiscovery)
{
	HostBootstrapSources sources;
	sources.eventProxyPort = 44423;
	sources.eventProxyToken = QStringLiteral("T");
	const QJsonObject json = buildHostBootstrap(sources).toJson();
	EXPECT_EQ(json.value(QStringLiteral("host")).toString(), QStringLiteral("obs"));
	EXPECT_EQ(json.value(QStringLiteral("pluginVersion")).toString(), QStringLiteral(ZORVA_VERSION));
	EXPECT_EQ(json.value(QStringLiteral("sessionToken")).toString(), QStringLiteral("T"));
	EXPECT_EQ(json.value(QStringLiteral("accessToken")).toString(), QString());
	EXPECT_EQ(json.value(QStringLiteral("eventProxyUrl")).toString(),
		  QStringLiteral("ws://127.0.0.1:44423?token=T"));
	EXPECT_EQ(json.value(QStringLiteral("capabilities")).toObject(), hostCapabilities());
	EXPECT_EQ(hostCapabilities().size(), 6);
	// Discovery absent: defaults, no error, no probe.
	const QJsonObject ws = json.value(QStringLiteral("obsWebSocket")).toObject();
	EXPECT_EQ(ws.value(QStringLiteral("port")).toInt(), 4455);
	EXPECT_FALSE(ws.contains(QStringLiteral("error")));
	EXPECT_EQ(statusWithHostBootstrap(sources).keys(), QStringList{QStringLiteral("hostBootstrap")});
}
