// Faults of Vek's realtime endpoint, injected by the fake service at every
// stage of a connection: the TLS handshake, the upgrade, the frame stream, and
// silence. The runtime and the event proxy run on their own worker thread, as
// in the module; a page listens on the proxy; a heartbeat on the worker thread
// shows whether a fault ever stalls that thread. Every case checks the log,
// the recovery (a new attempt after the retry delay, with a new key and the
// same token) and that the pages get each event exactly once.

#include "VekTestSupport.h"

#include "Heartbeat.h"
#include "TestWebSocketClient.h"
#include "integration/VekConnectionWorker.h"
#include "integration/VekRuntime.h"
#include "proxy/EventProxyServer.h"
#include "worker/WorkerObjects.h"

#include <atomic>

#include <QJsonObject>
#include <QSslError>
#include <QThread>

namespace {

// The worker thread's event loop may stall at most kMaxEventLoopStallMs
// (Heartbeat.h); the silences below last three times as long, a retry delay
// 5 s, a blocking socket wait 30 s.
constexpr qint64 kMaxStallMs = kMaxEventLoopStallMs;
constexpr qint64 kSilenceMs = 3 * kMaxStallMs;
// Short retries keep the suite fast; one test runs with the module's own delay.
constexpr int kRetryMs = 300;
// The setup time-out of the silence tests: long enough for a TLS handshake
// under AddressSanitizer, short enough for the suite.
constexpr int kSetupTimeoutMs = 2000;
constexpr size_t kFrameLimit = 16 * 1024 * 1024;

const char *const kToken = "vek-token";

std::string eventJson(int n)
{
	return R"({"event_type":"RICH_MESSAGE","n":)" + std::to_string(n) + "}";
}

std::string eventMessage(int n)
{
	return R"({"type":"EVENT","event":)" + eventJson(n) + "}";
}

std::string eventFrame(int n)
{
	return encodeFrame(eventMessage(n), WebSocketOpcode::Text, false);
}

std::string loginMessage(const std::string &token)
{
	return R"({"nonce":"_login","token":")" + token + R"(","type":"LOGIN"})";
}

// A frame header (no payload) announcing a text frame of the given length.
std::string textFrameHeader(uint64_t length)
{
	std::string header = "\x81\x7F";
	for (int shift = 56; shift >= 0; shift -= 8)
		header.push_back(char((length >> shift) & 0xFF));
	return header;
}

class VekFaultTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		quietLogs();
		logBaseline = LogCapture::instance().lines().size();
		ASSERT_TRUE(vek.listen());
	}

	void TearDown() override
	{
		shutDown();
		// Whatever went wrong, the account's token never reached the log.
		for (const LogCapture::Line &line : newLogLines())
			EXPECT_EQ(line.text.find(kToken), std::string::npos) << line.text;
		if (HasFailure()) {
			for (const LogCapture::Line &line : newLogLines())
				std::fprintf(stderr, "  log: %s\n", line.text.c_str());
		}
	}

	void startRuntime(int retryDelayMs = kRetryMs)
	{
		startWorkerThread(testService(vek.port(), QStringLiteral("https://127.0.0.1:1"), retryDelayMs));
	}

	// The runtime and the event proxy on a worker thread, wired by the
	// module's own wiring, with a page listening on the proxy.
	void startWorkerThread(VekService service)
	{
		EventProxyServer::Options options;
		options.port = 0;
		workerObjects = std::make_unique<WorkerObjects>(options, std::move(service));
		runtime = workerObjects->vekRuntime();
		proxy = workerObjects->eventProxy();
		heartbeat = new Heartbeat;
		heartbeat->moveToThread(workerObjects->thread());
		QObject::connect(workerObjects->thread(), &QThread::finished, heartbeat, &QObject::deleteLater);
		QObject::connect(
			proxy, &EventProxyServer::started, proxy,
			[this](quint16 port, std::string) { proxyPort = port; }, Qt::DirectConnection);
		workerObjects->start();
		heartbeat->start();
		ASSERT_TRUE(waitUntil([this] { return proxyPort.load() != 0; }));
		page = std::make_unique<TestWebSocketClient>();
		ASSERT_TRUE(page->open(proxyPort.load(), QStringLiteral("/")));
		ASSERT_TRUE(page->waitForUpgrade());
	}

	// The snapshot the module hands over after an auth change: one account.
	void link(const std::string &token = kToken)
	{
		const QJsonArray snapshot{QJsonObject{{"platform", "TWITCH"},
						      {"token", QString::fromStdString(token)},
						      {"upid", "u1"},
						      {"username", "ann"}}};
		VekRuntime *target = runtime;
		QMetaObject::invokeMethod(runtime, [target, snapshot] { target->syncIntegrations(snapshot); });
	}

	// Runs on the worker thread and waits for it, as the module's blocking calls do.
	template<typename Function> void onWorker(Function function)
	{
		QMetaObject::invokeMethod(runtime, function, Qt::BlockingQueuedConnection);
	}

	bool retryPending()
	{
		bool pending = false;
		onWorker([this, &pending] {
			VekConnectionWorker *worker = runtime->worker("u1");
			pending = worker && worker->retryPending();
		});
		return pending;
	}

	// The stop the module runs at unload: a blocking call from this thread.
	// Returns how long this thread was blocked.
	qint64 stopRuntime()
	{
		QElapsedTimer timer;
		timer.start();
		QMetaObject::invokeMethod(runtime, "stop", Qt::BlockingQueuedConnection);
		return timer.elapsed();
	}

	void shutDown()
	{
		if (workerObjects)
			workerObjects->stop();
	}

	FakeVekRealtime::Connection &connection(size_t index) { return *vek.connections[index]; }

	// Connection `index` has sent its LOGIN.
	bool loggedIn(size_t index, std::chrono::milliseconds timeout = 5s)
	{
		return waitUntil([&] { return vek.connections.size() > index && !connection(index).texts.empty(); },
				 timeout);
	}

	// After a fault that ended connection `index` at faultAtMs: the next
	// attempt comes no sooner than the retry delay, with a new key, and logs
	// in with the same token. (The tests count the connections: one a fault.)
	void expectRetried(size_t index, qint64 faultAtMs, int retryDelayMs = kRetryMs)
	{
		ASSERT_TRUE(loggedIn(index + 1, std::chrono::milliseconds(retryDelayMs) + 5s));
		const FakeVekRealtime::Connection &next = connection(index + 1);
		// Qt's coarse timers may fire up to 5 % early.
		EXPECT_GE(next.acceptedAtMs - faultAtMs, retryDelayMs * 94 / 100);
		EXPECT_NE(next.key, connection(index).key);
		EXPECT_EQ(next.texts[0], loginMessage(kToken));
	}

	// Sends an event on the connection and waits until the page has it.
	void expectEventFlows(FakeVekRealtime::Connection &on, int n)
	{
		const size_t before = page->texts().size();
		vek.sendText(on, eventMessage(n));
		ASSERT_TRUE(page->waitForMessages(before + 1));
	}

	void expectPageEvents(const std::vector<int> &numbers)
	{
		pumpEvents(100ms); // time for anything relayed twice to show up
		std::vector<std::string> expected;
		for (int n : numbers)
			expected.push_back(eventJson(n));
		EXPECT_EQ(page->texts(), expected);
	}

	// Qt reports a close by the service once from the TLS layer and once
	// from TCP; each report is one warning.
	void expectRemoteCloseLogged() const
	{
		const size_t lines = logCount("[vorn-zorva] Vek socket error platform=TWITCH upid=u1 error=" +
					      std::to_string(int(QAbstractSocket::RemoteHostClosedError)) + " reason=");
		EXPECT_GE(lines, 1u);
		EXPECT_LE(lines, 2u);
		EXPECT_EQ(warnings(), lines);
	}

	// Every test here runs for well over 100 ms.
	void expectNoStall() const
	{
		EXPECT_GT(heartbeat->ticks(), 10);
		EXPECT_LT(heartbeat->longestGapMs(), kMaxStallMs);
	}

	std::vector<LogCapture::Line> newLogLines() const
	{
		const std::vector<LogCapture::Line> all = LogCapture::instance().lines();
		return {all.begin() + std::ptrdiff_t(std::min(logBaseline, all.size())), all.end()};
	}

	size_t logCount(const std::string &fragment) const
	{
		size_t count = 0;
		for (const LogCapture::Line &line : newLogLines())
			count += line.text.find(fragment) != std::string::npos ? 1 : 0;
		return count;
	}

	size_t warnings() const
	{
		size_t count = 0;
		for (const LogCapture::Line &line : newLogLines())
			count += line.level == LOG_WARNING ? 1 : 0;
		return count;
	}

	FakeVekRealtime vek;
	std::unique_ptr<WorkerObjects> workerObjects;
	VekRuntime *runtime = nullptr;
	EventProxyServer *proxy = nullptr;
	Heartbeat *heartbeat = nullptr;
	std::atomic<quint16> proxyPort{0};
	std::unique_ptr<TestWebSocketClient> page;
	size_t logBaseline = 0;
};

} // namespace

