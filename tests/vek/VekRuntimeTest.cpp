// The runtime: workers follow the snapshot; proxied REST requests and
// passthrough messages reach Vek; events and logouts reach the event proxy.

#include "VekTestSupport.h"

#include "TestWebSocketClient.h"
#include "integration/VekConnectionWorker.h"
#include "integration/VekRuntime.h"
#include "proxy/EventProxyServer.h"

#include <QJsonObject>

namespace {

QJsonObject entry(const char *platform, const char *token, const char *upid)
{
	return {{"platform", platform}, {"token", token}, {"upid", upid}, {"username", "name"}};
}

class VekRuntimeTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		quietLogs();
		ASSERT_TRUE(realtime.listen());
		ASSERT_TRUE(rest.listenTls(ThrowawayTls::serverConfiguration()));
		runtime = std::make_unique<VekRuntime>(testService(realtime.port(), rest.baseUrl()));
		EventProxyServer::Options options;
		options.port = 0;
		proxy = std::make_unique<EventProxyServer>(options);
		QObject::connect(proxy.get(), &EventProxyServer::started,
				 [this](quint16 p, std::string) { proxyPort = p; });
		proxy->start();
		relayToProxy();
		QObject::connect(runtime.get(), &VekRuntime::integrationLoggedOut,
				 [this](std::string upid, std::string token) { loggedOut.emplace_back(upid, token); });
	}

	// The runtime's announcements to the proxy, wired as the module wires them.
	void relayToProxy()
	{
		QObject::connect(runtime.get(), &VekRuntime::rawEvent, proxy.get(), &EventProxyServer::publishRawEvent);
		QObject::connect(runtime.get(), &VekRuntime::loggedOut, proxy.get(), &EventProxyServer::publishLogout);
		QObject::connect(runtime.get(), &VekRuntime::apiResponse, proxy.get(),
				 &EventProxyServer::publishResponse);
	}

	bool openFor(const char *upid)
	{
		return waitUntil([&] { return runtime->worker(upid) && runtime->worker(upid)->isOpen(); });
	}

	// A dock page: it holds the proxy token, so request responses reach it.
	std::unique_ptr<TestWebSocketClient> page()
	{
		auto client = std::make_unique<TestWebSocketClient>();
		EXPECT_TRUE(client->open(
			proxyPort, QStringLiteral("/?token=%1").arg(QString::fromStdString(proxy->accessToken()))));
		EXPECT_TRUE(client->waitForUpgrade());
		return client;
	}

	FakeVekRealtime realtime;
	FakeHttpServer rest;
	std::unique_ptr<VekRuntime> runtime;
	std::unique_ptr<EventProxyServer> proxy;
	quint16 proxyPort = 0;
	std::vector<std::pair<std::string, std::string>> loggedOut; // UPID, rejected token
};

} // namespace

TEST_F(VekRuntimeTest, WorkersFollowTheSnapshot)
{
	const QJsonArray two = {entry("TWITCH", "t1", "u1"), entry("KICK", "t2", "u2"), QJsonValue(5),
				entry("X", "", "u3"), entry("X", "t", "")};
	runtime->syncIntegrations(two);
	EXPECT_EQ(runtime->workerCount(), 2u);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek worker create platform=TWITCH upid=u1"), 1u);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek worker create platform=KICK upid=u2"), 1u);
	ASSERT_TRUE(openFor("u1") && openFor("u2"));
	EXPECT_EQ(realtime.connections.size(), 2u);

	const size_t lines = LogCapture::instance().lines().size();
	runtime->syncIntegrations(two);
	pumpEvents(100ms);
	EXPECT_EQ(LogCapture::instance().lines().size(), lines);
	EXPECT_EQ(realtime.connections.size(), 2u);

	// u1's token changed: only u1 reconnects, at once, with a new key.
	VekConnectionWorker *u1 = runtime->worker("u1");
	const std::string oldKey = u1->handshakeKeyInUse();
	runtime->syncIntegrations({entry("TWITCH", "t1-new", "u1"), entry("KICK", "t2", "u2")});
	EXPECT_EQ(runtime->worker("u1"), u1);
	EXPECT_NE(u1->handshakeKeyInUse(), oldKey);
	ASSERT_TRUE(waitUntil([&] { return realtime.connections.size() == 3 && !realtime.last().texts.empty(); }));
	EXPECT_EQ(realtime.last().texts[0], R"({"nonce":"_login","token":"t1-new","type":"LOGIN"})");

	// u2 lost its token: removed; then everything goes.
	runtime->syncIntegrations({entry("TWITCH", "t1-new", "u1"), entry("KICK", "", "u2")});
	EXPECT_EQ(runtime->workerCount(), 1u);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Vek worker remove upid=u2"), 1u);
	runtime->syncIntegrations({});
	EXPECT_EQ(runtime->workerCount(), 0u);
	pumpEvents(600ms); // no retries from removed workers
	EXPECT_EQ(realtime.connections.size(), 3u);
}

