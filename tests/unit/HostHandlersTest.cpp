// The host methods against recording targets: what each handler reads from
// its params, what it hands on, and how it answers. Params go in as JSON
// text, so they can carry what libobs's settings data cannot (arrays of
// scalars, explicit nulls).

#include "host/HostHandlers.h"
#include "host/HostTargets.h"
#include "host/ObsWebSocketVendor.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

json errorEnvelope(const std::string &message, const std::string &code)
{
	json envelope = {{"__vendorError", true}, {"error", message}};
	if (!code.empty())
		envelope["errorCode"] = code;
	return envelope;
}

std::string errorCode(const json &response)
{
	return stringMember(response, "errorCode");
}

// Records every call in order; answers with the configured objects.
class RecordingTargets final : public HostTargets {
public:
	QJsonObject status() override { return note("status", statusResult); }
	QJsonObject hostBootstrap() override { return note("hostBootstrap", bootstrapResult); }
	void refreshHostState() override { calls.push_back("refreshHostState"); }

	QJsonObject accountsList() override { return note("accountsList", listResult); }
	QJsonObject requirePlatforms(const QStringList &platforms) override
	{
		required = platforms;
		return note("requirePlatforms", listResult);
	}
	QJsonObject beginAccountLogin() override { return note("beginAccountLogin", accountLoginResult); }
	Result<QJsonObject> beginIntegrationLogin(const QString &platform) override
	{
		integrationPlatform = platform;
		calls.push_back("beginIntegrationLogin");
		return integrationLoginResult;
	}
	Result<QJsonObject> refreshAccount() override
	{
		calls.push_back("refreshAccount");
		return refreshResult;
	}
	QJsonObject logoutAccount() override { return note("logoutAccount", logoutResult); }
	bool handleRedirect(const QUrl &url) override
	{
		redirectUrl = url;
		calls.push_back("handleRedirect");
		return redirectHandled;
	}
	QJsonObject logoutIntegration(const QString &upid) override
	{
		loggedOutUpid = upid;
		return note("logoutIntegration", statusResult);
	}

	bool hasEventProxy() override { return proxy; }
	Result<json> simulateEvent(const QString &type, const QString &platform, const QString &username,
				   const QString &chatMessage) override
	{
		simulated = {type, platform, username, chatMessage};
		calls.push_back("simulateEvent");
		return simulationResult;
	}
	void publishLogout(const std::string &upid) override
	{
		publishedUpid = upid;
		calls.push_back("publishLogout");
	}

	std::vector<std::string> calls;
	QStringList required;
	QString integrationPlatform;
	QUrl redirectUrl{QStringLiteral("http://unset.test/")};
	QString loggedOutUpid;
	QStringList simulated;
	std::string publishedUpid;

	QJsonObject statusResult{{QStringLiteral("account"), QJsonObject()}};
	QJsonObject bootstrapResult{{QStringLiteral("sessionToken"), QStringLiteral("t")}};
	QJsonObject listResult{{QStringLiteral("accounts"), QJsonArray()}};
	QJsonObject accountLoginResult{{QStringLiteral("opened"), true}};
	Result<QJsonObject> integrationLoginResult = QJsonObject{{QStringLiteral("opened"), true}};
	Result<QJsonObject> refreshResult = QJsonObject{{QStringLiteral("authenticated"), true}};
	QJsonObject logoutResult{{QStringLiteral("logoutUrl"), QStringLiteral("https://account.test/logout")}};
	bool redirectHandled = true;
	bool proxy = true;
	Result<json> simulationResult = json{{"type", "chat"}};

private:
	QJsonObject note(const char *call, const QJsonObject &result)
	{
		calls.push_back(call);
		return result;
	}
};

class HostHandlersTest : public ::testing::Test {
protected:
	void SetUp() override { registerHostHandlers(vendor, targets); }

	json call(const std::string &method, const json &params = json::object())
	{
		return json::parse(
			vendor.dispatchPayload(json{{"id", "1"}, {"method", method}, {"params", params}}.dump()));
	}

	RecordingTargets targets;
	ObsWebSocketVendor vendor{"vorn-zorva"};
};

} // namespace

TEST_F(HostHandlersTest, EveryMethodIsServed)
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
				   "vek.logout"}) {
		EXPECT_NE(errorCode(call(method)), "METHOD_NOT_FOUND") << method;
	}
	// Names are exact.
	EXPECT_EQ(errorCode(call("Zorva.status")), "METHOD_NOT_FOUND");
	EXPECT_EQ(errorCode(call("vek.logout ")), "METHOD_NOT_FOUND");
}

