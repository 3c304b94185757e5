// The rules by which obs-websocket's configuration text becomes settings.

#include "host/ObsWebSocketConfig.h"

#include <gtest/gtest.h>

namespace {

const QString kDisabled = QStringLiteral("obs-websocket is disabled. Enable it in OBS to continue.");
const QString kNoPort = QStringLiteral("obs-websocket is enabled, but no server port is configured.");
const QString kNoPassword = QStringLiteral("obs-websocket requires authentication, but no password is configured.");

} // namespace

TEST(ObsWebSocketConfigTest, FileAsObsWebSocketWritesIt)
{
	const ObsWebSocketConfig config = parseObsWebSocketConfig(R"({
    "alerts_enabled": false,
    "auth_required": true,
    "first_load": false,
    "server_enabled": true,
    "server_password": "Xo9fKq2L",
    "server_port": 4460
})");
	EXPECT_TRUE(config.enabled);
	EXPECT_TRUE(config.authRequired);
	EXPECT_EQ(config.port, 4460);
	EXPECT_EQ(config.password, QStringLiteral("Xo9fKq2L"));
	EXPECT_EQ(config.version, QStringLiteral("5.0.0"));
	EXPECT_EQ(config.rpcVersion, 1);
	EXPECT_TRUE(config.error.isEmpty()) << config.error.toStdString();
}

TEST(ObsWebSocketConfigTest, TextThatIsNoObjectMeansDisabled)
{
	for (const QByteArray &text :
	     {QByteArray(), QByteArray("not json"), QByteArray("[{\"server_enabled\":true}]"),
	      QByteArray("{\"server_enabled\":true} x"), QByteArray("{\"server_enabled\":true")}) {
		const ObsWebSocketConfig config = parseObsWebSocketConfig(text);
		EXPECT_FALSE(config.enabled) << text.constData();
		EXPECT_EQ(config.port, 4455);
		EXPECT_EQ(config.error, kDisabled);
	}
}

TEST(ObsWebSocketConfigTest, KeysOfAnotherTypeKeepTheirDefaults)
{
	const ObsWebSocketConfig config = parseObsWebSocketConfig(R"({"server_enabled": "true", "server_port": "4456",
		"server_password": 5, "server_version": 5.1, "server_rpc_version": "2", "auth_required": 1})");
	EXPECT_FALSE(config.enabled);
	EXPECT_EQ(config.port, 4455);
	EXPECT_TRUE(config.password.isEmpty());
	EXPECT_EQ(config.version, QStringLiteral("5.0.0"));
	EXPECT_EQ(config.rpcVersion, 1);
	EXPECT_FALSE(config.authRequired);
}

TEST(ObsWebSocketConfigTest, NumbersBecomeIntegersOrZero)
{
	const auto port = [](const char *value) {
		return parseObsWebSocketConfig(QByteArray("{\"server_enabled\":true,\"server_port\":") + value + "}");
	};
	EXPECT_EQ(port("4455.5").port, 0);
	EXPECT_EQ(port("4455.5").error, kNoPort);
	EXPECT_EQ(port("4.456e3").port, 4456);
	EXPECT_EQ(port("65536").port, 0); // kept in 16 bits
	EXPECT_EQ(port("65537").port, 1);
	EXPECT_EQ(port("3000000000").port, 0); // beyond 32 bits
	EXPECT_EQ(parseObsWebSocketConfig(R"({"server_rpc_version": -2147483648})").rpcVersion, -2147483647 - 1);
	EXPECT_EQ(parseObsWebSocketConfig(R"({"server_rpc_version": 2147483648})").rpcVersion, 0);
}

TEST(ObsWebSocketConfigTest, ErrorsInTheirOrder)
{
	// Disabled wins over a missing port, a missing port over a missing password.
	EXPECT_EQ(parseObsWebSocketConfig(R"({"server_port": 0, "auth_required": true})").error, kDisabled);
	EXPECT_EQ(parseObsWebSocketConfig(R"({"server_enabled": true, "server_port": 0, "auth_required": true})").error,
		  kNoPort);
	EXPECT_EQ(parseObsWebSocketConfig(R"({"server_enabled": true, "auth_required": true, "server_password": ""})")
			  .error,
		  kNoPassword);
	EXPECT_TRUE(
		parseObsWebSocketConfig(R"({"server_enabled": true, "auth_required": true, "server_password": "p"})")
			.error.isEmpty());
	EXPECT_TRUE(parseObsWebSocketConfig(R"({"server_enabled": true, "server_password": ""})").error.isEmpty());
}