// Time bounds, under the label timing.
using VekFaultTiming = VekFaultTest;

// The one case run with the module's own retry delay: the connection ends
// halfway through a frame; the half frame is dropped with the connection and
// never mixes with the next one's stream. The retry comes 5 s after the close:
// no sooner (less the 5 % Qt's coarse timers may fire early), and no more
// than 1.5 s later on a loaded machine.
TEST_F(VekFaultTiming, DroppedMidFrameRetriesAfterFiveSeconds)
{
	const int moduleDelay = int(VekService().retryDelay.count());
	startRuntime(moduleDelay);
	link();
	ASSERT_TRUE(loggedIn(0));
	FakeVekRealtime::Connection &first = connection(0);
	expectEventFlows(first, 1);
	const std::string third = eventFrame(3);
	vek.sendRaw(first, eventFrame(2) + third.substr(0, third.size() / 2));
	vek.close(first);
	ASSERT_TRUE(waitUntil([&] { return first.ended; }));
	expectRetried(0, first.closedAtMs, moduleDelay);
	EXPECT_LT(connection(1).acceptedAtMs - first.closedAtMs, moduleDelay + 1500);

	expectEventFlows(connection(1), 4);
	expectPageEvents({1, 2, 4});
	EXPECT_EQ(vek.connections.size(), 2u);
	EXPECT_EQ(logCount("parse failed"), 0u);
	EXPECT_EQ(logCount("[vorn-zorva] Vek websocket connected platform=TWITCH upid=u1"), 2u);
	expectRemoteCloseLogged();
	expectNoStall();
}

