// The Vorn account: PKCE login through the browser and the loopback callback,
// token exchange, refresh and logout, against a fake account service.

#include "AuthTestSupport.h"

#include "auth/Pkce.h"

#include <sys/stat.h>

#include <algorithm>

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

QString base64UrlSha256(const QString &text)
{
	return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256)
					   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

FakeHttpServer::Response jsonResponse(const QJsonObject &body, int status = 200, int delayMs = 0)
{
	return {status, QJsonDocument(body).toJson(QJsonDocument::Compact), delayMs, "application/json"};
}

} // namespace

TEST(Pkce, Rfc7636AppendixB)
{
	EXPECT_EQ(makeCodeChallenge(QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
		  QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
}

TEST(Pkce, LengthsAndAlphabets)
{
	const QRegularExpression urlSafe(QStringLiteral("^[A-Za-z0-9_-]+$"));
	for (int i = 0; i < 20; ++i) {
		const QString verifier = makeCodeVerifier();
		EXPECT_EQ(verifier.size(), 67);
		EXPECT_TRUE(urlSafe.match(verifier).hasMatch()) << verifier.toStdString();
		EXPECT_EQ(makeCodeChallenge(verifier).size(), 43);
		EXPECT_TRUE(QRegularExpression(QStringLiteral("^vorn\\.[0-9a-f]{32}$"))
				    .match(makeState(QStringLiteral("vorn.")))
				    .hasMatch());
		EXPECT_TRUE(
			QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(makeState(QString())).hasMatch());
	}
	EXPECT_NE(makeCodeVerifier(), makeCodeVerifier());
}

TEST_F(AuthControllerTest, FullLoginThroughTheCallbackListener)
{
	// Other tests log the same lines: only this one's count.
	const size_t started = LogCapture::instance().count("[vorn-zorva] Started Vorn account login.");
	const size_t authenticated =
		LogCapture::instance().count("[vorn-zorva] Authenticated Vorn account for ann@vorn.test");
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(tokenResponse(QStringLiteral("AT-1"))));
	const QUrlQuery authorize = beginLogin();
	const QUrl opened = browser->openedUrls().last();
	EXPECT_EQ(opened.toString(QUrl::RemoveQuery), QStringLiteral("https://login.vorn.test/"));
	QStringList keys;
	for (const auto &[key, value] : authorize.queryItems())
		keys << key;
	EXPECT_EQ(keys, QStringList({"redirect", "response_type", "force_verify", "client_id", "redirect_uri", "scope",
				     "state", "code_challenge", "code_challenge_method", "start_page"}));
	EXPECT_EQ(authorize.queryItemValue("client_id"), QStringLiteral("5b9e2c7a1d4f8e3b6a0c9d2e7f1a4b8c"));
	EXPECT_EQ(authorize.queryItemValue("redirect_uri", QUrl::FullyDecoded), options.endpoints.accountRedirectUrl);
	EXPECT_EQ(authorize.queryItemValue("scope", QUrl::FullyDecoded),
		  QStringLiteral("openid profile email offline"));
	EXPECT_EQ(controller().callbackUrl(), QStringLiteral("http://localhost:49231/callback"));
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Started Vorn account login."), started + 1);
	EXPECT_EQ(statusChanges, 0); // starting a login announces nothing

	const QString state = authorize.queryItemValue("state");
	const QByteArray page = callbackGet(QStringLiteral("/callback?state=%1&code=the%20code").arg(state));
	EXPECT_TRUE(page.startsWith("HTTP/1.1 200 OK\r\n"));
	EXPECT_TRUE(page.contains("<h1>Login info sent to the Vorn Studio's Zorva plugin.</h1>"));
	EXPECT_EQ(redirectsConsumed, 1);
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 1; }, 5s));

	ASSERT_EQ(account.requests.size(), 1);
	const FakeHttpServer::Request &exchange = account.requests[0];
	EXPECT_EQ(exchange.headers.value("content-type"), "application/x-www-form-urlencoded; charset=UTF-8");
	QStringList formKeys;
	for (const auto &[key, value] : exchange.formItems())
		formKeys << key;
	EXPECT_EQ(formKeys, QStringList({"client_id", "grant_type", "redirect_uri", "code", "code_verifier"}));
	EXPECT_EQ(exchange.formValue("grant_type"), QStringLiteral("authorization_code"));
	EXPECT_EQ(exchange.formValue("code"), QStringLiteral("the code"));
	// PKCE: the verifier sent now hashes to the challenge sent before.
	EXPECT_EQ(base64UrlSha256(exchange.formValue("code_verifier")), authorize.queryItemValue("code_challenge"));

	const QJsonObject status = controller().accountStatus();
	EXPECT_EQ(status.value("authenticated").toBool(), true);
	EXPECT_EQ(status.value("email").toString(), QStringLiteral("ann@vorn.test"));
	EXPECT_EQ(status.value("displayName").toString(), QStringLiteral("Ann Example"));
	EXPECT_EQ(status.value("subject").toString(), QStringLiteral("user-1"));
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-1"));
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Authenticated Vorn account for ann@vorn.test"),
		  authenticated + 1);

	// Persisted, owner-only; the listener closed once nothing was pending.
	EXPECT_EQ(readStateFile().value("account").toObject().value("accessToken").toString(), QStringLiteral("AT-1"));
	struct stat info;
	ASSERT_EQ(::stat(QFile::encodeName(options.stateFilePath).constData(), &info), 0);
	EXPECT_EQ(info.st_mode & 0777, 0600u);
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
}

