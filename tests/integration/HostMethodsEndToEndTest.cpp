// The host methods end to end: the module loaded as OBS loads it, requests
// from obs-websocket's threads, a fake account service over HTTP and a fake
// Vek over TLS on loopback, and a page connected to the event proxy.

#include "ModuleHost.h"

#include "FakeHttpServer.h"
#include "IdTokens.h"
#include "LoginCallbackClient.h"
#include "TestWebSocketClient.h"
#include "TlsTcpServer.h"
#include "host/ObsWebSocketNames.h"

#include <algorithm>
#include <future>
#include <set>

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

using namespace std::chrono_literals;
using nlohmann::json;
using VendorResponse = ObsWebSocketStandin::VendorResponse;

namespace {

FakeHttpServer::Response reply(const QJsonObject &body, int delayMs = 0)
{
	return {200, QJsonDocument(body).toJson(QJsonDocument::Compact), delayMs, "application/json"};
}

QJsonObject tokenResponse(const QString &accessToken)
{
	return {{"token_type", "Bearer"},
		{"access_token", accessToken},
		{"refresh_token", QStringLiteral("refresh-") + accessToken},
		{"id_token", makeIdToken({{"sub", "user-1"}, {"email", "ann@vorn.test"}, {"name", "Ann Example"}})},
		{"expires_in", 3600}};
}

json vendorError(const char *message, const char *code)
{
	return {{"__vendorError", true}, {"error", message}, {"errorCode", code}};
}

std::future<VendorResponse> startRequest(const json &request)
{
	return ObsWebSocketStandin::instance().callVendorRequest(ObsWebSocketNames::vendorName,
								 ObsWebSocketNames::requestType, request.dump());
}

bool isReady(const std::future<VendorResponse> &future)
{
	return future.wait_for(0s) == std::future_status::ready;
}

class HostMethodsEndToEnd : public ModuleHostTest {
protected:
	void SetUp() override
	{
		ModuleHostTest::SetUp();
		ThrowawayTls::trustAuthority();
		ASSERT_TRUE(account.listen(ZORVA_E2E_ACCOUNT_PORT));
		ASSERT_TRUE(vek.listenTls(ThrowawayTls::serverConfiguration(), ZORVA_E2E_VEK_PORT));
	}

	// Loads the end-to-end module and connects an authenticated page to the
	// event proxy.
	void start()
	{
		Setup setup;
		setup.moduleFile = QStringLiteral(ZORVA_E2E_MODULE_FILE);
		load(setup);
		postLoad();
		ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
		const json status = json::parse(statusEvents().back().dataJson)["params"];
		const std::string token = status.at("hostBootstrap").at("sessionToken");
		ASSERT_TRUE(page.open(44423, QStringLiteral("/?token=%1").arg(QString::fromStdString(token))));
		ASSERT_TRUE(page.waitForUpgrade());
	}

	json request(const std::string &method, const json &params = json::object())
	{
		return vendorRequest({{"id", method}, {"method", method}, {"params", params}});
	}

	// Vek's answers for linking the platform: its login page carries the
	// state the callback will bring back.
	void routeVekLink(const QString &platform, const QString &loginState, const QString &upid)
	{
		vek.route("GET", QStringLiteral("/v2/vek/auth/%1/redirect").arg(platform),
			  reply({{"errors", QJsonArray()},
				 {"data", QJsonObject{{"action", "OPEN_LINK"},
						      {"next", QStringLiteral("https://login.%1.test/?state=%2")
								       .arg(platform.toLower(), loginState)}}}}));
		vek.route("GET", QStringLiteral("/v2/vek/auth/exchange"), [this](const FakeHttpServer::Request &) {
			QString sent;
			for (const FakeHttpServer::Request &request : vek.requests) {
				if (request.path().endsWith(QStringLiteral("/redirect")))
					sent = request.query().queryItemValue(QStringLiteral("state"));
			}
			return reply({{"errors", QJsonArray()},
				      {"data", QJsonObject{{"token", "vek-token"}, {"state", sent}}}});
		});
		vek.route(
			"GET", QStringLiteral("/v2/vek/auth/inspect"),
			reply({{"errors", QJsonArray()}, {"data", QJsonObject{{"UPID", upid}, {"username", "ann"}}}}));
	}

	json lastStatus() const { return json::parse(statusEvents().back().dataJson)["params"]; }

	FakeHttpServer account;
	FakeHttpServer vek;
	TestWebSocketClient page;
};

} // namespace

