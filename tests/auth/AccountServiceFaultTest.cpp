// Faults of the account service's token endpoint, for the refresh and for a
// login's code exchange: hanging, HTTP 500 with a body, a body that is no JSON,
// JSON of the wrong shape, the connection dropped before or during the answer.
// Every case checks the error object or the warning, that the stored account
// and its linked platform accounts stay exactly as they were (the auth file
// byte for byte), that the next good answer is taken again, and that the UI
// thread's event loop never stalls: the refresh waits in a nested event loop,
// so the heartbeat keeps ticking through it.

#include "AuthTestSupport.h"

#include "Heartbeat.h"
#include "auth/JsonReply.h"

#include <QFile>

using namespace std::chrono_literals;

namespace {

// The UI thread's event loop may stall at most kMaxEventLoopStallMs
// (Heartbeat.h); the time-outs waited for are twice as long, so that a
// blocking wait for them would show.
constexpr qint64 kMaxStallMs = kMaxEventLoopStallMs;
constexpr int kRequestTimeoutMs = int(2 * kMaxStallMs);
constexpr int kListenerTimeoutMs = int(2 * kMaxStallMs);

// Secrets of the stored account and of the answers below: never in the log.
const QStringList kSecrets = {"AT-0", "RT-0", "AT-cut", "RT-cut", "AT-1", "AT-2", "AT-late", "refresh-AT-"};

const QString kTokenPath = QStringLiteral("/oauth2/token");
const QString kExchangeFailed = QStringLiteral("[vorn-zorva] Vorn account token exchange failed: ");

FakeHttpServer::Response jsonResponse(const QJsonObject &body)
{
	return {200, QJsonDocument(body).toJson(QJsonDocument::Compact), 0, "application/json"};
}

const QByteArray kCutTokens = QJsonDocument(QJsonObject{{"token_type", "Bearer"},
							{"access_token", "AT-cut"},
							{"refresh_token", "RT-cut"},
							{"expires_in", 3600}})
				      .toJson(QJsonDocument::Compact);

// A token answer announcing 64 more bytes than it has, whose connection ends
// after the head and `keep` bytes of the body.
FakeHttpServer::Response cutTokenAnswer(int keep)
{
	FakeHttpServer::Response response{200, kCutTokens + QByteArray(64, ' '), 0, "application/json"};
	const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
				QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n";
	response.cutAfterBytes = int(head.size()) + keep;
	return response;
}

class AccountServiceFaultTest : public AuthControllerTest {
protected:
	void SetUp() override
	{
		AuthControllerTest::SetUp();
		logBaseline = LogCapture::instance().lines().size();
		options.requestTimeout = std::chrono::milliseconds(kRequestTimeoutMs);
		heartbeat.start();
		testTime.start();
	}

	void TearDown() override
	{
		for (const LogCapture::Line &line : newLogLines()) {
			for (const QString &secret : kSecrets)
				EXPECT_EQ(line.text.find(secret.toStdString()), std::string::npos) << line.text;
		}
		if (HasFailure()) {
			for (const LogCapture::Line &line : newLogLines())
				std::fprintf(stderr, "  log: %s\n", line.text.c_str());
		}
		AuthControllerTest::TearDown();
	}

	// What an earlier session stored: a logged-in account (refreshed at start
	// when it has a refresh token) and a linked platform account.
	void storeAccount(bool withRefreshToken)
	{
		const QJsonObject claims{{"sub", "user-0"}, {"email", "old@vorn.test"}, {"name", "Old Name"}};
		const QString expiry = QDateTime::currentDateTimeUtc().addSecs(3600).toString(Qt::ISODate);
		writeStateFile({{"account", QJsonObject{{"idToken", makeIdToken(claims)},
							{"accessToken", "AT-0"},
							{"refreshToken", withRefreshToken ? "RT-0" : ""},
							{"expiresAt", expiry}}},
				{"integrations", QJsonArray{QJsonObject{{"platform", "TWITCH"},
									{"token", "vt-1"},
									{"upid", "u1"},
									{"username", "ann"}}}}});
		stored = fileBytes();
		ASSERT_FALSE(stored.isEmpty());
	}