TEST_F(HostHandlersTest, FixedAnswersWhateverTheParams)
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
	// None of them touched the module.
	EXPECT_TRUE(targets.calls.empty());
}

TEST_F(HostHandlersTest, StatusAndBootstrap)
{
	EXPECT_EQ(call("zorva.status"), json({{"account", json::object()}}));
	EXPECT_EQ(call("zorva.getHostBootstrap"), json({{"sessionToken", "t"}}));
	targets.calls.clear();
	// The refresh happens before the bootstrap is built, so the answer
	// reflects it.
	EXPECT_EQ(call("zorva.refreshHostBootstrap"), json({{"sessionToken", "t"}}));
	EXPECT_EQ(targets.calls, (std::vector<std::string>{"refreshHostState", "hostBootstrap"}));
}

TEST_F(HostHandlersTest, RequireCollectsStringPlatformsInOrder)
{
	EXPECT_EQ(call("accounts.require", {{"platform", "kick"}, {"platforms", {"twitch", 3, "kick"}}}),
		  json({{"accounts", json::array()}}));
	EXPECT_EQ(targets.required, (QStringList{"kick", "twitch", "kick"}));

	// No trimming or case change here; non-strings are skipped.
	call("accounts.require", {{"platform", 7}, {"platforms", {nullptr, " Kick ", {{"id", "x"}}, true, ""}}});
	EXPECT_EQ(targets.required, (QStringList{" Kick ", ""}));
	call("accounts.require", {{"platforms", "twitch"}});
	EXPECT_TRUE(targets.required.isEmpty());
	call("accounts.require");
	EXPECT_TRUE(targets.required.isEmpty());
}

TEST_F(HostHandlersTest, AccountLoginStartIsPassedThroughEvenWhenItFailed)
{
	targets.accountLoginResult = {
		{QStringLiteral("opened"), false},
		{QStringLiteral("error"), QStringLiteral("Unable to start local login callback server.")},
		{QStringLiteral("errorCode"), QStringLiteral("CALLBACK_SERVER_FAILED")}};
	const json failed = {{"opened", false},
			     {"error", "Unable to start local login callback server."},
			     {"errorCode", "CALLBACK_SERVER_FAILED"}};
	EXPECT_EQ(call("authenticate"), failed);
	EXPECT_EQ(call("accounts.beginLogin"), failed);
	EXPECT_EQ(call("accounts.beginLogin", {{"platform", " \t\n "}}), failed);
	EXPECT_EQ(call("accounts.beginLogin", {{"platform", 5}}), failed);
	EXPECT_EQ(targets.calls, std::vector<std::string>(4, "beginAccountLogin"));
}

TEST_F(HostHandlersTest, IntegrationLoginPlatformTrimmedOrNot)
{
	EXPECT_EQ(call("accounts.beginLogin", {{"platform", "  twitch \t"}}), json({{"opened", true}}));
	EXPECT_EQ(targets.integrationPlatform, "twitch");
	EXPECT_EQ(call("vek.beginLogin", {{"platform", "  twitch \t"}}), json({{"opened", true}}));
	EXPECT_EQ(targets.integrationPlatform, "  twitch \t");
	// An empty platform is the controller's to reject.
	targets.integrationLoginResult = Failure{QStringLiteral("Missing platform."), "MISSING_PLATFORM"};
	EXPECT_EQ(call("vek.beginLogin"), errorEnvelope("Missing platform.", "MISSING_PLATFORM"));
	EXPECT_EQ(targets.integrationPlatform, "");
	EXPECT_EQ(targets.calls, std::vector<std::string>(3, "beginIntegrationLogin"));
}

TEST_F(HostHandlersTest, FailuresAndValuesOnTheWire)
{
	// A failure's message and code go out as they are.
	targets.refreshResult = Failure{QStringLiteral("No refresh token is available."), "NO_REFRESH_TOKEN"};
	EXPECT_EQ(call("accounts.refresh"), errorEnvelope("No refresh token is available.", "NO_REFRESH_TOKEN"));
	targets.refreshResult = Failure{QStringLiteral("Ünknown \"x\""), "SOME_CODE"};
	EXPECT_EQ(call("accounts.refresh"), errorEnvelope("Ünknown \"x\"", "SOME_CODE"));
	// A value is a result whatever its members, an "error" among them.
	targets.refreshResult = QJsonObject{{QStringLiteral("error"), QStringLiteral("text")},
					    {QStringLiteral("errorCode"), QStringLiteral("CODE")}};
	EXPECT_EQ(call("accounts.refresh"), json({{"error", "text"}, {"errorCode", "CODE"}}));
	targets.integrationLoginResult =
		QJsonObject{{QStringLiteral("error"), false}, {QStringLiteral("opened"), true}};
	EXPECT_EQ(call("accounts.beginLogin", {{"platform", "kick"}}), json({{"error", false}, {"opened", true}}));
	// Evaluated once per request.
	EXPECT_EQ(std::count(targets.calls.begin(), targets.calls.end(), "refreshAccount"), 3);
}

