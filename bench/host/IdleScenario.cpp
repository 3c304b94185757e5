#include "IdleScenario.h"

#include "BenchHost.h"
#include "EventLoopWait.h"
#include "FrontendStandin.h"
#include "IdTokens.h"
#include "IdlePeers.h"
#include "LogCapture.h"
#include "ThreadCensus.h"
#include "TlsTcpServer.h"

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QTimer>

#include <pthread.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int kExitPortBusy = 75;
constexpr int kLinkedAccounts = 2;
constexpr int kDockPages = 4;
// Long enough for what start-up leaves behind (dock placement and title
// timers, the first status events) to have run.
constexpr auto kSettle = 5s;

const char *stateTitle(IdleState state)
{
	switch (state) {
	case IdleState::LoggedOut:
		return "state 1: idle, logged out";
	case IdleState::LoggedIn:
		return "state 2: idle, logged in, 2 linked accounts, Vek sessions exchanging keep-alives";
	case IdleState::PagesConnected:
		return "state 3: as state 2, plus the 4 dock pages on the event proxy (X_INIT sent, then idle)";
	}
	return "";
}

// The module saved what the account service answered the start-up refresh.
bool refreshApplied(const BenchHost &host)
{
	QFile file(host.e2eAuthFilePath());
	return file.open(QIODevice::ReadOnly) && file.readAll().contains(IdlePeers::issuedAccessToken);
}

// A logged-in account (its refresh token makes the module refresh once at
// start-up) and the linked accounts.
void writeLoggedInAuthFile(const BenchHost &host)
{
	const AccountTokens account{makeIdToken({{QStringLiteral("sub"), QStringLiteral("bench-user")},
						 {QStringLiteral("name"), QStringLiteral("Ann Example")}}),
				    QStringLiteral("stored-access-token"), QStringLiteral("stored-refresh-token"),
				    QDateTime::fromString(QStringLiteral("2099-01-01T00:00:00Z"), Qt::ISODate)};
	host.writeE2eAuthFile(kLinkedAccounts, account);
}

// The UI thread runs its event loop, as OBS's does.
void idleFor(std::chrono::milliseconds duration)
{
	QEventLoop loop;
	QTimer::singleShot(duration, &loop, &QEventLoop::quit);
	loop.exec();
}

struct Window {
	ThreadCensus before;
	ThreadCensus after;
	double seconds = 0;
};

// Timed from a thread of the bench's own, so that the UI thread stays in its
// event loop for the whole window with nothing of the bench waking it.
Window measureWindow(std::chrono::seconds duration)
{
	Window window;
	QEventLoop loop;
	std::thread timer([&] {
		pthread_setname_np(pthread_self(), "bench-census");
		window.before = takeThreadCensus();
		const auto start = std::chrono::steady_clock::now();
		std::this_thread::sleep_for(duration);
		window.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		window.after = takeThreadCensus();
		QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
	});
	loop.exec();
	timer.join();
	return window;
}

struct Row {
	long tid;
	std::string name;
	std::string owner;
	double cpuMs;
	uint64_t wakeUps;   // voluntary and preempted
	uint64_t preempted; // by other work on the machine
	double perSecond;
	bool partial; // began or ended within the window
};

// Who a thread belongs to: the UI thread is OBS's and the module's; the
// module names its worker; the bench names its peers' thread; whatever was
// there before the module loaded is the host's (libobs, Qt, the stand-ins);
// what appeared after it was made for the module (Qt's helpers included).
std::string ownerOf(long tid, const std::string &name, const std::set<long> &hostThreads)
{
	if (tid == long(getpid()))
		return "UI thread (OBS main: module and host)";
	if (name == "zorva-worker")
		return "module";
	if (name == "bench-peers")
		return "bench: peers";
	if (name == "bench-census")
		return "bench: times the window";
	if (hostThreads.count(tid))
		return "host";
	return "module (made after load)";
}