TEST_F(VekFaultTest, DroppedMidUpgradeResponseIsRetried)
{
	vek.upgrade = FakeVekRealtime::Upgrade::PartialHeadThenClose;
	startRuntime();
	link();
	ASSERT_TRUE(waitUntil([&] { return !vek.connections.empty() && connection(0).ended; }));
	vek.upgrade = FakeVekRealtime::Upgrade::Accept;
	EXPECT_FALSE(connection(0).requestHead.empty());
	EXPECT_TRUE(connection(0).texts.empty()); // never logged in on half a head
	expectRetried(0, connection(0).closedAtMs);

	expectEventFlows(connection(1), 1);
	expectPageEvents({1});
	EXPECT_EQ(vek.connections.size(), 2u);
	// The head never completed: nothing to judge, only the lost connection.
	EXPECT_EQ(logCount("handshake failed"), 0u);
	EXPECT_EQ(logCount("accept mismatch"), 0u);
	expectRemoteCloseLogged();
	EXPECT_EQ(logCount("[vorn-zorva] Vek websocket connected platform=TWITCH upid=u1"), 1u);
	expectNoStall();
}

TEST_F(VekFaultTest, DroppedMidTlsHandshakeIsRetried)
{
	vek.setTls(FakeVekRealtime::Tls::CloseAfterClientHello);
	startRuntime();
	link();
	ASSERT_TRUE(waitUntil([&] { return !vek.connections.empty() && connection(0).ended; }));
	vek.setTls(FakeVekRealtime::Tls::Handshake);
	// The fake read a TLS handshake record (the ClientHello) before closing.
	ASSERT_FALSE(connection(0).clientHello.empty());
	EXPECT_EQ(uint8_t(connection(0).clientHello[0]), 0x16);
	expectRetried(0, connection(0).closedAtMs);

	expectEventFlows(connection(1), 1);
	expectPageEvents({1});
	EXPECT_EQ(vek.connections.size(), 2u);
	expectRemoteCloseLogged(); // and no SSL-errors warning: no certificate was ever judged
	expectNoStall();
}

