#pragma once

#include "values/Json.h"

#include <string>
#include <string_view>

// What the event proxy does with one text message from a page. Free of
// sockets so that it can be tested and fuzzed on its own.
struct ProxyRoute {
	enum class Action {
		InvalidJson,         // not a JSON object: warning
		SendInitialState,    // "X_INIT": history and features to this client
		Ignore,              // "X_LOG"
		DropUnauthenticated, // a read-only client tried to write: warning
		ShowSettings,        // "X_SHOW_SETTINGS"
		VekRequest,          // "X_REQUEST" with an upid
		VekPassthrough,      // "forVek": true
		Publish,             // recorded and relayed to every page
		Malformed,           // no upid or an empty payload: warning
	};

	Action action = Action::Ignore;
	std::string upid;
	std::string type;
	std::string page;        // ShowSettings
	json payload;            // VekRequest, VekPassthrough
	std::string payloadText; // Publish: the payload as compactJson writes it
	std::string eventType;   // Publish: the payload's "event_type" string, else empty
	bool payloadEmpty = true;
};

ProxyRoute routeProxyMessage(std::string_view text, bool authenticated);
