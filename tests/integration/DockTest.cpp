// The four docks in the stand-in OBS window with the recording obs-browser.

#include "ModuleHost.h"

#include "BrowserJournal.h"
#include "BuildConfig.h"
#include "FrontendStandin.h"
#include "LogCapture.h"
#include "UrlCapture.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QTcpServer>
#include <QUrl>
#include <QUrlQuery>

#include <obs.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// The first placement of the docks looks for the main dock at once and, while
// it is missing, 40 more times 50 ms apart; once placed, it runs again up to
// 1.2 s later (Qt's coarse timers may fire 5 % late).
constexpr int kPlacementRetries = 40;
constexpr std::chrono::milliseconds kPlacementRetryDelay{50};
constexpr std::chrono::milliseconds kLastPlacementFollowUp{1200 * 105 / 100};

// The runs after the first placement are done, and what they posted (page
// reloads of the docks they showed, layouts) is handled.
bool placementFollowUpsDone()
{
	if (!waitForTimersDueWithin(kLastPlacementFollowUp))
		return false;
	QCoreApplication::sendPostedEvents();
	return true;
}

// Panels are made in dock-table order.
enum Panel { MainPanel = 0, ChatPanel = 1, AccountsPanel = 2, StreamManagerPanel = 3 };

const std::vector<std::pair<const char *, const char *>> kDocks = {
	{"vorn-zorva-dock", "Vorn - Zorva"},
	{"vorn-zorva-chat-dock", "Vorn - Chat"},
	{"vorn-zorva-integrations-dock", "Vorn - Accounts"},
	{"vorn-zorva-stream-manager-dock", "Vorn - Stream Manager"},
};

class DockTest : public ModuleHostTest {
protected:
	void start()
	{
		FrontendStandin::instance().mainWindow()->show();
		load();
		postLoad();
		ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
		token = json::parse(statusEvents().back().dataJson)["params"]["hostBootstrap"]["sessionToken"];
	}

	std::vector<std::string> calls(int panel, const std::string &operation) const
	{
		std::vector<std::string> result;
		for (const auto &call : browserJournal()->callsOf(panel)) {
			if (call.operation == operation)
				result.push_back(call.argument);
		}
		return result;
	}

	QDockWidget *dock(const char *id) const
	{
		return FrontendStandin::instance().mainWindow()->findChild<QDockWidget *>(QString::fromLatin1(id));
	}

	std::string token;
};

QString queryValue(const std::string &url, const char *key)
{
	return QUrlQuery(QUrl(QString::fromStdString(url))).queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
}

} // namespace

TEST_F(DockTest, FourDocksWithTheirPanels)
{
	start();
	std::vector<std::string> ids;
	for (const auto &[id, title] : kDocks) {
		ids.emplace_back(id);
		QDockWidget *widget = dock(id);
		ASSERT_NE(widget, nullptr) << id;
		EXPECT_EQ(widget->windowTitle(), QString::fromLatin1(title));
	}
	EXPECT_EQ(FrontendStandin::instance().addedDocks, ids);
	const std::string startup = "\n(() => {\n  const config = {\"accessToken\":\"\"};\n";
	for (int panel : {MainPanel, ChatPanel, AccountsPanel, StreamManagerPanel}) {
		ASSERT_EQ(calls(panel, "setStartupScript").size(), 1u);
		EXPECT_EQ(calls(panel, "setStartupScript")[0].rfind(startup, 0), 0u);
		EXPECT_EQ(calls(panel, "allowAllPopups"), std::vector<std::string>{"true"});
	}
	EXPECT_EQ(browserJournal()->calls[1].operation, "initialized");
	EXPECT_EQ(browserJournal()->calls[2].operation, "init_browser");

	// Page URLs.
	const std::string main = calls(MainPanel, "create_widget")[0];
	EXPECT_EQ(QUrl(QString::fromStdString(main)).toString(QUrl::RemoveQuery),
		  QStringLiteral(ZORVA_WEB_APP_BASE_URL "shim.html")
			  .replace(QStringLiteral("/shim"), QStringLiteral("/shim")));
	EXPECT_EQ(queryValue(main, "url"), QStringLiteral(ZORVA_WEB_APP_BASE_URL));
	EXPECT_EQ(queryValue(main, "pv"), QStringLiteral(ZORVA_VERSION));
	const QJsonObject ow = QJsonDocument::fromJson(queryValue(main, "ow").toUtf8()).object();
	EXPECT_EQ(ow.value("h").toString(), QStringLiteral("127.0.0.1"));
	EXPECT_EQ(ow.value("e").toString(), QStringLiteral("obs-websocket is disabled. Enable it in OBS to continue."));
	EXPECT_EQ(queryValue(calls(AccountsPanel, "create_widget")[0], "url"),
		  QStringLiteral(ZORVA_DOCK_PAGES_BASE_URL "/accounts"));

	// The proxy's start put "vornurl=" into the chat and stream-manager pages.
	const std::string proxy = "vornurl=ws://127.0.0.1:44423?token=" + token;
	ASSERT_TRUE(waitUntil([&] { return !calls(ChatPanel, "setURL").empty(); }, 5s));
	EXPECT_EQ(calls(ChatPanel, "setURL").back(), ZORVA_DOCK_PAGES_BASE_URL "/chat?" + proxy);
	ASSERT_TRUE(waitUntil([&] { return !calls(StreamManagerPanel, "setURL").empty(); }, 5s));
	EXPECT_EQ(calls(StreamManagerPanel, "setURL").back(), ZORVA_DOCK_PAGES_BASE_URL "/stream-info?" + proxy);
}