// Bytes after the upgrade that are no valid frame stream. Events that came
// before the garbage, even in the same read, are relayed once; the worker
// closes, logs the decoder's error and starts over.
TEST_F(VekFaultTest, GarbageAfterTheUpgradeClosesAndRetries)
{
	struct Garbage {
		std::string bytes;
		std::string warning;
	};
	const std::vector<Garbage> cases = {
		{std::string("\x00\x05hello", 7),
		 "[vorn-zorva] Vek message parse failed platform=TWITCH upid=u1 error=Unexpected continuation frame."},
		{std::string(10, '\xFF'),
		 "[vorn-zorva] Vek frame parse failed platform=TWITCH upid=u1 error=WebSocket frame too large."},
		{std::string("\x03\x03"
			     "abc",
			     5) +
			 eventFrame(99),
		 "[vorn-zorva] Vek message parse failed platform=TWITCH upid=u1 error=Received a new data frame before the "
		 "fragmented message completed."},
	};
	startRuntime();
	link();
	ASSERT_TRUE(loggedIn(0));
	std::vector<int> relayed;
	for (size_t i = 0; i < cases.size(); ++i) {
		SCOPED_TRACE(cases[i].warning);
		FakeVekRealtime::Connection &current = connection(i);
		const int before = int(i) * 10 + 1;
		const qint64 faultAt = vek.elapsedMs();
		vek.sendRaw(current, eventFrame(before) + cases[i].bytes);
		relayed.push_back(before);
		ASSERT_TRUE(waitUntil([&] { return current.ended; })); // closed by the worker
		EXPECT_EQ(logCount(cases[i].warning), 1u);
		expectRetried(i, faultAt);
	}
	expectEventFlows(connection(cases.size()), 100);
	relayed.push_back(100);
	expectPageEvents(relayed); // the event inside the broken stream (99) is not among them
	EXPECT_EQ(vek.connections.size(), cases.size() + 1);
	expectNoStall();
}

// The worker holds at most 16 MiB of unprocessed frame bytes. A frame of
// exactly that size is taken in whole; one that announces a byte more is
// refused as soon as its header is in, without waiting for its bytes.
TEST_F(VekFaultTest, FrameOverTheSixteenMebibyteLimitIsRefusedAtItsHeader)
{
	startRuntime();
	link();
	ASSERT_TRUE(loggedIn(0));
	FakeVekRealtime::Connection &first = connection(0);
	// Not JSON, so the worker reports its exact size and drops it cheaply.
	const size_t atLimit = kFrameLimit - 10; // 10 header bytes
	vek.sendText(first, std::string(atLimit, 'x'));
	ASSERT_TRUE(waitUntil([&] { return logCount("reason=invalid_json") == 1; }, 10s));
	EXPECT_EQ(logCount("[vorn-zorva] Vek text message ignored platform=TWITCH upid=u1 reason=invalid_json bytes=" +
			   std::to_string(atLimit)),
		  1u);
	expectEventFlows(first, 1); // still open

	heartbeat->reset(); // taking in 16 MiB is work, not a stall
	const qint64 faultAt = vek.elapsedMs();
	// Only the header goes out: the worker cannot be waiting for the bytes.
	vek.sendRaw(first, eventFrame(2) + textFrameHeader(kFrameLimit + 1));
	ASSERT_TRUE(waitUntil([&] { return first.ended; }));
	EXPECT_EQ(
		logCount(
			"[vorn-zorva] Vek frame parse failed platform=TWITCH upid=u1 error=WebSocket message too large."),
		1u);
	expectRetried(0, faultAt);
	expectEventFlows(connection(1), 3);
	expectPageEvents({1, 2, 3});
	EXPECT_EQ(vek.connections.size(), 2u);
	expectNoStall();
}