TEST_F(HostMethodsEndToEnd, AccountLoginAndPlatformLinkStartedByThePage)
{
	start();
	account.route("POST", QStringLiteral("/oauth2/token"), reply(tokenResponse(QStringLiteral("access-1"))));
	routeVekLink(QStringLiteral("TWITCH"), QStringLiteral("s-twitch"), QStringLiteral("u-1"));

	// A platform of blanks only starts the account login.
	const json login = request("accounts.beginLogin", {{"platform", " \t "}});
	EXPECT_EQ(login.at("opened"), true);
	EXPECT_EQ(login.at("callbackUrl"), "http://localhost:49231/callback");
	ASSERT_EQ(browser->openedUrls().size(), 1);
	EXPECT_EQ(browser->openedUrls()[0].toString().toStdString(), login.at("url").get<std::string>());
	const QString accountState = QUrlQuery(browser->openedUrls()[0]).queryItemValue(QStringLiteral("state"));

	// A blank-padded platform links that platform.
	const json link = request("accounts.beginLogin", {{"platform", "  twitch  "}});
	EXPECT_EQ(link.at("opened"), true);
	ASSERT_EQ(vek.requests.size(), 1);
	EXPECT_EQ(vek.requests[0].path(), "/v2/vek/auth/TWITCH/redirect");
	ASSERT_EQ(browser->openedUrls().size(), 2);
	EXPECT_EQ(browser->openedUrls()[1].host(), "login.twitch.test");
	EXPECT_TRUE(lastStatus()["integrations"].contains("pending:TWITCH"));

	// The browser comes back with both; the module finishes both.
	EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=s-twitch&code=c1")).contains("200 OK"));
	EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=%1&code=c2").arg(accountState)).contains("200 OK"));
	ASSERT_TRUE(waitUntil(
		[&] {
			const json status = lastStatus();
			return status.at("account").at("authenticated") == true &&
			       status.at("integrations").contains("u-1");
		},
		10s));
	const json listed = request("accounts.list");
	ASSERT_EQ(listed.at("accounts").size(), 1u);
	EXPECT_EQ(listed.at("accounts").at(0).at("id"), "u-1");

	// Required platforms; a linked one is not listed as required. Arrays of
	// strings do not survive obs-websocket's request data (its conversion to
	// settings data keeps only the objects in arrays), so over this bridge
	// "platforms" arrives empty.
	EXPECT_TRUE(request("accounts.require", {{"platform", "twitch"}})["requiredAccounts"].empty());
	const json required = request("accounts.require", {{"platform", " kick "}, {"platforms", {"youtube"}}});
	std::set<std::string> requiredIds;
	for (const json &entry : required.at("requiredAccounts"))
		requiredIds.insert(entry.at("id").get<std::string>());
	EXPECT_EQ(requiredIds, (std::set<std::string>{"KICK"}));

	// "vek.beginLogin" passes the name on as it came; the controller
	// normalises it to the same platform.
	EXPECT_EQ(request("vek.beginLogin", {{"platform", "  twitch  "}})["opened"], true);
	EXPECT_EQ(vek.requests.back().path(), "/v2/vek/auth/TWITCH/redirect");

	// Both logout names answer alike and leave the linked platform alone.
	const json logout = request("accounts.logout");
	EXPECT_EQ(logout, request("zorva.logout"));
	EXPECT_TRUE(logout.contains("logoutUrl"));
	EXPECT_EQ(browser->openedUrls().size(), 3u); // the logout URL is not opened
	EXPECT_EQ(request("zorva.status")["account"]["authenticated"], false);
	EXPECT_TRUE(request("zorva.status")["integrations"].contains("u-1"));
}

TEST_F(HostMethodsEndToEnd, PlatformLogoutReachesThePagesBeforeTheAnswer)
{
	seedAuth(QStringLiteral(ZORVA_E2E_MODULE_FILE), {}, {{"TWITCH", "vek-token", "u-1", "ann"}});
	start();
	page.sendText(R"({"payload":{"type":"X_INIT"}})");
	ASSERT_TRUE(page.waitForMessages(2)); // history and features
	const size_t before = page.texts().size();

	// A blank UPID publishes nothing.
	EXPECT_EQ(request("vek.logout", {{"upid", "   "}}), vendorError("Missing upid.", "MISSING_UPID"));
	pumpEvents(200ms);
	EXPECT_EQ(page.texts().size(), before);

	const json status = request("vek.logout", {{"upid", " u-1 "}});
	// Whatever the kernel holds for the page is taken in without running the
	// event loop: the notice was on its way before the answer was made.
	page.readArrived();
	ASSERT_EQ(page.texts().size(), before + 1);
	EXPECT_EQ(json::parse(page.texts().back()), json({{"event_type", "X_LOGOUT"}, {"upid", "u-1"}}));
	EXPECT_TRUE(status.at("integrations").empty());
	EXPECT_EQ(status.at("account").at("authenticated"), false);
}