	QByteArray fileBytes() const
	{
		QFile file(options.stateFilePath);
		return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
	}

	void routeToken(const FakeHttpServer::Response &response) { account.route("POST", kTokenPath, response); }

	// Nothing of the stored state was lost, changed or even rewritten.
	void expectStoredAccountIntact()
	{
		EXPECT_EQ(fileBytes(), stored);
		EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-0"));
		EXPECT_EQ(controller().accountStatus().value("email").toString(), QStringLiteral("old@vorn.test"));
		const QJsonArray linked = controller().integrationSnapshot();
		ASSERT_EQ(linked.size(), 1);
		EXPECT_EQ(linked[0].toObject().value("token").toString(), QStringLiteral("vt-1"));
	}

	// The start-up refresh and an explicit one meet the fault; returns the
	// explicit one's answer.
	Result<QJsonObject> refreshAgainst(const FakeHttpServer::Response &fault)
	{
		storeAccount(true);
		routeToken(fault);
		createController();
		EXPECT_TRUE(
			waitUntil([this] { return logCount("[vorn-zorva] Startup auth refresh failed (") == 1; }, 5s));
		return controller().refreshAccount();
	}

	// A good answer is taken again, for the same refresh token, and saved
	// with the linked account.
	void expectRefreshRecovers()
	{
		routeToken(jsonResponse(tokenResponse(QStringLiteral("AT-1"))));
		EXPECT_EQ(valueOf(controller().refreshAccount()).value("authenticated").toBool(), true);
		EXPECT_EQ(account.requests.last().formValue("refresh_token"), QStringLiteral("RT-0"));
		expectSavedWithNewTokens();
	}

	// Starts a login and delivers its callback; the exchange then meets the fault.
	void loginAgainst(const FakeHttpServer::Response &fault)
	{
		storeAccount(false);
		routeToken(fault);
		const QString state = beginLogin().queryItemValue("state");
		// The page answers the browser before the exchange runs.
		EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=%1&code=c1").arg(state))
				    .contains("Login info sent"));
	}

	// The login ended with the warning; the listener is closed.
	void expectExchangeFailed(const QString &errorEnding)
	{
		ASSERT_TRUE(waitUntil([this] { return statusChanges == 1; }, 5s));
		const std::vector<LogCapture::Line> lines = newLogLines(kExchangeFailed.toStdString());
		ASSERT_EQ(lines.size(), 1u);
		EXPECT_EQ(lines[0].level, LOG_WARNING);
		EXPECT_TRUE(QString::fromStdString(lines[0].text).endsWith(errorEnding)) << lines[0].text;
		EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
		expectStoredAccountIntact();
	}

	// The next login's exchange gets a good answer and is taken.
	void expectLoginRecovers()
	{
		routeToken(jsonResponse(tokenResponse(QStringLiteral("AT-1"))));
		const QString state = beginLogin().queryItemValue("state");
		callbackGet(QStringLiteral("/callback?state=%1&code=c2").arg(state));
		ASSERT_TRUE(
			waitUntil([this] { return controller().currentAccessToken() == QStringLiteral("AT-1"); }, 5s));
		EXPECT_EQ(account.requests.last().formValue("code"), QStringLiteral("c2"));
		expectSavedWithNewTokens();
	}

	void expectSavedWithNewTokens()
	{
		EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-1"));
		const QJsonObject saved = readStateFile();
		EXPECT_EQ(saved.value("account").toObject().value("accessToken").toString(), QStringLiteral("AT-1"));
		const QJsonArray linked = saved.value("integrations").toArray();
		ASSERT_EQ(linked.size(), 1);
		EXPECT_EQ(linked[0].toObject().value("token").toString(), QStringLiteral("vt-1"));
	}

	// A test shorter than the limit cannot have stalled; a longer one must
	// have let the heartbeat tick.
	void expectNoStall() const
	{
		if (testTime.elapsed() >= kMaxStallMs) {
			EXPECT_GT(heartbeat.ticks(), 0);
		}
		EXPECT_LT(heartbeat.longestGapMs(), kMaxStallMs);
	}

