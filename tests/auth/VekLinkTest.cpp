// Linking platform accounts through a fake Vek over HTTPS: the login URL,
// the callback or "vorn" redirect, the code exchange and the identity check.

#include "AuthTestSupport.h"

#include "TlsTcpServer.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

FakeHttpServer::Response reply(const QJsonObject &body, int delayMs = 0, int status = 200)
{
	return {status, QJsonDocument(body).toJson(QJsonDocument::Compact), delayMs, "application/json"};
}

QJsonObject loginUrl(const QString &next, const QString &action = QStringLiteral("OPEN_LINK"))
{
	return {{"errors", QJsonArray()}, {"data", QJsonObject{{"action", action}, {"next", next}}}};
}

class VekLinkTest : public AuthControllerTest {
protected:
	void SetUp() override
	{
		AuthControllerTest::SetUp();
		// The fake Vek over HTTPS with the test CA's certificate.
		tlsVek = std::make_unique<FakeHttpServer>();
		ASSERT_TRUE(tlsVek->listenTls(ThrowawayTls::serverConfiguration()));
		options.endpoints.vekApiBaseUrl = tlsVek->baseUrl() + QStringLiteral("/v2/vek");
	}

	// Routes a full, successful link for the platform with the given login state.
	void routeLogin(const QString &platform, const QString &loginState, int delayMs = 0)
	{
		tlsVek->route("GET", QStringLiteral("/v2/vek/auth/%1/redirect").arg(platform),
			      reply(loginUrl(QStringLiteral("https://login.%1.test/?state=%2")
						     .arg(platform.toLower(), loginState)),
				    delayMs));
	}

	void routeExchange(const QString &token, bool echoState = true)
	{
		tlsVek->route(
			"GET", QStringLiteral("/v2/vek/auth/exchange"),
			[this, token, echoState](const FakeHttpServer::Request &) {
				// The exchange must echo the state sent with the login-URL request.
				QString sent;
				for (const FakeHttpServer::Request &request : tlsVek->requests) {
					if (request.path().endsWith(QStringLiteral("/redirect")))
						sent = request.query().queryItemValue(QStringLiteral("state"));
				}
				return reply(
					{{"errors", QJsonArray()},
					 {"data", QJsonObject{{"token", token},
							      {"state", echoState ? sent : QStringLiteral("other")}}}});
			});
	}

	void routeInspect(const QString &upid, const QString &username)
	{
		tlsVek->route("GET", QStringLiteral("/v2/vek/auth/inspect"),
			      reply({{"errors", QJsonArray()},
				     {"data", QJsonObject{{"UPID", upid}, {"username", username}}}}));
	}

	void link(const QString &platform, const QString &loginState, const QString &token, const QString &upid)
	{
		routeLogin(platform, loginState);
		routeExchange(token);
		routeInspect(upid, QStringLiteral("name-") + upid);
		ASSERT_EQ(valueOf(controller().beginIntegrationLogin(platform)).value("opened").toBool(), true);
		ASSERT_TRUE(callbackGet(QStringLiteral("/callback?state=%1&code=c").arg(loginState))
				    .contains("Login info sent"));
		// Linked when the record with this UPID carries this token.
		ASSERT_TRUE(waitUntil(
			[&] {
				for (const QJsonValue &record : controller().integrationSnapshot()) {
					if (record[QStringLiteral("upid")] == upid &&
					    record[QStringLiteral("token")] == token)
						return true;
				}
				return false;
			},
			5s));
	}

	std::unique_ptr<FakeHttpServer> tlsVek;
};

} // namespace

