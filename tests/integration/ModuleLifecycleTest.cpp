// The module's life in a stand-in OBS: load, post-load, front-end events,
// unload, and the watch on obs-websocket's configuration.

#include "BuildConfig.h"
#include "ModuleHost.h"

#include "BrowserJournal.h"
#include "FrontendStandin.h"
#include "LogCapture.h"
#include "host/ObsWebSocketNames.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QMetaType>
#include <QSaveFile>
#include <QTcpServer>
#include <QThread>

#include <obs-nix-platform.h>

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::vector<std::string> kDockIds = {"vorn-zorva-dock", "vorn-zorva-chat-dock", "vorn-zorva-integrations-dock",
					   "vorn-zorva-stream-manager-dock"};
const std::string kVendor = ObsWebSocketNames::vendorName;
const std::string kRequestType = ObsWebSocketNames::requestType;
const std::string kVendorRefused = "Failed to register obs-websocket vendor '" + kVendor + "'.";

bool workerThreadRunning()
{
	const auto names = threadNames();
	return std::find(names.begin(), names.end(), "zorva-worker") != names.end();
}

// Without running the UI thread's event loop: OBS loads and post-loads the
// module in one go, so the proxy's start report is handled after post-load;
// handled earlier, its status event would go out before the vendor exists.
bool workerThreadStartsUnpumped()
{
	QElapsedTimer timer;
	timer.start();
	while (!workerThreadRunning()) {
		if (timer.elapsed() > 5000)
			return false;
		QThread::msleep(5);
	}
	return true;
}

// Unload returns only once the worker's OS thread is gone, exit-time
// destructors included: OBS may exit the process right after.
bool workerThreadEnds()
{
	return !workerThreadRunning();
}

json lastStatusParams(const std::vector<ObsWebSocketStandin::Event> &events)
{
	return json::parse(events.back().dataJson)["params"];
}

// The module refreshes the host state 150 ms after the last change notice
// of obs-websocket's configuration; Qt's coarse timers may fire 5 % early.
constexpr std::chrono::milliseconds kEarliestRefresh{142};

// Status event `count` went out, and no other follows while the module's
// refresh debounce passes twice over.
bool statusEventsSettleAt(size_t count, const std::function<size_t()> &eventCount)
{
	if (!waitUntil([&] { return eventCount() >= count; }, 5s))
		return false;
	pumpEvents(300ms);
	return eventCount() == count;
}

} // namespace

TEST_F(ModuleHostTest, FullLifecycleWithExitEvent)
{
	load();
	FrontendStandin &frontend = FrontendStandin::instance();
	EXPECT_EQ(frontend.eventCallbackCount(), 1u);
	EXPECT_TRUE(workerThreadStartsUnpumped());
	// Cross-thread signals carry these types by name.
	EXPECT_TRUE(QMetaType::fromName("std::string").isValid());
	EXPECT_TRUE(QMetaType::fromName("nlohmann::json").isValid());

	postLoad();
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Registered obs-websocket vendor '" + kVendor +
					       "' request '" + kRequestType + "'."),
		  1u);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Loaded docks."), 1u);
	EXPECT_EQ(frontend.addedDocks, kDockIds);

	// The proxy reports its port and token to the UI thread, which publishes them.
	ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
	const json bootstrap = lastStatusParams(statusEvents())["hostBootstrap"];
	const std::string token = bootstrap["sessionToken"];
	EXPECT_EQ(token.size(), 32u);
	EXPECT_EQ(bootstrap["eventProxyUrl"], "ws://127.0.0.1:44423?token=" + token);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Event proxy listening on ws://127.0.0.1:44423"), 1u);
	EXPECT_TRUE(eventProxyAcceptsConnections());

	// The chat and stream-manager pages were pointed at the proxy (panels are
	// made in dock order: main, chat, accounts, stream manager).
	const std::string proxyItem = "vornurl=ws://127.0.0.1:44423?token=" + token;
	for (int panel : {1, 3}) {
		EXPECT_TRUE(waitUntil(
			[&] {
				for (const auto &call : browserJournal()->callsOf(panel)) {
					if (call.operation == "setURL" &&
					    call.argument.find(proxyItem) != std::string::npos)
						return true;
				}
				return false;
			},
			5s))
			<< "panel " << panel;
	}

	frontend.fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	EXPECT_TRUE(waitUntil([&] { return QFile::exists(moduleConfigFile("zorva-ui.json")); }, 5s));

	frontend.fireEvent(OBS_FRONTEND_EVENT_EXIT);
	EXPECT_EQ(frontend.removedDocks, kDockIds);
	EXPECT_EQ(frontend.mainWindow()->findChildren<QDockWidget *>().size(), 0);

	unload();
	// After the exit event the callback stays registered; docks went once.
	EXPECT_EQ(frontend.removeEventCallbackCalls, 0);
	EXPECT_EQ(frontend.eventCallbackCount(), 1u);
	EXPECT_EQ(frontend.removedDocks, kDockIds);
	EXPECT_TRUE(workerThreadEnds());
	EXPECT_FALSE(eventProxyAcceptsConnections());
}

