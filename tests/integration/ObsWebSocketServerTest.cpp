// obs-websocket's protocol 5 as the stand-in serves it, with the module loaded:
// sessions over real sockets on 127.0.0.1, vendor requests answered by the
// module, and its vendor events relayed to subscribed clients.

#include "ModuleHost.h"

#include "LogCapture.h"
#include "ObsWebSocketServer.h"
#include "TestWebSocketClient.h"
#include "host/ObsWebSocketNames.h"
#include "websocket/Base64.h"
#include "websocket/WebSocketHandshake.h"

#include <cmath>
#include <functional>
#include <memory>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>

#include <obs.hpp>

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// Below the kernel's ephemeral range, so no client socket can hold it.
constexpr quint16 kPort = 24455;
constexpr char kPassword[] = "pa55-Word";

std::string sha256Base64(const std::string &text)
{
	const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha256);
	return base64Encode(std::string_view(digest.constData(), size_t(digest.size())));
}

std::string authenticationFor(const std::string &password, const json &hello)
{
	const json &auth = hello["authentication"];
	return sha256Base64(sha256Base64(password + auth["salt"].get<std::string>()) +
			    auth["challenge"].get<std::string>());
}

json configWith(bool authRequired, bool enabled = true)
{
	return {{"server_enabled", enabled},
		{"server_port", kPort},
		{"auth_required", authRequired},
		{"server_password", kPassword}};
}

// One obs-websocket client session over the test client.
struct Session {
	TestWebSocketClient ws;

	bool open(const QByteArray &headers = "Sec-WebSocket-Protocol: obswebsocket.json\r\n")
	{
		return ws.open(kPort, QStringLiteral("/"), true, headers) && ws.waitForUpgrade();
	}

	void send(int op, const json &data) { ws.sendText(json{{"op", op}, {"d", data}}.dump()); }

	// The text of the first message that matches ({"op", "d"}), as it came;
	// empty when none arrives in time.
	std::string waitForText(const std::function<bool(const json &)> &match, std::chrono::milliseconds timeout = 20s)
	{
		std::string found;
		waitUntil(
			[&] {
				for (const std::string &text : ws.texts()) {
					const json message = json::parse(text, nullptr, false);
					if (message.is_object() && match(message)) {
						found = text;
						return true;
					}
				}
				return false;
			},
			timeout);
		return found;
	}

	// The same parsed; null when none arrives in time.
	json waitFor(const std::function<bool(const json &)> &match, std::chrono::milliseconds timeout = 20s)
	{
		const std::string text = waitForText(match, timeout);
		return text.empty() ? json() : json::parse(text);
	}

	json hello()
	{
		return waitFor([](const json &m) { return m["op"] == 0; })["d"];
	}

	size_t countOp(int op) const
	{
		size_t count = 0;
		for (const std::string &text : ws.texts())
			count += json::parse(text, nullptr, false).value("op", -1) == op;
		return count;
	}

	// Sends Identify (authenticated when Hello asks for it) and waits for Identified.
	json identify(json data = json::object())
	{
		const json greeting = hello();
		data["rpcVersion"] = 1;
		if (greeting.contains("authentication"))
			data["authentication"] = authenticationFor(kPassword, greeting);
		send(1, data);
		return waitFor([](const json &m) { return m["op"] == 2; })["d"];
	}

	json request(const std::string &type, const std::string &id, const json &data = nullptr)
	{
		json request = {{"requestType", type}, {"requestId", id}};
		if (!data.is_null())
			request["requestData"] = data;
		send(6, request);
		return waitFor([&](const json &m) { return m["op"] == 7 && m["d"]["requestId"] == id; })["d"];
	}

	json callModule(const std::string &id, const std::string &method)
	{
		return request("CallVendorRequest", id,
			       {{"vendorName", ObsWebSocketNames::vendorName},
				{"requestType", ObsWebSocketNames::requestType},
				{"requestData", {{"id", id}, {"method", method}}}});
	}

	json statusEvent(std::chrono::milliseconds timeout = 10s)
	{
		return waitFor(
			[](const json &m) {
				return m["op"] == 5 &&
				       m["d"]["eventData"]["eventData"].value("method", "") == "zorva.statusChanged";
			},
			timeout)["d"];
	}

