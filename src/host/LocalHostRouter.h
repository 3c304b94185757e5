#pragma once

#include "values/Json.h"

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

// Transport-independent JSON-RPC style dispatcher: a table of named methods,
// request envelopes in, reply envelopes out through a caller's reply function.
class LocalHostRouter {
public:
	using ReplyFunction = std::function<void(std::string)>;

	struct Responder {
		std::function<void(json)> success;
		std::function<void(std::string message, std::string code)> error;
	};

	using Handler = std::function<void(const json &params, const Responder &responder)>;

	void setHandler(std::string method, Handler handler);
	void dispatch(std::string_view requestText, const ReplyFunction &reply) const;

	static std::string eventMessage(std::string_view method, json params);

private:
	void dispatchRequestObject(const json &request, const ReplyFunction &reply) const;

	std::unordered_map<std::string, Handler> handlers;
};
