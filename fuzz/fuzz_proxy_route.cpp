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
	// Whatever is published or sent on carries an account and a payload object.
	if ((route.action == Action::Publish || route.action == Action::VekPassthrough) &&
	    (route.upid.empty() || !route.payload.is_object() || route.payload.empty()))
		std::abort();
	if (route.action != Action::InvalidJson)
		compactJson(route.payload);
	return 0;
}