	// Close code after the server ended the session; -1 when it did not.
	int closedWith()
	{
		if (!ws.waitForClose())
			return -1;
		return ws.closeCode();
	}
};

class ObsWebSocketServerTest : public ModuleHostTest {
protected:
	void TearDown() override
	{
		server.reset();
		ModuleHostTest::TearDown();
	}

	// Writes obs-websocket's config, loads the module and starts the server
	// from what the config file says.
	bool startWith(const json &config)
	{
		writeObsWebSocketConfig(config);
		load();
		postLoad();
		return restartFromConfig();
	}

	bool restartFromConfig()
	{
		if (!server)
			server = std::make_unique<ObsWebSocketServer>();
		return server->start(ObsWebSocketSettings::read(ObsWebSocketSettings::path()));
	}

	std::unique_ptr<ObsWebSocketServer> server;
};

// A vendor of the test's own, registered through the stand-in's procedure
// handler as a module registers. Its request "echo" answers with the request
// data plus values only a vendor can write (a whole double, NaN, a default
// without a value of its own), and emits that answer as the event "echoed".
class ProbeVendor {
public:
	bool registerWith()
	{
		calldata_t cd;
		calldata_init(&cd);
		proc_handler_call(obs_get_proc_handler(), "obs_websocket_api_get_ph", &cd);
		handler = static_cast<proc_handler_t *>(calldata_ptr(&cd, "ph"));
		calldata_set_string(&cd, "name", "conversion-probe");
		vendor = handler && proc_handler_call(handler, "vendor_register", &cd) ? calldata_ptr(&cd, "vendor")
										       : nullptr;
		calldata_set_string(&cd, "type", "echo");
		calldata_set_ptr(&cd, "callback", &callback);
		const bool registered = vendor && proc_handler_call(handler, "vendor_request_register", &cd) &&
					calldata_bool(&cd, "success");
		calldata_free(&cd);
		return registered;
	}

	bool emit(const char *type, obs_data_t *data)
	{
		calldata_t cd;
		calldata_init(&cd);
		calldata_set_ptr(&cd, "vendor", vendor);
		calldata_set_string(&cd, "type", type);
		calldata_set_ptr(&cd, "data", data);
		const bool sent = proc_handler_call(handler, "vendor_event_emit", &cd) && calldata_bool(&cd, "success");
		calldata_free(&cd);
		return sent;
	}

private:
	static void echo(obs_data_t *request, obs_data_t *response, void *self)
	{
		obs_data_apply(response, request);
		obs_data_set_double(response, "whole", 2.0);
		obs_data_set_double(response, "nan", std::nan(""));
		obs_data_set_default_int(response, "defaultOnly", 7);
		static_cast<ProbeVendor *>(self)->emit("echoed", response);
	}

	struct {
		void (*function)(obs_data_t *, obs_data_t *, void *);
		void *self;
	} callback{&ProbeVendor::echo, this};
	proc_handler_t *handler = nullptr;
	void *vendor = nullptr;
};

// Data crossing obs-websocket, in all three directions.
using ObsWebSocketConversion = ObsWebSocketServerTest;

} // namespace