std::vector<Row> compare(const ThreadCensus &before, const ThreadCensus &after, const std::set<long> &hostThreads,
			 double seconds)
{
	std::vector<Row> rows;
	std::set<long> tids;
	for (const auto &[tid, usage] : before)
		tids.insert(tid);
	for (const auto &[tid, usage] : after)
		tids.insert(tid);
	for (long tid : tids) {
		const auto start = before.find(tid);
		const auto end = after.find(tid);
		const ThreadUsage first = start != before.end() ? start->second : ThreadUsage();
		const ThreadUsage last = end != after.end() ? end->second : first;
		const std::string name = end != after.end() ? last.name : first.name + " (ended)";
		const uint64_t preempted = last.preempted - first.preempted;
		const uint64_t wakeUps = last.voluntary - first.voluntary + preempted;
		rows.push_back({tid, name, ownerOf(tid, last.name, hostThreads), double(last.cpuNs - first.cpuNs) / 1e6,
				wakeUps, preempted, double(wakeUps) / seconds,
				start == before.end() || end == after.end()});
	}
	return rows;
}

enum class Side { Module, Bench, Host };

Side sideOf(const Row &row)
{
	if (row.owner == "host")
		return Side::Host;
	return row.owner.rfind("bench", 0) == 0 ? Side::Bench : Side::Module;
}

struct SideTotal {
	uint64_t wakeUps = 0;
	uint64_t preempted = 0;
};

// The side's table.
SideTotal printRows(const std::vector<Row> &rows, Side side, const char *totalLabel)
{
	std::printf("| thread | tid | belongs to | CPU ms | wake-ups | of them preempted | wake-ups/s |\n"
		    "|---|---|---|---|---|---|---|\n");
	double cpu = 0;
	SideTotal total;
	double perSecond = 0;
	for (const Row &row : rows) {
		if (sideOf(row) != side)
			continue;
		std::printf("| %s%s | %ld | %s | %.1f | %llu | %llu | %.2f |\n", row.name.c_str(),
			    row.partial ? " *" : "", row.tid, row.owner.c_str(), row.cpuMs,
			    static_cast<unsigned long long>(row.wakeUps),
			    static_cast<unsigned long long>(row.preempted), row.perSecond);
		cpu += row.cpuMs;
		total.wakeUps += row.wakeUps;
		total.preempted += row.preempted;
		perSecond += row.perSecond;
	}
	std::printf("| **%s** | | | **%.1f** | **%llu** | **%llu** | **%.2f** |\n", totalLabel, cpu,
		    static_cast<unsigned long long>(total.wakeUps), static_cast<unsigned long long>(total.preempted),
		    perSecond);
	return total;
}

// Idle, the module has nothing to do but answer what arrives: nothing while
// logged out, and at most one wake-up per keep-alive of Vek. Preemptions are
// the machine's load, not the module's doing.
void printVerdict(const SideTotal &module, int keepAlives)
{
	const uint64_t own = module.wakeUps - module.preempted;
	std::printf("\nModule wake-ups not counting preemptions: %llu; goal: at most %d (one per keep-alive "
		    "received): %s\n",
		    static_cast<unsigned long long>(own), keepAlives, own <= uint64_t(keepAlives) ? "met" : "MISSED");
}

