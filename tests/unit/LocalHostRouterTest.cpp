#include "host/LocalHostRouter.h"

#include <gtest/gtest.h>

namespace {

class LocalHostRouterTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		router.setHandler("zorva.status", [this](const json &params, const LocalHostRouter::Responder &r) {
			seenParams.push_back(params);
			r.success({{"ok", true}});
		});
		router.setHandler("fails", [](const json &, const LocalHostRouter::Responder &r) {
			r.error("Broken.", "BROKEN");
		});
		router.setHandler("failsWithoutCode",
				  [](const json &, const LocalHostRouter::Responder &r) { r.error("Broken.", ""); });
		router.setHandler("twice", [](const json &, const LocalHostRouter::Responder &r) {
			r.success("first");
			r.error("second", "SECOND");
		});
	}

	std::vector<std::string> dispatch(std::string_view text)
	{
		std::vector<std::string> replies;
		router.dispatch(text, [&replies](std::string reply) { replies.push_back(std::move(reply)); });
		return replies;
	}

	LocalHostRouter router;
	std::vector<json> seenParams;
};

} // namespace

TEST_F(LocalHostRouterTest, SuccessEnvelopeIsCompact)
{
	EXPECT_EQ(dispatch(R"({"id": "a", "method": "zorva.status"})"),
		  std::vector<std::string>{R"({"data":{"ok":true},"id":"a","requestId":"a","success":true})"});
}

TEST_F(LocalHostRouterTest, RequestIdWinsOverId)
{
	EXPECT_EQ(dispatch(R"({"id": "a", "requestId": "b", "method": "zorva.status"})"),
		  std::vector<std::string>{R"({"data":{"ok":true},"id":"b","requestId":"b","success":true})"});
	// A present but unusable requestId still wins: no reply.
	EXPECT_TRUE(dispatch(R"({"id": "a", "requestId": 3, "method": "zorva.status"})").empty());
}

TEST_F(LocalHostRouterTest, InvalidJson)
{
	const std::string invalid =
		R"({"error":"Invalid JSON-RPC request.","errorCode":"INVALID_JSON","id":"","requestId":"","success":false})";
	EXPECT_EQ(dispatch("[1,2]"), std::vector<std::string>{invalid});
	EXPECT_EQ(dispatch("not json"), std::vector<std::string>{invalid});
	EXPECT_EQ(dispatch(""), std::vector<std::string>{invalid});
	EXPECT_EQ(dispatch(R"({"id":"a" /* comment */})"), std::vector<std::string>{invalid});
}

TEST_F(LocalHostRouterTest, MissingAndUnknownMethods)
{
	EXPECT_TRUE(dispatch("{}").empty());
	EXPECT_EQ(
		dispatch(R"({"id": "a"})"),
		std::vector<std::string>{
			R"({"error":"Missing method.","errorCode":"MISSING_METHOD","id":"a","requestId":"a","success":false})"});
	// A method that is not a string counts as missing.
	EXPECT_EQ(dispatch(R"({"id": "a", "method": 5})").size(), 1u);
	EXPECT_NE(dispatch(R"({"id": "a", "method": ["x"]})").at(0).find("MISSING_METHOD"), std::string::npos);
	EXPECT_EQ(
		dispatch(R"({"id": "a", "method": "Zorva.Status"})"),
		std::vector<std::string>{
			R"({"error":"Unknown method: Zorva.Status","errorCode":"METHOD_NOT_FOUND","id":"a","requestId":"a","success":false})"});
}

TEST_F(LocalHostRouterTest, NotificationsNeverReplyButRunTheirHandler)
{
	EXPECT_TRUE(dispatch(R"({"id": 5, "method": "no.handler"})").empty());
	EXPECT_TRUE(dispatch(R"({"id": "", "method": "no.handler"})").empty());
	EXPECT_TRUE(dispatch(R"({"id": null})").empty());
	EXPECT_TRUE(dispatch(R"({"id": true, "method": "fails"})").empty());
	EXPECT_TRUE(dispatch(R"({"method": "zorva.status"})").empty());
	EXPECT_EQ(seenParams.size(), 1u);
}

TEST_F(LocalHostRouterTest, ParamsOtherThanObjectsBecomeEmpty)
{
	dispatch(R"({"id": "a", "method": "zorva.status", "params": [1, 2]})");
	dispatch(R"({"id": "a", "method": "zorva.status", "params": "text"})");
	dispatch(R"({"id": "a", "method": "zorva.status", "params": {"k": "v"}})");
	ASSERT_EQ(seenParams.size(), 3u);
	EXPECT_EQ(seenParams[0], json::object());
	EXPECT_EQ(seenParams[1], json::object());
	EXPECT_EQ(seenParams[2], json({{"k", "v"}}));
}

TEST_F(LocalHostRouterTest, ErrorsWithAndWithoutCode)
{
	EXPECT_EQ(dispatch(R"({"id": "x", "method": "fails"})"),
		  std::vector<std::string>{
			  R"({"error":"Broken.","errorCode":"BROKEN","id":"x","requestId":"x","success":false})"});
	EXPECT_EQ(dispatch(R"({"id": "x", "method": "failsWithoutCode"})"),
		  std::vector<std::string>{R"({"error":"Broken.","id":"x","requestId":"x","success":false})"});
}

TEST_F(LocalHostRouterTest, AHandlerThatAnswersTwiceSendsTwice)
{
	EXPECT_EQ(dispatch(R"({"id": "t", "method": "twice"})"),
		  (std::vector<std::string>{
			  R"({"data":"first","id":"t","requestId":"t","success":true})",
			  R"({"error":"second","errorCode":"SECOND","id":"t","requestId":"t","success":false})"}));
}

TEST_F(LocalHostRouterTest, LaterRegistrationReplacesAndTextStaysUtf8)
{
	router.setHandler("zorva.status", [](const json &, const LocalHostRouter::Responder &r) {
		r.success({{"name", "Zoë ✓"}, {"broken", std::string("\xff", 1)}});
	});
	const auto replies = dispatch(R"({"id": "ü", "method": "zorva.status"})");
	ASSERT_EQ(replies.size(), 1u);
	// Non-ASCII stays UTF-8; invalid bytes are replaced instead of throwing.
	EXPECT_EQ(
		replies[0],
		"{\"data\":{\"broken\":\"\xEF\xBF\xBD\",\"name\":\"Zoë ✓\"},\"id\":\"ü\",\"requestId\":\"ü\",\"success\":true}");
	EXPECT_EQ(LocalHostRouter::eventMessage("zorva.statusChanged", {{"a", 1}}),
		  R"({"method":"zorva.statusChanged","params":{"a":1}})");
}
