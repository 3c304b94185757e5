// Lenient Base64 decoding of arbitrary text, and the encode/decode round trip.

#include "websocket/Base64.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string_view input(reinterpret_cast<const char *>(data), size);
	const std::string decoded = base64Decode(input);
	if (decoded.size() > size / 4 * 3)
		std::abort();
	const std::string encoded = base64Encode(input);
	if (encoded.size() != (size + 2) / 3 * 4 || base64Decode(encoded) != input)
		std::abort();
	return 0;
}