TEST_F(ObsWebSocketServerTest, HelloAnnouncesAuthenticationOnlyWithAPassword)
{
	ASSERT_TRUE(startWith(configWith(true)));
	EXPECT_EQ(LogCapture::instance().count("[obs-websocket stand-in] listening on 127.0.0.1:24455"), 1u);

	Session first;
	ASSERT_TRUE(first.open());
	EXPECT_EQ(findHeaderValue(first.ws.upgradeResponse().toStdString(), "Sec-WebSocket-Protocol"),
		  "obswebsocket.json");
	const json hello = first.hello();
	EXPECT_EQ(hello["obsStudioVersion"], obs_get_version_string());
	EXPECT_EQ(hello["rpcVersion"], 1);
	EXPECT_EQ(hello["obsWebSocketVersion"].get<std::string>().rfind("5.", 0), 0u);
	const std::string challenge = hello["authentication"]["challenge"];
	EXPECT_EQ(base64Decode(challenge).size(), 32u);
	EXPECT_EQ(base64Decode(hello["authentication"]["salt"].get<std::string>()).size(), 32u);

	// Every session gets a challenge of its own.
	Session second;
	ASSERT_TRUE(second.open(QByteArray()));
	EXPECT_TRUE(findHeaderValue(second.ws.upgradeResponse().toStdString(), "Sec-WebSocket-Protocol").empty());
	EXPECT_NE(second.hello()["authentication"]["challenge"], challenge);

	// Only JSON is spoken: a client wanting MessagePack is refused.
	Session msgpack;
	EXPECT_FALSE(msgpack.open("Sec-WebSocket-Protocol: obswebsocket.msgpack\r\n"));
	EXPECT_TRUE(msgpack.ws.upgradeResponse().startsWith("HTTP/1.1 400 "));

	writeObsWebSocketConfig(configWith(false));
	ASSERT_TRUE(restartFromConfig());
	Session open;
	ASSERT_TRUE(open.open());
	const json openHello = open.hello();
	EXPECT_EQ(openHello["rpcVersion"], 1);
	EXPECT_FALSE(openHello.contains("authentication"));
	EXPECT_EQ(open.identify(), json({{"negotiatedRpcVersion", 1}}));
}

TEST_F(ObsWebSocketServerTest, IdentifyChecksAuthenticationAndRpcVersion)
{
	ASSERT_TRUE(startWith(configWith(true)));

	Session good;
	ASSERT_TRUE(good.open());
	EXPECT_EQ(good.identify(), json({{"negotiatedRpcVersion", 1}}));
	EXPECT_EQ(LogCapture::instance().count("identified (event subscriptions 2047)"), 1u);

	Session wrong;
	ASSERT_TRUE(wrong.open());
	const json hello = wrong.hello();
	wrong.send(1, {{"rpcVersion", 1}, {"authentication", authenticationFor("not-the-password", hello)}});
	EXPECT_EQ(wrong.closedWith(), 4009);

	Session missing;
	ASSERT_TRUE(missing.open());
	missing.hello();
	missing.send(1, {{"rpcVersion", 1}});
	EXPECT_EQ(missing.closedWith(), 4009);

	Session future;
	ASSERT_TRUE(future.open());
	const json futureHello = future.hello();
	future.send(1, {{"rpcVersion", 2}, {"authentication", authenticationFor(kPassword, futureHello)}});
	EXPECT_EQ(future.closedWith(), 4010);
	EXPECT_EQ(future.countOp(2), 0u);

	// The identified session is untouched by the others' failures.
	EXPECT_EQ(good.request("GetVersion", "v")["requestStatus"]["code"], 100);
}

TEST_F(ObsWebSocketServerTest, MessagesOutsideTheSessionRulesCloseTheConnection)
{
	ASSERT_TRUE(startWith(configWith(false)));

	Session early;
	ASSERT_TRUE(early.open());
	early.hello();
	early.send(6, {{"requestType", "GetVersion"}, {"requestId", "1"}});
	EXPECT_EQ(early.closedWith(), 4007);
	EXPECT_EQ(early.countOp(7), 0u);

	Session unknownOp;
	ASSERT_TRUE(unknownOp.open());
	unknownOp.identify();
	unknownOp.send(4, json::object());
	EXPECT_EQ(unknownOp.closedWith(), 4006);

	Session garbage;
	ASSERT_TRUE(garbage.open());
	garbage.identify();
	garbage.ws.sendText("{not json");
	EXPECT_EQ(garbage.closedWith(), 4002);

	Session twice;
	ASSERT_TRUE(twice.open());
	twice.identify();
	twice.send(1, {{"rpcVersion", 1}});
	EXPECT_EQ(twice.closedWith(), 4008);
	EXPECT_EQ(LogCapture::instance().count("with code 4006: Unknown op code: 4"), 1u);
}