	std::vector<LogCapture::Line> newLogLines(const std::string &fragment = std::string()) const
	{
		const std::vector<LogCapture::Line> all = LogCapture::instance().lines();
		std::vector<LogCapture::Line> lines;
		for (size_t i = logBaseline; i < all.size(); ++i) {
			if (all[i].text.find(fragment) != std::string::npos)
				lines.push_back(all[i]);
		}
		return lines;
	}

	size_t logCount(const std::string &fragment) const { return newLogLines(fragment).size(); }

	Heartbeat heartbeat;
	QElapsedTimer testTime;
	QByteArray stored;
	size_t logBaseline = 0;
};

// Answers the token endpoint gives instead of tokens: how the reply reader
// words each of them (the error text ends with it), how the log line ends
// (tokens redacted), and how often one call may reach the service (Qt sends
// a request again when the connection closes before any answer).
struct BadAnswer {
	const char *name;
	FakeHttpServer::Response response;
	QString errorEnding;
	QString logEnding;
	int maxSendsPerCall = 1;
};

std::vector<BadAnswer> badAnswers()
{
	const QByteArray serverError = R"({"error":"temporarily_unavailable","error_description":"store down"})";
	FakeHttpServer::Response dropped = jsonResponse(QJsonObject());
	dropped.cutAfterBytes = 0;
	const QString serverErrorText = QStringLiteral("Internal Server Error: ") + QString::fromUtf8(serverError);
	const QString notAnObject = QStringLiteral("Expected a JSON object response.");
	const QString closed = QStringLiteral("Connection closed: ");
	return {
		{"ServerError500WithBody", {500, serverError, 0, "application/json"}, serverErrorText, serverErrorText},
		{"HtmlInsteadOfJson",
		 {200, "<html><body>Bad gateway</body></html>", 0, "text/html"},
		 notAnObject,
		 notAnObject},
		{"JsonCutShortInAComplete200",
		 {200, R"({"token_type":"Bearer","access_token":"AT)", 0, "application/json"},
		 notAnObject,
		 notAnObject},
		{"DroppedBeforeAnswering", dropped, closed, closed, 3},
		{"DroppedMidBody", cutTokenAnswer(20), closed + QString::fromUtf8(kCutTokens.left(20)),
		 closed + QStringLiteral(R"({"access_token":"<redacted>)")},
		// What arrived is a whole token object, but less than was announced.
		{"DroppedAfterAWholeJsonObject", cutTokenAnswer(int(kCutTokens.size())),
		 closed + QString::fromUtf8(kCutTokens),
		 closed + QStringLiteral(R"({"access_token":"<redacted>","expires_in":3600,)"
					 R"("refresh_token":"<redacted>","token_type":"Bearer"})")},
	};
}

// Names the answer in test listings (and so in CTest's test names).
void PrintTo(const BadAnswer &answer, std::ostream *out)
{
	*out << answer.name;
}

class BadTokenAnswerTest : public AccountServiceFaultTest, public ::testing::WithParamInterface<BadAnswer> {};

} // namespace

TEST_P(BadTokenAnswerTest, RefreshFailsAndKeepsTheStoredAccount)
{
	const std::string failure = failureText(refreshAgainst(GetParam().response));
	EXPECT_EQ(failure.rfind("ACCOUNT_REFRESH_FAILED: ", 0), 0u) << failure;
	EXPECT_TRUE(QString::fromStdString(failure).endsWith(GetParam().errorEnding)) << failure;
	const std::vector<LogCapture::Line> startup = newLogLines("[vorn-zorva] Startup auth refresh failed (");
	ASSERT_EQ(startup.size(), 1u);
	EXPECT_EQ(startup[0].text.rfind("[vorn-zorva] Startup auth refresh failed (ACCOUNT_REFRESH_FAILED): ", 0), 0u);
	EXPECT_TRUE(QString::fromStdString(startup[0].text).endsWith(GetParam().logEnding)) << startup[0].text;
	EXPECT_GE(account.requests.size(), 2);
	EXPECT_LE(account.requests.size(), 2 * GetParam().maxSendsPerCall);
	EXPECT_EQ(statusChanges, 0);
	expectStoredAccountIntact();
	expectRefreshRecovers();
	expectNoStall();
}

