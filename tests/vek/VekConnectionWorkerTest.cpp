// One account's realtime connection against a fake Vek over TLS on loopback.

#include "VekTestSupport.h"

#include "integration/VekConnectionWorker.h"
#include "websocket/WebSocketHandshake.h"

#include <QTcpServer>

namespace {

class VekWorkerTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		quietLogs();
		ASSERT_TRUE(vek.listen());
	}

	void start(const std::string &token = "vek-token")
	{
		worker = std::make_unique<VekConnectionWorker>(
			"TWITCH", token, "u1", "ann", testService(vek.port(), QStringLiteral("https://127.0.0.1:1")));
		QObject::connect(worker.get(), &VekConnectionWorker::rawEvent,
				 [this](std::string upid, json event) { events.emplace_back(upid, event); });
		QObject::connect(worker.get(), &VekConnectionWorker::loggedOut,
				 [this](std::string upid) { logouts.push_back(upid); });
		worker->openConnection();
	}

	bool loggedIn()
	{
		return waitUntil([this] { return !vek.connections.empty() && !vek.last().texts.empty(); });
	}

	FakeVekRealtime vek;
	std::unique_ptr<VekConnectionWorker> worker;
	std::vector<std::pair<std::string, json>> events;
	std::vector<std::string> logouts;
};

} // namespace

TEST(VekService, ProductionUsesPort443AndAPlainHost)
{
	ServiceEndpoints endpoints;
	endpoints.vekApiBaseUrl = QStringLiteral("https://api.vek.test/v2/vek");
	endpoints.webAppBaseUrl = QStringLiteral("https://app.zorva.test/");
	const VekService service = VekService::fromEndpoints(endpoints);
	EXPECT_EQ(service.apiHost, QStringLiteral("api.vek.test"));
	EXPECT_EQ(service.realtimePort, 443);
	EXPECT_EQ(service.hostHeader, QStringLiteral("api.vek.test"));
	EXPECT_EQ(service.origin, QStringLiteral("https://app.zorva.test"));
}

TEST_F(VekWorkerTest, UpgradeRequestAndLoginInTheSameTurn)
{
	start();
	ASSERT_TRUE(loggedIn());
	const FakeVekRealtime::Connection &connection = vek.last();
	EXPECT_EQ(connection.requestHead, "GET /v2/vek?client_id=Xq7Tn2LpW9cRv4HbZk1Md8Fs HTTP/1.1\r\n"
					  "Host: 127.0.0.1:" +
						  std::to_string(vek.port()) +
						  "\r\n"
						  "Upgrade: websocket\r\n"
						  "Connection: Upgrade\r\n"
						  "Sec-WebSocket-Version: 13\r\n"
						  "Sec-WebSocket-Key: " +
						  worker->handshakeKeyInUse() +
						  "\r\n"
						  "Origin: https://zorva.vorn.test\r\n\r\n");
	// WELCOME came with the 101 in one write; LOGIN answered it at once.
	EXPECT_EQ(connection.texts,
		  std::vector<std::string>{R"({"nonce":"_login","token":"vek-token","type":"LOGIN"})"});
	EXPECT_TRUE(connection.allFramesMasked);
	EXPECT_TRUE(worker->isOpen());
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek websocket connected platform=TWITCH upid=u1"), 1u);
}

TEST_F(VekWorkerTest, ResponseHeadInSeveralReads)
{
	vek.splitResponse = true;
	start();
	ASSERT_TRUE(loggedIn());
	EXPECT_EQ(vek.last().texts.size(), 1u);
}