TEST_F(ObsWebSocketServerTest, CallVendorRequestIsAnsweredByTheModule)
{
	ASSERT_TRUE(startWith(configWith(true)));
	Session session;
	ASSERT_TRUE(session.open());
	session.identify();

	const json status = session.callModule("s1", "zorva.status");
	EXPECT_EQ(status["requestType"], "CallVendorRequest");
	EXPECT_EQ(status["requestStatus"], json({{"result", true}, {"code", 100}}));
	EXPECT_EQ(status["responseData"]["vendorName"], ObsWebSocketNames::vendorName);
	EXPECT_EQ(status["responseData"]["requestType"], ObsWebSocketNames::requestType);
	// The module finds this very server through the config file.
	const json &obsWebSocket = status["responseData"]["responseData"]["hostBootstrap"]["obsWebSocket"];
	EXPECT_EQ(obsWebSocket["port"], kPort);
	EXPECT_EQ(obsWebSocket["password"], kPassword);
	EXPECT_FALSE(obsWebSocket.contains("error")) << obsWebSocket.dump();

	const json unknownVendor = session.request("CallVendorRequest", "u1",
						   {{"vendorName", "nobody"},
						    {"requestType", ObsWebSocketNames::requestType},
						    {"requestData", json::object()}});
	EXPECT_EQ(unknownVendor["requestStatus"]["code"], 600);
	EXPECT_EQ(unknownVendor["requestStatus"]["result"], false);
	EXPECT_FALSE(unknownVendor.contains("responseData"));
	const json unknownType = session.request(
		"CallVendorRequest", "u2", {{"vendorName", ObsWebSocketNames::vendorName}, {"requestType", "nothing"}});
	EXPECT_EQ(unknownType["requestStatus"]["code"], 600);

	const json noVendor =
		session.request("CallVendorRequest", "m1", {{"requestType", ObsWebSocketNames::requestType}});
	EXPECT_EQ(noVendor["requestStatus"]["code"], 300);
	EXPECT_NE(noVendor["requestStatus"]["comment"].get<std::string>().find("vendorName"), std::string::npos);
	const json noType = session.request("CallVendorRequest", "m2", {{"vendorName", ObsWebSocketNames::vendorName}});
	EXPECT_EQ(noType["requestStatus"]["code"], 300);
	EXPECT_EQ(session.request("CallVendorRequest", "m3")["requestStatus"]["code"], 300);

	// An answer for a client that left meanwhile is dropped; others go on.
	{
		Session leaving;
		ASSERT_TRUE(leaving.open());
		leaving.identify();
		leaving.send(6, {{"requestType", "CallVendorRequest"},
				 {"requestId", "gone"},
				 {"requestData",
				  {{"vendorName", ObsWebSocketNames::vendorName},
				   {"requestType", ObsWebSocketNames::requestType},
				   {"requestData", {{"id", "gone"}, {"method", "zorva.refreshHostBootstrap"}}}}}});
		pumpEvents(20ms); // the request leaves and is read before the client goes
	}
	const json after = session.callModule("s2", "zorva.getHostBootstrap");
	EXPECT_EQ(after["responseData"]["responseData"]["host"], "obs");
}

TEST_F(ObsWebSocketServerTest, GetVersionAndUnknownRequestTypes)
{
	ASSERT_TRUE(startWith(configWith(false)));
	Session session;
	ASSERT_TRUE(session.open());
	session.identify();

	const json version = session.request("GetVersion", "v1");
	EXPECT_EQ(version["requestStatus"], json({{"result", true}, {"code", 100}}));
	const json &data = version["responseData"];
	EXPECT_EQ(data["obsVersion"], obs_get_version_string());
	EXPECT_EQ(data["rpcVersion"], 1);
	EXPECT_EQ(data["obsWebSocketVersion"], session.hello()["obsWebSocketVersion"]);
	EXPECT_EQ(data["availableRequests"], json({"CallVendorRequest", "GetVersion"}));
	EXPECT_EQ(data["supportedImageFormats"], json::array());

	const json unknown = session.request("GetSceneList", "x1", json::object());
	EXPECT_EQ(unknown["requestType"], "GetSceneList");
	EXPECT_EQ(unknown["requestStatus"]["code"], 204);
	EXPECT_EQ(unknown["requestStatus"]["result"], false);
	EXPECT_NE(unknown["requestStatus"]["comment"].get<std::string>().find("GetSceneList"), std::string::npos);
}

