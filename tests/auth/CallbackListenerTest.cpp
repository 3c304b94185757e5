// The loopback callback listener on 127.0.0.1:49231, "vorn" redirects, the
// result page and the listener time-out; Vek logins against a fake Vek.

#include "AuthTestSupport.h"

#include <QTcpSocket>

#include <vector>

using namespace std::chrono_literals;

namespace {

FakeHttpServer::Response json(const QJsonObject &body, int delayMs = 0)
{
	return {200, QJsonDocument(body).toJson(QJsonDocument::Compact), delayMs, "application/json"};
}

QJsonObject loginUrlReply(const QString &next)
{
	return {{"data", QJsonObject{{"action", "OPEN_LINK"}, {"next", next}}}};
}

} // namespace

TEST_F(AuthControllerTest, ResultPagesAreExactAndEscaped)
{
	beginLogin();
	const QByteArray response = callbackGet(
		QStringLiteral("/callback?error=access_denied&error_description=%3Cb%3ENope%20%C3%A9%3C%2Fb%3E"));
	const QByteArray body = responseBody(response);
	EXPECT_TRUE(response.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
					"Cache-Control: no-store\r\nContent-Length: " +
					QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"));
	EXPECT_TRUE(body.startsWith("<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">"));
	EXPECT_TRUE(body.contains("<title>Vorn Studio's Zorva plugin login failed</title>"));
	EXPECT_TRUE(body.contains(
		"<img class=\"icon\" src=\"https://zorva.vorn.test/icon.png\" alt=\"Vorn Studio Icon\">"
		"<h1>Something went wrong...</h1><p>&lt;b&gt;Nope \xC3\xA9&lt;/b&gt;</p></div></div></body></html>"));
	EXPECT_FALSE(body.contains('\n'));
	EXPECT_EQ(LogCapture::instance().matching("Auth callback failed")[0].text,
		  "[vorn-zorva] Auth callback failed: <b>Nope \xC3\xA9</b>");
	// Text from the request cannot start a line of its own in the log.
	callbackGet(QStringLiteral("/callback?error=x&error_description=a%0A%5Bvorn-zorva%5D%20forged%0D%09%7F"));
	EXPECT_EQ(LogCapture::instance().matching("Auth callback failed").at(1).text,
		  "[vorn-zorva] Auth callback failed: a\\x0a[vorn-zorva] forged\\x0d\\x09\\x7f");

	for (const char *target : {"/callback/?state=x", "/Callback?state=x", "/other"})
		EXPECT_TRUE(responseBody(callbackGet(QString::fromLatin1(target)))
				    .contains("<p>Unknown callback path.</p>"))
			<< target;
	EXPECT_TRUE(responseBody(callbackExchange({"GARBAGE\r\n\r\n"})).contains("<p>Invalid callback request.</p>"));
	EXPECT_TRUE(responseBody(callbackGet(QStringLiteral("/callback?state=unknown&code=c")))
			    .contains("<p>Login callback could not be accepted.</p>"));
	EXPECT_EQ(redirectsConsumed, 0);
}

TEST_F(AuthControllerTest, RequestHeadInSeveralReadsAndOversizedHeads)
{
	account.route("POST", QStringLiteral("/oauth2/token"), json(tokenResponse(QStringLiteral("AT"))));
	const QString state = beginLogin().queryItemValue("state");
	const QByteArray request = "GET /callback?state=" + state.toLatin1() + "&code=c HTTP/1.1\r\nHost: x\r\n\r\n";
	const QByteArray answer = callbackExchange({request.left(10), request.mid(10, 30), request.mid(40)});
	EXPECT_TRUE(answer.contains("<h1>Login info sent to the Vorn Studio's Zorva plugin.</h1>"));

	beginLogin();
	const QByteArray flood(70 * 1024, 'a');
	EXPECT_TRUE(
		responseBody(callbackExchange({"GET /callback?", flood})).contains("<p>Invalid callback request.</p>"));
}

// A browser that retries, or a code that also comes as a redirect, delivers
// the code twice. The service takes a code once and refuses a repeat at once,
// which must not end the login before the first exchange's answer arrives.
TEST_F(AuthControllerTest, MissingCodeAndRepeatedCallbacks)
{
	account.route("POST", QStringLiteral("/oauth2/token"), [this](const FakeHttpServer::Request &) {
		return account.requests.size() == 1 ? json(tokenResponse(QStringLiteral("AT")), 1000)
						    : json({{"error", "invalid_grant"}});
	});
	const QString state = beginLogin().queryItemValue("state");
	EXPECT_TRUE(responseBody(callbackGet(QStringLiteral("/callback?state=%1").arg(state)))
			    .contains("Login callback could not be accepted."));
	EXPECT_EQ(LogCapture::instance().count(
			  "[vorn-zorva] Vorn account callback rejected: missing authorization code."),
		  1u);
	for (int delivery = 0; delivery < 2; ++delivery)
		EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=%1&code=c").arg(state))
				    .contains("<h1>Login info sent to the Vorn Studio's Zorva plugin.</h1>"));
	EXPECT_TRUE(controller().handleRedirect(QUrl(QStringLiteral("vorn://auth?state=%1&code=c").arg(state))));
	EXPECT_EQ(redirectsConsumed, 1);
	EXPECT_EQ(LogCapture::instance().count(
			  "[vorn-zorva] Vorn account callback repeated; its code is being exchanged already."),
		  1u);

	ASSERT_TRUE(waitUntil([&] { return statusChanges == 1; }, 5s));
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT"));
	EXPECT_EQ(account.requests.size(), 1);
	EXPECT_EQ(LogCapture::instance().count("token exchange failed"), 0u);
}

TEST_F(AuthControllerTest, VornRedirects)
{
	account.route("POST", QStringLiteral("/oauth2/token"), json(tokenResponse(QStringLiteral("AT"))));
	const QString state = beginLogin().queryItemValue("state");
	EXPECT_FALSE(controller().handleRedirect(QUrl(QStringLiteral("https://x/?state=%1&code=c").arg(state))));
	EXPECT_FALSE(controller().handleRedirect(QUrl(QStringLiteral("vorn://auth?state=%1#code=c").arg(state))));
	EXPECT_FALSE(controller().handleRedirect(QUrl(QStringLiteral("vorn://auth?state=other&code=c"))));
	EXPECT_EQ(redirectsConsumed, 0);
	EXPECT_TRUE(controller().handleRedirect(QUrl(QStringLiteral("vorn://auth#state=%1&code=c").arg(state))));
	EXPECT_EQ(redirectsConsumed, 1);
	ASSERT_TRUE(waitUntil([&] { return controller().currentAccessToken() == QStringLiteral("AT"); }, 5s));
}

TEST_F(AuthControllerTest, ListenerTimeOutEndsPendingLogins)
{
	options.callbackTimeout = 300ms;
	beginLogin();
	ASSERT_TRUE(waitUntil([&] { return statusChanges == 1; }, 3s));
	const auto lines = LogCapture::instance().matching("[vorn-zorva] Auth callback listener timed out");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].text, "[vorn-zorva] Auth callback listener timed out before completion (account=1, vek=0).");
	EXPECT_EQ(lines[0].level, LOG_WARNING);
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
}

