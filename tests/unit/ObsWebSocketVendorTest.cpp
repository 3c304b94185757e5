// What the vendor bridge turns router replies into: the response data that
// obs-websocket hands back to the page.

#include "host/ObsWebSocketVendor.h"

#include <QJsonArray>

#include <gtest/gtest.h>

namespace {

json dispatch(const ObsWebSocketVendor &vendor, const json &request)
{
	return json::parse(vendor.dispatchPayload(request.dump()));
}

class ObsWebSocketVendorTest : public ::testing::Test {
protected:
	ObsWebSocketVendor vendor{"vorn-zorva"};
};

} // namespace

TEST_F(ObsWebSocketVendorTest, SuccessGivesTheResultItself)
{
	vendor.registerHandler(QStringLiteral("echo"),
			       [](const QJsonObject &params, const ObsWebSocketVendor::Responder &r) {
				       r.success(QJsonObject{{QStringLiteral("got"), params}});
			       });
	EXPECT_EQ(dispatch(vendor, {{"id", "1"}, {"method", "echo"}, {"params", {{"a", "é"}}}}),
		  json({{"got", {{"a", "é"}}}}));
	// Params that are not an object reach the handler as an empty object.
	EXPECT_EQ(dispatch(vendor, {{"id", "1"}, {"method", "echo"}, {"params", {1, 2}}}),
		  json({{"got", json::object()}}));
}

TEST_F(ObsWebSocketVendorTest, ErrorsAreMarkedAndKeepTheirCode)
{
	vendor.registerHandler(QStringLiteral("fails"),
			       [](const QJsonObject &, const ObsWebSocketVendor::Responder &r) {
				       r.error(QStringLiteral("Nope."), QStringLiteral("NOPE"));
			       });
	vendor.registerHandler(QStringLiteral("failsWithoutCode"),
			       [](const QJsonObject &, const ObsWebSocketVendor::Responder &r) {
				       r.error(QStringLiteral("Nope."), QString());
			       });
	EXPECT_EQ(dispatch(vendor, {{"id", "1"}, {"method", "fails"}}),
		  json({{"__vendorError", true}, {"error", "Nope."}, {"errorCode", "NOPE"}}));
	EXPECT_EQ(dispatch(vendor, {{"id", "1"}, {"method", "failsWithoutCode"}}),
		  json({{"__vendorError", true}, {"error", "Nope."}}));
	EXPECT_EQ(dispatch(vendor, {{"requestId", "x"}, {"method", "missing"}}),
		  json({{"__vendorError", true},
			{"error", "Unknown method: missing"},
			{"errorCode", "METHOD_NOT_FOUND"}}));
}

TEST_F(ObsWebSocketVendorTest, NoIdMeansNoReplyAndAnEmptyObject)
{
	int calls = 0;
	vendor.registerHandler(QStringLiteral("count"),
			       [&calls](const QJsonObject &, const ObsWebSocketVendor::Responder &r) {
				       ++calls;
				       r.success(QJsonObject{{QStringLiteral("n"), calls}});
			       });
	EXPECT_EQ(vendor.dispatchPayload(R"({"method":"count"})"), "{}");
	EXPECT_EQ(vendor.dispatchPayload(R"({"id":5,"method":"count"})"), "{}");
	EXPECT_EQ(calls, 2);
	EXPECT_EQ(vendor.dispatchPayload("{}"), "{}");
}

TEST_F(ObsWebSocketVendorTest, ArrayAndUndefinedResults)
{
	vendor.registerHandler(QStringLiteral("list"), [](const QJsonObject &, const ObsWebSocketVendor::Responder &r) {
		r.success(QJsonArray{1, QStringLiteral("two")});
	});
	vendor.registerHandler(QStringLiteral("nothing"),
			       [](const QJsonObject &, const ObsWebSocketVendor::Responder &r) {
				       r.success(QJsonValue(QJsonValue::Undefined));
			       });
	// The array is the data; obs-websocket's response data can only carry objects,
	// so the request callback then leaves the response empty.
	EXPECT_EQ(vendor.dispatchPayload(R"({"id":"1","method":"list"})"), R"([1,"two"])");
	EXPECT_EQ(vendor.dispatchPayload(R"({"id":"1","method":"nothing"})"), "null");
}

TEST_F(ObsWebSocketVendorTest, InvalidJsonIsAnError)
{
	EXPECT_EQ(
		json::parse(vendor.dispatchPayload("not json")),
		json({{"__vendorError", true}, {"error", "Invalid JSON-RPC request."}, {"errorCode", "INVALID_JSON"}}));
}

TEST_F(ObsWebSocketVendorTest, EventsBeforeRegistrationAreDropped)
{
	// No obs-websocket is running here: an unregistered vendor must not try to reach it.
	vendor.emitEvent(QStringLiteral("zorva.statusChanged"), QJsonObject{{QStringLiteral("a"), 1}});
	EXPECT_FALSE(vendor.isRequestRegistered());
}
