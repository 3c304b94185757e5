// Host path benchmarks in the stand-in OBS (real libobs; run under an X
// display, e.g. xvfb-run -a):
//   load        module load and post-load, no obs-websocket config, no network
//   requests    vendor request round trips: "zorva.getHostBootstrap" with
//               obs-websocket reachable, and "accounts.list"
//   unload      libobs shutdown (module unload) with 4 live Vek sessions on
//               the fake Vek over TLS and 50 event proxy clients
//   unload-idle the same shutdown with no session and no client
//   idle [--seconds S] [--keep-alive-ms K]
//               CPU time and wake-ups per thread over S seconds (60) in three
//               idle states, each in a fresh process (see IdleScenario.h)
// Without arguments it runs every scenario but idle several times, each in a
// fresh process (one OBS run per process, as OBS has), and prints a table of
// medians.

#include "BenchHost.h"
#include "IdleScenario.h"

#include "EventLoopWait.h"
#include "FakeVekRealtime.h"
#include "LogCapture.h"
#include "ObsWebSocketStandin.h"
#include "TestWebSocketClient.h"
#include "TlsTcpServer.h"
#include "host/ObsWebSocketNames.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int kExitPortBusy = 75;
constexpr int kRequestCalls = 500;
constexpr int kWarmupCalls = 20;
constexpr int kVekSessions = 4;
constexpr int kProxyClients = 50;

