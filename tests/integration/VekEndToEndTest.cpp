// The whole chain with the module loaded as OBS loads it: a linked account
// from the auth file, its live connection to a fake Vek over TLS, the event
// proxy relaying to a page, and a rejected token unlinking the account.

#include "ModuleHost.h"

#include "FakeVekRealtime.h"
#include "LogCapture.h"
#include "TestWebSocketClient.h"
#include "TlsTcpServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace std::chrono_literals;
using nlohmann::json;

TEST_F(ModuleHostTest, VekEventsReachThePagesAndRejectedTokensUnlink)
{
	ThrowawayTls::trustAuthority();
	FakeVekRealtime vek;
	ASSERT_TRUE(vek.listen(ZORVA_E2E_VEK_PORT));

	Setup setup;
	setup.moduleFile = QStringLiteral(ZORVA_E2E_MODULE_FILE);
	seedAuth(setup.moduleFile, {}, {{"TWITCH", "vek-token", "u1", "ann"}});

	load(setup);
	postLoad();
	ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
	const std::string token =
		json::parse(statusEvents().back().dataJson)["params"]["hostBootstrap"]["sessionToken"];

	// The runtime's first sync connected the stored account.
	ASSERT_TRUE(waitUntil([&] { return !vek.connections.empty() && !vek.last().texts.empty(); }, 10s));
	EXPECT_EQ(vek.last().texts[0], R"({"nonce":"_login","token":"vek-token","type":"LOGIN"})");
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek worker create platform=TWITCH upid=u1"), 1u);

	TestWebSocketClient page;
	ASSERT_TRUE(page.open(44423, QStringLiteral("/?token=%1").arg(QString::fromStdString(token))));
	ASSERT_TRUE(page.waitForUpgrade());
	page.sendText(R"({"payload":{"type":"X_INIT"}})");
	ASSERT_TRUE(page.waitForMessages(2));

	const std::string event =
		R"({"author":{"name":"zoe"},"event_type":"RICH_MESSAGE","raw":"héllo","n":[1,2.5,null]})";
	vek.sendText(vek.last(), R"({"type":"EVENT","event":)" + event + "}");
	ASSERT_TRUE(page.waitForMessages(3));
	EXPECT_EQ(json::parse(page.texts()[2]), json::parse(event));

	// A page's passthrough message reaches Vek on that account's connection.
	page.sendText(R"({"upid":"u1","forVek":true,"payload":{"type":"SEND_CHAT","text":"hi"}})");
	ASSERT_TRUE(waitUntil([&] { return vek.last().texts.size() == 2; }, 5s));
	EXPECT_EQ(vek.last().texts[1], R"({"text":"hi","type":"SEND_CHAT"})");

	// Vek rejects the token: the pages hear of it, the account is unlinked and
	// its file rewritten, and the connection is not retried.
	vek.sendText(vek.last(), R"({"type":"ERROR","error":"USER_AUTH_INVALID"})");
	ASSERT_TRUE(page.waitForMessages(4));
	EXPECT_EQ(json::parse(page.texts()[3]), json({{"event_type", "X_LOGOUT"}, {"upid", "u1"}}));
	ASSERT_TRUE(waitUntil(
		[&] { return LogCapture::instance().count("[vorn-zorva] Vek worker remove upid=u1") == 1; }, 5s));
	QFile saved(moduleConfigFile(QStringLiteral("zorva-auth.json")));
	ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
	EXPECT_TRUE(QJsonDocument::fromJson(saved.readAll()).object().value("integrations").toArray().isEmpty());
	const json status = json::parse(statusEvents().back().dataJson)["params"];
	EXPECT_TRUE(status["integrations"].empty());
	pumpEvents(6s); // longer than the retry delay
	EXPECT_EQ(vek.connections.size(), 1u);
}