TEST_F(AuthControllerTest, SecondBeginDiscardsTheFirstExchange)
{
	account.route("POST", QStringLiteral("/oauth2/token"), [this](const FakeHttpServer::Request &request) {
		const bool first = request.formValue("code") == QStringLiteral("first");
		return jsonResponse(tokenResponse(first ? QStringLiteral("AT-first") : QStringLiteral("AT-second")),
				    200, first ? 400 : 0);
	});
	const QString firstState = beginLogin().queryItemValue("state");
	callbackGet(QStringLiteral("/callback?state=%1&code=first").arg(firstState));
	const QString secondState = beginLogin().queryItemValue("state");
	EXPECT_NE(firstState, secondState);
	pumpEvents(700ms);
	EXPECT_EQ(account.requests.size(), 1);
	EXPECT_EQ(controller().currentAccessToken(), QString());
	EXPECT_EQ(statusChanges, 0);

	// The first state is no longer pending; the second one is.
	EXPECT_TRUE(responseBody(callbackGet(QStringLiteral("/callback?state=%1&code=x").arg(firstState)))
			    .contains("Login callback could not be accepted."));
	callbackGet(QStringLiteral("/callback?state=%1&code=second").arg(secondState));
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 1; }, 5s));
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-second"));
}

TEST_F(AuthControllerTest, ExchangeErrorInTheBodyOrAsHttpStatus)
{
	const QJsonObject invalidGrant{{QStringLiteral("error"), QStringLiteral("invalid_grant")}};
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(invalidGrant));
	callbackGet(QStringLiteral("/callback?state=%1&code=c").arg(beginLogin().queryItemValue("state")));
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 1; }, 5s));
	auto lines = LogCapture::instance().matching("[vorn-zorva] Vorn account token exchange failed: ");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].text, "[vorn-zorva] Vorn account token exchange failed: invalid_grant");
	EXPECT_EQ(lines[0].level, LOG_WARNING);
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>"); // login over, listener closed

	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(invalidGrant, 400));
	callbackGet(QStringLiteral("/callback?state=%1&code=c").arg(beginLogin().queryItemValue("state")));
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 2; }, 5s));
	lines = LogCapture::instance().matching("[vorn-zorva] Vorn account token exchange failed: ");
	ASSERT_EQ(lines.size(), 2u);
	EXPECT_NE(lines[1].text.find("Bad Request: {\"error\":\"invalid_grant\"}"), std::string::npos) << lines[1].text;
	EXPECT_EQ(controller().currentAccessToken(), QString());
}

TEST_F(AuthControllerTest, BrowserThatDoesNotOpen)
{
	browser = std::make_unique<UrlCapture>(true);
	const QJsonObject result = controller().beginAccountLogin();
	EXPECT_EQ(result.value("opened").toBool(true), false);
	EXPECT_EQ(result.value("error").toString(), QStringLiteral("Unable to open system browser."));
	EXPECT_TRUE(result.value("url").toString().startsWith(QStringLiteral("https://login.vorn.test/?")));
	EXPECT_EQ(result.value("callbackUrl").toString(), QStringLiteral("http://localhost:49231/callback"));
	EXPECT_FALSE(result.contains("errorCode"));
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
}

TEST_F(AuthControllerTest, ListenerPortTaken)
{
	QTcpServer squatter;
	ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 49231));
	const QJsonObject result = controller().beginAccountLogin();
	EXPECT_EQ(result, QJsonObject({{"opened", false}, {"error", "Unable to start local login callback server."}}));
	EXPECT_TRUE(browser->openedUrls().isEmpty());
}