// A close frame from the service, with no status code and with a code and a
// reason: the worker closes without answering, logs nothing and starts over.
TEST_F(VekFaultTest, CloseFramesWithAndWithoutCodeAreRetriedSilently)
{
	const std::vector<std::string> payloads = {std::string(), std::string("\x03\xe9going away", 12)};
	startRuntime();
	link();
	ASSERT_TRUE(loggedIn(0));
	std::vector<int> relayed;
	for (size_t i = 0; i < payloads.size(); ++i) {
		FakeVekRealtime::Connection &current = connection(i);
		const qint64 faultAt = vek.elapsedMs();
		vek.sendRaw(current, eventFrame(int(i) + 1) + encodeFrame(payloads[i], WebSocketOpcode::Close, false));
		relayed.push_back(int(i) + 1);
		ASSERT_TRUE(waitUntil([&] { return current.ended; }));
		EXPECT_TRUE(current.control.empty()); // no close frame sent back
		expectRetried(i, faultAt);
	}
	expectEventFlows(connection(payloads.size()), 10);
	relayed.push_back(10);
	expectPageEvents(relayed);
	EXPECT_EQ(vek.connections.size(), payloads.size() + 1);
	EXPECT_EQ(warnings(), 0u);
	expectNoStall();
}

// The name in the certificate (localhost, 127.0.0.1) is not the host the
// worker dialled (127.0.0.2): the handshake fails, the token never leaves
// the process, and the worker retries after the delay.
TEST_F(VekFaultTest, CertificateForAnotherHostIsRefusedAndRetried)
{
	FakeVekRealtime elsewhere;
	if (!elsewhere.listen(QHostAddress(QStringLiteral("127.0.0.2")), 0))
		GTEST_SKIP() << "127.0.0.2 is not available on this machine";
	VekService service = testService(elsewhere.port(), QStringLiteral("https://127.0.0.1:1"));
	service.apiHost = QStringLiteral("127.0.0.2");
	service.hostHeader = QStringLiteral("127.0.0.2:%1").arg(elsewhere.port());
	startWorkerThread(service);
	link();
	ASSERT_TRUE(waitUntil([&] { return elsewhere.connections.size() >= 2; }, 3s));
	const QString mismatch = QSslError(QSslError::HostNameMismatch).errorString();
	const auto sslLines = LogCapture::instance().matching("[vorn-zorva] Vek SSL errors platform=TWITCH upid=u1: ");
	ASSERT_FALSE(sslLines.empty());
	EXPECT_NE(sslLines[0].text.find(mismatch.toStdString()), std::string::npos) << sslLines[0].text;
	EXPECT_GE(logCount("[vorn-zorva] Vek socket error platform=TWITCH upid=u1 error=" +
			   std::to_string(int(QAbstractSocket::SslHandshakeFailedError))),
		  1u);
	ASSERT_TRUE(waitUntil([&] { return elsewhere.connections[0]->ended; }));
	EXPECT_GE(elsewhere.connections[1]->acceptedAtMs - elsewhere.connections[0]->acceptedAtMs, kRetryMs * 94 / 100);
	for (const auto &attempt : elsewhere.connections) {
		EXPECT_TRUE(attempt->requestHead.empty());
		EXPECT_TRUE(attempt->texts.empty());
	}
	expectNoStall();
	shutDown(); // before the fake on 127.0.0.2 goes
}

namespace {

// Where the service falls silent.
enum class Silence { AfterTcpAccept, AfterTlsHandshake, AfterUpgrade };

std::string stageName(Silence stage)
{
	switch (stage) {
	case Silence::AfterTcpAccept:
		return "AfterTcpAccept";
	case Silence::AfterTlsHandshake:
		return "AfterTlsHandshake";
	case Silence::AfterUpgrade:
		return "AfterUpgrade";
	}
	return "Unknown";
}

// Names the stage in test listings (and so in CTest's test names).
void PrintTo(Silence stage, std::ostream *out)
{
	*out << stageName(stage);
}

class VekSilenceTest : public VekFaultTest, public ::testing::WithParamInterface<Silence> {
protected:
	void makeSilent(bool silent)
	{
		const Silence stage = GetParam();
		vek.setTls(silent && stage == Silence::AfterTcpAccept ? FakeVekRealtime::Tls::Silent
								      : FakeVekRealtime::Tls::Handshake);
		vek.upgrade = silent && stage == Silence::AfterTlsHandshake ? FakeVekRealtime::Upgrade::Silent
									    : FakeVekRealtime::Upgrade::Accept;
		vek.welcome = !(silent && stage == Silence::AfterUpgrade);
	}