TEST_F(ModuleHostTest, UnloadWithoutFinishedLoadingRemovesCallbackAndDocks)
{
	load();
	postLoad();
	ASSERT_TRUE(waitUntil(workerThreadRunning, 5s));
	ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));

	FrontendStandin &frontend = FrontendStandin::instance();
	unload();
	EXPECT_EQ(frontend.removeEventCallbackCalls, 1);
	EXPECT_EQ(frontend.eventCallbackCount(), 0u);
	EXPECT_EQ(frontend.removedDocks, kDockIds);
	EXPECT_TRUE(workerThreadEnds());
	EXPECT_FALSE(QFile::exists(moduleConfigFile("zorva-ui.json")));
}

// OBS waits for unload while it quits, and unload joins the worker with no
// deadline of its own: a running module must let go well within a user's
// patience, proxy, sockets and all.
using ModuleHostTiming = ModuleHostTest;
TEST_F(ModuleHostTiming, UnloadOfARunningModuleTakesUnderFiveSeconds)
{
	load();
	postLoad();
	ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
	QElapsedTimer timer;
	timer.start();
	unload();
	EXPECT_LT(timer.elapsed(), 5000);
}

TEST_F(ModuleHostTest, UnloadStraightAfterLoadJoinsTheWorker)
{
	// No post-load, no event loop: the worker may not have started its proxy yet.
	load();
	unload();
	EXPECT_TRUE(workerThreadEnds());
	EXPECT_EQ(FrontendStandin::instance().eventCallbackCount(), 0u);
	EXPECT_TRUE(FrontendStandin::instance().removedDocks.empty());
}

// A later load in the same process must not hand the pages the address of
// the proxy that went with the earlier one.
TEST_F(ModuleHostTest, ASecondLoadNeverServesTheFirstProxysAddress)
{
	load();
	postLoad();
	ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
	unload();

	QTcpServer squatter; // the second proxy cannot listen: it never reports an address
	ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 44423));
	Setup setup;
	setup.withObsWebSocket = false; // registered already in this process
	load(setup);
	postLoad();
	ASSERT_TRUE(waitUntil(
		[] {
			return LogCapture::instance().count("[vorn-zorva] Event proxy failed to bind to port 44423") ==
			       1;
		},
		5s));
	const int chatPanel = int(browserJournal()->panels.size()) - 3;
	for (const auto &call : browserJournal()->callsOf(chatPanel))
		EXPECT_EQ(call.argument.find("vornurl="), std::string::npos) << call.operation << " " << call.argument;
}

TEST_F(ModuleHostTest, HostRequestsRunOnTheUiThreadThroughObsWebSocket)
{
	load();
	postLoad();
	ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));

	const json direct = vendorRequest({{"id", "1"}, {"method", "zorva.getHostBootstrap"}});
	const json wrapped = vendorRequest({{"message", {{"id", "1"}, {"method", "zorva.getHostBootstrap"}}}});
	EXPECT_EQ(direct["host"], "obs");
	EXPECT_EQ(direct["pluginVersion"], ZORVA_VERSION);
	EXPECT_EQ(direct["obsWebSocket"]["error"], "obs-websocket is disabled. Enable it in OBS to continue.");
	EXPECT_EQ(direct, wrapped);

	EXPECT_EQ(vendorRequest({{"method", "zorva.getHostBootstrap"}}), json::object());
	EXPECT_EQ(vendorRequest({{"id", "7"}, {"method", "no.such"}}), json({{"__vendorError", true},
									     {"error", "Unknown method: no.such"},
									     {"errorCode", "METHOD_NOT_FOUND"}}));
}

TEST_F(ModuleHostTest, ObsWebSocketMissing)
{
	Setup setup;
	setup.withObsWebSocket = false;
	load(setup);
	postLoad();
	const auto lookup = LogCapture::instance().matching("obs-websocket not installed?");
	ASSERT_EQ(lookup.size(), 1u);
	EXPECT_EQ(lookup[0].level, LOG_DEBUG);
	// Worded as obs-websocket's API header words it: the whole line, no module prefix.
	EXPECT_EQ(lookup[0].text, "Unable to fetch obs-websocket proc handler object. obs-websocket not installed?");
	const auto failure = LogCapture::instance().matching("[vorn-zorva] " + kVendorRefused);
	ASSERT_EQ(failure.size(), 1u);
	EXPECT_EQ(failure[0].level, LOG_ERROR);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Loaded docks."), 1u);
	unload();
}