TEST_F(HostHandlersTest, SimulateEvent)
{
	EXPECT_EQ(call("simulateEvent",
		       {{"type", "chat"}, {"platform", "kick"}, {"username", "zoe"}, {"chatMessage", "hi"}}),
		  json({{"type", "chat"}}));
	EXPECT_EQ(targets.simulated, (QStringList{"chat", "kick", "zoe", "hi"}));
	call("simulateEvent", {{"type", 1}, {"chatMessage", nullptr}});
	EXPECT_EQ(targets.simulated, (QStringList{"", "", "", ""}));

	targets.simulationResult =
		Failure{QStringLiteral("Unsupported simulated event type: donation"), "INVALID_PARAMS"};
	EXPECT_EQ(call("simulateEvent"), errorEnvelope("Unsupported simulated event type: donation", "INVALID_PARAMS"));
	targets.simulationResult = Failure{QStringLiteral("Bad."), "OTHER"};
	EXPECT_EQ(call("simulateEvent"), errorEnvelope("Bad.", "OTHER"));
	targets.simulationResult = json{{"error", "Bad."}, {"type", "raid"}};
	EXPECT_EQ(call("simulateEvent"), json({{"error", "Bad."}, {"type", "raid"}}));
	// A result that is not an object answers as an empty object.
	targets.simulationResult = json::array({1});
	EXPECT_EQ(call("simulateEvent"), json::object());

	targets.calls.clear();
	targets.proxy = false;
	EXPECT_EQ(call("simulateEvent", {{"type", "chat"}}),
		  errorEnvelope("Event proxy is not available.", "PROXY_UNAVAILABLE"));
	EXPECT_TRUE(targets.calls.empty());
}

TEST_F(HostHandlersTest, IntegrationLogoutTellsThePagesFirst)
{
	for (const json &upid : {json(""), json(" \t "), json(nullptr), json(12)})
		EXPECT_EQ(call("vek.logout", {{"upid", upid}}), errorEnvelope("Missing upid.", "MISSING_UPID"));
	EXPECT_EQ(call("vek.logout"), errorEnvelope("Missing upid.", "MISSING_UPID"));
	EXPECT_TRUE(targets.calls.empty());

	EXPECT_EQ(call("vek.logout", {{"upid", " u-1 "}}), json({{"account", json::object()}}));
	EXPECT_EQ(targets.calls, (std::vector<std::string>{"publishLogout", "logoutIntegration"}));
	EXPECT_EQ(targets.publishedUpid, "u-1");
	EXPECT_EQ(targets.loggedOutUpid, "u-1");

	// Without an event proxy the account is still dropped.
	targets.calls.clear();
	targets.proxy = false;
	EXPECT_EQ(call("vek.logout", {{"upid", "ü"}}), json({{"account", json::object()}}));
	EXPECT_EQ(targets.calls, (std::vector<std::string>{"logoutIntegration"}));
	EXPECT_EQ(targets.loggedOutUpid, QStringLiteral("ü"));
}

TEST_F(HostHandlersTest, AccountLogoutAndRedirects)
{
	EXPECT_EQ(call("accounts.logout"), call("zorva.logout"));
	EXPECT_EQ(call("zorva.logout"), json({{"logoutUrl", "https://account.test/logout"}}));

	targets.redirectHandled = false;
	EXPECT_EQ(call("accounts.handleRedirect"), json({{"handled", false}}));
	EXPECT_TRUE(targets.redirectUrl.isEmpty());
	targets.redirectHandled = true;
	// Tolerant parsing: a space in the query is accepted and encoded.
	EXPECT_EQ(call("accounts.handleRedirect", {{"url", "https://zorva.test/auth/redirect?code=a b&state=s"}}),
		  json({{"handled", true}}));
	EXPECT_TRUE(targets.redirectUrl.isValid());
	EXPECT_EQ(targets.redirectUrl.toString(QUrl::FullyEncoded),
		  "https://zorva.test/auth/redirect?code=a%20b&state=s");
}