TEST_F(VekRuntimeTest, EventsAndLogoutsReachThePages)
{
	auto reader = page();
	runtime->syncIntegrations({entry("TWITCH", "t1", "u1")});
	ASSERT_TRUE(openFor("u1"));
	realtime.sendText(realtime.last(),
			  R"({"type":"EVENT","event":{"event_type":"FOLLOW","b":[1,{"c":null}],"a":"é"}})");
	ASSERT_TRUE(reader->waitForMessages(1));
	EXPECT_EQ(reader->texts()[0], R"({"a":"é","b":[1,{"c":null}],"event_type":"FOLLOW"})");

	realtime.sendText(realtime.last(), R"({"type":"ERROR","error":"INVALID_AUTHORIZATION"})");
	ASSERT_TRUE(reader->waitForMessages(2));
	EXPECT_EQ(reader->texts()[1], R"({"event_type":"X_LOGOUT","upid":"u1"})");
	EXPECT_EQ(loggedOut, (std::vector<std::pair<std::string, std::string>>{{"u1", "t1"}}));
}

TEST_F(VekRuntimeTest, ProxiedRequests)
{
	auto reader = page();
	runtime->syncIntegrations({entry("TWITCH", "t1", "u1")});
	rest.route("POST", QStringLiteral("/v2/vek/chat/send"),
		   FakeHttpServer::Response{200, R"({"ok":true})", 0, "application/json"});
	rest.route("GET", QStringLiteral("/v2/vek/missing"),
		   FakeHttpServer::Response{404, "<h1>Not here</h1>", 0, "text/html"});
	rest.route("GET", QStringLiteral("/v2/vek/bin"),
		   FakeHttpServer::Response{200, QByteArray("\xff\x00\x01", 3), 0, "application/octet-stream"});

	runtime->handleProxyRequest(
		"u1",
		{{"endpoint", "/chat/send?x=1"}, {"method", "post"}, {"nonce", "n1"}, {"json", R"({"text":"hi"})"}});
	ASSERT_TRUE(reader->waitForMessages(1));
	EXPECT_EQ(json::parse(reader->texts()[0]),
		  json({{"event_type", "X_RESPONSE"}, {"nonce", "n1"}, {"response", R"({"ok":true})"}}));
	const FakeHttpServer::Request &post = rest.requests.last();
	EXPECT_EQ(post.target, "/v2/vek/chat/send?x=1");
	EXPECT_EQ(post.headers.value("client-id"), "Xq7Tn2LpW9cRv4HbZk1Md8Fs");
	EXPECT_EQ(post.headers.value("authorization"), "Vek t1");
	EXPECT_EQ(post.headers.value("content-type"), "application/json; charset=utf-8");
	EXPECT_EQ(post.body, R"({"text":"hi"})");

	// "json" as an object: no body, no content type. "bytes" wins over "json".
	runtime->handleProxyRequest(
		"u1", {{"endpoint", "/chat/send"}, {"method", "POST"}, {"nonce", "n2"}, {"json", {{"a", 1}}}});
	runtime->handleProxyRequest(
		"u1",
		{{"endpoint", "/chat/send"}, {"method", "PUT"}, {"nonce", "n3"}, {"bytes", "AAEC"}, {"json", "{}"}});
	ASSERT_TRUE(waitUntil([&] { return rest.requests.size() == 3; }));
	// The two go out on separate connections: find them by method.
	const auto byMethod = [this](const QByteArray &method) {
		for (const FakeHttpServer::Request &request : rest.requests.mid(1)) {
			if (request.method == method)
				return request;
		}
		return FakeHttpServer::Request();
	};
	EXPECT_TRUE(byMethod("POST").body.isEmpty());
	EXPECT_FALSE(byMethod("POST").headers.contains("content-type"));
	EXPECT_EQ(byMethod("PUT").body, QByteArray("\x00\x01\x02", 3));
	EXPECT_EQ(byMethod("PUT").headers.value("content-type"), "application/octet-stream");

	ASSERT_TRUE(reader->waitForMessages(3));
	const auto responseTo = [&reader](const std::string &nonce) {
		for (const std::string &text : reader->texts()) {
			const json message = json::parse(text);
			if (message["nonce"] == nonce)
				return message["response"].get<std::string>();
		}
		return std::string("<none>");
	};

	// GET sends no body even with "bytes"; a 404 page comes back as it is.
	runtime->handleProxyRequest("u1",
				    {{"endpoint", "/missing"}, {"method", "GET"}, {"nonce", "n4"}, {"bytes", "AAEC"}});
	ASSERT_TRUE(reader->waitForMessages(4));
	EXPECT_TRUE(rest.requests.last().body.isEmpty());
	EXPECT_EQ(responseTo("n4"), "<h1>Not here</h1>");

	// Binary bodies travel with invalid sequences replaced.
	runtime->handleProxyRequest("u1", {{"endpoint", "/bin"}, {"method", "GET"}, {"nonce", "n5"}});
	ASSERT_TRUE(reader->waitForMessages(5));
	EXPECT_EQ(responseTo("n5"), std::string("\xEF\xBF\xBD\x00\x01", 5));

	// Unsupported method, missing members, unknown upid: no traffic, no answer.
	const int before = rest.requests.size();
	runtime->handleProxyRequest("u1", {{"endpoint", "/chat/send"}, {"method", "PATCH"}, {"nonce", "n6"}});
	runtime->handleProxyRequest("u1", {{"endpoint", "/chat/send"}, {"method", "GET"}});
	runtime->handleProxyRequest("nobody", {{"endpoint", "/chat/send"}, {"method", "GET"}, {"nonce", "n7"}});
	pumpEvents(300ms);
	EXPECT_EQ(rest.requests.size(), before);
	EXPECT_EQ(reader->texts().size(), 5u);
}

