// The host methods the pages call, through the stand-in obs-websocket.

#include "ModuleHost.h"

#include "BrowserJournal.h"

#include "LogCapture.h"
#include "TestWebSocketClient.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

json error(const char *message, const char *code)
{
	return {{"__vendorError", true}, {"error", message}, {"errorCode", code}};
}

} // namespace

TEST_F(ModuleHostTest, HostMethodsThroughTheBridge)
{
	load();
	postLoad();
	ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
	const std::string token =
		json::parse(statusEvents().back().dataJson)["params"]["hostBootstrap"]["sessionToken"];
	TestWebSocketClient page;
	ASSERT_TRUE(page.open(44423, QStringLiteral("/?token=%1").arg(QString::fromStdString(token))));
	ASSERT_TRUE(page.waitForUpgrade());

	// Simulated events are made on the worker thread and reach the pages.
	const json simulated =
		vendorRequest({{"id", "1"},
			       {"method", "simulateEvent"},
			       {"params", {{"type", " chat "}, {"platform", "kick"}, {"chatMessage", "hi"}}}});
	EXPECT_EQ(simulated, json({{"type", "chat"}, {"platform", "kick"}, {"chatMessage", "hi"}}));
	ASSERT_TRUE(page.waitForMessages(1));
	EXPECT_EQ(json::parse(page.texts()[0])["raw"], "hi");
	EXPECT_EQ(vendorRequest({{"id", "2"}, {"method", "simulateEvent"}, {"params", {{"type", "donation"}}}}),
		  error("Unsupported simulated event type: donation", "INVALID_PARAMS"));

	// Unlinking tells the pages first.
	EXPECT_EQ(vendorRequest({{"id", "3"}, {"method", "vek.logout"}, {"params", {{"upid", "  "}}}}),
		  error("Missing upid.", "MISSING_UPID"));
	const json status = vendorRequest({{"id", "4"}, {"method", "vek.logout"}, {"params", {{"upid", " u9 "}}}});
	EXPECT_TRUE(status.contains("account"));
	ASSERT_TRUE(page.waitForMessages(2));
	EXPECT_EQ(json::parse(page.texts()[1]), json({{"event_type", "X_LOGOUT"}, {"upid", "u9"}}));

	// Account methods.
	EXPECT_EQ(vendorRequest({{"id", "5"}, {"method", "accounts.refresh"}}),
		  error("No refresh token is available.", "NO_REFRESH_TOKEN"));
	const json required =
		vendorRequest({{"id", "6"}, {"method", "accounts.require"}, {"params", {{"platform", "kick"}}}});
	EXPECT_EQ(required["requiredAccounts"][0]["id"], "KICK");
	EXPECT_EQ(vendorRequest({{"id", "7"}, {"method", "accounts.list"}})["requiredAccounts"].size(), 1u);
	EXPECT_EQ(vendorRequest({{"id", "8"}, {"method", "accounts.logout"}}),
		  vendorRequest({{"id", "9"}, {"method", "zorva.logout"}}));
	EXPECT_EQ(vendorRequest({{"id", "10"}, {"method", "accounts.handleRedirect"}}), json({{"handled", false}}));
	const json login =
		vendorRequest({{"id", "11"}, {"method", "accounts.beginLogin"}, {"params", {{"platform", "   "}}}});
	EXPECT_EQ(login["opened"], true);
	EXPECT_EQ(login["callbackUrl"], "http://localhost:49231/callback");
	EXPECT_EQ(vendorRequest({{"id", "12"}, {"method", "vek.beginLogin"}, {"params", {{"platform", " "}}}}),
		  error("Missing platform.", "MISSING_PLATFORM"));
	for (const char *method : {"takeScreenshot", "evalBrowserLayerJs", "getBrowserLayerConsoleLogs"})
		EXPECT_EQ(vendorRequest({{"id", "13"}, {"method", method}, {"params", {{"any", 1}}}})["errorCode"],
			  "NOT_IMPLEMENTED");
	EXPECT_EQ(vendorRequest({{"id", "14"}, {"method", "applySessionOps"}})["errorCode"], "SHIM_REQUIRED");
	EXPECT_EQ(vendorRequest({{"id", "15"}, {"method", "notify"}, {"params", {{"text", "x"}}}}), json::object());
}

TEST_F(ModuleHostTest, BootstrapAndFixedMethodsThroughTheBridge)
{
	load();
	postLoad();
	ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
	// Loads of the main page after the one its panel was created with.
	BrowserJournal *journal = browserJournal();
	ASSERT_NE(journal, nullptr);
	const auto mainLoads = [&] {
		size_t loads = 0;
		for (const auto &call : journal->callsOf(0))
			loads += call.operation == "setURL";
		return loads;
	};

	const json status = vendorRequest({{"id", "1"}, {"method", "zorva.status"}});
	const json bootstrap = vendorRequest({{"id", "2"}, {"method", "zorva.getHostBootstrap"}});
	EXPECT_EQ(status["hostBootstrap"], bootstrap);
	EXPECT_EQ(bootstrap["eventProxyUrl"],
		  "ws://127.0.0.1:44423?token=" + bootstrap["sessionToken"].get<std::string>());

	// A refresh reloads the host pages and tells the pages, then answers
	// with the bootstrap.
	const size_t loadsBefore = mainLoads();
	const size_t eventsBefore = statusEvents().size();
	EXPECT_EQ(vendorRequest({{"id", "3"}, {"method", "zorva.refreshHostBootstrap"}}), bootstrap);
	EXPECT_EQ(statusEvents().size(), eventsBefore + 1);
	EXPECT_TRUE(waitUntil([&] { return mainLoads() == loadsBefore + 1; }, 5s));

	EXPECT_EQ(vendorRequest({{"id", "4"}, {"method", "getSessionJson"}}), json::object());
	// Arrays cannot travel as obs-websocket response data: an empty object.
	for (const char *method : {"listDisplays", "listWindows", "listCameras"})
		EXPECT_EQ(vendorRequest({{"id", "5"}, {"method", method}}), json::object()) << method;

	// "authenticate" starts the account login and passes its result through.
	const json login = vendorRequest({{"id", "6"}, {"method", "authenticate"}});
	EXPECT_EQ(login["opened"], true);
	ASSERT_EQ(browser->openedUrls().size(), 1);
	EXPECT_EQ(browser->openedUrls()[0].toString().toStdString(), login["url"].get<std::string>());
	// A redirect the module did not start is not handled.
	EXPECT_EQ(vendorRequest({{"id", "7"},
				 {"method", "accounts.handleRedirect"},
				 {"params", {{"url", "https://zorva.vorn.example/auth/redirect?code=c&state=other"}}}}),
		  json({{"handled", false}}));
}
