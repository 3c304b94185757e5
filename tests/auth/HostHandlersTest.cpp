// The host methods against a real account controller (fake services on
// loopback, a captured browser) and an event proxy on this thread: what each
// handler reads from its params, what it does, and how it answers. Params go
// in as JSON text, so they can carry what libobs's settings data cannot
// (arrays of scalars, explicit nulls). The loaded module's wiring and the
// order of what pages hear are tested in the integration suite.

#include "AuthTestSupport.h"

#include "auth/AuthStateFile.h"
#include "host/HostHandlers.h"
#include "host/ObsWebSocketNames.h"
#include "host/ObsWebSocketVendor.h"
#include "proxy/EventProxyServer.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

json errorEnvelope(const std::string &message, const std::string &code)
{
	return {{"__vendorError", true}, {"error", message}, {"errorCode", code}};
}

std::vector<std::string> requiredIds(const json &accountsList)
{
	std::vector<std::string> ids;
	for (const json &account : accountsList.at("requiredAccounts"))
		ids.push_back(account.at("id"));
	std::sort(ids.begin(), ids.end());
	return ids;
}

class HostHandlersTest : public AuthControllerTest {
protected:
	void SetUp() override
	{
		AuthControllerTest::SetUp();
		register_(&proxy);
	}

	void register_(EventProxyServer *eventProxy)
	{
		vendor = std::make_unique<ObsWebSocketVendor>(ObsWebSocketNames::vendorName);
		registerHostHandlers(*vendor, HostTargets{controller(), eventProxy, [this] { return sources; },
							  [this] {
								  ++sources.eventProxyPort;
							  }});
	}

	json call(const std::string &method, const json &params = json::object())
	{
		return json::parse(
			vendor->dispatchPayload(json{{"id", "1"}, {"method", method}, {"params", params}}.dump()));
	}

	// A new controller reads the auth file again and requires nothing.
	void restartController()
	{
		instance.reset();
		register_(&proxy);
	}

	void seedLinkedAccount(const QString &upid)
	{
		AuthStateFile(options.stateFilePath)
			.save(AccountTokens(), {{upid, IntegrationRecord{"KICK", "vek-token", upid, "zoe"}}});
		restartController();
	}

	EventProxyServer proxy{EventProxyServer::Options()};
	HostBootstrapSources sources{nullptr, nullptr, 44423, QStringLiteral("proxy-token")};
	std::unique_ptr<ObsWebSocketVendor> vendor;
};

} // namespace

TEST_F(HostHandlersTest, EveryMethodIsServedByItsExactName)
{
	for (const char *method : {"zorva.status",
				   "zorva.getHostBootstrap",
				   "zorva.refreshHostBootstrap",
				   "accounts.list",
				   "accounts.require",
				   "getSessionJson",
				   "authenticate",
				   "listDisplays",
				   "listWindows",
				   "listCameras",
				   "notify",
				   "simulateEvent",
				   "takeScreenshot",
				   "applySessionOps",
				   "evalBrowserLayerJs",
				   "getBrowserLayerConsoleLogs",
				   "accounts.beginLogin",
				   "accounts.refresh",
				   "accounts.logout",
				   "zorva.logout",
				   "accounts.handleRedirect",
				   "vek.beginLogin",
				   "vek.logout"})
		EXPECT_NE(stringMember(call(method), "errorCode"), "METHOD_NOT_FOUND") << method;
	EXPECT_EQ(stringMember(call("Zorva.status"), "errorCode"), "METHOD_NOT_FOUND");
	EXPECT_EQ(stringMember(call("vek.logout "), "errorCode"), "METHOD_NOT_FOUND");
}

TEST_F(HostHandlersTest, FixedAnswersWhateverTheParamsAndTouchNothing)
{
	const json params = {{"title", "x"}, {"ops", {1, 2}}};
	EXPECT_EQ(call("getSessionJson", params), json::object());
	EXPECT_EQ(call("notify", params), json::object());
	for (const char *method : {"listDisplays", "listWindows", "listCameras"})
		EXPECT_EQ(call(method, params), json::array()) << method;
	EXPECT_EQ(call("takeScreenshot", params),
		  errorEnvelope("Screenshots are not available from OBS yet.", "NOT_IMPLEMENTED"));
	EXPECT_EQ(call("evalBrowserLayerJs", params),
		  errorEnvelope("Browser-layer JS evaluation is not enabled in OBS yet.", "NOT_IMPLEMENTED"));
	EXPECT_EQ(call("getBrowserLayerConsoleLogs", params),
		  errorEnvelope("Browser-layer console logs are not enabled in OBS yet.", "NOT_IMPLEMENTED"));
	EXPECT_EQ(call("applySessionOps", params),
		  errorEnvelope("applySessionOps is handled by the OBS shim.", "SHIM_REQUIRED"));
	EXPECT_EQ(statusChanges, 0);
	EXPECT_TRUE(browser->openedUrls().isEmpty());
	EXPECT_EQ(sources.eventProxyPort, 44423);
}

TEST_F(HostHandlersTest, TheBootstrapIsBuiltAfterTheRefresh)
{
	const json status = call("zorva.status");
	EXPECT_EQ(status["hostBootstrap"], call("zorva.getHostBootstrap"));
	EXPECT_EQ(status["hostBootstrap"]["eventProxyUrl"], "ws://127.0.0.1:44423?token=proxy-token");
	EXPECT_EQ(call("zorva.refreshHostBootstrap")["eventProxyUrl"], "ws://127.0.0.1:44424?token=proxy-token");
	EXPECT_EQ(call("zorva.getHostBootstrap")["eventProxyUrl"], "ws://127.0.0.1:44424?token=proxy-token");
}

