// Host requests and host events through the stand-in obs-websocket, with the
// module loaded: requests arrive on obs-websocket's threads.

#include "ModuleHost.h"

#include "FrontendStandin.h"
#include "LogCapture.h"
#include "StandinHost.h"
#include "host/ObsWebSocketNames.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

class VendorBridgeTest : public ModuleHostTest {
protected:
	void loadAndRegister(const Setup &setup = Setup())
	{
		load(setup);
		postLoad();
		// The proxy's start publishes the first status event.
		if (!setup.obsWebSocket.noVendorHandle && setup.withObsWebSocket) {
			ASSERT_TRUE(waitUntil([&] { return !statusEvents().empty(); }, 5s));
		}
	}
};

// Time bounds, under the label timing.
using VendorBridgeTiming = VendorBridgeTest;

const json kUnknownMethod = {{"__vendorError", true},
			     {"error", "Unknown method: no.such.method"},
			     {"errorCode", "METHOD_NOT_FOUND"}};

} // namespace

TEST_F(VendorBridgeTest, BadRequestDataGetsWellFormedAnswers)
{
	loadAndRegister();
	EXPECT_EQ(vendorRequestText(""), json::object());      // null request data
	EXPECT_EQ(vendorRequestText("{}"), json::object());    // empty object
	EXPECT_EQ(vendorRequestText("[1,2]"), json::object()); // not an object
	EXPECT_EQ(vendorRequestText("not json"), json::object());
	// Ids that are not non-empty strings make notifications.
	EXPECT_EQ(vendorRequest({{"id", 7}, {"method", "no.such.method"}}), json::object());
	EXPECT_EQ(vendorRequest({{"id", ""}, {"method", "no.such.method"}}), json::object());
	// A "message" that is not an object is not unwrapped.
	EXPECT_EQ(vendorRequest({{"message", "text"}, {"id", "7"}, {"method", "no.such.method"}}), kUnknownMethod);
	EXPECT_EQ(vendorRequest({{"message", {{"id", "7"}, {"method", "no.such.method"}}}}), kUnknownMethod);
	EXPECT_EQ(vendorRequest({{"id", "7"}}),
		  json({{"__vendorError", true}, {"error", "Missing method."}, {"errorCode", "MISSING_METHOD"}}));
	// Array results cannot travel as response data.
	EXPECT_EQ(vendorRequest({{"id", "1"}, {"method", "listDisplays"}}), json::object());
	// Fixed errors keep their code.
	EXPECT_EQ(vendorRequest({{"id", "1"}, {"method", "takeScreenshot"}}),
		  json({{"__vendorError", true},
			{"error", "Screenshots are not available from OBS yet."},
			{"errorCode", "NOT_IMPLEMENTED"}}));
}