TEST_F(DockTest, ObsWebSocketConfigChangeReloadsTheHostPagesOnly)
{
	writeObsWebSocketConfig({{"server_enabled", false}}); // watched from the start
	start();
	pumpEvents(300ms);
	const size_t chatLoads = calls(ChatPanel, "setURL").size();
	const size_t streamLoads = calls(StreamManagerPanel, "setURL").size();
	const size_t mainLoads = calls(MainPanel, "setURL").size();
	const size_t scripts = calls(MainPanel, "executeJavaScript").size();

	QTcpServer obsWebSocket;
	ASSERT_TRUE(obsWebSocket.listen(QHostAddress::LocalHost, 0));
	writeObsWebSocketConfig({{"server_enabled", true}, {"server_port", obsWebSocket.serverPort()}});
	ASSERT_TRUE(waitUntil([&] { return calls(MainPanel, "setURL").size() > mainLoads; }, 5s))
		<< calls(MainPanel, "setURL").size() << " " << mainLoads;
	ASSERT_TRUE(waitUntil([&] { return !calls(AccountsPanel, "setURL").empty(); }, 5s));
	for (int panel : {MainPanel, AccountsPanel}) {
		const QJsonObject ow =
			QJsonDocument::fromJson(queryValue(calls(panel, "setURL").back(), "ow").toUtf8()).object();
		EXPECT_EQ(ow.value("p").toInt(), obsWebSocket.serverPort());
		EXPECT_EQ(ow.value("en").toBool(), true);
		EXPECT_FALSE(ow.contains("e"));
	}
	pumpEvents(200ms);
	EXPECT_EQ(calls(ChatPanel, "setURL").size(), chatLoads);
	EXPECT_EQ(calls(StreamManagerPanel, "setURL").size(), streamLoads);
	// The status change that came with it re-injected the token in every page.
	for (int panel : {MainPanel, ChatPanel, AccountsPanel, StreamManagerPanel}) {
		ASSERT_FALSE(calls(panel, "executeJavaScript").empty()) << panel;
		EXPECT_EQ(calls(panel, "executeJavaScript")
				  .back()
				  .rfind("\n(() => {\n  const payload = {\"accessToken\":\"\"};\n", 0),
			  0u);
	}
	EXPECT_EQ(calls(MainPanel, "executeJavaScript").size(), scripts + 1);
}