TEST_F(ModuleHostTest, VendorWithoutHandle)
{
	Setup setup;
	setup.obsWebSocket.noVendorHandle = true;
	load(setup);
	postLoad();
	const auto failure = LogCapture::instance().matching("[vorn-zorva] " + kVendorRefused);
	ASSERT_EQ(failure.size(), 1u);
	EXPECT_EQ(failure[0].level, LOG_ERROR);
	EXPECT_EQ(LogCapture::instance().count("request '" + kRequestType + "'"), 0u);
	pumpEvents(300ms);
	EXPECT_TRUE(statusEvents().empty());
}

TEST_F(ModuleHostTest, RequestTypeRefusedStillEmitsEvents)
{
	Setup setup;
	setup.obsWebSocket.refuseRequestRegistration = true;
	load(setup);
	postLoad();
	const auto failure = LogCapture::instance().matching(
		"[vorn-zorva] Failed to register obs-websocket vendor request '" + kRequestType + "'.");
	ASSERT_EQ(failure.size(), 1u);
	EXPECT_EQ(failure[0].level, LOG_ERROR);
	EXPECT_EQ(LogCapture::instance().count(kVendorRefused), 0u);
	// The vendor itself stays registered: host events still go out.
	EXPECT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
	EXPECT_TRUE(vendorRequest({{"id", "1"}, {"method", "zorva.status"}}).is_null());
}

TEST_F(ModuleHostTest, ObsBrowserMissing)
{
	Setup setup;
	setup.withBrowser = false;
	load(setup);
	postLoad();
	// Nor is the plugin's own panel host beside this build of the module:
	// one line says what to install.
	const auto lines = LogCapture::instance().matching("[vorn-zorva] OBS browser panel host is unavailable.");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_ERROR);
	EXPECT_NE(lines[0].text.find("apt-get install libqt6webenginewidgets6"), std::string::npos) << lines[0].text;
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Loaded docks."), 0u);
	EXPECT_TRUE(FrontendStandin::instance().addedDocks.empty());
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	pumpEvents(200ms);
	unload();
	EXPECT_TRUE(FrontendStandin::instance().removedDocks.empty());
}

TEST_F(ModuleHostTest, UnderWaylandObsBrowserIsNotAsked)
{
	load();
	obs_set_nix_platform(OBS_NIX_PLATFORM_WAYLAND);
	postLoad();
	obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
	// OBS turns obs-browser's panels off there: its factory is never called,
	// and the plugin's own host is looked for instead.
	for (const auto &call : browserJournal()->calls)
		EXPECT_NE(call.operation, "obs_browser_create_qcef");
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] OBS browser panel host is unavailable."), 1u);
	EXPECT_TRUE(FrontendStandin::instance().addedDocks.empty());
}

TEST_F(ModuleHostTest, UnwritableConfigFolder)
{
	// A folder below a regular file cannot be created, not even by root.
	QFile blocker(fresh.scratch.filePath(QStringLiteral("not-a-folder")));
	ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
	blocker.close();
	Setup setup;
	setup.moduleConfigDir = blocker.fileName() + QStringLiteral("/plugin_config");
	load(setup);
	postLoad();
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	pumpEvents(1500ms);
	EXPECT_FALSE(QFile::exists(moduleConfigFile("zorva-ui.json")));
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Loaded docks."), 1u);
	unload();
	EXPECT_TRUE(workerThreadEnds());
}

TEST_F(ModuleHostTest, ForeignDockWithOurIdIsLeftAlone)
{
	// Another plugin already registered a dock under one of our ids.
	auto *foreign = new QWidget();
	ASSERT_TRUE(FrontendStandin::instance().addDock("vorn-zorva-chat-dock", "Someone else", foreign));
	load();
	postLoad();
	const auto lines = LogCapture::instance().matching("[vorn-zorva] Failed to add dock 'vorn-zorva-chat-dock'.");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_ERROR);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Loaded docks."), 0u);
	// Only the dock this attempt registered goes again; the other plugin's stays.
	EXPECT_EQ(FrontendStandin::instance().removedDocks, std::vector<std::string>{"vorn-zorva-dock"});
	const auto docks = FrontendStandin::instance().mainWindow()->findChildren<QDockWidget *>();
	ASSERT_EQ(docks.size(), 1);
	EXPECT_EQ(docks[0]->widget(), foreign);
	EXPECT_EQ(browserJournal()->calls.back().operation, "~QCef");
}

