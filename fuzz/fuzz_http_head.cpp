// HTTP head extraction and header lookup over arbitrary bytes.

#include "websocket/WebSocketHandshake.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string_view input(reinterpret_cast<const char *>(data), size);
	// The first line of the input doubles as a header name to look up.
	const size_t newline = input.find('\n');
	const std::string_view name = input.substr(0, newline == std::string_view::npos ? 0 : newline);

	ReceiveBuffer buffer(input);
	const auto head = extractHttpHead(buffer);
	if (head) {
		if (head->size() + buffer.size() != size || head->compare(head->size() - 4, 4, "\r\n\r\n") != 0)
			std::abort();
		const std::string value = findHeaderValue(*head, name);
		if (value.size() > head->size())
			std::abort();
		findHeaderValue(*head, "Sec-WebSocket-Key");
	} else if (buffer.size() != size) {
		std::abort(); // nothing is consumed without a complete head
	}
	return 0;
}