// Each new login for a platform cancels the one before, whose callback then
// cannot come: cancelled attempts are forgotten, so logins started over and
// over keep only the last.
TEST(IntegrationLogins, CancelledAttemptsAreForgotten)
{
	IntegrationLogins logins;
	for (int i = 0; i < 100; ++i) {
		logins.cancelPlatform(QStringLiteral("KICK"));
		logins.list(logins.start(QStringLiteral("KICK"), QStringLiteral("request")),
			    QStringLiteral("LS-%1").arg(i));
	}
	EXPECT_EQ(logins.attemptCount(), 1u);
	EXPECT_EQ(logins.listed(QStringLiteral("LS-98")), nullptr);
	ASSERT_NE(logins.listed(QStringLiteral("LS-99")), nullptr);

	// The listener's time-out cancels them all, one still awaiting its login URL too.
	const quint64 awaitingUrl = logins.start(QStringLiteral("TWITCH"), QStringLiteral("request"));
	logins.cancelAll();
	EXPECT_EQ(logins.attemptCount(), 0u);
	EXPECT_FALSE(logins.isLive(awaitingUrl));
	EXPECT_FALSE(logins.hasPendingWork());
}

TEST_F(VekLinkTest, LoginUrlFailures)
{
	const auto begin = [this](const QString &platform) {
		return failureText(controller().beginIntegrationLogin(platform));
	};
	EXPECT_EQ(begin(QStringLiteral("  ")), "MISSING_PLATFORM: Missing platform.");

	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/KICK/redirect"),
		      reply({{"errors", QJsonArray{"Platform down"}}}));
	EXPECT_EQ(begin(QStringLiteral("kick")), "VEK_LOGIN_URL_FAILED: Platform down");
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek returned KICK login error: Platform down"), 1u);
	EXPECT_EQ(tlsVek->requests.last().headers.value("client-id"), "Xq7Tn2LpW9cRv4HbZk1Md8Fs");

	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/KICK/redirect"), reply({{"errors", QJsonArray{42}}}));
	EXPECT_EQ(begin(QStringLiteral("KICK")), "VEK_LOGIN_URL_FAILED: Vek login failed.");

	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/KICK/redirect"),
		      reply(loginUrl(QStringLiteral("https://x.test/?state=s"), QStringLiteral("POPUP"))));
	EXPECT_EQ(begin(QStringLiteral("KICK")), "UNSUPPORTED_ACTION: Vek returned an unsupported login action.");

	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/KICK/redirect"),
		      reply(loginUrl(QStringLiteral("https://x.test/?other=1"))));
	EXPECT_EQ(begin(QStringLiteral("KICK")), "INVALID_LOGIN_URL: Vek returned an invalid login URL.");

	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/KICK/redirect"), reply({{"error", "boom"}}, 0, 500));
	const std::string http = begin(QStringLiteral("KICK"));
	EXPECT_EQ(http.rfind("VEK_LOGIN_URL_FAILED: ", 0), 0u) << http;
	EXPECT_TRUE(QString::fromStdString(http).endsWith(QStringLiteral(": {\"error\":\"boom\"}"))) << http;
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Failed to fetch KICK login URL: "), 1u);

	options.requestTimeout = 200ms;
	instance.reset();
	routeLogin(QStringLiteral("KICK"), QStringLiteral("LS"), 3000);
	EXPECT_EQ(begin(QStringLiteral("KICK")), "VEK_LOGIN_URL_TIMEOUT: Timed out preparing the integration login.");
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Timed out fetching KICK login URL from Vek."), 1u);

	// Every failure left nothing pending: the listener is closed, nothing was opened.
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
	EXPECT_TRUE(browser->openedUrls().isEmpty());
	EXPECT_EQ(statusChanges, 0);
}

TEST_F(VekLinkTest, BrowserThatDoesNotOpen)
{
	browser = std::make_unique<UrlCapture>(true);
	routeLogin(QStringLiteral("TWITCH"), QStringLiteral("LS"));
	EXPECT_EQ(failureText(controller().beginIntegrationLogin(QStringLiteral("twitch"))),
		  "BROWSER_OPEN_FAILED: Unable to open system browser.");
	EXPECT_FALSE(controller().integrationsStatus().contains("pending:TWITCH"));
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
}

