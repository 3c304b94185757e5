// The host request router over arbitrary request texts.

#include "host/LocalHostRouter.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

LocalHostRouter makeRouter()
{
	LocalHostRouter router;
	router.setHandler("echo", [](const json &params, const LocalHostRouter::Responder &r) { r.success(params); });
	router.setHandler("fail", [](const json &params, const LocalHostRouter::Responder &r) {
		r.error("failed", params.value("code", ""));
	});
	router.setHandler("twice", [](const json &, const LocalHostRouter::Responder &r) {
		r.success(1);
		r.error("second", "");
	});
	return router;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static const LocalHostRouter router = makeRouter();
	router.dispatch(std::string_view(reinterpret_cast<const char *>(data), size), [](std::string reply) {
		// Every reply is a compact JSON object with the envelope members.
		const json envelope = parseJson(reply);
		if (!envelope.is_object() || !envelope.contains("success") || !envelope.contains("requestId"))
			std::abort();
	});
	return 0;
}