void printFigures(IdleState state, const IdleOptions &options, const std::vector<Row> &rows,
		  const IdlePeers::Figures &start, const IdlePeers::Figures &end)
{
	std::printf("\n### %s, %lld s window\n\n", stateTitle(state), static_cast<long long>(options.window.count()));
	std::printf("Module side (the UI thread is OBS's and the module's, as in OBS; * began or ended in the "
		    "window):\n\n");
	const SideTotal module = printRows(rows, Side::Module, "total, UI thread + module");
	std::printf("\nThe bench's own threads, not counted: the peers (fake Vek, fake account service, page "
		    "clients) and the thread that times the window:\n\n");
	printRows(rows, Side::Bench, "total, bench");
	std::printf("\nHost side for context (libobs, Qt and the stand-ins, all there before the module "
		    "loaded):\n\n");
	printRows(rows, Side::Host, "total, host");
	const int keepAlives = end.keepAlivesSent - start.keepAlivesSent;
	printVerdict(module, keepAlives);
	if (state == IdleState::LoggedOut)
		return;
	std::printf("\nIn the window: Vek sent %d keep-alives (every %d ms) and got %d echoes; %d of %d sessions "
		    "logged in, %d new connections",
		    keepAlives, options.keepAliveIntervalMs, end.keepAliveEchoes - start.keepAliveEchoes,
		    end.sessionsLoggedIn, kLinkedAccounts, end.sessionsAccepted - start.sessionsAccepted);
	if (state == IdleState::PagesConnected)
		std::printf("; %d of %d pages connected, %d messages to them", end.pagesOpen, kDockPages,
			    end.pageMessages - start.pageMessages);
	std::printf(".\n");
	std::fflush(stdout);
}

bool moduleCouldNotBind()
{
	return LogCapture::instance().count("[vorn-zorva] Event proxy failed to bind") > 0;
}

// Brings the stand-in OBS with the module into the state; false: could not.
bool enterState(IdleState state, BenchHost &host, IdlePeers &peers, std::set<long> &hostThreads)
{
	const bool loggedIn = state != IdleState::LoggedOut;
	if (loggedIn)
		writeLoggedInAuthFile(host);
	// obs-websocket's settings as OBS keeps them: the module watches the file.
	host.writeObsWebSocketConfig(R"({"server_enabled":false,"server_port":4455,"auth_required":true,)"
				     R"("server_password":"bench-password"})");
	if (!host.start())
		return false;
	for (const auto &[tid, usage] : takeThreadCensus())
		hostThreads.insert(tid);
	if (!host.loadModule(QString::fromUtf8(loggedIn ? ZORVA_E2E_MODULE_FILE : ZORVA_MODULE_FILE)))
		return false;
	host.postLoad();
	// OBS reports that its front end finished loading after the modules.
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	if (!waitUntil([&] { return !host.proxyToken().empty(); }, 5s))
		return false;
	if (!loggedIn)
		return true;
	const auto ready = [&] {
		const IdlePeers::Figures now = peers.figures();
		return now.sessionsLoggedIn == kLinkedAccounts && refreshApplied(host);
	};
	if (!waitUntil(ready, 20s)) {
		std::fprintf(stderr, "Vek sessions or the start-up refresh did not happen\n");
		return false;
	}
	if (state == IdleState::PagesConnected &&
	    !peers.openPages(kDockPages, 44423, QString::fromStdString(host.proxyToken()))) {
		std::fprintf(stderr, "a dock page was not served\n");
		return false;
	}
	return true;
}

} // namespace

int runIdleState(IdleState state, const IdleOptions &options)
{
	const bool loggedIn = state != IdleState::LoggedOut;
	if (loggedIn)
		ThrowawayTls::trustAuthority();
	IdlePeers peers;
	if (loggedIn && !peers.startServices(ZORVA_E2E_VEK_PORT, ZORVA_E2E_ACCOUNT_PORT, options.keepAliveIntervalMs))
		return kExitPortBusy;
	BenchHost host;
	std::set<long> hostThreads;
	if (!enterState(state, host, peers, hostThreads))
		return moduleCouldNotBind() ? kExitPortBusy : 1;
	idleFor(kSettle);

	const IdlePeers::Figures peersBefore = peers.figures();
	Window window = measureWindow(options.window);
	const IdlePeers::Figures peersAfter = peers.figures();

	printFigures(state, options, compare(window.before, window.after, hostThreads, window.seconds), peersBefore,
		     peersAfter);
	host.shutdown();
	return 0;
}