TEST_F(DockTest, FirstPlacementOnAFreshConfigFolder)
{
	start();
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	ASSERT_TRUE(waitUntil([&] { return QFile::exists(moduleConfigFile("zorva-ui.json")); }, 5s));
	ASSERT_TRUE(placementFollowUpsDone());
	QMainWindow *window = FrontendStandin::instance().mainWindow();
	QDockWidget *main = dock("vorn-zorva-dock");
	for (const auto &[id, title] : kDocks) {
		EXPECT_EQ(window->dockWidgetArea(dock(id)), Qt::RightDockWidgetArea) << id;
		EXPECT_FALSE(dock(id)->isFloating()) << id;
		EXPECT_EQ(dock(id)->toggleViewAction()->text(), QString::fromLatin1(title));
	}
	EXPECT_EQ(window->tabifiedDockWidgets(main).size(), 3);
	EXPECT_FALSE(main->visibleRegion().isEmpty()); // the main tab is the current one
	EXPECT_TRUE(dock("vorn-zorva-chat-dock")->visibleRegion().isEmpty());
	EXPECT_EQ(main->minimumWidth(), 450);
	QFile file(moduleConfigFile("zorva-ui.json"));
	ASSERT_TRUE(file.open(QIODevice::ReadOnly));
	EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).object(), QJsonObject({{"dockPlaced", true}}));
}

TEST_F(DockTest, NoPlacementOnceRecorded)
{
	const QString file = moduleConfigFile(QStringLiteral("zorva-ui.json"));
	QDir().mkpath(QFileInfo(file).absolutePath());
	QFile ui(file);
	ASSERT_TRUE(ui.open(QIODevice::WriteOnly));
	ui.write(R"({"dockPlaced": true})");
	ui.close();
	start();
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	pumpEvents(1500ms);
	EXPECT_TRUE(dock("vorn-zorva-dock")->isFloating()); // where the host put it
}

TEST_F(DockTest, LateMainDockIsPlacedOnARetry)
{
	start();
	QDockWidget *main = dock("vorn-zorva-dock");
	main->setObjectName(QStringLiteral("not-yet"));
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	runTimerChain(1 + 5, kPlacementRetryDelay); // the first look and five retries
	EXPECT_FALSE(QFile::exists(moduleConfigFile("zorva-ui.json")));
	main->setObjectName(QStringLiteral("vorn-zorva-dock"));
	ASSERT_TRUE(waitUntil([&] { return QFile::exists(moduleConfigFile("zorva-ui.json")); }, 5s));
}

TEST_F(DockTest, MainDockThatNeverAppearsIsGivenUp)
{
	start();
	QDockWidget *main = dock("vorn-zorva-dock");
	main->setObjectName(QStringLiteral("gone"));
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	runTimerChain(1 + kPlacementRetries, kPlacementRetryDelay);
	main->setObjectName(QStringLiteral("vorn-zorva-dock"));
	pumpEvents(6 * kPlacementRetryDelay); // a retry still pending would find it meanwhile
	EXPECT_FALSE(QFile::exists(moduleConfigFile("zorva-ui.json")));
}

// OBS sends its front-end events on the UI thread; should the exit come from
// another, the docks and their panels are still only touched there.
TEST_F(DockTest, ExitFromAnotherThreadTouchesThePanelsOnTheUiThreadOnly)
{
	start();
	std::atomic<bool> done{false};
	std::thread elsewhere([&] {
		FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_EXIT);
		done = true;
	});
	const bool returned = waitUntil([&] { return done.load(); }, 10s);
	returned ? elsewhere.join() : elsewhere.detach();
	ASSERT_TRUE(returned);
	EXPECT_EQ(FrontendStandin::instance().removedDocks.size(), 4u);
	EXPECT_EQ(calls(ChatPanel, "closeBrowser").size(), 1u);
	EXPECT_EQ(browserJournal()->callsOffUiThread, 0);
}

TEST_F(DockTest, ShowingADockReloadsItsPageOnce)
{
	start();
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	ASSERT_TRUE(waitUntil([&] { return QFile::exists(moduleConfigFile("zorva-ui.json")); }, 5s));
	ASSERT_TRUE(placementFollowUpsDone());
	QDockWidget *main = dock("vorn-zorva-dock");
	const size_t loads = calls(MainPanel, "setURL").size();
	main->hide();
	pumpEvents(100ms);
	EXPECT_EQ(calls(MainPanel, "setURL").size(), loads);
	main->show();
	ASSERT_TRUE(waitUntil([&] { return calls(MainPanel, "setURL").size() == loads + 1; }, 2s));
	pumpEvents(200ms);
	EXPECT_EQ(calls(MainPanel, "setURL").size(), loads + 1);
}