TEST_F(ObsWebSocketServerTest, VendorEventsReachSubscribedClients)
{
	ASSERT_TRUE(startWith(configWith(true)));
	Session everything; // default subscriptions
	ASSERT_TRUE(everything.open());
	everything.identify();
	Session generalOnly;
	ASSERT_TRUE(generalOnly.open());
	generalOnly.identify({{"eventSubscriptions", 1}});

	everything.callModule("r1", "zorva.refreshHostBootstrap");
	const json event = everything.statusEvent();
	EXPECT_EQ(event["eventType"], "VendorEvent");
	EXPECT_EQ(event["eventIntent"], 512);
	EXPECT_EQ(event["eventData"]["vendorName"], ObsWebSocketNames::vendorName);
	EXPECT_EQ(event["eventData"]["eventType"], ObsWebSocketNames::eventType);
	EXPECT_TRUE(event["eventData"]["eventData"]["params"].contains("hostBootstrap"));
	pumpEvents(300ms);
	EXPECT_EQ(generalOnly.countOp(5), 0u);

	// Subscribing to vendor events later, through Reidentify.
	generalOnly.send(3, {{"eventSubscriptions", 512}});
	ASSERT_TRUE(waitUntil([&] { return generalOnly.countOp(2) == 2; }, 5s));
	generalOnly.callModule("r2", "zorva.refreshHostBootstrap");
	EXPECT_FALSE(generalOnly.statusEvent().is_null());
}

TEST_F(ObsWebSocketServerTest, DisabledServerListensNowhere)
{
	EXPECT_FALSE(startWith(configWith(true, false)));
	EXPECT_FALSE(server->isListening());
	EXPECT_EQ(LogCapture::instance().count("[obs-websocket stand-in] server disabled in the config; not listening"),
		  1u);
	QTcpSocket probe;
	probe.connectToHost(QStringLiteral("127.0.0.1"), kPort);
	EXPECT_FALSE(probe.waitForConnected(1000));
}

TEST_F(ObsWebSocketServerTest, DefaultConfigIsWrittenOnceAndReadBack)
{
	const QString path = ObsWebSocketSettings::path();
	EXPECT_EQ(path, obsWebSocketConfigPath());
	ASSERT_FALSE(QFile::exists(path));
	ASSERT_TRUE(ObsWebSocketSettings::ensureDefaults(path));

	QFile file(path);
	ASSERT_TRUE(file.open(QIODevice::ReadOnly));
	const json written = json::parse(file.readAll().toStdString(), nullptr, false);
	file.close();
	EXPECT_EQ(written["server_enabled"], true);
	EXPECT_EQ(written["server_port"], 4455);
	EXPECT_EQ(written["auth_required"], true);
	const std::string password = written["server_password"];
	EXPECT_EQ(password.size(), 16u);
	EXPECT_EQ(password.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
		  std::string::npos);

	// An existing file is kept as it is.
	writeObsWebSocketConfig({{"server_enabled", true}, {"server_port", 4460}, {"server_password", "mine"}});
	ASSERT_TRUE(ObsWebSocketSettings::ensureDefaults(path));
	const ObsWebSocketSettings config = ObsWebSocketSettings::read(path);
	EXPECT_TRUE(config.enabled);
	EXPECT_EQ(config.port, 4460);
	EXPECT_FALSE(config.authRequired);
	EXPECT_EQ(config.password, QStringLiteral("mine"));
	EXPECT_FALSE(ObsWebSocketSettings::read(path + QStringLiteral(".missing")).enabled);

	// Read as the module reads it: a mistyped key keeps its default, and a
	// port the module takes for none is not served.
	writeObsWebSocketConfig({{"server_enabled", "yes"}, {"server_port", 4460}});
	EXPECT_FALSE(ObsWebSocketSettings::read(path).enabled);
	writeObsWebSocketConfig({{"server_enabled", true}, {"server_port", 65536}});
	EXPECT_FALSE(ObsWebSocketSettings::read(path).enabled);
}