TEST_F(VekWorkerTest, MessagesFromTheService)
{
	start();
	ASSERT_TRUE(loggedIn());
	FakeVekRealtime::Connection &connection = vek.last();
	vek.sendText(connection, R"({"type":"KEEP_ALIVE","at":5,"extra":{"x":1}})");
	vek.sendFrame(connection, WebSocketOpcode::Ping, "abc");
	vek.sendText(connection, R"({"type":"EVENT","event":{"event_type":"RICH_MESSAGE","raw":"hi é"},"other":1})");
	vek.sendText(connection, R"({"type":"EVENT","event":[1]})");
	vek.sendText(connection, R"({"type":"EVENT","event":"text"})");
	vek.sendText(connection, R"({"type":7})");
	vek.sendText(connection, R"({"type":"ERROR","error":"RATE_LIMITED"})");
	vek.sendText(connection, "not json");
	ASSERT_TRUE(waitUntil([&] { return connection.texts.size() == 2 && connection.control.size() == 1; }));
	EXPECT_EQ(connection.texts[1], R"({"type":"KEEP_ALIVE"})");
	EXPECT_EQ(connection.control[0].opcode, WebSocketOpcode::Pong);
	EXPECT_EQ(connection.control[0].payload, "abc");
	ASSERT_TRUE(waitUntil([&] { return LogCapture::instance().count("reason=invalid_json") == 1; }));
	ASSERT_EQ(events.size(), 1u);
	EXPECT_EQ(events[0].first, "u1");
	EXPECT_EQ(events[0].second, json({{"event_type", "RICH_MESSAGE"}, {"raw", "hi é"}}));
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek EVENT missing payload platform=TWITCH upid=u1 bytes="),
		  2u);
	EXPECT_EQ(LogCapture::instance().count(
			  "[vorn-zorva] Vek server error platform=TWITCH upid=u1 error=RATE_LIMITED"),
		  1u);
	EXPECT_EQ(LogCapture::instance().matching("reason=invalid_json")[0].text,
		  "[vorn-zorva] Vek text message ignored platform=TWITCH upid=u1 reason=invalid_json bytes=8");
	EXPECT_TRUE(worker->isOpen());
	EXPECT_TRUE(logouts.empty());
}

// The service keeps an idle session alive on its own rhythm: every keep-alive
// is echoed on the same connection, and nothing else is sent or armed.
TEST_F(VekWorkerTest, PeriodicKeepAlivesAreEchoedOnTheSameSession)
{
	vek.keepAliveIntervalMs = 50;
	start();
	ASSERT_TRUE(loggedIn());
	const FakeVekRealtime::Connection &connection = vek.last();
	ASSERT_TRUE(waitUntil([&] { return connection.texts.size() >= 4; }));
	ASSERT_GE(connection.keepAlivesSent, 3);
	for (size_t i = 1; i < connection.texts.size(); ++i)
		EXPECT_EQ(connection.texts[i], R"({"type":"KEEP_ALIVE"})");
	EXPECT_EQ(vek.connections.size(), 1u);
	EXPECT_TRUE(worker->isOpen());
	EXPECT_FALSE(worker->retryPending());
}

TEST_F(VekWorkerTest, RejectedTokenLogsOutOnceWithoutRetry)
{
	start();
	ASSERT_TRUE(loggedIn());
	vek.sendText(vek.last(), R"({"type":"ERROR","error":"USER_AUTH_INVALID"})");
	ASSERT_TRUE(waitUntil([&] { return !logouts.empty(); }));
	pumpEvents(800ms); // past the retry delay
	EXPECT_EQ(logouts, std::vector<std::string>{"u1"});
	EXPECT_EQ(vek.connections.size(), 1u);
	EXPECT_FALSE(worker->retryPending());
	EXPECT_TRUE(worker->currentToken().empty());
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek websocket auth rejected platform=TWITCH upid=u1"), 1u);
	// Without a token nothing connects.
	worker->openConnection();
	pumpEvents(200ms);
	EXPECT_EQ(vek.connections.size(), 1u);
}

TEST_F(VekWorkerTest, CloseFrameIsRetriedWithANewKey)
{
	start();
	ASSERT_TRUE(loggedIn());
	const std::string firstKey = vek.last().key;
	vek.sendFrame(vek.last(), WebSocketOpcode::Close, "\x03\xe8");
	ASSERT_TRUE(waitUntil([&] { return vek.connections.size() == 2 && !vek.last().texts.empty(); }));
	EXPECT_NE(vek.last().key, firstKey);
	EXPECT_TRUE(vek.connections[0]->control.empty() ||
		    vek.connections[0]->control[0].opcode != WebSocketOpcode::Close);
}