TEST_F(AuthControllerTest, RefreshOutcomes)
{
	EXPECT_EQ(failureText(controller().refreshAccount()), "NO_REFRESH_TOKEN: No refresh token is available.");
	EXPECT_TRUE(account.requests.isEmpty());

	// Log in to have a refresh token.
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(tokenResponse(QStringLiteral("AT-1"))));
	callbackGet(QStringLiteral("/callback?state=%1&code=c").arg(beginLogin().queryItemValue("state")));
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 1; }, 5s));

	// Success: a new access token; the refresh token is kept when none comes back.
	QJsonObject refreshed = tokenResponse(QStringLiteral("AT-2"));
	refreshed.remove(QStringLiteral("refresh_token"));
	refreshed.insert(QStringLiteral("token_type"), QStringLiteral("bEaReR"));
	refreshed.insert(QStringLiteral("expires_in"), 0);
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(refreshed));
	const QJsonObject status = valueOf(controller().refreshAccount());
	EXPECT_EQ(status.value("authenticated").toBool(), true);
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-2"));
	const FakeHttpServer::Request &request = account.requests.last();
	EXPECT_EQ(request.formValue("grant_type"), QStringLiteral("refresh_token"));
	EXPECT_EQ(request.formValue("refresh_token"), QStringLiteral("refresh-AT-1"));
	const QDateTime expires = QDateTime::fromString(status.value("expiresAt").toString(), Qt::ISODate);
	EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(expires), 3600, 5);

	// An HTTP error keeps the tokens.
	account.route("POST", QStringLiteral("/oauth2/token"), FakeHttpServer::Response{400, "nope", 0, "text/plain"});
	const std::string failed = failureText(controller().refreshAccount());
	EXPECT_EQ(failed.rfind("ACCOUNT_REFRESH_FAILED: ", 0), 0u) << failed;
	EXPECT_TRUE(QString::fromStdString(failed).endsWith(QStringLiteral("Bad Request: nope"))) << failed;
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-2"));
	EXPECT_EQ(account.requests.last().formValue("refresh_token"), QStringLiteral("refresh-AT-1"));

	// A body that is not a JSON object.
	account.route("POST", QStringLiteral("/oauth2/token"),
		      FakeHttpServer::Response{200, "[1]", 0, "application/json"});
	EXPECT_EQ(failureText(controller().refreshAccount()),
		  "ACCOUNT_REFRESH_FAILED: Expected a JSON object response.");

	// Members of the wrong type read as absent: no access token, the refresh
	// token kept, the default expiry.
	account.route(
		"POST", QStringLiteral("/oauth2/token"),
		jsonResponse(
			{{"token_type", "bearer"}, {"access_token", 5}, {"refresh_token", 7}, {"expires_in", "100"}}));
	const QJsonObject odd = valueOf(controller().refreshAccount());
	EXPECT_EQ(odd.value("authenticated").toBool(true), false);
	EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(
			    QDateTime::fromString(odd.value("expiresAt").toString(), Qt::ISODate)),
		    3600, 5);
	EXPECT_EQ(account.requests.size(), 5);
	controller().refreshAccount();
	EXPECT_EQ(account.requests.last().formValue("refresh_token"), QStringLiteral("refresh-AT-1"));
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(tokenResponse(QStringLiteral("AT-2"))));
	controller().refreshAccount();
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-2"));

	// An unsupported token type changes nothing and is not an error.
	QJsonObject noType = tokenResponse(QStringLiteral("AT-3"));
	noType.remove(QStringLiteral("token_type"));
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(noType));
	EXPECT_EQ(valueOf(controller().refreshAccount()).value("authenticated").toBool(), true);
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-2"));
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vorn account exchange failed: unsupported token type."),
		  1u);
}

TEST_F(AuthControllerTest, RefreshTimesOut)
{
	options.requestTimeout = 200ms;
	writeStateFile({{"account", QJsonObject{{"accessToken", "AT"}, {"refreshToken", "RT"}, {"expiresAt", ""}}}});
	account.route("POST", QStringLiteral("/oauth2/token"),
		      jsonResponse(tokenResponse(QStringLiteral("late")), 200, 3000));
	createController();
	// The start-up refresh runs first, from a zero-delay timer.
	ASSERT_TRUE(waitUntil([] { return LogCapture::instance().count("Startup auth refresh failed") == 1; }, 5s));
	EXPECT_EQ(
		LogCapture::instance().matching("Startup auth refresh failed")[0].text,
		"[vorn-zorva] Startup auth refresh failed (ACCOUNT_REFRESH_TIMEOUT): Timed out refreshing the Vorn account.");
	// Only the explicit refresh's request is open once the abandoned one is gone.
	QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	ASSERT_TRUE(waitUntil([this] { return account.openConnections() == 0; }, 5s));
	EXPECT_EQ(failureText(controller().refreshAccount()),
		  "ACCOUNT_REFRESH_TIMEOUT: Timed out refreshing the Vorn account.");
	// The service still holds the request: the call returned on its time-out,
	// not on the answer.
	EXPECT_EQ(account.openConnections(), 1);
	pumpEvents(3500ms); // the abandoned request's late answer changes nothing
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT"));
	EXPECT_EQ(statusChanges, 0);
}