TEST_F(ModuleHostTest, ConfigBurstGivesOneRefreshAndTheFileStaysWatched)
{
	writeObsWebSocketConfig({{"server_enabled", false}});
	load();
	postLoad();
	const auto eventCount = [&] {
		return statusEvents().size();
	};
	ASSERT_TRUE(statusEventsSettleAt(1, eventCount));

	// Written five times before the module's event loop runs again: one
	// refresh, with the last content, no sooner than the debounce after it.
	for (int i = 0; i < 5; ++i)
		writeObsWebSocketConfig({{"server_enabled", false}, {"server_port", 4455 + i}});
	const auto lastWrite = std::chrono::steady_clock::now();
	ASSERT_TRUE(statusEventsSettleAt(2, eventCount));
	const auto events = statusEvents();
	EXPECT_GE(events[1].at - lastWrite, kEarliestRefresh);
	EXPECT_EQ(lastStatusParams(events)["hostBootstrap"]["obsWebSocket"]["port"], 4459);

	// Saved again, this time replaced as a whole (new file, renamed into place).
	QSaveFile save(obsWebSocketConfigPath());
	ASSERT_TRUE(save.open(QIODevice::WriteOnly));
	save.write(R"({"server_enabled": false, "server_port": 5000})");
	ASSERT_TRUE(save.commit());
	ASSERT_TRUE(statusEventsSettleAt(3, eventCount));
	EXPECT_EQ(lastStatusParams(statusEvents())["hostBootstrap"]["obsWebSocket"]["port"], 5000);

	// And the replacement is watched too.
	writeObsWebSocketConfig({{"server_enabled", false}, {"server_port", 5001}});
	ASSERT_TRUE(statusEventsSettleAt(4, eventCount));
	EXPECT_EQ(lastStatusParams(statusEvents())["hostBootstrap"]["obsWebSocket"]["port"], 5001);
}

TEST_F(ModuleHostTest, ConfigFileCreatedAfterLoadIsPickedUpThroughItsFolder)
{
	QDir().mkpath(QFileInfo(obsWebSocketConfigPath()).absolutePath());
	load();
	postLoad();
	const auto eventCount = [&] {
		return statusEvents().size();
	};
	ASSERT_TRUE(statusEventsSettleAt(1, eventCount));

	writeObsWebSocketConfig({{"server_enabled", false}, {"server_port", 4460}});
	ASSERT_TRUE(statusEventsSettleAt(2, eventCount));
	EXPECT_EQ(lastStatusParams(statusEvents())["hostBootstrap"]["obsWebSocket"]["port"], 4460);

	// The new file is now watched itself: editing it in place refreshes again.
	writeObsWebSocketConfig({{"server_enabled", false}, {"server_port", 4461}});
	ASSERT_TRUE(statusEventsSettleAt(3, eventCount));
	EXPECT_EQ(lastStatusParams(statusEvents())["hostBootstrap"]["obsWebSocket"]["port"], 4461);
}

TEST_F(ModuleHostTest, TlsEntryAddsItsParentToTheQtPluginPathOnce)
{
	const QString dataDir = fresh.scratch.filePath(QStringLiteral("module-data"));
	ASSERT_TRUE(QDir().mkpath(dataDir + QStringLiteral("/tls")));
	const QString expected = QDir(dataDir).absolutePath();
	Setup setup;
	setup.moduleDataDir = dataDir;
	load(setup);
	const auto lines = LogCapture::instance().matching("[vorn-zorva] Added Qt plugin search path: ");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_INFO);
	EXPECT_EQ(lines[0].text, "[vorn-zorva] Added Qt plugin search path: " + expected.toStdString());
	EXPECT_EQ(QCoreApplication::libraryPaths().count(expected), 1);
}

TEST_F(ModuleHostTest, QtPluginPathAlreadyPresentIsNotAddedAgain)
{
	const QString dataDir = fresh.scratch.filePath(QStringLiteral("module-data"));
	ASSERT_TRUE(QDir().mkpath(dataDir + QStringLiteral("/tls")));
	const QString expected = QDir(dataDir).absolutePath();
	QCoreApplication::addLibraryPath(expected);
	Setup setup;
	setup.moduleDataDir = dataDir;
	load(setup);
	EXPECT_EQ(LogCapture::instance().count("Added Qt plugin search path"), 0u);
	EXPECT_EQ(QCoreApplication::libraryPaths().count(expected), 1);
}

TEST_F(ModuleHostTest, NoTlsEntryAddsNoPluginPath)
{
	const QStringList before = QCoreApplication::libraryPaths();
	load();
	EXPECT_EQ(LogCapture::instance().count("Added Qt plugin search path"), 0u);
	EXPECT_EQ(QCoreApplication::libraryPaths(), before);
}