// Every account's requests go through one client: a cookie Vek sets on one
// account's reply must not go out with another account's requests.
TEST_F(VekRuntimeTest, ACookieSetForOneAccountGoesWithNoOtherAccountsRequest)
{
	auto reader = page();
	runtime->syncIntegrations({entry("TWITCH", "t1", "u1"), entry("KICK", "t2", "u2")});
	FakeHttpServer::Response withCookie{200, "a", 0, "text/plain"};
	withCookie.headers = {{"Set-Cookie", "s=A; Path=/"}};
	rest.route("GET", QStringLiteral("/v2/vek/a"), withCookie);
	rest.route("GET", QStringLiteral("/v2/vek/b"), FakeHttpServer::Response{200, "b", 0, "text/plain"});
	runtime->handleProxyRequest("u1", {{"endpoint", "/a"}, {"method", "GET"}, {"nonce", "n1"}});
	ASSERT_TRUE(reader->waitForMessages(1));
	runtime->handleProxyRequest("u2", {{"endpoint", "/b"}, {"method", "GET"}, {"nonce", "n2"}});
	ASSERT_TRUE(reader->waitForMessages(2));
	const FakeHttpServer::Request &other = rest.requests.last();
	EXPECT_EQ(other.headers.value("authorization"), "Vek t2");
	EXPECT_FALSE(other.headers.contains("cookie")) << other.headers.value("cookie").constData();
}