TEST_F(AuthControllerTest, VekLoginPendingThenAuthorizingThenLinked)
{
	vek.route(
		"GET", QStringLiteral("/v2/vek/auth/KICK/redirect"),
		json(loginUrlReply(QStringLiteral(
			"https://kick.test/authorize?client=1&state=LS1&redirect_uri=https%3A%2F%2Fvek.test%2Fcb&scope=chat"))));
	vek.route("GET", QStringLiteral("/v2/vek/auth/exchange"), [](const FakeHttpServer::Request &request) {
		Q_UNUSED(request);
		return FakeHttpServer::Response{200, "{}", 0, "application/json"};
	});
	const QJsonObject started = valueOf(controller().beginIntegrationLogin(QStringLiteral(" kick ")));
	EXPECT_EQ(started.value("opened").toBool(), true);
	const FakeHttpServer::Request &redirect = vek.requests.at(0);
	EXPECT_EQ(redirect.headers.value("client-id"), "Xq7Tn2LpW9cRv4HbZk1Md8Fs");
	const QString requestState = redirect.query().queryItemValue("state");
	EXPECT_EQ(requestState.size(), 32);
	const QUrl opened = browser->openedUrls().last();
	const QList<std::pair<QString, QString>> items = QUrlQuery(opened).queryItems(QUrl::FullyDecoded);
	ASSERT_EQ(items.size(), 4);
	EXPECT_EQ(items[3], std::make_pair(QStringLiteral("redirect_uri"), options.endpoints.accountRedirectUrl));
	EXPECT_EQ(started.value("url").toString(), opened.toString());
	EXPECT_EQ(statusChanges, 1);
	EXPECT_EQ(controller().integrationsStatus().value("pending:KICK").toObject(),
		  QJsonObject({{"platform", "KICK"},
			       {"authenticated", false},
			       {"state", "logging_in"},
			       {"pending", true},
			       {"reason", "Logging in"}}));

	// Exchange and inspection answer slowly, so the pending entry shows "authorizing".
	vek.route("GET", QStringLiteral("/v2/vek/auth/exchange"), [requestState](const FakeHttpServer::Request &) {
		return json({{"data", QJsonObject{{"token", "vek-token"}, {"state", requestState}}}}, 300);
	});
	vek.route("GET", QStringLiteral("/v2/vek/auth/inspect"),
		  json({{"data", QJsonObject{{"UPID", "kick-42"}, {"username", "zoe"}}}}, 300));
	EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=LS1&code=kc")).contains("Login info sent"));
	EXPECT_EQ(controller().integrationsStatus().value("pending:KICK").toObject().value("reason").toString(),
		  QStringLiteral("Authorizing"));
	const QJsonArray accounts = controller().accountsList().value("accounts").toArray();
	ASSERT_EQ(accounts.size(), 1);
	EXPECT_EQ(accounts[0].toObject().value("id").toString(), QStringLiteral("KICK"));
	// A repeated callback is refused.
	EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=LS1&code=kc")).contains("could not be accepted"));

	ASSERT_TRUE(waitUntil([&] { return !controller().integrationSnapshot().isEmpty(); }, 5s));
	EXPECT_EQ(
		controller().integrationSnapshot()[0].toObject(),
		QJsonObject({{"platform", "KICK"}, {"token", "vek-token"}, {"upid", "kick-42"}, {"username", "zoe"}}));
	EXPECT_EQ(vek.requests.last().headers.value("authorization"), "Vek vek-token");
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek auth completed for KICK as zoe (kick-42)."), 1u);
	EXPECT_TRUE(controller().integrationsStatus().contains("kick-42"));
	EXPECT_FALSE(controller().integrationsStatus().contains("pending:KICK"));
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
}

