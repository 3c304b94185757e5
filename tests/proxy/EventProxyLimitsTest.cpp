// The event proxy's bounds against pages that read slowly, stop reading or
// misbehave, and what leaves for the pages when the proxy flushes or stops.

#include "EventProxyFixture.h"

using namespace std::chrono_literals;

namespace {

json bulkyEvent(int n, size_t bytes)
{
	return {{"event_type", "RICH_MESSAGE"}, {"n", n}, {"raw", std::string(bytes, 'x')}};
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