TEST_F(HostMethodsEndToEnd, RefreshWaitsWhileOtherRequestsAreServed)
{
	std::future<VendorResponse> during;
	int tokenRequests = 0;
	account.route("POST", QStringLiteral("/oauth2/token"), [&](const FakeHttpServer::Request &) {
		// The first is the start-up refresh; the second is the page's, and
		// while it is outstanding the page asks for something else.
		if (++tokenRequests == 1)
			return reply(tokenResponse(QStringLiteral("access-1")));
		during = startRequest({{"id", "list"}, {"method", "accounts.list"}});
		return reply(tokenResponse(QStringLiteral("access-2")), 1500);
	});
	seedAuth(QStringLiteral(ZORVA_E2E_MODULE_FILE), {{}, {}, "refresh-0", {}});
	start();
	ASSERT_TRUE(
		waitUntil([&] { return tokenRequests == 1 && lastStatus()["account"]["authenticated"] == true; }, 5s));

	std::future<VendorResponse> refresh = startRequest({{"id", "refresh"}, {"method", "accounts.refresh"}});
	ASSERT_TRUE(waitUntil([&] { return isReady(refresh); }, 10s));
	const VendorResponse refreshed = refresh.get();
	ASSERT_TRUE(during.valid());
	ASSERT_TRUE(isReady(during));
	const VendorResponse listed = during.get();

	// The second request was answered inside the refresh's wait.
	EXPECT_LT(listed.completedAt, refreshed.completedAt);
	EXPECT_GE(refreshed.completedAt - listed.completedAt, 1000ms);
	EXPECT_TRUE(json::parse(listed.responseJson).contains("accounts"));
	const json result = json::parse(refreshed.responseJson);
	EXPECT_EQ(result.at("authenticated"), true);
	EXPECT_EQ(result.at("email"), "ann@vorn.test");
	ASSERT_EQ(account.requests.size(), 2);
	EXPECT_EQ(account.requests[1].formValue(QStringLiteral("grant_type")), "refresh_token");
	EXPECT_EQ(account.requests[1].formValue(QStringLiteral("refresh_token")), "refresh-access-1");
}

TEST_F(HostMethodsEndToEnd, ManyConcurrentRequestsAreEachAnsweredToTheirCaller)
{
	start();
	constexpr int callers = 8;
	constexpr int perCaller = 25;
	std::vector<std::future<std::vector<json>>> results;
	for (int c = 0; c < callers; ++c) {
		results.push_back(std::async(std::launch::async, [c] {
			std::vector<std::future<VendorResponse>> pending;
			for (int i = 0; i < perCaller; ++i) {
				const std::string message = "m-" + std::to_string(c) + "-" + std::to_string(i);
				pending.push_back(
					i % 5 == 4
						? startRequest({{"id", message}, {"method", "zorva.getHostBootstrap"}})
						: startRequest(
							  {{"id", message},
							   {"method", "simulateEvent"},
							   {"params", {{"type", "chat"}, {"chatMessage", message}}}}));
			}
			std::vector<json> answers;
			for (auto &future : pending)
				answers.push_back(json::parse(future.get().responseJson));
			return answers;
		}));
	}
	ASSERT_TRUE(waitUntil(
		[&] {
			return std::all_of(results.begin(), results.end(),
					   [](auto &r) { return r.wait_for(0s) == std::future_status::ready; });
		},
		30s));

	size_t chats = 0;
	for (int c = 0; c < callers; ++c) {
		const std::vector<json> answers = results[size_t(c)].get();
		for (int i = 0; i < perCaller; ++i) {
			const json &answer = answers[size_t(i)];
			if (i % 5 == 4) {
				EXPECT_TRUE(answer.contains("sessionToken")) << answer;
				continue;
			}
			EXPECT_EQ(answer["chatMessage"], "m-" + std::to_string(c) + "-" + std::to_string(i));
			++chats;
		}
	}
	// Every simulated event reached the page, once.
	ASSERT_TRUE(page.waitForMessages(chats, 10s));
	pumpEvents(100ms);
	std::set<std::string> seen;
	for (const std::string &text : page.texts())
		seen.insert(json::parse(text)["raw"].get<std::string>());
	EXPECT_EQ(page.texts().size(), chats);
	EXPECT_EQ(seen.size(), chats);
}