// A browser's preconnect or a slow client can leave connections mid-head when
// OBS exits: destroying the listener with them open must touch nothing freed.
TEST_F(AuthControllerTest, ConnectionsLeftMidHeadAtDestructionAreDroppedCleanly)
{
	account.route("POST", QStringLiteral("/oauth2/token"), json(tokenResponse(QStringLiteral("AT"))));
	const QString state = beginLogin().queryItemValue("state");
	EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=%1&code=c").arg(state))
			    .contains("<h1>Login info sent to the Vorn Studio's Zorva plugin.</h1>"));

	beginLogin();
	std::vector<std::unique_ptr<QTcpSocket>> midHead;
	for (int i = 0; i < 3; ++i) {
		midHead.push_back(std::make_unique<QTcpSocket>());
		midHead.back()->connectToHost(QStringLiteral("127.0.0.1"), 49231);
		ASSERT_TRUE(waitUntil([&] { return midHead.back()->state() == QAbstractSocket::ConnectedState; }, 5s));
		midHead.back()->write("GET /callback?state=");
	}
	// Answered only once the listener has taken the connections before it.
	EXPECT_TRUE(callbackGet(QStringLiteral("/other")).contains("<p>Unknown callback path.</p>"));
	instance.reset();
	for (const auto &socket : midHead)
		EXPECT_TRUE(waitUntil([&] { return socket->state() == QAbstractSocket::UnconnectedState; }, 5s));
}
