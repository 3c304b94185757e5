// The Vek connection worker's handling of arbitrary text messages.

#include "integration/VekMessage.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::string_view kToken = "tok-3f9a";

bool startsWith(std::string_view text, std::string_view prefix)
{
	return text.substr(0, prefix.size()) == prefix;
}

// Whether the service's own error text brought the token along.
bool errorMentionsToken(std::string_view text)
{
	const json message = parseJson(text);
	return message.is_object() && stringMember(message, "error").find(kToken) != std::string::npos;
}

// Every line names the account and carries no token the service did not send.
void checkWarnings(const VekMessageAction &action, std::string_view text)
{
	for (const std::string &line : action.warnings) {
		if (!startsWith(line, "Vek ") || line.find(" platform=TWITCH upid=u1") == std::string::npos)
			std::abort();
		if (line.find(kToken) != std::string::npos && !errorMentionsToken(text))
			std::abort();
	}
}

// At most one effect, and each in its only shape.
void checkEffects(const VekMessageAction &action)
{
	if (int(action.reply.has_value()) + int(action.event.has_value()) + int(action.tokenRejected) > 1)
		std::abort();
	if (action.reply) {
		const std::string sent = compactJson(*action.reply);
		const std::string login =
			R"({"nonce":"_login","token":")" + std::string(kToken) + R"(","type":"LOGIN"})";
		if (sent != R"({"type":"KEEP_ALIVE"})" && sent != login)
			std::abort();
	}
	if (action.event && !action.event->is_object())
		std::abort();
	// A rejection always says so: the server error, then the rejection.
	if (action.tokenRejected &&
	    (action.warnings.size() != 2 || action.warnings[1].find("websocket auth rejected") == std::string::npos))
		std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string_view text(reinterpret_cast<const char *>(data), size);
	const VekMessageAction action = decideVekMessage(text, {"TWITCH", "u1", kToken});
	checkWarnings(action, text);
	checkEffects(action);
	if (action.event)
		compactJson(*action.event);
	return 0;
}