// OBS quitting ends every nested event loop with QCoreApplication::exit(),
// the waits for the account service and for Vek among them, while their
// replies are unfinished. A quit is no answer: the waits end without a
// misleading error or warning, and no browser opens while OBS shuts down.
TEST_F(AuthControllerTest, QuittingWhileAServiceIsAwaitedIsNoAnswer)
{
	const auto quitBeforeAnswering = [](const FakeHttpServer::Request &) {
		QCoreApplication::exit();
		FakeHttpServer::Response unanswered;
		unanswered.hang = true;
		return unanswered;
	};
	account.route("POST", QStringLiteral("/oauth2/token"), quitBeforeAnswering);
	vek.route("GET", QStringLiteral("/v2/vek/auth/KICK/redirect"), quitBeforeAnswering);

	writeStateFile({{"account", QJsonObject{{"accessToken", "AT"}, {"refreshToken", "RT"}, {"expiresAt", ""}}}});
	createController(); // its start-up refresh runs in the loop
	runApplicationLoopUntilQuit();
	ASSERT_EQ(account.requests.size(), 1);

	Result<QJsonObject> refreshed = QJsonObject();
	QTimer::singleShot(0, [&] { refreshed = controller().refreshAccount(); });
	runApplicationLoopUntilQuit();
	EXPECT_EQ(failureText(refreshed), "HOST_SHUTTING_DOWN: OBS is shutting down; the refresh was abandoned.");

	Result<QJsonObject> login = QJsonObject();
	QTimer::singleShot(0, [&] { login = controller().beginIntegrationLogin(QStringLiteral("kick")); });
	runApplicationLoopUntilQuit();
	EXPECT_EQ(failureText(login), "HOST_SHUTTING_DOWN: OBS is shutting down; the integration login was abandoned.");
	EXPECT_TRUE(browser->openedUrls().isEmpty());

	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vorn account refresh abandoned: OBS is quitting."), 2u);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek login for KICK abandoned: OBS is quitting."), 1u);
	for (const LogCapture::Line &line : LogCapture::instance().lines())
		EXPECT_NE(line.level, LOG_WARNING) << line.text;
	// The tokens stay, and a later refresh is answered as ever.
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(tokenResponse(QStringLiteral("AT-2"))));
	EXPECT_EQ(valueOf(controller().refreshAccount()).value("authenticated").toBool(), true);
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-2"));
}

TEST_F(AuthControllerTest, StartupRefreshSucceeds)
{
	writeStateFile(
		{{"account",
		  QJsonObject{{"accessToken", "old"}, {"refreshToken", "RT"}, {"expiresAt", "2000-01-01T00:00:00Z"}}}});
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(tokenResponse(QStringLiteral("fresh"))));
	createController();
	EXPECT_EQ(controller().currentAccessToken(), QString());        // expired
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 2; }, 5s)); // applied, then the start-up refresh's own
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("fresh"));
	EXPECT_EQ(account.requests.size(), 1);
}

TEST_F(AuthControllerTest, LogoutKeepsLinkedAccountsAndRequiredPlatforms)
{
	writeStateFile(
		{{"account", QJsonObject{{"accessToken", "AT"},
					 {"refreshToken", ""},
					 {"idToken", makeIdToken({{"email", "a@b.c"}})}}},
		 {"integrations",
		  QJsonArray{
			  QJsonObject{{"platform", "TWITCH"}, {"token", "vt"}, {"upid", "u1"}, {"username", "ann"}}}}});
	controller().requirePlatforms({QStringLiteral("kick")});
	const QJsonObject result = controller().logoutAccount();
	EXPECT_EQ(result.value("logoutUrl").toString(),
		  account.baseUrl() + QStringLiteral("/logout?redirect=https%3A%2F%2Fzorva.vorn.test%2Fbye%3Fx%3D1"));
	EXPECT_EQ(controller().accountStatus(), QJsonObject({{"authenticated", false},
							     {"email", ""},
							     {"displayName", ""},
							     {"subject", ""},
							     {"expiresAt", ""}}));
	EXPECT_EQ(controller().integrationSnapshot().size(), 1);
	EXPECT_EQ(controller().accountsList().value("requiredAccounts").toArray().size(), 1);
	EXPECT_EQ(statusChanges, 2);
	const QJsonObject saved = readStateFile();
	EXPECT_EQ(saved.value("account").toObject().value("accessToken").toString(), QString());
	EXPECT_EQ(saved.value("integrations").toArray().size(), 1);
	EXPECT_TRUE(browser->openedUrls().isEmpty()); // the logout URL is not opened
}