TEST_F(HostHandlersTest, RequireTakesTheStringPlatformsOfBothParams)
{
	EXPECT_EQ(requiredIds(call("accounts.require", {{"platform", "kick"}, {"platforms", {"twitch", 3, "kick"}}})),
		  (std::vector<std::string>{"KICK", "TWITCH"}));
	// Non-strings and a lone string under "platforms" add nothing.
	restartController();
	call("accounts.require", {{"platform", 7}, {"platforms", {nullptr, " youtube ", {{"id", "x"}}, true, ""}}});
	call("accounts.require", {{"platforms", "twitch"}});
	EXPECT_EQ(requiredIds(call("accounts.require")), std::vector<std::string>{"YOUTUBE"});
}

TEST_F(HostHandlersTest, AccountLoginStartIsPassedThroughEvenWhenItFailed)
{
	browser = std::make_unique<UrlCapture>(true);
	for (const json &params : {json::object(), json({{"platform", " \t\n "}}), json({{"platform", 5}})}) {
		for (const char *method : {"authenticate", "accounts.beginLogin"}) {
			const json answer = call(method, params);
			EXPECT_EQ(answer["opened"], false) << method << params;
			EXPECT_EQ(answer["error"], "Unable to open system browser.") << method << params;
			EXPECT_FALSE(answer.contains("__vendorError")) << method << params;
		}
	}
}

TEST_F(HostHandlersTest, IntegrationLoginsGetTheirPlatform)
{
	// A platform after trimming starts a platform login, whose failures are
	// errors on the wire.
	EXPECT_EQ(call("accounts.beginLogin", {{"platform", "  ..\t"}}),
		  errorEnvelope("Invalid platform.", "INVALID_PLATFORM"));
	EXPECT_EQ(call("vek.beginLogin", {{"platform", ".."}}), errorEnvelope("Invalid platform.", "INVALID_PLATFORM"));
	for (const json &platform : {json(nullptr), json(""), json(" "), json(4)})
		EXPECT_EQ(call("vek.beginLogin", {{"platform", platform}}),
			  errorEnvelope("Missing platform.", "MISSING_PLATFORM"));
	EXPECT_TRUE(browser->openedUrls().isEmpty());
}

TEST_F(HostHandlersTest, AccountRefreshLogoutAndRedirects)
{
	EXPECT_EQ(call("accounts.refresh"), errorEnvelope("No refresh token is available.", "NO_REFRESH_TOKEN"));
	EXPECT_EQ(call("accounts.logout"), call("zorva.logout"));
	EXPECT_EQ(
		stringMember(call("zorva.logout"), "logoutUrl").rfind(account.baseUrl().toStdString() + "/logout?", 0),
		0u);

	EXPECT_EQ(call("accounts.handleRedirect"), json({{"handled", false}}));
	EXPECT_EQ(call("accounts.handleRedirect", {{"url", 12}}), json({{"handled", false}}));
	// Parsed tolerantly: a space in the query of the login's own redirect.
	const QString state = beginLogin().queryItemValue(QStringLiteral("state"));
	EXPECT_EQ(call("accounts.handleRedirect", {{"url", "vorn://auth?code=a b&state=" + state.toStdString()}}),
		  json({{"handled", true}}));
	ASSERT_TRUE(waitUntil([&] { return !account.requests.isEmpty(); }));
	EXPECT_EQ(account.requests[0].formValue(QStringLiteral("code")), QStringLiteral("a b"));
}

TEST_F(HostHandlersTest, SimulatedEventsNeedTheProxy)
{
	EXPECT_EQ(call("simulateEvent",
		       {{"type", "chat"}, {"platform", "Kick"}, {"username", " zoe "}, {"chatMessage", "hi"}}),
		  json({{"type", "chat"}, {"platform", "kick"}, {"username", "zoe"}, {"chatMessage", "hi"}}));
	EXPECT_EQ(call("simulateEvent", {{"type", 1}, {"chatMessage", nullptr}}),
		  errorEnvelope("simulateEvent requires a non-empty 'type' parameter.", "INVALID_PARAMS"));

	register_(nullptr);
	EXPECT_EQ(call("simulateEvent", {{"type", "chat"}}),
		  errorEnvelope("Event proxy is not available.", "PROXY_UNAVAILABLE"));
}

TEST_F(HostHandlersTest, IntegrationLogoutNeedsAnUpidAndNotTheProxy)
{
	seedLinkedAccount(QStringLiteral("u-1"));
	for (const json &upid : {json(""), json(" \t "), json(nullptr), json(12)})
		EXPECT_EQ(call("vek.logout", {{"upid", upid}}), errorEnvelope("Missing upid.", "MISSING_UPID"));
	EXPECT_EQ(call("vek.logout"), errorEnvelope("Missing upid.", "MISSING_UPID"));
	EXPECT_EQ(call("accounts.list")["accounts"].size(), 1u);

	register_(nullptr);
	const json status = call("vek.logout", {{"upid", " u-1 "}});
	EXPECT_TRUE(status.contains("account"));
	EXPECT_TRUE(call("accounts.list")["accounts"].empty());
	EXPECT_TRUE(AuthStateFile(options.stateFilePath).load().integrations.empty());
}
