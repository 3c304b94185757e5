#pragma once

#include "values/Json.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Who a Vek text message arrived for; only the log lines and the login use it.
struct VekMessageContext {
	std::string_view platform;
	std::string_view upid;
	std::string_view token;
};

// What the connection worker does with one text message from Vek. The worker
// writes the warnings first, in order, then carries out the one effect set.
struct VekMessageAction {
	std::vector<std::string> warnings; // log lines, without the module's prefix
	std::optional<json> reply;         // to send on the connection
	std::optional<json> event;         // to relay as the account's event
	bool tokenRejected = false;        // forget the token, end the session, report the logout
};

// The worker's handling of a text message, without a socket: WELCOME is
// answered with the login, KEEP_ALIVE is echoed, EVENT relays its "event"
// object, ERROR is logged and ends the session for the two auth codes; any
// other message is dropped.
VekMessageAction decideVekMessage(std::string_view text, const VekMessageContext &context);