TEST_F(VekLinkTest, VornRedirectKeepsLoggingInAndBadRepliesEndTheLogin)
{
	routeLogin(QStringLiteral("YOUTUBE"), QStringLiteral("LS-Y"));
	routeExchange(QStringLiteral("tok"), false);
	ASSERT_EQ(valueOf(controller().beginIntegrationLogin(QStringLiteral("youtube"))).value("opened").toBool(),
		  true);
	EXPECT_EQ(statusChanges, 1);
	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/exchange"),
		      FakeHttpServer::Response{200, "{}", 400, "application/json"}); // slow, to look at the status
	EXPECT_TRUE(controller().handleRedirect(QUrl(QStringLiteral("vorn://auth?state=LS-Y&code=c"))));
	EXPECT_EQ(redirectsConsumed, 1);
	EXPECT_EQ(statusChanges, 1); // nothing announced on this path
	EXPECT_EQ(controller().integrationsStatus().value("pending:YOUTUBE").toObject().value("state").toString(),
		  QStringLiteral("logging_in"));
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 2; }, 5s));
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek token exchange failed: invalid response."), 1u);
	EXPECT_TRUE(controller().integrationSnapshot().isEmpty());
	EXPECT_FALSE(controller().integrationsStatus().contains("pending:YOUTUBE"));

	// An exchange echoing another state fails the same way.
	routeExchange(QStringLiteral("tok"), false);
	ASSERT_EQ(valueOf(controller().beginIntegrationLogin(QStringLiteral("youtube"))).value("opened").toBool(),
		  true);
	EXPECT_TRUE(controller().handleRedirect(QUrl(QStringLiteral("vorn://auth?state=LS-Y&code=c"))));
	ASSERT_TRUE(waitUntil(
		[&] { return LogCapture::instance().count("Vek token exchange failed: invalid response.") == 2; }, 5s));

	// An identity without UPID.
	routeExchange(QStringLiteral("tok"));
	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/inspect"),
		      reply({{"data", QJsonObject{{"username", "zoe"}}}}));
	ASSERT_EQ(valueOf(controller().beginIntegrationLogin(QStringLiteral("youtube"))).value("opened").toBool(),
		  true);
	EXPECT_TRUE(controller().handleRedirect(QUrl(QStringLiteral("vorn://auth#state=LS-Y&code=c"))));
	ASSERT_TRUE(waitUntil(
		[] {
			return LogCapture::instance().count(
				       "[vorn-zorva] Vek inspect failed: invalid identity response.") == 1;
		},
		5s));
	EXPECT_TRUE(controller().integrationSnapshot().isEmpty());
	EXPECT_EQ(LogCapture::instance().count(
			  "[vorn-zorva] Vek token exchange completed for YOUTUBE; inspecting identity."),
		  1u);
}

// The code of a platform login delivered twice, to the listener and as a
// redirect: Vek takes it once and refuses the repeat at once, which must not
// end the login before the first exchange's answer links the account.
TEST_F(VekLinkTest, ACodeDeliveredTwiceIsExchangedOnce)
{
	routeLogin(QStringLiteral("TWITCH"), QStringLiteral("LS-T"));
	routeInspect(QStringLiteral("u-t"), QStringLiteral("tess"));
	ASSERT_EQ(valueOf(controller().beginIntegrationLogin(QStringLiteral("twitch"))).value("opened").toBool(), true);
	const QString requestState = tlsVek->requests.last().query().queryItemValue(QStringLiteral("state"));
	QList<FakeHttpServer::Request> exchanges;
	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/exchange"), [&](const FakeHttpServer::Request &request) {
		exchanges.append(request);
		return exchanges.size() == 1
			       ? reply({{"data", QJsonObject{{"token", "tok-t"}, {"state", requestState}}}}, 1000)
			       : reply({{"errors", QJsonArray{"invalid_grant"}}});
	});
	EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=LS-T&code=c")).contains("Login info sent"));
	EXPECT_TRUE(controller().handleRedirect(QUrl(QStringLiteral("vorn://auth?state=LS-T&code=c"))));
	EXPECT_EQ(redirectsConsumed, 1);

	ASSERT_TRUE(waitUntil([&] { return !controller().integrationsStatus().contains("pending:TWITCH"); }, 5s));
	EXPECT_EQ(controller().integrationSnapshot(), QJsonArray({QJsonObject{{"platform", "TWITCH"},
									      {"token", "tok-t"},
									      {"upid", "u-t"},
									      {"username", "tess"}}}));
	EXPECT_EQ(exchanges.size(), 1);
	EXPECT_EQ(LogCapture::instance().count("Vek token exchange failed"), 0u);
}

