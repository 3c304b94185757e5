// The event proxy's bounds against pages that read slowly, stop reading or
// misbehave, and what leaves for the pages when the proxy flushes or stops.

#include "EventProxyFixture.h"

#include <QPointer>

using namespace std::chrono_literals;

namespace {

json bulkyEvent(int n, size_t bytes)
{
	return {{"event_type", "RICH_MESSAGE"}, {"n", n}, {"raw", std::string(bytes, 'x')}};
}

// The proxy's end of the only connection it serves.
QPointer<QTcpSocket> onlyServed(EventProxyServer &proxy)
{
	const auto served = proxy.findChildren<QTcpSocket *>();
	EXPECT_EQ(served.size(), 1);
	return served.value(0);
}

// Takes in what the kernel holds for the page, until the proxy's kernel
// buffer for it is empty, without running the proxy's event loop.
void drainKernel(TestWebSocketClient &page, QTcpSocket &served)
{
	page.resumeReading();
	for (int round = 0; round < 1000 && kernelUnsent(served) != 0; ++round)
		page.readArrived(10ms);
	ASSERT_EQ(kernelUnsent(served), 0);
}

} // namespace

// The ceiling is for a page that stops reading. One that asks for a history
// larger than the ceiling in the same write as its upgrade request gets its
// upgrade, the whole history, and the events published while it takes it.
TEST_F(EventProxyTest, APageThatReadsGetsAHistoryLargerThanTheCeiling)
{
	options.maxUnsentBytesCeiling = 4 * 1024 * 1024;
	startProxy();
	for (const char *upid : {"u1", "u2", "u3", "u4"})
		for (int n = 0; n < 100; ++n) // 9.8 MB in all
			proxy->publishRawEvent(upid, bulkyEvent(n, 24 * 1024));
	TestWebSocketClient page;
	ASSERT_TRUE(page.open(port, QStringLiteral("/?token=%1").arg(QString::fromStdString(token))));
	page.sendText(R"({"payload":{"type":"X_INIT"}})");
	ASSERT_TRUE(waitUntil(
		[] { return LogCapture::instance().count("Event proxy accepted authenticated client") == 1; }));
	for (int n = 100; n < 103; ++n)
		publishNow("u1", bulkyEvent(n, 1024));

	ASSERT_TRUE(waitUntil([&] { return page.texts().size() >= 5 || page.isClosed(); }, 60s));
	ASSERT_EQ(page.texts().size(), 5u);
	EXPECT_TRUE(page.upgraded());
	const json history = parsed(page.texts()[0]);
	ASSERT_EQ(history["event_type"], "X_HISTORY");
	ASSERT_EQ(history["data"].size(), 4u);
	for (const json &events : history["data"])
		EXPECT_EQ(events.size(), 100u);
	EXPECT_EQ(parsed(page.texts()[1])["event_type"], "X_FEATURES");
	for (int i = 0; i < 3; ++i)
		EXPECT_EQ(parsed(page.texts()[size_t(2 + i)])["n"], 100 + i);
	EXPECT_EQ(closingLines(), 0u);
}

// Without the token a client only listens: only so many are taken at once,
// none may park a large unfinished message, and pages with the token always
// get in and may send large ones.
TEST_F(EventProxyTest, ClientsWithoutTheTokenAreFewAndSendLittle)
{
	options.maxReadOnlyClients = 3;
	options.maxReadOnlyMessageBytes = 64 * 1024;
	startProxy();
	std::vector<std::unique_ptr<TestWebSocketClient>> listeners;
	for (int i = 0; i < 3; ++i)
		listeners.push_back(connectClient(false));
	for (int i = 0; i < 2; ++i) {
		TestWebSocketClient refused;
		ASSERT_TRUE(refused.open(port, QStringLiteral("/")));
		EXPECT_FALSE(refused.waitForUpgrade());
		EXPECT_EQ(refused.upgradeResponse(), "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n\r\n");
	}
	auto page = connectClient(true);
	EXPECT_TRUE(page->upgraded());
	const auto warnings = LogCapture::instance().matching("clients without the token");
	ASSERT_EQ(warnings.size(), 1u);
	EXPECT_EQ(warnings[0].text,
		  "[vorn-zorva] Event proxy has 3 clients without the token: refusing more until one leaves");

	const std::string large = encodeFrame(std::string(100 * 1024, 'x'), WebSocketOpcode::Text, true);
	listeners[0]->sendRaw(QByteArray::fromStdString(large.substr(0, 70 * 1024)));
	EXPECT_TRUE(listeners[0]->waitForClose());
	EXPECT_EQ(LogCapture::instance().count("reason=message_too_large"), 1u);
	page->sendText(json({{"upid", "u1"}, {"payload", bulkyEvent(0, 512 * 1024)}}).dump());
	ASSERT_TRUE(listeners[1]->waitForMessages(1));
	EXPECT_EQ(parsed(listeners[1]->texts()[0])["n"], 0);

	// With one gone, another listener gets in.
	std::unique_ptr<TestWebSocketClient> late;
	EXPECT_TRUE(waitUntil([&] {
		late = std::make_unique<TestWebSocketClient>();
		return late->open(port, QStringLiteral("/")) && late->waitForUpgrade();
	}));
}

// A stop hands what waits for a page to the kernel ahead of the close, also
// what waits behind data Qt still held for it.
TEST_F(EventProxyTest, AStopHandsWhatWasPublishedLastToThePages)
{
	auto page = connectClient(false);
	const QPointer<QTcpSocket> served = onlyServed(*proxy);
	ASSERT_TRUE(served);
	page->stopReading();
	int published = 0;
	while (served->bytesToWrite() == 0)
		publishNow("u1", bulkyEvent(published++, 1000));
	drainKernel(*page, *served);
	proxy->publishRawEvent("u1", bulkyEvent(published++, 1000)); // its flush is still posted
	proxy->stop();
	ASSERT_TRUE(page->waitForClose(10s));
	expectInOrder(*page, published);
}

// Qt reports bytes written inside a flush. A logout's flush, which the UI
// thread waits for, must not run the requests of a page whose input waited.
TEST_F(EventProxyTest, ALogoutRunsNoPagesInput)
{
	auto page = connectClient(true);
	const QPointer<QTcpSocket> served = onlyServed(*proxy);
	ASSERT_TRUE(served);
	page->stopReading();
	for (int n = 0; served->bytesToWrite() <= options.maxUnsentBytesPerClient; ++n)
		publishNow("u1", bulkyEvent(n, 8 * 1024));
	// Behind the limit, its ping's pong pauses its input; its next request waits.
	page->sendFrame(WebSocketOpcode::Ping, "p");
	page->sendText(R"({"payload":{"type":"X_SHOW_SETTINGS","page":"p"}})");
	ASSERT_TRUE(waitUntil([&] { return served->readBufferSize() != 0; }));

	bool loggingOut = false;
	int handled = 0;
	int handledInLogout = 0;
	QObject::connect(proxy.get(), &EventProxyServer::showSettingsRequested, [&] {
		++handled;
		handledInLogout += loggingOut ? 1 : 0;
	});
	drainKernel(*page, *served);
	loggingOut = true;
	proxy->publishLogout("u1");
	loggingOut = false;
	EXPECT_EQ(served->bytesToWrite(), 0) << "the logout's flush took the page's data within the limit";
	ASSERT_TRUE(waitUntil([&] { return handled == 1; }));
	EXPECT_EQ(handledInLogout, 0);
}