TEST_F(VekRuntimeTest, ProxiedRequestTimeOutAnswersWithAnEmptyBody)
{
	VekService service = testService(realtime.port(), rest.baseUrl());
	service.requestTimeout = 200ms;
	runtime = std::make_unique<VekRuntime>(service);
	relayToProxy();
	auto reader = page();
	runtime->syncIntegrations({entry("TWITCH", "t1", "u1")});
	rest.route("GET", QStringLiteral("/v2/vek/slow"), FakeHttpServer::Response{200, "late", 3000, "text/plain"});
	runtime->handleProxyRequest("u1", {{"endpoint", "/slow"}, {"method", "GET"}, {"nonce", "slow"}});
	ASSERT_TRUE(reader->waitForMessages(1, 2s));
	EXPECT_EQ(json::parse(reader->texts()[0]),
		  json({{"event_type", "X_RESPONSE"}, {"nonce", "slow"}, {"response", ""}}));
}

// An account that goes takes its pending requests along: aborted, unanswered.
TEST_F(VekRuntimeTest, RemovedAccountsPendingRequestIsDropped)
{
	auto reader = page();
	runtime->syncIntegrations({entry("TWITCH", "t1", "u1"), entry("KICK", "t2", "u2")});
	FakeHttpServer::Response never{200, "never", 0, "text/plain"};
	never.hang = true;
	rest.route("GET", QStringLiteral("/v2/vek/hang"), never);
	rest.route("GET", QStringLiteral("/v2/vek/quick"), FakeHttpServer::Response{200, "quick", 0, "text/plain"});
	runtime->handleProxyRequest("u1", {{"endpoint", "/hang"}, {"method", "GET"}, {"nonce", "n1"}});
	ASSERT_TRUE(waitUntil([&] { return rest.requests.size() == 1; }));
	runtime->syncIntegrations({entry("KICK", "t2", "u2")});
	// The worker thread's loop deletes the removed worker; here no loop runs.
	QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	ASSERT_TRUE(waitUntil([&] { return rest.openConnections() == 0; }));
	runtime->handleProxyRequest("u2", {{"endpoint", "/quick"}, {"method", "GET"}, {"nonce", "n2"}});
	ASSERT_TRUE(reader->waitForMessages(1));
	EXPECT_EQ(json::parse(reader->texts()[0]),
		  json({{"event_type", "X_RESPONSE"}, {"nonce", "n2"}, {"response", "quick"}}));
	EXPECT_EQ(rest.requests.last().headers.value("authorization"), "Vek t2");
}

TEST_F(VekRuntimeTest, PassthroughGoesToTheAccountsConnection)
{
	runtime->syncIntegrations({entry("TWITCH", "t1", "u1")});
	runtime->handleProxyPassthrough("u1", {{"type", "EARLY"}}); // not open yet: dropped
	ASSERT_TRUE(openFor("u1"));
	runtime->handleProxyPassthrough("u1", {{"type", "SEND_CHAT"}, {"text", "hello"}});
	runtime->handleProxyPassthrough("other", {{"type", "SEND_CHAT"}});
	ASSERT_TRUE(waitUntil([&] { return realtime.last().texts.size() == 2; }));
	EXPECT_EQ(realtime.last().texts[1], R"({"text":"hello","type":"SEND_CHAT"})");
	runtime->stop();
	EXPECT_EQ(runtime->workerCount(), 0u);
}