TEST_F(VekWorkerTest, FailedUpgradesAreRetried)
{
	vek.upgrade = FakeVekRealtime::Upgrade::Status200;
	start();
	ASSERT_TRUE(waitUntil([&] { return vek.connections.size() == 2; }));
	EXPECT_GE(LogCapture::instance().count("[vorn-zorva] Vek websocket handshake failed platform=TWITCH upid=u1"),
		  1u);
	vek.upgrade = FakeVekRealtime::Upgrade::WrongAcceptKey;
	ASSERT_TRUE(waitUntil([&] { return LogCapture::instance().count("Vek websocket accept mismatch") >= 1; }));
	const auto line = LogCapture::instance().matching("Vek websocket accept mismatch")[0].text;
	EXPECT_EQ(line.rfind("[vorn-zorva] Vek websocket accept mismatch platform=TWITCH upid=u1 expected=", 0), 0u);
	EXPECT_NE(line.find(" actual=" + computeAcceptKey("other")), std::string::npos);
	vek.upgrade = FakeVekRealtime::Upgrade::Accept;
	ASSERT_TRUE(waitUntil([&] { return worker->isOpen(); }));
}

TEST_F(VekWorkerTest, EndlessResponseHeadIsRefused)
{
	vek.upgrade = FakeVekRealtime::Upgrade::EndlessHead;
	start();
	ASSERT_TRUE(waitUntil([] {
		return LogCapture::instance().count(
			       "[vorn-zorva] Vek websocket handshake failed platform=TWITCH upid=u1") >= 1;
	}));
	EXPECT_FALSE(worker->isOpen());
	vek.upgrade = FakeVekRealtime::Upgrade::Accept;
	ASSERT_TRUE(waitUntil([&] { return worker->isOpen(); })); // and retried as usual
}

TEST_F(VekWorkerTest, RefusedConnectionIsRetried)
{
	QTcpServer placeholder;
	ASSERT_TRUE(placeholder.listen(QHostAddress::LocalHost, 0));
	const quint16 port = placeholder.serverPort();
	placeholder.close(); // nothing listens there now
	worker = std::make_unique<VekConnectionWorker>("KICK", "t", "u2", "zoe",
						       testService(port, QStringLiteral("https://127.0.0.1:1")));
	worker->openConnection();
	ASSERT_TRUE(waitUntil([] {
		return LogCapture::instance().count("[vorn-zorva] Vek socket error platform=KICK upid=u2 error=0") >= 1;
	}));
	ASSERT_TRUE(waitUntil([&] { return worker->retryPending(); }));
	// The service comes up on that port; the retry reaches it.
	FakeVekRealtime late;
	ASSERT_TRUE(late.listen(port));
	ASSERT_TRUE(waitUntil([&] { return worker->isOpen(); }));
}

TEST_F(VekWorkerTest, UntrustedCertificateIsNeverIgnored)
{
	FakeVekRealtime impostor(false);
	ASSERT_TRUE(impostor.listen());
	worker = std::make_unique<VekConnectionWorker>(
		"YOUTUBE", "t", "u3", "cy", testService(impostor.port(), QStringLiteral("https://127.0.0.1:1")));
	worker->openConnection();
	ASSERT_TRUE(waitUntil([] {
		return LogCapture::instance().count("[vorn-zorva] Vek SSL errors platform=YOUTUBE upid=u3: ") == 1;
	}));
	ASSERT_TRUE(waitUntil([] {
		return LogCapture::instance().count("[vorn-zorva] Vek socket error platform=YOUTUBE upid=u3") >= 1;
	}));
	ASSERT_TRUE(waitUntil([&] { return worker->retryPending(); }));
	EXPECT_FALSE(worker->isOpen());
	EXPECT_TRUE(impostor.connections.empty() || impostor.last().requestHead.empty());
}

TEST_F(VekWorkerTest, SendJsonOnlyWhenOpen)
{
	start();
	worker->sendJson({{"type", "EARLY"}}); // still connecting: dropped
	ASSERT_TRUE(loggedIn());
	worker->sendJson({{"type", "SEND_CHAT"}, {"text", "hi"}});
	ASSERT_TRUE(waitUntil([&] { return vek.last().texts.size() == 2; }));
	EXPECT_EQ(vek.last().texts[1], R"({"text":"hi","type":"SEND_CHAT"})");
	const std::string key = worker->handshakeKeyInUse();
	worker->openConnection(); // already connected: nothing changes
	EXPECT_EQ(worker->handshakeKeyInUse(), key);
}