// 2 MB of request data is answered in well under a second here; 10 s leaves
// room for a loaded machine and for sanitizer builds.
TEST_F(VendorBridgeTiming, HugeRequestIsAnsweredInBoundedTime)
{
	loadAndRegister();
	// libobs's settings data (which obs-websocket builds the request data with)
	// inserts keys in quadratic time, so the size is in long values, not keys.
	json params = json::object();
	for (int i = 0; i < 2000; ++i)
		params["key" + std::to_string(i)] = std::string(1000, 'v');
	const auto started = std::chrono::steady_clock::now();
	EXPECT_EQ(vendorRequest({{"id", "1"}, {"method", "getSessionJson"}, {"params", params}}), json::object());
	EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

TEST_F(VendorBridgeTest, ManyConcurrentRequestsNeverDeadlock)
{
	loadAndRegister();
	using Future = std::future<ObsWebSocketStandin::VendorResponse>;
	std::vector<Future> futures;
	for (int i = 0; i < 64; ++i) {
		const json request = {{"id", std::to_string(i)},
				      {"method", i % 2 ? "zorva.getHostBootstrap" : "accounts.handleRedirect"},
				      {"params", {{"url", "https://example.invalid/?n=" + std::to_string(i)}}}};
		futures.push_back(ObsWebSocketStandin::instance().callVendorRequest(
			ObsWebSocketNames::vendorName, ObsWebSocketNames::requestType, request.dump()));
	}
	ASSERT_TRUE(waitUntil(
		[&] {
			for (Future &future : futures) {
				if (future.wait_for(0s) != std::future_status::ready)
					return false;
			}
			return true;
		},
		30s));
	for (size_t i = 0; i < futures.size(); ++i) {
		const json response = json::parse(futures[i].get().responseJson);
		if (i % 2)
			EXPECT_EQ(response["host"], "obs");
		else
			EXPECT_EQ(response, json({{"handled", false}}));
	}
}

TEST_F(VendorBridgeTest, StatusEventCarriesMethodParamsAndBootstrap)
{
	QTcpServer obsWebSocketServer;
	ASSERT_TRUE(obsWebSocketServer.listen(QHostAddress::LocalHost, 0));
	writeObsWebSocketConfig({{"server_enabled", true},
				 {"server_port", obsWebSocketServer.serverPort()},
				 {"server_password", "secret"},
				 {"auth_required", true}});
	loadAndRegister();
	const auto events = statusEvents();
	const json event = json::parse(events.back().dataJson);
	ASSERT_EQ(event.size(), 2u);
	const json &params = event["params"];
	EXPECT_TRUE(params.contains("account"));
	EXPECT_TRUE(params.contains("integrations"));
	EXPECT_TRUE(params.contains("vekEndpoint"));
	const json &ws = params["hostBootstrap"]["obsWebSocket"];
	EXPECT_EQ(ws["port"], obsWebSocketServer.serverPort());
	EXPECT_EQ(ws["password"], "secret");
	EXPECT_EQ(ws["enabled"], true);
	EXPECT_FALSE(ws.contains("error"));
	EXPECT_EQ(params["hostBootstrap"]["capabilities"]["controlTransport"], "obs-websocket-vendor");

	// zorva.refreshHostBootstrap publishes a fresh status too.
	const size_t before = statusEvents().size();
	obsWebSocketServer.close();
	const json bootstrap = vendorRequest({{"id", "r"}, {"method", "zorva.refreshHostBootstrap"}});
	EXPECT_EQ(bootstrap["obsWebSocket"]["error"],
		  "obs-websocket is enabled, but the local server is not reachable yet.");
	ASSERT_TRUE(waitUntil([&] { return statusEvents().size() == before + 1; }, 5s));
	EXPECT_EQ(json::parse(statusEvents().back().dataJson)["params"]["hostBootstrap"]["obsWebSocket"]["error"],
		  "obs-websocket is enabled, but the local server is not reachable yet.");
}

TEST_F(VendorBridgeTest, SecondPostLoadDoesNotRegisterAgain)
{
	loadAndRegister();
	EXPECT_EQ(ObsWebSocketStandin::instance().vendorRegisterCalls(), 1);
	postLoad();
	EXPECT_EQ(ObsWebSocketStandin::instance().vendorRegisterCalls(), 1);
	EXPECT_EQ(LogCapture::instance().count("Registered obs-websocket vendor"), 1u);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva] Loaded docks."), 1u);
}

TEST_F(VendorBridgeTest, EventsWithoutObsWebSocketAreDroppedSilently)
{
	writeObsWebSocketConfig({{"server_enabled", false}});
	Setup setup;
	setup.withObsWebSocket = false;
	loadAndRegister(setup);
	const size_t linesBefore = LogCapture::instance().count("[vorn-zorva]");
	// A configuration change publishes a status event, which has nowhere to go.
	writeObsWebSocketConfig({{"server_enabled", false}, {"server_port", 4460}});
	pumpEvents(600ms);
	EXPECT_EQ(LogCapture::instance().count("[vorn-zorva]"), linesBefore);
	EXPECT_EQ(LogCapture::instance().count("obs-websocket not installed?"), 1u);
}