TEST_P(BadTokenAnswerTest, LoginExchangeFailsAndKeepsTheStoredAccount)
{
	loginAgainst(GetParam().response);
	expectExchangeFailed(GetParam().logEnding);
	EXPECT_GE(account.requests.size(), 1);
	EXPECT_LE(account.requests.size(), GetParam().maxSendsPerCall);
	expectLoginRecovers();
	expectNoStall();
}

INSTANTIATE_TEST_SUITE_P(Answers, BadTokenAnswerTest, ::testing::ValuesIn(badAnswers()),
			 [](const ::testing::TestParamInfo<BadAnswer> &answer) {
				 return std::string(answer.param.name);
			 });

// The refresh gives up after its time-out and cancels its request; the event
// loop keeps running while it waits. (The start-up refresh succeeds here, so
// that only the explicit refresh's request is in flight.)
TEST_F(AccountServiceFaultTest, HangingTokenEndpointTimesOutTheRefresh)
{
	storeAccount(true);
	routeToken(jsonResponse(tokenResponse(QStringLiteral("AT-1"))));
	createController();
	ASSERT_TRUE(waitUntil([this] { return statusChanges == 2 && account.openConnections() == 0; }, 5s));
	stored = fileBytes();
	FakeHttpServer::Response hang;
	hang.hang = true;
	routeToken(hang);

	QElapsedTimer timer;
	timer.start();
	EXPECT_EQ(failureText(controller().refreshAccount()),
		  "ACCOUNT_REFRESH_TIMEOUT: Timed out refreshing the Vorn account.");
	// It waited for the time-out (load only makes that longer), and returned
	// while the service still held the request open, sent once.
	EXPECT_GE(timer.elapsed(), kRequestTimeoutMs * 94 / 100);
	EXPECT_EQ(account.openConnections(), 1);
	EXPECT_EQ(account.requests.size(), 2);
	EXPECT_EQ(account.requests.last().formValue("refresh_token"), QStringLiteral("refresh-AT-1"));
	// Once the application's event loop has run the reply's deferred
	// deletion, the service sees the request go.
	QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	EXPECT_TRUE(waitUntil([this] { return account.openConnections() == 0; }, 2s));
	EXPECT_EQ(statusChanges, 2);
	EXPECT_EQ(fileBytes(), stored);
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-1"));
	EXPECT_EQ(controller().integrationSnapshot().size(), 1);

	routeToken(jsonResponse(tokenResponse(QStringLiteral("AT-2"))));
	EXPECT_EQ(valueOf(controller().refreshAccount()).value("authenticated").toBool(), true);
	EXPECT_EQ(controller().currentAccessToken(), QStringLiteral("AT-2"));
	EXPECT_EQ(account.requests.last().formValue("refresh_token"), QStringLiteral("refresh-AT-1"));
	expectNoStall();
}

// The exchange has no time-out of its own: the listener's time-out ends the
// login, and the answer that comes after it changes nothing.
TEST_F(AccountServiceFaultTest, HangingTokenEndpointLeavesTheLoginToTheListenerTimeOut)
{
	options.callbackTimeout = std::chrono::milliseconds(kListenerTimeoutMs);
	FakeHttpServer::Response late = jsonResponse(tokenResponse(QStringLiteral("AT-late")));
	late.delayMs = kListenerTimeoutMs + 600;
	loginAgainst(late);
	ASSERT_TRUE(
		waitUntil([this] { return statusChanges == 1; }, std::chrono::milliseconds(kListenerTimeoutMs) + 3s));
	EXPECT_EQ(logCount("[vorn-zorva] Auth callback listener timed out before completion (account=1, vek=0)."), 1u);
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
	// The late answer arrives (the fake closes once it has answered) and is ignored.
	ASSERT_TRUE(waitUntil([this] { return account.openConnections() == 0; }, 5s));
	pumpEvents(200ms);
	EXPECT_EQ(statusChanges, 1);
	EXPECT_EQ(logCount("Authenticated Vorn account"), 0u);
	expectStoredAccountIntact();
	expectLoginRecovers();
	expectNoStall();
}