TEST_F(VekLinkTest, ListenerTimeOutCountsVekLogins)
{
	options.callbackTimeout = 300ms;
	routeLogin(QStringLiteral("KICK"), QStringLiteral("LS-K"));
	ASSERT_EQ(valueOf(controller().beginIntegrationLogin(QStringLiteral("kick"))).value("opened").toBool(), true);
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 2; }, 3s));
	EXPECT_EQ(LogCapture::instance().count(
			  "[vorn-zorva] Auth callback listener timed out before completion (account=0, vek=1)."),
		  1u);
	EXPECT_FALSE(controller().integrationsStatus().contains("pending:KICK"));
}

// An attempt that a second login for the platform or the listener's time-out
// ended while Vek's login URL was awaited opens nothing and fails.
TEST_F(VekLinkTest, AttemptEndedWhileItsLoginUrlIsAwaitedOpensNothing)
{
	const std::string cancelled = "VEK_LOGIN_CANCELLED: The integration login was cancelled.";
	// Vek holds the first login URL until a second login has opened its own.
	int calls = 0;
	QJsonObject second;
	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/KICK/redirect"), [&](const FakeHttpServer::Request &) {
		FakeHttpServer::Response answer =
			reply(loginUrl(QStringLiteral("https://kick.test/?state=LS-%1").arg(++calls)));
		answer.held = calls == 1;
		if (answer.held) {
			QTimer::singleShot(0, [&] {
				second = valueOf(controller().beginIntegrationLogin(QStringLiteral("KICK")));
				tlsVek->releaseHeld();
			});
		}
		return answer;
	});
	EXPECT_EQ(failureText(controller().beginIntegrationLogin(QStringLiteral("KICK"))), cancelled);
	EXPECT_EQ(second.value("opened").toBool(), true);
	EXPECT_EQ(browser->openedUrls().size(), 1);
	EXPECT_EQ(QUrlQuery(browser->openedUrls().value(0)).queryItemValue("state"), QStringLiteral("LS-2"));
	// The first one's callback is refused; the second one's links.
	routeExchange(QStringLiteral("second-token"));
	routeInspect(QStringLiteral("kick-2"), QStringLiteral("two"));
	EXPECT_TRUE(responseBody(callbackGet(QStringLiteral("/callback?state=LS-1&code=c")))
			    .contains("Login callback could not be accepted."));
	callbackGet(QStringLiteral("/callback?state=LS-2&code=c"));
	ASSERT_TRUE(waitUntil([&] { return controller().integrationsStatus().contains("kick-2"); }, 5s));

	// The time-out an account login started runs out while Vek holds a login URL.
	instance.reset();
	options.callbackTimeout = 300ms;
	bool timedOut = false;
	tlsVek->route("GET", QStringLiteral("/v2/vek/auth/TWITCH/redirect"), [&](const FakeHttpServer::Request &) {
		FakeHttpServer::Response answer = reply(loginUrl(QStringLiteral("https://twitch.test/?state=LS-T")));
		answer.held = !timedOut;
		return answer;
	});
	ASSERT_EQ(controller().beginAccountLogin().value("opened").toBool(), true);
	QObject guard;
	QObject::connect(instance.get(), &AuthController::statusChanged, &guard, [&] {
		timedOut = true;
		tlsVek->releaseHeld();
	});
	EXPECT_EQ(failureText(controller().beginIntegrationLogin(QStringLiteral("twitch"))), cancelled);
	EXPECT_TRUE(timedOut);
	EXPECT_EQ(browser->openedUrls().size(), 2);
	EXPECT_EQ(browser->openedUrls().value(1).host(), QStringLiteral("login.vorn.test"));
	EXPECT_FALSE(controller().integrationsStatus().contains("pending:TWITCH"));
}