// A real obs-websocket client (the npm package obs-websocket-js) against the
// server, with the UI thread serving while it runs.
TEST_F(ObsWebSocketServerTest, ObsWebSocketJsCallsTheModule)
{
	const QString folder = QStringLiteral(ZORVA_OBS_WEBSOCKET_JS_DIR);
	if (!QFile::exists(folder + QStringLiteral("/node_modules/obs-websocket-js/package.json")))
		GTEST_SKIP() << "obs-websocket-js is not installed; run: npm ci --prefix " << folder.toStdString();
	const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
	ASSERT_FALSE(node.isEmpty()) << "node is not on PATH";
	ASSERT_TRUE(startWith(configWith(true)));

	QProcess check;
	check.setWorkingDirectory(folder);
	check.start(node, {QStringLiteral("check.mjs"), QStringLiteral("ws://127.0.0.1:%1").arg(kPort),
			   QString::fromLatin1(kPassword), QString::fromLatin1(ObsWebSocketNames::vendorName),
			   QString::fromLatin1(ObsWebSocketNames::requestType),
			   QString::fromLatin1(ObsWebSocketNames::eventType)});
	ASSERT_TRUE(check.waitForStarted(5000));
	const bool finished = waitUntil([&] { return check.state() == QProcess::NotRunning; }, 40s);
	if (!finished) {
		check.kill();
		check.waitForFinished(5000);
	}
	const std::string output =
		check.readAllStandardOutput().toStdString() + check.readAllStandardError().toStdString();
	ASSERT_TRUE(finished) << output;
	EXPECT_EQ(check.exitStatus(), QProcess::NormalExit) << output;
	EXPECT_EQ(check.exitCode(), 0) << output;
	EXPECT_EQ(LogCapture::instance().count("identified (event subscriptions 2047)"), 1u);
}

// The request is sent as raw text, so that its numbers are written exactly as
// given. The vendor gets settings data as obs-websocket builds it: arrays keep
// their objects only, nulls are gone, 1.0 and 1E2 are doubles, an integer past
// INT64_MAX wraps, a string ends at "\u0000". Its answer and events are
// written as obs-websocket writes them: ints and doubles apart ("1.0"), NaN as
// null, defaults left out, null event data as {}.
TEST_F(ObsWebSocketConversion, RequestResponseAndEventDataAreConvertedOnTheWay)
{
	ASSERT_TRUE(startWith(configWith(false)));
	ProbeVendor probe;
	ASSERT_TRUE(probe.registerWith());
	Session session;
	ASSERT_TRUE(session.open());
	session.identify();
	session.ws.sendText(
		R"({"op":6,"d":{"requestType":"CallVendorRequest","requestId":"c1","requestData":{)"
		R"("vendorName":"conversion-probe","requestType":"echo","requestData":{)"
		R"("platforms":["twitch","kick"],"mixed":[{"a":1},"s",2,2.5,true,null,[{"b":1}],{}],"gone":null,)"
		R"("int":1,"float":1.0,"exp":1E2,"big":18446744073709551615,"nul":"x\u0000y",)"
		R"("nested":{"gone":null,"keep":false,"list":[{"c":null},"d"]}}}}})");
	const auto event = [&](const std::string &type) {
		return session.waitForText([&](const json &m) {
			return m["op"] == 5 && m["d"]["eventData"]["vendorName"] == "conversion-probe" &&
			       m["d"]["eventData"]["eventType"] == type;
		});
	};

	const std::string written = R"({"big":-1,"exp":100.0,"float":1.0,"int":1,"mixed":[{"a":1},{}],"nan":null,)"
				    R"("nested":{"keep":false,"list":[{}]},"nul":"x","platforms":[],"whole":2.0})";
	const std::string response = session.waitForText([](const json &m) { return m["op"] == 7; });
	EXPECT_NE(response.find(R"("responseData":{"requestType":"echo","responseData":)" + written + ","),
		  std::string::npos)
		<< response;
	EXPECT_NE(event("echoed").find(R"("eventData":)" + written + ","), std::string::npos) << event("echoed");

	ASSERT_TRUE(probe.emit("empty", nullptr));
	EXPECT_NE(event("empty").find(R"("eventData":{},"eventType":"empty")"), std::string::npos) << event("empty");
}
