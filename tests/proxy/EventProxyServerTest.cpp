// The event proxy over real sockets on loopback, with test WebSocket clients.

#include "EventProxyFixture.h"

#include <algorithm>
#include <map>
#include <memory>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QThread>

#include <gtest/gtest.h>

#include <util/base.h>

#include <poll.h>
#include <sys/socket.h>

using namespace std::chrono_literals;

TEST_F(EventProxyTest, TokenDecidesAuthenticatedOrReadOnly)
{
	EXPECT_EQ(token.size(), 32u);
	for (char c : token)
		EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)));
	connectClient(true);
	std::string upper = token;
	for (char &c : upper)
		c = char(std::toupper(static_cast<unsigned char>(c)));
	TestWebSocketClient wrongCase;
	ASSERT_TRUE(wrongCase.open(port, QStringLiteral("/?token=%1").arg(QString::fromStdString(upper))));
	ASSERT_TRUE(wrongCase.waitForUpgrade());
	connectClient(false);
	const auto lines = LogCapture::instance().matching("[vorn-zorva] Event proxy accepted ");
	ASSERT_EQ(lines.size(), 3u);
	EXPECT_EQ(lines[0].text.rfind("[vorn-zorva] Event proxy accepted authenticated client from 127.0.0.1:", 0), 0u);
	EXPECT_EQ(lines[1].text.rfind("[vorn-zorva] Event proxy accepted read-only client from 127.0.0.1:", 0), 0u);
	EXPECT_EQ(lines[2].text.rfind("[vorn-zorva] Event proxy accepted read-only client from 127.0.0.1:", 0), 0u);
	EXPECT_EQ(lines[0].level, LOG_INFO);
}

TEST_F(EventProxyTest, MissingKeyGetsExactly403)
{
	TestWebSocketClient client;
	ASSERT_TRUE(client.open(port, QStringLiteral("/"), false));
	EXPECT_FALSE(client.waitForUpgrade());
	EXPECT_EQ(client.upgradeResponse(), "HTTP/1.1 403 Forbidden\r\nConnection: close\r\n\r\n");
	EXPECT_TRUE(client.waitForClose());
	const auto lines = LogCapture::instance().matching("reason=missing_ws_key");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_WARNING);
	EXPECT_EQ(lines[0].text.rfind("[vorn-zorva] Event proxy rejected client peer=127.0.0.1:", 0), 0u);
}