// A JSON object without a bearer token type (here the tokens one level too
// deep) is no token answer: warned about, nothing changes, the login ends.
TEST_F(AccountServiceFaultTest, LoginExchangeAnsweredWithTheWrongShape)
{
	loginAgainst(jsonResponse({{"data", tokenResponse(QStringLiteral("AT-cut"))}}));
	ASSERT_TRUE(waitUntil([this] { return logCount("unsupported token type") == 1; }, 5s));
	EXPECT_EQ(newLogLines("unsupported token type")[0].text,
		  "[vorn-zorva] Vorn account exchange failed: unsupported token type.");
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
	EXPECT_EQ(logCount(kExchangeFailed.toStdString()), 0u);
	EXPECT_EQ(statusChanges, 0);
	expectStoredAccountIntact();
	expectLoginRecovers();
	expectNoStall();
}

// Linking a platform: Vek's exchange answer breaks off after a whole object
// carrying the new token. The link fails, the token stays out of the log, and
// the linked account already stored is untouched.
TEST_F(AccountServiceFaultTest, VekExchangeDroppedAfterTheTokenKeepsItOutOfTheLog)
{
	storeAccount(false);
	vek.route("GET", QStringLiteral("/v2/vek/auth/KICK/redirect"),
		  jsonResponse({{"errors", QJsonArray()},
				{"data", QJsonObject{{"action", "OPEN_LINK"},
						     {"next", "https://kick.test/authorize?state=LS1"}}}}));
	const QByteArray exchange = R"({"data":{"state":"S","token":"vt-cut"},"errors":[]})";
	FakeHttpServer::Response cut{200, exchange + QByteArray(64, ' '), 0, "application/json"};
	cut.cutAfterBytes = int(QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
					   QByteArray::number(cut.body.size()) + "\r\nConnection: close\r\n\r\n")
					.size() +
				exchange.size());
	vek.route("GET", QStringLiteral("/v2/vek/auth/exchange"), cut);
	ASSERT_EQ(valueOf(controller().beginIntegrationLogin(QStringLiteral("kick"))).value("opened").toBool(), true);
	EXPECT_TRUE(callbackGet(QStringLiteral("/callback?state=LS1&code=kc")).contains("Login info sent"));
	ASSERT_TRUE(waitUntil([this] { return logCount("[vorn-zorva] Vek token exchange failed: ") == 1; }, 5s));
	EXPECT_EQ(
		newLogLines("[vorn-zorva] Vek token exchange failed: ")[0].text,
		R"([vorn-zorva] Vek token exchange failed: Connection closed: {"data":{"state":"S","token":"<redacted>"},"errors":[]})");
	EXPECT_EQ(logCount("vt-cut"), 0u);
	EXPECT_EQ(callbackGet(QStringLiteral("/callback")), "<no connection>");
	EXPECT_FALSE(controller().integrationsStatus().contains("pending:KICK"));
	expectStoredAccountIntact();
	expectNoStall();
}

// What the log lines above rely on, case by case: token values go, whatever
// else the text says stays.
TEST(RedactTokens, TokenValuesOnlyAlsoWhenCutShort)
{
	const std::vector<std::pair<QString, QString>> cases = {
		{R"(Bad Request: {"error":"invalid_grant"})", R"(Bad Request: {"error":"invalid_grant"})"},
		{R"({"access_token":"a1","id_token":"i.d.t","token_type":"Bearer"})",
		 R"({"access_token":"<redacted>","id_token":"<redacted>","token_type":"Bearer"})"},
		{R"({ "refresh_token" : "r\"1", "expires_in": 5 })",
		 R"({ "refresh_token" : "<redacted>", "expires_in": 5 })"},
		{R"(Connection closed: {"data":{"token":"vt-par)",
		 R"(Connection closed: {"data":{"token":"<redacted>)"},
		{"grant_type=refresh_token&refresh_token=RT%2B1&client_id=c",
		 "grant_type=refresh_token&refresh_token=<redacted>&client_id=c"},
		{"token_type=bearer&mytoken=x", "token_type=bearer&mytoken=x"},
	};
	for (const auto &[text, expected] : cases)
		EXPECT_EQ(redactTokens(text), expected) << text.toStdString();
}