double msSince(std::chrono::steady_clock::time_point start)
{
	return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void result(const char *name, double value)
{
	std::printf("RESULT %s %.3f\n", name, value);
	std::fflush(stdout);
}

// The module could not bind its fixed port: another run holds it.
bool proxyPortBusy()
{
	return LogCapture::instance().count("[vorn-zorva] Event proxy failed to bind") > 0;
}

int scenarioLoad()
{
	BenchHost host;
	if (!host.start())
		return 1;
	const auto start = std::chrono::steady_clock::now();
	if (!host.loadModule(QStringLiteral(ZORVA_MODULE_FILE)))
		return 1;
	const double loaded = msSince(start);
	host.postLoad();
	const double total = msSince(start);
	result("load_ms", loaded);
	result("post_load_ms", total - loaded);
	result("load_total_ms", total);
	pumpEvents(300ms);
	return proxyPortBusy() ? kExitPortBusy : 0;
}

// Stands in for obs-websocket's listener: accepts and closes, on its own thread.
class ProbeListener {
public:
	ProbeListener()
	{
		fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		sockaddr_in address{};
		address.sin_family = AF_INET;
		address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		socklen_t size = sizeof(address);
		if (bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 && listen(fd, 128) == 0 &&
		    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
			port = ntohs(address.sin_port);
		thread = std::thread([this] {
			while (!stopping) {
				const int client = accept(fd, nullptr, nullptr);
				if (client >= 0)
					close(client);
			}
		});
	}
	~ProbeListener()
	{
		stopping = true;
		shutdown(fd, SHUT_RDWR);
		thread.join();
		close(fd);
	}
	uint16_t port = 0;

private:
	int fd = -1;
	std::atomic<bool> stopping{false};
	std::thread thread;
};

// Round trips from a thread of their own, as obs-websocket's clients make
// them, while the UI thread runs its event loop as OBS's does.
std::vector<double> timeRequests(const std::string &request, const char *mustContain, int calls, int &failures)
{
	std::vector<double> times;
	for (int i = 0; i < calls; ++i) {
		const auto start = std::chrono::steady_clock::now();
		auto response = ObsWebSocketStandin::instance()
					.callVendorRequest(ObsWebSocketNames::vendorName,
							   ObsWebSocketNames::requestType, request)
					.get();
		times.push_back(msSince(start));
		if (!response.found || response.responseJson.find(mustContain) == std::string::npos)
			++failures;
	}
	return times;
}

double percentileOf(std::vector<double> values, double share)
{
	std::sort(values.begin(), values.end());
	return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

int scenarioRequests(QApplication &app)
{
	ProbeListener obsWebSocket;
	BenchHost host;
	host.writeObsWebSocketConfig("{\"server_enabled\":true,\"server_port\":" + std::to_string(obsWebSocket.port) +
				     ",\"auth_required\":true,\"server_password\":\"bench-password\"}");
	if (!host.start() || !host.loadModule(QStringLiteral(ZORVA_MODULE_FILE)))
		return 1;
	host.postLoad();
	pumpEvents(300ms);
	int failures = 0;
	std::vector<double> bootstrap;
	std::vector<double> accounts;
	std::thread client([&] {
		const std::string bootstrapRequest = R"({"id":"1","method":"zorva.getHostBootstrap"})";
		const std::string accountsRequest = R"({"id":"2","method":"accounts.list"})";
		// A reachable obs-websocket leaves no error in the bootstrap.
		const char *reachable = "\"enabled\":true";
		timeRequests(bootstrapRequest, reachable, kWarmupCalls, failures);
		bootstrap = timeRequests(bootstrapRequest, reachable, kRequestCalls, failures);
		timeRequests(accountsRequest, "requiredAccounts", kWarmupCalls, failures);
		accounts = timeRequests(accountsRequest, "requiredAccounts", kRequestCalls, failures);
		QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
	});
	app.exec();
	client.join();
	if (failures > 0 || LogCapture::instance().count("not reachable") > 0) {
		std::fprintf(stderr, "%d requests failed\n", failures);
		return 1;
	}
	result("bootstrap_p50_ms", percentileOf(bootstrap, 0.5));
	result("bootstrap_p99_ms", percentileOf(bootstrap, 0.99));
	result("accounts_p50_ms", percentileOf(accounts, 0.5));
	result("accounts_p99_ms", percentileOf(accounts, 0.99));
	return proxyPortBusy() ? kExitPortBusy : 0;
}

int scenarioUnload(bool busy)
{
	ThrowawayTls::trustAuthority();
	FakeVekRealtime vek;
	if (busy && !vek.listen(ZORVA_E2E_VEK_PORT))
		return kExitPortBusy;
	BenchHost host;
	if (busy)
		host.writeE2eAuthFile(kVekSessions);
	if (!host.start() || !host.loadModule(QStringLiteral(ZORVA_E2E_MODULE_FILE)))
		return 1;
	host.postLoad();
	if (!waitUntil([&] { return !host.proxyToken().empty(); }, 5s))
		return proxyPortBusy() ? kExitPortBusy : 1;
	std::vector<std::unique_ptr<TestWebSocketClient>> pages;
	if (busy) {
		const auto loggedIn = [&] {
			return vek.connections.size() >= size_t(kVekSessions) &&
			       std::all_of(vek.connections.begin(), vek.connections.end(),
					   [](const auto &c) { return c->upgraded && !c->texts.empty(); });
		};
		if (!waitUntil(loggedIn, 15s)) {
			std::fprintf(stderr, "Vek sessions not established\n");
			return 1;
		}
		const QString target = QStringLiteral("/?token=%1").arg(QString::fromStdString(host.proxyToken()));
		for (int i = 0; i < kProxyClients; ++i) {
			pages.push_back(std::make_unique<TestWebSocketClient>());
			if (!pages.back()->open(44423, target) || !pages.back()->waitForUpgrade()) {
				std::fprintf(stderr, "proxy client %d not upgraded\n", i);
				return proxyPortBusy() ? kExitPortBusy : 1;
			}
		}
	}
	const auto start = std::chrono::steady_clock::now();
	host.shutdown();
	result(busy ? "unload_ms" : "unload_idle_ms", msSince(start));
	return 0;
}

int runScenario(const std::string &name, QApplication &app)
{
	if (name == "load")
		return scenarioLoad();
	if (name == "requests")
		return scenarioRequests(app);
	if (name == "unload")
		return scenarioUnload(true);
	if (name == "unload-idle")
		return scenarioUnload(false);
	std::fprintf(stderr, "unknown scenario %s\n", name.c_str());
	return 2;
}

// Runs a child process of this program and hands over its output. A child
// that found the module's fixed ports taken is run again a little later.
bool runChild(const QString &self, const QStringList &arguments, int timeoutMs,
	      const std::function<void(const QByteArray &)> &takeOutput)
{
	const QString what = arguments.join(QLatin1Char(' '));
	for (int attempt = 0; attempt < 10; ++attempt) {
		QProcess child;
		child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
		child.start(self, arguments);
		if (!child.waitForFinished(timeoutMs)) {
			child.kill();
			child.waitForFinished();
			return false;
		}
		if (child.exitCode() == kExitPortBusy) {
			std::fprintf(stderr, "%s: loopback ports in use, retrying\n", what.toUtf8().constData());
			QThread::sleep(5);
			continue;
		}
		if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
			return false;
		takeOutput(child.readAllStandardOutput());
		return true;
	}
	return false;
}

// One scenario in a child process; collects its RESULT lines.
bool runChild(const QString &self, const QString &scenario, std::map<std::string, std::vector<double>> &figures)
{
	return runChild(self, {scenario}, 120000, [&](const QByteArray &output) {
		for (const QByteArray &line : output.split('\n')) {
			const QList<QByteArray> words = line.split(' ');
			if (words.size() == 3 && words[0] == "RESULT")
				figures[words[1].toStdString()].push_back(words[2].toDouble());
		}
	});
}

double median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	if (values.empty())
		return 0;
	const size_t mid = values.size() / 2;
	return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

int runAll(int runs)
{
	const QString self = QCoreApplication::applicationFilePath();
	std::map<std::string, std::vector<double>> figures;
	for (int run = 0; run < runs; ++run) {
		for (const char *scenario : {"load", "requests", "unload", "unload-idle"}) {
			if (!runChild(self, QString::fromLatin1(scenario), figures)) {
				std::fprintf(stderr, "scenario %s failed\n", scenario);
				return 1;
			}
		}
	}
	struct Row {
		const char *key;
		const char *what;
		double goal; // 0: no goal
	};
	const Row rows[] = {
		{"load_ms", "module load (obs_init_module)", 0},
		{"post_load_ms", "post-load (obs_post_load_modules)", 0},
		{"load_total_ms", "load + post-load, no obs-websocket config, no network", 20},
		{"bootstrap_p50_ms", "zorva.getHostBootstrap round trip p50, obs-websocket reachable", 0},
		{"bootstrap_p99_ms", "zorva.getHostBootstrap round trip p99, obs-websocket reachable", 0},
		{"accounts_p50_ms", "accounts.list round trip p50", 0},
		{"accounts_p99_ms", "accounts.list round trip p99", 2},
		{"unload_ms", "unload (obs_shutdown), 4 Vek sessions + 50 proxy clients", 100},
		{"unload_idle_ms", "unload (obs_shutdown), idle module", 0},
	};
	std::printf("\n| host path (median of %d runs) | ms | all runs | goal |\n|---|---|---|---|\n", runs);
	for (const Row &row : rows) {
		const std::vector<double> &values = figures[row.key];
		std::string all;
		for (double v : values)
			all += (all.empty() ? "" : " ") + std::to_string(v).substr(0, std::to_string(v).find('.') + 3);
		std::string goal = "-";
		if (row.goal > 0)
			goal = std::string(median(values) <= row.goal ? "<= " : "MISSED <= ") +
			       std::to_string(int(row.goal));
		std::printf("| %s | %.2f | %s | %s |\n", row.what, median(values), all.c_str(), goal.c_str());
	}
	return 0;
}

IdleOptions idleOptions(const QStringList &arguments)
{
	IdleOptions options;
	for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
		if (arguments[i] == QLatin1String("--seconds"))
			options.window = std::chrono::seconds(std::max(1, arguments[i + 1].toInt()));
		else if (arguments[i] == QLatin1String("--keep-alive-ms"))
			options.keepAliveIntervalMs = std::max(1, arguments[i + 1].toInt());
	}
	return options;
}

// The three idle states, each in a fresh OBS run, one table each.
int runIdle(const QStringList &arguments)
{
	const IdleOptions options = idleOptions(arguments);
	const QString self = QCoreApplication::applicationFilePath();
	const int timeoutMs = int(options.window.count()) * 1000 + 120000;
	for (const char *state : {"1", "2", "3"}) {
		QStringList childArguments = arguments;
		childArguments.replace(0, QStringLiteral("idle-state"));
		childArguments.insert(1, QString::fromLatin1(state));
		if (!runChild(self, childArguments, timeoutMs, [](const QByteArray &output) {
			    std::fwrite(output.constData(), 1, size_t(output.size()), stdout);
			    std::fflush(stdout);
		    })) {
			std::fprintf(stderr, "idle state %s failed\n", state);
			return 1;
		}
	}
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	const QStringList arguments = app.arguments().mid(1);
	const std::string first = argc > 1 ? argv[1] : "";
	if (first.empty() || first == "--runs")
		return runAll(argc > 2 ? std::max(1, std::atoi(argv[2])) : 5);
	if (first == "idle")
		return runIdle(arguments);
	if (first == "idle-state" && argc > 2)
		return runIdleState(IdleState(std::clamp(std::atoi(argv[2]), 1, 3)), idleOptions(arguments));
	return runScenario(first, app);
}