TEST_F(EventProxyTest, HeadInSeveralReadsAndFirstFrameWithTheRequest)
{
	QTcpSocket socket;
	socket.connectToHost(QStringLiteral("127.0.0.1"), port);
	ASSERT_TRUE(waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
	QByteArray received;
	QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
	const QByteArray request = "GET /?token=" + QByteArray::fromStdString(token) +
				   " HTTP/1.1\r\nHost: x\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
	socket.write(request.left(20));
	pumpEvents(50ms);
	EXPECT_TRUE(received.isEmpty());
	// The rest of the head and a first frame in one write.
	socket.write(request.mid(20) +
		     QByteArray::fromStdString(encodeFrame(R"({"payload":{"type":"X_INIT"}})", 1, true)));
	ASSERT_TRUE(waitUntil([&] { return received.count("X_FEATURES") == 1; }));
	EXPECT_TRUE(
		received.startsWith("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
				    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n"));
}

TEST_F(EventProxyTest, HistoryReplay)
{
	auto reader = connectClient(false);
	EXPECT_TRUE(historyOf(*reader).empty());

	for (int i = 0; i < 101; ++i)
		proxy->publishRawEvent("u1", {{"event_type", "RICH_MESSAGE"}, {"n", i}});
	proxy->publishRawEvent("u1", {{"event_type", "STREAM_STATUS"}, {"live", false}});
	proxy->publishRawEvent("u1", {{"event_type", "STREAM_STATUS"}, {"live", true}});
	proxy->publishRawEvent("u1", {{"event_type", "LIKE"}, {"n", 1}});
	proxy->publishRawEvent("u1", {{"event_type", "USER_UPDATE"}});
	proxy->publishLogout("u1");
	proxy->publishRawEvent("", {{"event_type", "RICH_MESSAGE"}}); // relayed, not recorded
	proxy->publishRawEvent("u2", json::array({1}));               // not an object: relayed, not recorded

	// Every publication reached the reader, in order.
	ASSERT_TRUE(reader->waitForMessages(2 + 108));
	EXPECT_EQ(parsed(reader->texts()[2])["n"], 0);
	EXPECT_EQ(reader->texts()[2 + 107], "[1]");

	const std::vector<json> history = historyOf(*reader);
	ASSERT_EQ(history.size(), 1u);
	const json &events = history[0];
	ASSERT_EQ(events.size(), 3u + 100u);
	EXPECT_EQ(events[0], json({{"event_type", "USER_UPDATE"}}));
	EXPECT_EQ(events[1], json({{"event_type", "STREAM_STATUS"}, {"live", true}}));
	EXPECT_EQ(events[2], json({{"event_type", "LIKE"}, {"n", 1}}));
	EXPECT_EQ(events[3]["n"], 2); // the oldest chat events went
	EXPECT_EQ(events[101]["n"], 100);
	EXPECT_EQ(events[102], json({{"event_type", "X_LOGOUT"}, {"upid", "u1"}}));
}

TEST_F(EventProxyTest, ReadOnlyClientsMayOnlyAskForHistory)
{
	auto reader = connectClient(false);
	bool requested = false;
	QObject::connect(proxy.get(), &EventProxyServer::vekRequest, [&] { requested = true; });
	reader->sendText(R"({"upid":"u1","payload":{"type":"X_REQUEST","nonce":"n"}})");
	reader->sendText(R"({"upid":"u1","payload":{"type":"CHAT","text":"hi"}})");
	EXPECT_EQ(historyOf(*reader).size(), 0u);
	EXPECT_FALSE(requested);
	const auto lines =
		LogCapture::instance().matching("[vorn-zorva] Event proxy dropped unauthenticated write peer=");
	ASSERT_EQ(lines.size(), 2u);
	EXPECT_NE(lines[0].text.find(" type=X_REQUEST"), std::string::npos);
	EXPECT_NE(lines[1].text.find(" type=CHAT"), std::string::npos);
	EXPECT_EQ(reader->texts().size(), 2u); // nothing was broadcast
}

TEST_F(EventProxyTest, RoutingOfAuthenticatedWrites)
{
	auto writer = connectClient(true);
	auto reader = connectClient(false);
	std::vector<std::pair<std::string, json>> requests, passthroughs;
	std::vector<std::string> pages;
	QObject::connect(proxy.get(), &EventProxyServer::vekRequest,
			 [&](std::string upid, json payload) { requests.emplace_back(upid, payload); });
	QObject::connect(proxy.get(), &EventProxyServer::vekPassthrough,
			 [&](std::string upid, json payload) { passthroughs.emplace_back(upid, payload); });
	QObject::connect(proxy.get(), &EventProxyServer::showSettingsRequested,
			 [&](std::string page) { pages.push_back(page); });

	writer->sendText(R"({"upid":"u1","payload":{"type":"X_REQUEST","nonce":"n1"}})");
	writer->sendText(R"({"upid":"u1","forVek":true,"payload":{"type":"SEND_CHAT","text":"hi"}})");
	writer->sendText(R"({"upid":"u1","forVek":"yes","payload":{"type":"CUSTOM","v":1}})");
	writer->sendText(R"({"payload":{"type":"X_SHOW_SETTINGS","page":"alerts"}})");
	writer->sendText(R"({"payload":{"type":"X_LOG","line":"x"}})");
	writer->sendText(R"({"payload":{"type":"X_REQUEST"}})");
	writer->sendText(R"({"upid":"u1","payload":{}})");
	writer->sendText("[1,2]");
	writer->sendText("{bad json");
	// A last broadcast: the proxy handles a connection's messages in order.
	writer->sendText(R"({"upid":"u1","forVek":"yes","payload":{"type":"CUSTOM","v":2}})");
	ASSERT_TRUE(reader->waitForMessages(2));

	ASSERT_EQ(requests.size(), 1u);
	EXPECT_EQ(requests[0], std::make_pair(std::string("u1"), json({{"type", "X_REQUEST"}, {"nonce", "n1"}})));
	ASSERT_EQ(passthroughs.size(), 1u);
	EXPECT_EQ(passthroughs[0].second["type"], "SEND_CHAT");
	EXPECT_EQ(pages, std::vector<std::string>{"alerts"});
	// Only the non-boolean "forVek" message was published, to everyone including the sender.
	EXPECT_EQ(reader->texts(),
		  (std::vector<std::string>{R"({"type":"CUSTOM","v":1})", R"({"type":"CUSTOM","v":2})"}));
	EXPECT_TRUE(writer->waitForMessages(2));
	EXPECT_EQ(writer->texts(), reader->texts());

	const auto malformed =
		LogCapture::instance().matching("[vorn-zorva] Event proxy dropping malformed message peer=");
	ASSERT_EQ(malformed.size(), 2u);
	EXPECT_NE(malformed[0].text.find(" upid= payload_empty=0"), std::string::npos) << malformed[0].text;
	EXPECT_NE(malformed[1].text.find(" upid=u1 payload_empty=1"), std::string::npos) << malformed[1].text;
	const auto invalid = LogCapture::instance().matching("[vorn-zorva] Event proxy inbound invalid_json peer=");
	ASSERT_EQ(invalid.size(), 2u);
	EXPECT_NE(invalid[0].text.find(" bytes=5"), std::string::npos);
	EXPECT_NE(invalid[1].text.find(" bytes=9"), std::string::npos);
}

TEST_F(EventProxyTest, FramingPingFragmentsBinaryAndClose)
{
	auto client = connectClient(true);
	client->sendFrame(WebSocketOpcode::Ping, "abc");
	client->sendFrame(WebSocketOpcode::Text, R"({"payload":)", false);
	client->sendFrame(WebSocketOpcode::Ping, "mid");
	client->sendFrame(WebSocketOpcode::Continuation, R"({"type":"X_INIT"}})", true);
	client->sendFrame(WebSocketOpcode::Binary, "binary is dropped");
	ASSERT_TRUE(client->waitForMessages(2));
	ASSERT_TRUE(waitUntil([&] { return client->controlFrames().size() == 2; }));
	EXPECT_EQ(client->controlFrames()[0].opcode, WebSocketOpcode::Pong);
	EXPECT_EQ(client->controlFrames()[0].payload, "abc");
	EXPECT_EQ(client->controlFrames()[1].payload, "mid");
	EXPECT_FALSE(client->isClosed());

	client->sendFrame(WebSocketOpcode::Close, "\x03\xe8");
	EXPECT_TRUE(client->waitForClose());
	EXPECT_EQ(client->controlFrames().size(), 2u); // no close frame comes back

	// Protocol errors close quietly.
	auto orphan = connectClient(true);
	orphan->sendFrame(WebSocketOpcode::Continuation, "x");
	EXPECT_TRUE(orphan->waitForClose());
	EXPECT_EQ(LogCapture::instance().count("Event proxy closed client"), 0u);
}

TEST_F(EventProxyTest, OversizedInputClosesWithOneWarning)
{
	auto client = connectClient(true);
	std::string frame = encodeFrame(std::string(2 * 1024 * 1024, 'x'), WebSocketOpcode::Text, true);
	client->sendRaw(QByteArray::fromStdString(frame.substr(0, 14)));
	EXPECT_TRUE(client->waitForClose());
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Event proxy closed client peer=127.0.0.1:"), 1u);

	QTcpSocket endless;
	endless.connectToHost(QStringLiteral("127.0.0.1"), port);
	ASSERT_TRUE(waitUntil([&] { return endless.state() == QAbstractSocket::ConnectedState; }));
	endless.write("GET / HTTP/1.1\r\n" + QByteArray(70 * 1024, 'h'));
	EXPECT_TRUE(waitUntil([&] { return endless.state() == QAbstractSocket::UnconnectedState; }));
	EXPECT_EQ(LogCapture::instance().count("reason=request_too_large"), 1u);

	// A whole head over the limit in one write is refused as well.
	TestWebSocketClient large;
	ASSERT_TRUE(large.open(port, QStringLiteral("/"), true, "X-Padding: " + QByteArray(100 * 1024, 'p') + "\r\n"));
	EXPECT_FALSE(large.waitForUpgrade());
	EXPECT_EQ(large.upgradeResponse(), "HTTP/1.1 403 Forbidden\r\nConnection: close\r\n\r\n");
	EXPECT_EQ(LogCapture::instance().count("reason=request_too_large"), 2u);
}

TEST_F(EventProxyTest, ResponsesGoToAuthenticatedPagesWithInvalidUtf8Replaced)
{
	auto client = connectClient(true);
	auto readOnly = connectClient(false);
	proxy->publishResponse("n1", std::string("{\"ok\":true}"));
	proxy->publishResponse("n2", std::string("bin\xff\xfe", 5));
	proxy->publishRawEvent("u1", {{"event_type", "FOLLOW"}});
	ASSERT_TRUE(client->waitForMessages(3));
	// A client without the token gets events, never the bodies of requests
	// made with the user's Vek token.
	ASSERT_TRUE(readOnly->waitForMessages(1));
	pumpEvents(100ms);
	ASSERT_EQ(readOnly->texts().size(), 1u);
	EXPECT_EQ(parsed(readOnly->texts()[0])["event_type"], "FOLLOW");
	EXPECT_EQ(parsed(client->texts()[0]),
		  json({{"event_type", "X_RESPONSE"}, {"nonce", "n1"}, {"response", "{\"ok\":true}"}}));
	EXPECT_EQ(parsed(client->texts()[1])["response"], "bin\xEF\xBF\xBD\xEF\xBF\xBD");
	// Responses are not recorded: the history holds the event only.
	const std::vector<json> history = historyOf(*client);
	ASSERT_EQ(history.size(), 1u);
	EXPECT_EQ(history[0].size(), 1u);
}

TEST_F(EventProxyTest, StopKeepsTokenAndHistory)
{
	auto client = connectClient(true);
	proxy->publishRawEvent("u1", {{"event_type", "FOLLOW"}});
	int stops = 0;
	QObject::connect(proxy.get(), &EventProxyServer::stopped, [&] { ++stops; });
	const std::string before = token;
	proxy->start(); // already listening: nothing happens
	proxy->stop();
	EXPECT_EQ(stops, 1);
	EXPECT_TRUE(client->waitForClose());
	port = 0;
	proxy->start();
	ASSERT_NE(port, 0);
	EXPECT_EQ(token, before);
	auto again = connectClient(true);
	EXPECT_EQ(historyOf(*again).size(), 1u);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Event proxy listening on ws://127.0.0.1:"), 2u);
}

TEST(EventProxyBind, PortTakenLogsAndEmitsNothing)
{
	LogCapture::instance().install();
	QTcpServer squatter;
	ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
	EventProxyServer::Options options;
	options.port = squatter.serverPort();
	EventProxyServer proxy(options);
	bool started = false;
	QObject::connect(&proxy, &EventProxyServer::started, [&] { started = true; });
	proxy.start();
	EXPECT_FALSE(started);
	const auto lines = LogCapture::instance().matching("[vorn-zorva] Event proxy failed to bind to port ");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_ERROR);
	EXPECT_EQ(lines[0].text, "[vorn-zorva] Event proxy failed to bind to port " + std::to_string(options.port) +
					 ": The bound address is already in use");
	// The server object stays; a later start listens once the port is free.
	squatter.close();
	proxy.start();
	EXPECT_TRUE(started);
}

TEST_F(EventProxyTest, FiftyClientsReceiveTenThousandEventsInOrder)
{
	std::vector<std::unique_ptr<TestWebSocketClient>> readers;
	for (int i = 0; i < 50; ++i)
		readers.push_back(connectClient(i % 2 == 0));
	for (int i = 0; i < 10000; ++i)
		proxy->publishRawEvent("u1", {{"event_type", "RICH_MESSAGE"}, {"n", i}});
	// Compared as the exact compact text: half a million parses would cost
	// more than the relay itself under the sanitizers.
	for (auto &reader : readers) {
		ASSERT_TRUE(reader->waitForMessages(10000, 60s));
		for (int i = 0; i < 10000; ++i)
			ASSERT_EQ(reader->texts()[size_t(i)],
				  R"({"event_type":"RICH_MESSAGE","n":)" + std::to_string(i) + "}");
	}
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Event proxy closing client"), 0u);
}

// One frame larger than the unsent-data limit is no sign of a page that
// stopped reading: a large REST answer reaches every page that asked.
TEST_F(EventProxyTest, AResponseLargerThanTheLimitReachesEveryAuthenticatedPage)
{
	options.maxUnsentBytesPerClient = 8 * 1024 * 1024;
	startProxy();
	std::vector<std::unique_ptr<TestWebSocketClient>> pages;
	for (int i = 0; i < 3; ++i)
		pages.push_back(connectClient());
	const std::string body(9 * 1024 * 1024, 'b');
	proxy->publishResponse("large", body);
	for (auto &page : pages) {
		ASSERT_TRUE(page->waitForMessages(1, 60s));
		EXPECT_EQ(parsed(page->texts()[0])["response"], body);
	}
	EXPECT_EQ(closingLines(), 0u);
}

// A page may publish more in one go than one turn of the event loop sends:
// the pages that read get all of it.
TEST_F(EventProxyTest, ABurstLargerThanTheLimitReachesEveryReadingPage)
{
	auto publisher = connectClient();
	auto reader = connectClient();
	auto readOnly = connectClient(false);
	const std::string raw(64 * 1024 - 64, 'x');
	const int count = 400; // 25 MiB
	for (int i = 0; i < count; ++i)
		publisher->sendText(
			json({{"upid", "u1"}, {"payload", {{"event_type", "RICH_MESSAGE"}, {"n", i}, {"raw", raw}}}})
				.dump());
	// As much as the kernel holds arrives at the proxy at once.
	publisher->flush();
	for (TestWebSocketClient *page : {reader.get(), readOnly.get()}) {
		ASSERT_TRUE(page->waitForMessages(count, 60s));
		expectInOrder(*page, count);
	}
	EXPECT_EQ(closingLines(), 0u);
}

// X_INIT and pings cost a client a few bytes for many: one that asks and
// never reads is sent no more than the limit, and its requests wait.
TEST_F(EventProxyTest, RepliesToAClientThatDoesNotReadStayWithinTheLimit)
{
	for (int i = 0; i < 100; ++i)
		proxy->publishRawEvent("u1",
				       {{"event_type", "RICH_MESSAGE"}, {"n", i}, {"raw", std::string(1000, 'x')}});
	auto greedy = connectClient(false);
	const auto served = proxy->findChildren<QTcpSocket *>();
	ASSERT_EQ(served.size(), 1);
	greedy->stopReading();
	const int requests = 300; // 30 MiB of history if all were answered at once
	for (int i = 0; i < requests; ++i) {
		greedy->sendText(R"({"payload":{"type":"X_INIT"}})");
		greedy->sendFrame(WebSocketOpcode::Ping, std::string(125, 'p'));
	}
	ASSERT_TRUE(waitUntil([&] { return served[0]->bytesToWrite() > options.maxUnsentBytesPerClient; }, 30s));
	pumpEvents(200ms);
	const qint64 oneReply = 110 * 1024;
	EXPECT_LE(served[0]->bytesToWrite(), options.maxUnsentBytesPerClient + oneReply);

	// Reading again, it gets every reply it asked for.
	greedy->resumeReading();
	ASSERT_TRUE(greedy->waitForMessages(size_t(2 * requests), 60s));
	EXPECT_TRUE(waitUntil([&] { return greedy->controlFrames().size() == size_t(requests); }));
	EXPECT_EQ(closingLines(), 0u);
}

// Unsent data can hold a closing connection open for long: nothing the
// client sends meanwhile may be handled.
TEST_F(EventProxyTest, AClosingClientIsReadNoMore)
{
	auto page = connectClient();
	const QPointer<QTcpSocket> served = proxy->findChildren<QTcpSocket *>().value(0);
	ASSERT_TRUE(served);
	page->stopReading();
	for (int i = 0; i < 20000; ++i) // 20 MB: more than the kernel takes for a page that does not read
		proxy->publishRawEvent("u1", {{"event_type", "RICH_MESSAGE"}, {"raw", std::string(1000, 'x')}});
	page->sendFrame(WebSocketOpcode::Close, "");
	ASSERT_TRUE(waitUntil([&] { return served && served->state() == QAbstractSocket::ClosingState; }));
	EXPECT_FALSE(QObject::disconnect(served, &QTcpSocket::readyRead, proxy.get(), nullptr));
}

TEST_F(EventProxyTest, AClientThatStopsReadingIsClosedAndTheOthersMissNothing)
{
	options.unsentGrace = 20ms;
	startProxy();
	auto reader = connectClient();
	auto hung = connectClient(false);
	hung->stopReading();

	// About 1 KiB events, in batches the reader keeps up with, until the hung
	// client's unsent data passes the limit (kernel buffers first, then 1 MiB).
	const std::string text(1000, 'x');
	int published = 0;
	const auto closedLine = [] {
		return LogCapture::instance().count("[vorn-zorva] Event proxy closing client peer=127.0.0.1:");
	};
	while (closedLine() == 0 && published < 500000) {
		for (int i = 0; i < 100; ++i, ++published)
			proxy->publishRawEvent("u1", {{"event_type", "RICH_MESSAGE"}, {"n", published}, {"raw", text}});
		ASSERT_TRUE(reader->waitForMessages(size_t(published), 10s)) << published;
	}
	ASSERT_EQ(closedLine(), 1u) << "published " << published;
	// Reading again, the hung page finds its connection gone.
	hung->resumeReading();
	EXPECT_TRUE(hung->waitForClose());

	// The reader goes on receiving, everything once and in order.
	for (int i = 0; i < 100; ++i, ++published)
		proxy->publishRawEvent("u1", {{"event_type", "RICH_MESSAGE"}, {"n", published}, {"raw", text}});
	ASSERT_TRUE(reader->waitForMessages(size_t(published), 10s));
	pumpEvents(100ms);
	ASSERT_EQ(reader->texts().size(), size_t(published));
	for (int i = 0; i < published; ++i)
		ASSERT_EQ(parsed(reader->texts()[size_t(i)])["n"], i);

	// The page comes back and replays the history, up to the latest event.
	auto back = connectClient(false);
	const std::vector<json> history = historyOf(*back);
	ASSERT_EQ(history.size(), 1u);
	ASSERT_FALSE(history[0].empty());
	EXPECT_EQ(history[0].back()["n"], published - 1);
	EXPECT_EQ(closedLine(), 1u);
}

// Within the grace a page that never reads would be kept everything a fast
// publisher sends; the ceiling closes it at once, whatever the grace.
TEST_F(EventProxyTest, AClientThatNeverReadsIsClosedAtTheCeiling)
{
	options.maxUnsentBytesCeiling = 4 * 1024 * 1024; // the fixture's grace is an hour
	startProxy();
	auto stalled = connectClient(false);
	const QPointer<QTcpSocket> served = proxy->findChildren<QTcpSocket *>().value(0);
	ASSERT_TRUE(served);
	stalled->stopReading();
	const std::string raw(8 * 1024, 'x');
	qint64 held = 0;
	int published = 0;
	for (; published < 20000 && served->state() == QAbstractSocket::ConnectedState; ++published) { // 160 MiB
		publishNow("u1", {{"event_type", "RICH_MESSAGE"}, {"n", published}, {"raw", raw}});
		held = std::max(held, served->bytesToWrite());
	}
	EXPECT_EQ(closingLines(), 1u) << "published " << published;
	EXPECT_LE(held, options.maxUnsentBytesCeiling);
	// Reading again, it finds its connection gone.
	stalled->resumeReading();
	EXPECT_TRUE(stalled->waitForClose());
}

// A flush can find a page reset by its peer and close it there and then; the
// pages after it are flushed all the same. Many pages, half of them reset, so
// that closing while walking the client table would skip some.
TEST_F(EventProxyTest, ALogoutLeavesForEveryPageWhenOthersWereResetWithDataUnsent)
{
	std::vector<std::unique_ptr<TestWebSocketClient>> pages;
	for (int i = 0; i < 24; ++i)
		pages.push_back(connectClient());
	std::map<TestWebSocketClient *, QPointer<QTcpSocket>> served;
	for (QTcpSocket *socket : proxy->findChildren<QTcpSocket *>())
		for (auto &page : pages)
			if (socket->peerPort() == page->localPort())
				served[page.get()] = socket;
	ASSERT_EQ(served.size(), pages.size());

	// Every page is left data in Qt's buffer, past what the kernel took.
	const int smallBuffer = 4096;
	for (auto &page : pages) {
		page->stopReading();
		setsockopt(int(served[page.get()]->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &smallBuffer,
			   sizeof(smallBuffer));
	}
	const auto allBehind = [&] {
		return std::all_of(served.begin(), served.end(),
				   [](const auto &entry) { return entry.second->bytesToWrite() > 0; });
	};
	for (int n = 0; !allBehind(); ++n)
		publishNow("u1", {{"event_type", "RICH_MESSAGE"}, {"n", n}, {"raw", std::string(1000, 'x')}});

	// The readers take what the kernel holds, so that their data in Qt's
	// buffer fits the kernel again; the proxy's event loop does not run. The
	// others are reset.
	std::vector<TestWebSocketClient *> readers;
	for (size_t i = 0; i < pages.size(); ++i) {
		TestWebSocketClient *page = pages[i].get();
		if (i % 2 == 0) {
			page->reset();
			continue;
		}
		readers.push_back(page);
		page->resumeReading();
		for (int round = 0; round < 1000 && kernelUnsent(*served[page]) != 0; ++round)
			page->readArrived(10ms);
		ASSERT_EQ(kernelUnsent(*served[page]), 0);
	}
	// The proxy's side has taken in each reset before the logout.
	for (size_t i = 0; i < pages.size(); i += 2) {
		pollfd reset{int(served[pages[i].get()]->socketDescriptor()), POLLIN, 0};
		ASSERT_EQ(poll(&reset, 1, 5000), 1);
		ASSERT_NE(reset.revents & (POLLERR | POLLHUP), 0);
	}
	proxy->publishLogout("u1");
	for (size_t i = 0; i < pages.size(); i += 2)
		EXPECT_EQ(served[pages[i].get()]->state(), QAbstractSocket::UnconnectedState) << "reset page " << i;
	for (TestWebSocketClient *reader : readers)
		EXPECT_EQ(served[reader]->bytesToWrite(), 0);
	for (TestWebSocketClient *reader : readers)
		ASSERT_TRUE(waitUntil([&] {
			return !reader->texts().empty() && reader->texts().back().find("X_LOGOUT") != std::string::npos;
		}));
}

// A connection that never finishes its upgrade holds one of OBS's file
// descriptors: past the cap the oldest gives way, so pages still get in,
// with one warning for the whole burst.
TEST_F(EventProxyTest, SilentConnectionsNeitherKeepPagesOutNorPileUp)
{
	options.maxPendingUpgrades = 16;
	options.upgradeDeadline = std::chrono::hours(1);
	startProxy();
	// In groups the kernel's accept queue holds, so that every one reaches
	// the proxy rather than waiting in the kernel.
	std::vector<std::unique_ptr<QTcpSocket>> silent;
	while (silent.size() < 200) {
		for (int i = 0; i < 10; ++i) {
			silent.push_back(std::make_unique<QTcpSocket>());
			silent.back()->connectToHost(QHostAddress::LocalHost, port);
		}
		ASSERT_TRUE(waitUntil([&] { return silent.back()->state() != QAbstractSocket::ConnectingState; }));
	}
	const auto stillOpen = [&] {
		return std::count_if(silent.begin(), silent.end(), [](const std::unique_ptr<QTcpSocket> &socket) {
			return socket->state() != QAbstractSocket::UnconnectedState;
		});
	};
	ASSERT_TRUE(waitUntil([&] { return stillOpen() <= 16; }, 30s)) << stillOpen();
	auto page = connectClient(false);
	EXPECT_TRUE(page->upgraded());
	EXPECT_EQ(historyOf(*page).size(), 0u);
	EXPECT_LE(stillOpen(), 16);
	const auto warnings = LogCapture::instance().matching("connections waiting to upgrade");
	ASSERT_EQ(warnings.size(), 1u);
	EXPECT_EQ(
		warnings[0].text,
		"[vorn-zorva] Event proxy has 16 connections waiting to upgrade: closing the oldest for each new one");
	EXPECT_EQ(warnings[0].level, LOG_WARNING);
}

// A connection has a while to upgrade, silent or stuck in mid-request; a page
// that upgraded is never timed out.
TEST_F(EventProxyTest, AConnectionThatDoesNotUpgradeInTimeIsClosed)
{
	options.upgradeDeadline = 1s;
	startProxy();
	auto page = connectClient(false);
	QTcpSocket silent;
	QTcpSocket partial;
	silent.connectToHost(QHostAddress::LocalHost, port);
	partial.connectToHost(QHostAddress::LocalHost, port);
	ASSERT_TRUE(waitUntil([&] { return partial.state() == QAbstractSocket::ConnectedState; }));
	partial.write("GET /?token=x HTTP/1.1\r\nHost: 127.0.0.1\r\n");
	ASSERT_TRUE(waitUntil(
		[&] {
			return silent.state() == QAbstractSocket::UnconnectedState &&
			       partial.state() == QAbstractSocket::UnconnectedState;
		},
		30s));
	EXPECT_EQ(historyOf(*page).size(), 0u);
	EXPECT_FALSE(page->isClosed());
}
