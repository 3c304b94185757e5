// The event proxy under load, on the module's worker thread as the module
// wires it: 200 pages connected at once, 100 000 events published. Prints the
// deliveries a second and the resident memory, and fails when a page missed,
// repeated or reordered an event or was closed. The proxy tests hold the same
// property at a size every test run can afford.
//
//   zorva_bench_proxy_load [pages] [events]

#include "EventLoopWait.h"
#include "LogCapture.h"
#include "threading/ThreadCalls.h"
#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"
#include "websocket/WebSocketHandshake.h"
#include "worker/WorkerObjects.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

using namespace std::chrono_literals;

namespace {

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

struct Load {
	int pages = 200;
	int events = 100000;
};

// The pages connected, in groups under the proxy's cap on connections
// waiting to upgrade: a page's request leaves only as this thread's event
// loop runs, so 200 opened at once would be 200 waiting, and the oldest
// would give way.
bool connectPages(std::vector<std::unique_ptr<CountingClient>> &clients, int pages, quint16 port,
		  const std::string &token)
{
	while (clients.size() < size_t(pages)) {
		for (int i = 0; i < 32 && clients.size() < size_t(pages); ++i)
			clients.push_back(std::make_unique<CountingClient>(port, token));
		if (!waitUntil(
			    [&] {
				    return std::all_of(clients.begin(), clients.end(),
						       [](auto &c) { return c->upgraded; });
			    },
			    30s))
			return false;
	}
	return true;
}

int run(const Load &load)
{
	LogCapture::instance().install();
	LogCapture::instance().setEcho(false);
	EventProxyServer::Options options;
	options.port = 0;
	WorkerObjects worker(options);
	EventProxyServer *proxy = worker.eventProxy();
	std::atomic<quint16> port{0};
	QObject::connect(proxy, &EventProxyServer::started, proxy, [&port](quint16 p, std::string) { port = p; });
	worker.start();
	if (!waitUntil([&] { return port != 0; }, 30s)) {
		std::fprintf(stderr, "the event proxy did not start\n");
		return 1;
	}
	const std::string token = callOn(proxy, [proxy] { return proxy->accessToken(); });

	std::vector<std::unique_ptr<CountingClient>> clients;
	if (!connectPages(clients, load.pages, port, token)) {
		std::fprintf(stderr, "the pages did not all connect\n");
		return 1;
	}
	const long rssBefore = statusValue("VmRSS:");

	QElapsedTimer elapsed;
	elapsed.start();
	const auto slowest = [&] {
		int least = load.events;
		for (const auto &client : clients)
			least = std::min(least, client->received);
		return least;
	};
	for (int published = 0; published < load.events; published += kBatch) {
		if (!waitUntil([&] { return published - slowest() <= kAhead; }, 60s))
			break;
		const int end = std::min(published + kBatch, load.events);
		postTo(proxy, [proxy, published, end] {
			for (int n = published; n < end; ++n)
				proxy->publishRawEvent("u1", {{"event_type", "RICH_MESSAGE"}, {"n", n}});
		});
	}
	const bool all = waitUntil([&] { return slowest() == load.events; }, 120s);
	const double seconds = double(elapsed.nsecsElapsed()) / 1e9;

	int errors = 0;
	for (const auto &client : clients)
		errors += client->errors + (client->received != load.events ? 1 : 0);
	const size_t closed = LogCapture::instance().count("[vorn-zorva] Event proxy closing client");
	std::printf("%d pages x %d events = %lld deliveries in %.2f s: %.0f deliveries/s; "
		    "RSS before %ld KiB, peak %ld KiB\n",
		    load.pages, load.events, static_cast<long long>(load.pages) * load.events, seconds,
		    double(load.pages) * load.events / seconds, rssBefore, statusValue("VmHWM:"));
	clients.clear();
	worker.stop();
	if (!all || errors != 0 || closed != 0) {
		std::fprintf(stderr, "%s; %d pages with events missing, repeated or out of order; %zu closed\n",
			     all ? "every page reached the end" : "the slowest page stopped", errors, closed);
		return 1;
	}
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	QCoreApplication app(argc, argv);
	Load load;
	if (argc > 1)
		load.pages = std::atoi(argv[1]);
	if (argc > 2)
		load.events = std::atoi(argv[2]);
	if (load.pages < 1 || load.events < 1) {
		std::fprintf(stderr, "usage: %s [pages] [events]\n", argv[0]);
		return 2;
	}
	return run(load);
}