// After the exit event OBS runs no event loop, and obs-websocket's threads may
// keep calling through unload and after it: every call must come back, at
// once, and nothing queued may reach the deleted router.
TEST_F(VendorBridgeTest, RequestsRacingExitAndUnloadAreAllAnswered)
{
	loadAndRegister();
	const std::string request = json({{"id", "1"}, {"method", "zorva.getHostBootstrap"}}).dump();
	const json refused = {{"__vendorError", true},
			      {"error", "OBS is shutting down; the request was not run."},
			      {"errorCode", "HOST_SHUTTING_DOWN"}};
	enum Phase { Running, Exiting, Unloaded };
	std::atomic<int> phase{Running};
	std::atomic<bool> stop{false};
	std::atomic<int> served{0}, refusedInPhase[3] = {0, 0, 0}, unexpected{0}, finished{0};
	std::vector<std::thread> callers;
	for (int i = 0; i < 4; ++i) {
		callers.emplace_back([&] {
			while (!stop) {
				const int before = phase;
				const auto response = ObsWebSocketStandin::instance().callVendorRequestHere(
					ObsWebSocketNames::vendorName, ObsWebSocketNames::requestType, request);
				const json answer = json::parse(response.responseJson, nullptr, false);
				if (answer == refused)
					++refusedInPhase[before];
				else if (before == Running && answer.value("host", "") == "obs")
					++served;
				else
					++unexpected;
			}
			++finished;
		});
	}
	// Plain waits from here on where OBS would not run its event loop.
	const auto spinUntil = [](const std::function<bool()> &predicate) {
		const auto deadline = std::chrono::steady_clock::now() + 20s;
		while (!predicate() && std::chrono::steady_clock::now() < deadline)
			std::this_thread::yield();
		return predicate();
	};

	EXPECT_TRUE(waitUntil([&] { return served >= 20; }, 20s));
	phase = Exiting;
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_EXIT);
	EXPECT_TRUE(spinUntil([&] { return refusedInPhase[Exiting] >= 20; }));
	unload();
	phase = Unloaded;
	EXPECT_TRUE(spinUntil([&] { return refusedInPhase[Unloaded] >= 20; }));
	// Whatever the UI thread still had queued runs now, against nothing.
	QCoreApplication::sendPostedEvents();
	stop = true;
	const bool allReturned = spinUntil([&] { return finished == int(callers.size()); });
	for (std::thread &caller : callers)
		allReturned ? caller.join() : caller.detach();
	EXPECT_TRUE(allReturned);
	EXPECT_EQ(unexpected, 0);
}

// A status event's bootstrap probes obs-websocket's port: with no vendor
// handle to send it through, it is not built at all.
TEST_F(VendorBridgeTest, StatusWithoutAVendorHandleIsNotBuilt)
{
	QTcpServer obsWebSocketServer;
	ASSERT_TRUE(obsWebSocketServer.listen(QHostAddress::LocalHost, 0));
	int probes = 0;
	QObject::connect(&obsWebSocketServer, &QTcpServer::newConnection, [&] {
		while (QTcpSocket *socket = obsWebSocketServer.nextPendingConnection()) {
			++probes;
			socket->deleteLater();
		}
	});
	writeObsWebSocketConfig({{"server_enabled", true}, {"server_port", obsWebSocketServer.serverPort()}});
	Setup setup;
	setup.withObsWebSocket = false;
	setup.withBrowser = false; // docks would probe for their own pages
	load(setup);
	postLoad();
	ASSERT_TRUE(waitUntil([] { return LogCapture::instance().count("[vorn-zorva] Event proxy listening") == 1; }));
	// The UI thread takes the proxy's report, which announces a status change.
	pumpEvents(300ms);
	EXPECT_EQ(probes, 0);
}