// A logout while a refresh waits for the account service is not undone by the
// refresh's answer: at start-up as for a refresh the page asks for, the
// answer comes after the logout and brings no token back, in memory, in the
// auth file or in an announcement.
TEST_F(AuthControllerTest, LogoutWhileARefreshWaitsStaysLoggedOut)
{
	// The service takes the refresh request; the user logs out before it answers.
	const auto logoutBeforeAnswering = [this](const QString &accessToken) {
		return [this, accessToken](const FakeHttpServer::Request &) {
			controller().logoutAccount();
			return jsonResponse(tokenResponse(accessToken));
		};
	};
	const QJsonObject loggedOut{{"authenticated", false},
				    {"email", ""},
				    {"displayName", ""},
				    {"subject", ""},
				    {"expiresAt", ""}};
	const auto expectLoggedOut = [&](const char *stage) {
		SCOPED_TRACE(stage);
		EXPECT_EQ(controller().accountStatus(), loggedOut);
		EXPECT_EQ(readStateFile().value("account").toObject(),
			  QJsonObject({{"idToken", ""}, {"accessToken", ""}, {"refreshToken", ""}, {"expiresAt", ""}}));
		const qsizetype requestsBefore = account.requests.size();
		EXPECT_EQ(failureText(controller().refreshAccount()),
			  "NO_REFRESH_TOKEN: No refresh token is available.");
		EXPECT_EQ(account.requests.size(), requestsBefore);
	};
	const std::string dropped = "[vorn-zorva] Ignoring Vorn account refresh answer: the account changed meanwhile.";

	writeStateFile(
		{{"account", QJsonObject{{"accessToken", "AT-0"}, {"refreshToken", "RT-0"}, {"expiresAt", ""}}}});
	account.route("POST", QStringLiteral("/oauth2/token"), logoutBeforeAnswering(QStringLiteral("AT-startup")));
	createController();
	QObject guard;
	std::vector<bool> announced; // "authenticated" at each statusChanged
	QObject::connect(instance.get(), &AuthController::statusChanged, &guard, [this, &announced] {
		announced.push_back(controller().accountStatus()["authenticated"].toBool());
	});
	const size_t droppedBefore = LogCapture::instance().count(dropped);
	EXPECT_TRUE(waitUntil([&] { return LogCapture::instance().count(dropped) == droppedBefore + 1; }, 5s));
	for (const LogCapture::Line &line : LogCapture::instance().matching(dropped))
		EXPECT_EQ(line.level, LOG_INFO);
	EXPECT_EQ(account.requests.size(), 1);
	expectLoggedOut("start-up");
	EXPECT_EQ(std::count(announced.begin(), announced.end(), true), 0);

	// Logged in again; the page's refresh meets a logout the same way.
	account.route("POST", QStringLiteral("/oauth2/token"), jsonResponse(tokenResponse(QStringLiteral("AT-1"))));
	callbackGet(QStringLiteral("/callback?state=%1&code=c").arg(beginLogin().queryItemValue("state")));
	ASSERT_TRUE(waitUntil([&] { return controller().currentAccessToken() == QStringLiteral("AT-1"); }, 5s));
	announced.clear();
	account.route("POST", QStringLiteral("/oauth2/token"), logoutBeforeAnswering(QStringLiteral("AT-2")));
	EXPECT_EQ(valueOf(controller().refreshAccount()), loggedOut);
	EXPECT_EQ(account.requests.last().formValue("refresh_token"), QStringLiteral("refresh-AT-1"));
	EXPECT_EQ(LogCapture::instance().count(dropped), droppedBefore + 2);
	expectLoggedOut("page's refresh");
	EXPECT_FALSE(announced.empty());
	EXPECT_EQ(std::count(announced.begin(), announced.end(), true), 0);
}
