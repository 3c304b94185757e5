#include "integration/VekMessage.h"

namespace {

// The log lines were printf'd with "%s": a value ends at its first NUL, as
// before, so the lines stay the same whatever the service sends.
std::string_view logText(std::string_view value)
{
	return value.substr(0, value.find('\0'));
}

std::string logLine(std::string_view what, const VekMessageContext &context)
{
	std::string line = "Vek ";
	line += what;
	line += " platform=";
	line += logText(context.platform);
	line += " upid=";
	line += logText(context.upid);
	return line;
}

bool isAuthRejection(const std::string &error)
{
	return error == "USER_AUTH_INVALID" || error == "INVALID_AUTHORIZATION";
}

void decideError(const json &message, const VekMessageContext &context, VekMessageAction &action)
{
	const std::string error = stringMember(message, "error");
	action.warnings.push_back(logLine("server error", context) + " error=" + std::string(logText(error)));
	if (!isAuthRejection(error))
		return;
	action.warnings.push_back(logLine("websocket auth rejected", context));
	action.tokenRejected = true;
}

void decideEvent(json &message, size_t bytes, const VekMessageContext &context, VekMessageAction &action)
{
	const auto event = message.find("event");
	if (event != message.end() && event->is_object())
		action.event = std::move(*event);
	else
		action.warnings.push_back(logLine("EVENT missing payload", context) +
					  " bytes=" + std::to_string(bytes));
}

} // namespace

VekMessageAction decideVekMessage(std::string_view text, const VekMessageContext &context)
{
	VekMessageAction action;
	json message = parseJson(text);
	if (!message.is_object()) {
		action.warnings.push_back(logLine("text message ignored", context) +
					  " reason=invalid_json bytes=" + std::to_string(text.size()));
		return action;
	}
	const std::string type = stringMember(message, "type");
	if (type == "WELCOME")
		action.reply = json{{"type", "LOGIN"}, {"token", context.token}, {"nonce", "_login"}};
	else if (type == "KEEP_ALIVE")
		action.reply = json{{"type", "KEEP_ALIVE"}};
	else if (type == "ERROR")
		decideError(message, context, action);
	else if (type == "EVENT")
		decideEvent(message, text.size(), context, action);
	return action;
}
