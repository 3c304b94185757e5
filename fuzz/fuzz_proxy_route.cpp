// The event proxy's routing decision over arbitrary message texts.

#include "proxy/ProxyMessageRouting.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	const bool authenticated = (data[0] & 1) != 0;
	const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
	const ProxyRoute route = routeProxyMessage(text, authenticated);
	using Action = ProxyRoute::Action;
	// Read-only clients never get further than history and logs.
	if (!authenticated && route.action != Action::InvalidJson && route.action != Action::SendInitialState &&
	    route.action != Action::Ignore && route.action != Action::DropUnauthenticated)
		std::abort();
	// Whatever is sent on to Vek is a payload object; passed through, it
	// carries an account and is not empty.
	if ((route.action == Action::VekRequest || route.action == Action::VekPassthrough) &&
	    !route.payload.is_object())
		std::abort();
	if (route.action == Action::VekPassthrough && (route.upid.empty() || route.payload.empty()))
		std::abort();
	// What is published carries an account and is a non-empty object in
	// compact text already: written again, it stays as it is.
	if (route.action == Action::Publish) {
		const json payload = parseJson(route.payloadText);
		if (route.upid.empty() || !payload.is_object() || payload.empty() ||
		    compactJson(payload) != route.payloadText || stringMember(payload, "event_type") != route.eventType)
			std::abort();
	}
	return 0;
}