// The platform reaches Vek as one segment of the login-URL request's path,
// whatever it holds; a name of dots only cannot be one and is not sent.
TEST_F(VekLinkTest, PlatformIsOneSegmentOfTheRequestPath)
{
	const std::pair<QString, QString> segments[] = {{"a/../b?x#y", "A%2F..%2FB%3FX%23Y"},
							{" %2f ü ", "%252F%20%C3%9C"}};
	for (const auto &[platform, segment] : segments) {
		controller().beginIntegrationLogin(platform);
		const QString target = QString::fromLatin1(tlsVek->requests.last().target);
		EXPECT_TRUE(QRegularExpression(QStringLiteral("^/v2/vek/auth/%1/redirect\\?state=[0-9a-f]{32}$")
						       .arg(QRegularExpression::escape(segment)))
				    .match(target)
				    .hasMatch())
			<< target.toStdString();
	}
	for (const QString platform : {"..", " . "}) {
		EXPECT_EQ(failureText(controller().beginIntegrationLogin(platform)),
			  "INVALID_PLATFORM: Invalid platform.");
	}
	EXPECT_EQ(tlsVek->requests.size(), 2);
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");

	// Refused before the callback listener opens: a port taken does not hide it.
	QTcpServer squatter;
	ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 49231));
	EXPECT_EQ(failureText(controller().beginIntegrationLogin(QStringLiteral(".."))),
		  "INVALID_PLATFORM: Invalid platform.");
}

TEST_F(VekLinkTest, RecordsAreReplacedByTokenAndByUpid)
{
	link(QStringLiteral("TWITCH"), QStringLiteral("A"), QStringLiteral("token-1"), QStringLiteral("u-old"));
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek auth completed for TWITCH as name-u-old (u-old)."),
		  1u);
	// Same token, new UPID: the old record goes.
	link(QStringLiteral("TWITCH"), QStringLiteral("B"), QStringLiteral("token-1"), QStringLiteral("u-new"));
	EXPECT_FALSE(controller().integrationsStatus().contains("u-old"));
	// Same UPID, new token: overwritten.
	link(QStringLiteral("TWITCH"), QStringLiteral("C"), QStringLiteral("token-2"), QStringLiteral("u-new"));
	EXPECT_EQ(controller().integrationSnapshot(), QJsonArray({QJsonObject{{"platform", "TWITCH"},
									      {"token", "token-2"},
									      {"upid", "u-new"},
									      {"username", "name-u-new"}}}));
	EXPECT_EQ(readStateFile().value("integrations").toArray().size(), 1);
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
}

