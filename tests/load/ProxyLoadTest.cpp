// The event proxy under load: 200 pages connected at once, 100 000 events
// published on the worker thread. Every page must get every event once and in
// order, and memory must stay bounded. Prints its figures.

#include "EventLoopWait.h"
#include "LogCapture.h"
#include "proxy/EventProxyServer.h"
#include "threading/WorkerThread.h"
#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"
#include "websocket/WebSocketHandshake.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

constexpr int kClients = 200;
constexpr int kEvents = 100000;
constexpr int kBatch = 2000;
// How far publishing may run ahead of the slowest page (well under the
// proxy's per-client limit of unsent data).
constexpr int kAhead = 5000;

// Peak and current resident memory of this process, in KiB.
long statusValue(const char *key)
{
	std::ifstream status("/proc/self/status");
	std::string line;
	while (std::getline(status, line)) {
		if (line.rfind(key, 0) == 0)
			return std::stol(line.substr(std::strlen(key) + 1));
	}
	return -1;
}

// A lean page: upgrades, then decodes frames and checks each event's
// sequence number without keeping the messages.
class CountingClient : public QObject {
public:
	CountingClient(quint16 port, const std::string &token)
	{
		connect(&socket, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
		socket.connectToHost(QStringLiteral("127.0.0.1"), port);
		socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
		key = generateClientKey();
		const std::string request =
			"GET /?token=" + token +
			" HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
			"Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " +
			key + "\r\n\r\n";
		socket.write(request.data(), qint64(request.size()));
	}

	bool upgraded = false;
	int received = 0;
	int errors = 0;

private:
	void onReadyRead()
	{
		const QByteArray bytes = socket.readAll();
		buffer.append(std::string_view(bytes.constData(), size_t(bytes.size())));
		if (!upgraded) {
			const auto head = extractHttpHead(buffer);
			if (!head)
				return;
			upgraded = head->rfind("HTTP/1.1 101 ", 0) == 0 &&
				   findHeaderValue(*head, "Sec-WebSocket-Accept") == computeAcceptKey(key);
		}
		WebSocketFrame frame;
		std::string error;
		while (decodeFrame(buffer, frame, error) == DecodeResult::FrameReady)
			check(frame.payload);
	}

	void check(const std::string &text)
	{
		const size_t at = text.find("\"n\":");
		int n = -1;
		if (at != std::string::npos)
			std::from_chars(text.data() + at + 4, text.data() + text.size(), n);
		if (n != received)
			++errors;
		++received;
	}

	QTcpSocket socket;
	std::string key;
	ReceiveBuffer buffer;
};

} // namespace

TEST(ProxyLoad, TwoHundredPagesReceiveOneHundredThousandEventsEach)
{
	LogCapture::instance().install();
	LogCapture::instance().setEcho(false);
	WorkerThread worker;
	worker.setObjectName(QStringLiteral("zorva-worker"));
	EventProxyServer::Options options;
	options.port = 0;
	auto *proxy = new EventProxyServer(options);
	quint16 port = 0;
	QObject::connect(proxy, &EventProxyServer::started, [&port](quint16 p, std::string) { port = p; });
	proxy->moveToThread(&worker);
	QObject::connect(&worker, &QThread::finished, proxy, &QObject::deleteLater);
	worker.start();
	QMetaObject::invokeMethod(proxy, "start", Qt::BlockingQueuedConnection);
	ASSERT_NE(port, 0);
	const std::string token = proxy->accessToken();

	// In groups under the proxy's cap on connections waiting to upgrade: a
	// page's request leaves only as this thread's event loop runs, so 200
	// opened at once would be 200 waiting, and the oldest would give way.
	std::vector<std::unique_ptr<CountingClient>> clients;
	while (clients.size() < size_t(kClients)) {
		for (int i = 0; i < 32 && clients.size() < size_t(kClients); ++i)
			clients.push_back(std::make_unique<CountingClient>(port, token));
		ASSERT_TRUE(waitUntil(
			[&] {
				return std::all_of(clients.begin(), clients.end(), [](auto &c) { return c->upgraded; });
			},
			30s));
	}
	const long rssBefore = statusValue("VmRSS:");

	QElapsedTimer elapsed;
	elapsed.start();
	const auto slowest = [&] {
		int least = kEvents;
		for (const auto &client : clients)
			least = std::min(least, client->received);
		return least;
	};
	for (int published = 0; published < kEvents; published += kBatch) {
		ASSERT_TRUE(waitUntil([&] { return published - slowest() <= kAhead; }, 60s)) << published;
		QMetaObject::invokeMethod(proxy, [proxy, published] {
			for (int n = published; n < published + kBatch; ++n)
				proxy->publishRawEvent("u1", {{"event_type", "RICH_MESSAGE"}, {"n", n}});
		});
	}
	ASSERT_TRUE(waitUntil([&] { return slowest() == kEvents; }, 120s)) << "slowest page at " << slowest();
	const double seconds = double(elapsed.nsecsElapsed()) / 1e9;
	pumpEvents(200ms); // nothing more may arrive

	int errors = 0;
	for (const auto &client : clients) {
		EXPECT_EQ(client->received, kEvents);
		errors += client->errors;
	}
	EXPECT_EQ(errors, 0) << "events out of order, duplicated or missing";
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Event proxy closing client"), 0u);

	const long peak = statusValue("VmHWM:");
	std::printf("[ figures  ] %d pages x %d events = %lld deliveries in %.2f s: %.0f deliveries/s; "
		    "RSS before %ld KiB, peak %ld KiB\n",
		    kClients, kEvents, static_cast<long long>(kClients) * kEvents, seconds,
		    double(kClients) * kEvents / seconds, rssBefore, peak);
	// Bounded: the history is capped and nothing is kept per delivery.
	EXPECT_LT(peak, 1024L * 1024L) << "peak RSS in KiB";

	clients.clear();
	worker.quitAndJoin();
}