	// The silent connection has reached the stage where the service stops.
	bool reachedSilence(size_t index)
	{
		return waitUntil([&] {
			if (vek.connections.size() <= index)
				return false;
			const FakeVekRealtime::Connection &c = connection(index);
			switch (GetParam()) {
			case Silence::AfterTcpAccept:
				return !c.clientHello.empty();
			case Silence::AfterTlsHandshake:
				return !c.requestHead.empty();
			case Silence::AfterUpgrade:
				return c.upgraded;
			}
			return false;
		});
	}
};

} // namespace

// A service that goes silent at any stage before its first message is given
// up once the setup time-out has passed: the attempt is aborted with a
// warning naming the stage, and the next one starts after the retry delay.
// Meanwhile the worker thread never stalls and nothing is sent (no LOGIN
// without WELCOME); an unload during the silence is quick.
TEST_P(VekSilenceTest, SilentServiceIsGivenUpAfterTheSetupTimeOutAndRetried)
{
	makeSilent(true);
	VekService service = testService(vek.port(), QStringLiteral("https://127.0.0.1:1"), kRetryMs);
	service.setupTimeout = std::chrono::milliseconds(kSetupTimeoutMs);
	startWorkerThread(service);
	link();
	ASSERT_TRUE(reachedSilence(0));
	ASSERT_TRUE(waitUntil([&] { return connection(0).ended; }, std::chrono::milliseconds(kSetupTimeoutMs) + 5s));
	const qint64 endedAtMs = vek.elapsedMs();
	// The time-out counts from the start of the attempt, not from the silence.
	EXPECT_GE(endedAtMs - connection(0).acceptedAtMs, kSetupTimeoutMs * 94 / 100 - 50);
	EXPECT_TRUE(connection(0).texts.empty());
	const std::string stage = GetParam() == Silence::AfterTcpAccept      ? "tls"
				  : GetParam() == Silence::AfterTlsHandshake ? "upgrade"
									     : "welcome";
	EXPECT_EQ(logCount("[vorn-zorva] Vek connection timed out platform=TWITCH upid=u1 stage=" + stage +
			   " after=" + std::to_string(kSetupTimeoutMs) + "ms"),
		  1u);
	EXPECT_EQ(warnings(), 1u);

	// The service answers again: the retry logs in and events flow.
	makeSilent(false);
	expectRetried(0, endedAtMs);
	expectEventFlows(connection(1), 1);
	pumpEvents(std::chrono::milliseconds(kSetupTimeoutMs)); // a spoken service is not timed out
	EXPECT_FALSE(connection(1).ended);
	EXPECT_EQ(warnings(), 1u);

	// Silent again on a new token; unloading is still quick and leaves no retry.
	makeSilent(true);
	link("vek-token-2");
	ASSERT_TRUE(reachedSilence(2));
	stopRuntime(); // a stop that waited on the silent connection shows in expectNoStall
	ASSERT_TRUE(waitUntil([&] { return connection(2).ended; }));
	pumpEvents(std::chrono::milliseconds(kSetupTimeoutMs + 2 * kRetryMs));
	EXPECT_EQ(vek.connections.size(), 3u);
	expectPageEvents({1});
	expectNoStall();
}

INSTANTIATE_TEST_SUITE_P(Stages, VekSilenceTest,
			 ::testing::Values(Silence::AfterTcpAccept, Silence::AfterTlsHandshake, Silence::AfterUpgrade),
			 [](const ::testing::TestParamInfo<Silence> &stage) { return stageName(stage.param); });