// Which account a login links is known only once its identity comes. Logging
// an account out ends no other account's login for the platform; a login
// that turns out to be the account logged out does not link it again. Vek's
// rejection of a token ends no login: a login brings a new token.
TEST_F(VekLinkTest, UnlinkingAnAccountEndsOnlyItsOwnLogin)
{
	const auto startLogin = [this](const QString &loginState, const QString &token, const QString &upid) {
		routeLogin(QStringLiteral("TWITCH"), loginState);
		routeExchange(token);
		routeInspect(upid, QStringLiteral("name-") + upid);
		ASSERT_EQ(
			valueOf(controller().beginIntegrationLogin(QStringLiteral("twitch"))).value("opened").toBool(),
			true);
	};
	const auto finishLogin = [this](const QString &loginState) {
		EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=%1&code=c").arg(loginState))
				    .contains("Login info sent"));
		ASSERT_TRUE(
			waitUntil([&] { return !controller().integrationsStatus().contains("pending:TWITCH"); }, 5s));
	};
	const auto linkedUpids = [this] {
		QStringList upids;
		for (const QJsonValue &record : readStateFile().value("integrations").toArray())
			upids << record[QStringLiteral("upid")].toString() + QLatin1Char('=') +
					 record[QStringLiteral("token")].toString();
		return upids;
	};
	writeStateFile(
		{{"integrations",
		  QJsonArray{
			  QJsonObject{{"platform", "TWITCH"}, {"token", "t-a"}, {"upid", "a"}, {"username", "ann"}}}}});

	// Account a logged out while b logs in: b's login goes on.
	startLogin(QStringLiteral("LS-1"), QStringLiteral("t-b"), QStringLiteral("b"));
	controller().logoutIntegration(QStringLiteral("a"));
	finishLogin(QStringLiteral("LS-1"));
	EXPECT_EQ(linkedUpids(), QStringList({"b=t-b"}));

	// A login that turns out to be the account logged out meanwhile.
	startLogin(QStringLiteral("LS-2"), QStringLiteral("t-b2"), QStringLiteral("b"));
	controller().logoutIntegration(QStringLiteral("b"));
	finishLogin(QStringLiteral("LS-2"));
	EXPECT_EQ(linkedUpids(), QStringList());
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek auth for TWITCH as name-b (b) dropped: the account "
					       "was logged out during the login."),
		  1u);

	// Vek rejects c's token while c logs in again: the new token is linked.
	startLogin(QStringLiteral("LS-3"), QStringLiteral("t-c"), QStringLiteral("c"));
	finishLogin(QStringLiteral("LS-3"));
	startLogin(QStringLiteral("LS-4"), QStringLiteral("t-c2"), QStringLiteral("c"));
	EXPECT_TRUE(controller().removeIntegration(QStringLiteral("c"), QStringLiteral("t-c")));
	finishLogin(QStringLiteral("LS-4"));
	EXPECT_EQ(linkedUpids(), QStringList({"c=t-c2"}));
}

TEST_F(VekLinkTest, LogoutAndRemoval)
{
	writeStateFile(
		{{"integrations",
		  QJsonArray{
			  QJsonObject{{"platform", "KICK"}, {"token", "t1"}, {"upid", "k1"}, {"username", "a"}},
			  QJsonObject{{"platform", "TWITCH"}, {"token", "t2"}, {"upid", "t1"}, {"username", "b"}}}}});
	const QJsonObject snapshot = controller().logoutIntegration(QStringLiteral(" k1 "));
	EXPECT_EQ(statusChanges, 1);
	EXPECT_EQ(snapshot.value("integrations").toObject().keys(), QStringList{QStringLiteral("t1")});
	controller().logoutIntegration(QString()); // nothing to remove: still saved and announced
	EXPECT_EQ(statusChanges, 2);
	EXPECT_EQ(readStateFile().value("integrations").toArray().size(), 1);

	// Vek's rejection of a token removes the account only while it holds that
	// token: one linked anew since, with another token, stays linked and saved.
	EXPECT_FALSE(controller().removeIntegration(QStringLiteral("unknown"), QStringLiteral("t2")));
	EXPECT_FALSE(controller().removeIntegration(QStringLiteral(" "), QString()));
	EXPECT_FALSE(controller().removeIntegration(QStringLiteral("t1"), QStringLiteral("t1-old")));
	EXPECT_EQ(statusChanges, 2);
	EXPECT_EQ(
		readStateFile().value("integrations").toArray(),
		QJsonArray({QJsonObject{{"platform", "TWITCH"}, {"token", "t2"}, {"upid", "t1"}, {"username", "b"}}}));
	EXPECT_EQ(controller().integrationSnapshot().size(), 1);
	EXPECT_TRUE(controller().removeIntegration(QStringLiteral("t1"), QStringLiteral("t2")));
	EXPECT_EQ(statusChanges, 3);
	EXPECT_TRUE(readStateFile().value("integrations").toArray().isEmpty());
}