TEST_F(DockTest, TitlesAreReappliedWhenDocksMove)
{
	start();
	QDockWidget *chat = dock("vorn-zorva-chat-dock");
	chat->setWindowTitle(QStringLiteral("Something else"));
	chat->toggleViewAction()->setText(QStringLiteral("Other"));
	FrontendStandin::instance().mainWindow()->addDockWidget(Qt::BottomDockWidgetArea, chat);
	chat->setFloating(false);
	chat->show();
	ASSERT_TRUE(waitUntil([&] { return chat->windowTitle() == QStringLiteral("Vorn - Chat"); }, 2s));
	EXPECT_EQ(chat->toggleViewAction()->text(), QStringLiteral("Vorn - Chat"));
}

TEST_F(DockTest, LoggedInPagesGetTheTokenAtStart)
{
	seedAuth(QStringLiteral(ZORVA_MODULE_FILE), {{}, "AT-123", {}, {}});
	start();
	for (int panel : {MainPanel, ChatPanel, AccountsPanel, StreamManagerPanel})
		EXPECT_NE(calls(panel, "setStartupScript")[0].find("  const config = {\"accessToken\":\"AT-123\"};\n"),
			  std::string::npos);

	// After a logout, pages loaded later start logged out too.
	vendorRequest({{"id", "1"}, {"method", "accounts.logout"}});
	for (int panel : {MainPanel, ChatPanel, AccountsPanel, StreamManagerPanel}) {
		const auto scripts = calls(panel, "setStartupScript");
		ASSERT_EQ(scripts.size(), 2u) << panel;
		EXPECT_NE(scripts[1].find("  const config = {\"accessToken\":\"\"};\n"), std::string::npos);
		EXPECT_NE(calls(panel, "executeJavaScript").back().find("  const payload = {\"accessToken\":\"\"};\n"),
			  std::string::npos);
	}
}

TEST_F(DockTest, LoginRedirectInAPanelBringsTheAccountsDockBack)
{
	start();
	const json login = vendorRequest({{"id", "1"}, {"method", "authenticate"}});
	ASSERT_EQ(login["opened"], true);
	const QString state = QUrlQuery(browser->openedUrls().last()).queryItemValue(QStringLiteral("state"));
	QDockWidget *accounts = dock("vorn-zorva-integrations-dock");
	accounts->setFloating(true);
	accounts->hide();
	const size_t loads = calls(AccountsPanel, "setURL").size();

	QObject *mainPanel = browserJournal()->panels[MainPanel];
	// Other URLs are not redirects, even with the login's state and a code in them.
	QMetaObject::invokeMethod(mainPanel, "urlChanged",
				  Q_ARG(QString, QStringLiteral("https://zorva.test/page?state=%1&code=c").arg(state)));
	EXPECT_TRUE(accounts->isFloating());
	EXPECT_FALSE(accounts->isVisible());

	// The main dock's browser lands on the redirect; the accounts dock reacts.
	QMetaObject::invokeMethod(mainPanel, "urlChanged",
				  Q_ARG(QString, QStringLiteral("vorn://auth?state=%1&code=c").arg(state)));
	const auto redirectAt = std::chrono::steady_clock::now();
	EXPECT_FALSE(accounts->isFloating());
	EXPECT_TRUE(accounts->isVisible());
	// The show reloads at once; the restore reloads again 750 ms after the
	// redirect (Qt's coarse timers may fire 5 % early).
	ASSERT_TRUE(waitUntil([&] { return calls(AccountsPanel, "setURL").size() == loads + 2; }, 5s));
	EXPECT_GE(std::chrono::steady_clock::now() - redirectAt, 712ms);
	pumpEvents(300ms);
	EXPECT_EQ(calls(AccountsPanel, "setURL").size(), loads + 2);
}
