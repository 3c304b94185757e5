#include "host/LocalHostRouter.h"

#include "values/ErrorCodes.h"

#include <memory>

namespace {

const char *const kInvalidJsonMessage = "Invalid JSON-RPC request.";

json errorEnvelope(const json &id, const std::string &message, const std::string &code)
{
	json envelope = {{"id", id}, {"requestId", id}, {"success", false}, {"error", message}};
	if (!code.empty())
		envelope["errorCode"] = code;
	return envelope;
}

json successEnvelope(const json &id, json result)
{
	return {{"id", id}, {"requestId", id}, {"success", true}, {"data", std::move(result)}};
}

} // namespace

void LocalHostRouter::setHandler(std::string method, Handler handler)
{
	handlers[std::move(method)] = std::move(handler);
}

void LocalHostRouter::dispatch(std::string_view requestText, const ReplyFunction &reply) const
{
	const json request = parseJson(requestText);
	if (!request.is_object()) {
		reply(compactJson(errorEnvelope("", kInvalidJsonMessage, ErrorCodes::invalidJson)));
		return;
	}
	dispatchRequestObject(request, reply);
}

void LocalHostRouter::dispatchRequestObject(const json &request, const ReplyFunction &reply) const
{
	json id;
	if (auto it = request.find("requestId"); it != request.end())
		id = *it;
	else if (auto idIt = request.find("id"); idIt != request.end())
		id = *idIt;

	// A "method" that is not a string is treated like a missing one.
	std::string method;
	if (auto it = request.find("method"); it != request.end() && it->is_string())
		method = it->get<std::string>();

	// The request's own params object, not a copy of it.
	static const json noParams = json::object();
	const auto paramsIt = request.find("params");
	const json &params = paramsIt != request.end() && paramsIt->is_object() ? *paramsIt : noParams;

	const bool hasId = id.is_string() && !id.get_ref<const std::string &>().empty();

	if (method.empty()) {
		if (hasId)
			reply(compactJson(errorEnvelope(id, "Missing method.", ErrorCodes::missingMethod)));
		return;
	}

	const auto handler = handlers.find(method);
	if (handler == handlers.end()) {
		if (hasId)
			reply(compactJson(errorEnvelope(id, "Unknown method: " + method, ErrorCodes::methodNotFound)));
		return;
	}

	// One shared record for both answers: each closure then holds a single
	// pointer, which std::function keeps without an allocation of its own.
	struct Caller {
		json id;
		ReplyFunction reply;
	};
	std::shared_ptr<const Caller> caller;
	if (hasId)
		caller = std::make_shared<const Caller>(Caller{std::move(id), reply});
	Responder responder;
	responder.success = [caller](json result) {
		if (caller)
			caller->reply(compactJson(successEnvelope(caller->id, std::move(result))));
	};
	responder.error = [caller](std::string message, std::string code) {
		if (caller)
			caller->reply(compactJson(errorEnvelope(caller->id, message, code)));
	};
	handler->second(params, responder);
}

std::string LocalHostRouter::eventMessage(std::string_view method, json params)
{
	return compactJson(json{{"method", method}, {"params", std::move(params)}});
}
