// What the Vek connection worker makes of each text message from the service.

#include "integration/VekMessage.h"

#include <gtest/gtest.h>

namespace {

using Warnings = std::vector<std::string>;

VekMessageAction decide(std::string_view text)
{
	return decideVekMessage(text, {"TWITCH", "u1", "tok-é"});
}

std::string line(const std::string &rest)
{
	return "Vek " + rest;
}

} // namespace

TEST(VekMessageTest, WelcomeAndKeepAliveAreAnsweredOnTheWire)
{
	const VekMessageAction login = decide(R"({"type":"WELCOME","session":"s"})");
	ASSERT_TRUE(login.reply.has_value());
	EXPECT_EQ(compactJson(*login.reply), R"({"nonce":"_login","token":"tok-é","type":"LOGIN"})");
	EXPECT_TRUE(login.warnings.empty());

	const VekMessageAction keepAlive = decide(R"({"type":"KEEP_ALIVE","at":5,"extra":{"x":1}})");
	ASSERT_TRUE(keepAlive.reply.has_value());
	EXPECT_EQ(compactJson(*keepAlive.reply), R"({"type":"KEEP_ALIVE"})");
	EXPECT_FALSE(keepAlive.event || keepAlive.tokenRejected);
}

TEST(VekMessageTest, OnlyTheTwoAuthCodesRejectTheToken)
{
	for (const char *code : {"USER_AUTH_INVALID", "INVALID_AUTHORIZATION"}) {
		const VekMessageAction action = decide(std::string(R"({"type":"ERROR","error":")") + code + "\"}");
		EXPECT_TRUE(action.tokenRejected) << code;
		EXPECT_EQ(action.warnings, (Warnings{line("server error platform=TWITCH upid=u1 error=") + code,
						     line("websocket auth rejected platform=TWITCH upid=u1")}));
		EXPECT_FALSE(action.reply || action.event);
	}
	const std::pair<const char *, const char *> others[] = {
		{R"({"type":"ERROR","error":"RATE_LIMITED"})", "RATE_LIMITED"},
		{R"({"type":"ERROR","error":"user_auth_invalid"})", "user_auth_invalid"},
		{R"({"type":"ERROR","error":{"code":"USER_AUTH_INVALID"}})", ""},
		{R"({"type":"ERROR"})", ""},
		// The whole code counts; the log line ends at the NUL as it always did.
		{R"({"type":"ERROR","error":"USER_AUTH_INVALID\u0000x"})", "USER_AUTH_INVALID"},
	};
	for (const auto &[text, logged] : others) {
		const VekMessageAction action = decide(text);
		EXPECT_FALSE(action.tokenRejected) << text;
		EXPECT_EQ(action.warnings, Warnings{line("server error platform=TWITCH upid=u1 error=") + logged})
			<< text;
	}
}

TEST(VekMessageTest, EventsRelayOnlyTheirObject)
{
	const VekMessageAction action = decide(R"({"type":"EVENT","event":{"raw":"hi é","n":[1]},"other":1})");
	ASSERT_TRUE(action.event.has_value());
	EXPECT_EQ(*action.event, json({{"raw", "hi é"}, {"n", {1}}}));
	EXPECT_TRUE(action.warnings.empty());

	for (const std::string text :
	     {R"({"type":"EVENT","event":[1]})", R"({"type":"EVENT","event":"text"})", R"({"type":"EVENT"})"}) {
		const VekMessageAction missing = decide(text);
		EXPECT_FALSE(missing.event) << text;
		EXPECT_EQ(missing.warnings, Warnings{line("EVENT missing payload platform=TWITCH upid=u1 bytes=") +
						     std::to_string(text.size())});
	}
}

TEST(VekMessageTest, OtherMessagesAreDropped)
{
	// Not an object: one warning with the length.
	for (const std::string text : {"not json", "[1,2]", "\"WELCOME\"", ""}) {
		const VekMessageAction action = decide(text);
		EXPECT_EQ(action.warnings,
			  Warnings{line("text message ignored platform=TWITCH upid=u1 reason=invalid_json bytes=") +
				   std::to_string(text.size())})
			<< text;
		EXPECT_FALSE(action.reply || action.event || action.tokenRejected);
	}
	// Another type, or none: nothing at all.
	for (const char *text :
	     {R"({"type":7})", R"({"type":"RESPONSE","nonce":"_login"})", R"({"event":{}})", R"({"type":"welcome"})"}) {
		const VekMessageAction action = decide(text);
		EXPECT_TRUE(action.warnings.empty()) << text;
		EXPECT_FALSE(action.reply || action.event || action.tokenRejected) << text;
	}
}

TEST(VekMessageTest, DeeplyNestedMessagesAreRefusedNotRelayed)
{
	// Relaying serialises the event; a few hundred kilobytes of nesting would
	// overflow the worker thread's stack there.
	const auto nested = [](size_t levels) {
		return R"({"type":"EVENT","event":{"a":)" + std::string(levels, '[') + std::string(levels, ']') + "}}";
	};
	const std::string deep = nested(100000);
	const VekMessageAction refused = decide(deep);
	EXPECT_FALSE(refused.event);
	EXPECT_EQ(refused.warnings,
		  Warnings{line("text message ignored platform=TWITCH upid=u1 reason=invalid_json bytes=") +
			   std::to_string(deep.size())});
	// The message and its event are two levels: up to the limit it goes through.
	EXPECT_TRUE(decide(nested(maxJsonNesting - 2)).event);
	EXPECT_FALSE(decide(nested(maxJsonNesting - 1)).event);
	// Brackets inside strings, escaped quotes among them, are text.
	const std::string text = R"({"type":"EVENT","event":{"raw":"\"[[[\\)" + std::string(1000, '{') + R"("}})";
	ASSERT_TRUE(decide(text).event);
	EXPECT_EQ(decide(text).event->at("raw").get<std::string>(), "\"[[[\\" + std::string(1000, '{'));
}
