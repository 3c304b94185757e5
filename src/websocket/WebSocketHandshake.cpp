#include "websocket/WebSocketHandshake.h"

#include "websocket/Base64.h"

#include <random>

#include <mbedtls/sha1.h>
#include <mbedtls/version.h>

namespace {

constexpr std::string_view kAcceptGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

void sha1(std::string_view input, unsigned char digest[20])
{
	const auto *bytes = reinterpret_cast<const unsigned char *>(input.data());
#if MBEDTLS_VERSION_MAJOR >= 3
	mbedtls_sha1(bytes, input.size(), digest);
#else
	mbedtls_sha1_ret(bytes, input.size(), digest);
#endif
}

char asciiLower(char c)
{
	return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
	if (text.size() < prefix.size())
		return false;
	for (size_t i = 0; i < prefix.size(); ++i) {
		if (asciiLower(text[i]) != asciiLower(prefix[i]))
			return false;
	}
	return true;
}

} // namespace

std::string computeAcceptKey(std::string_view key)
{
	std::string input;
	input.reserve(key.size() + kAcceptGuid.size());
	input.append(key).append(kAcceptGuid);
	unsigned char digest[20];
	sha1(input, digest);
	return base64Encode(std::string_view(reinterpret_cast<const char *>(digest), sizeof(digest)));
}

std::string randomBytes(size_t count)
{
	std::random_device device;
	std::mt19937 generator(device());
	std::string bytes(count, '\0');
	for (char &byte : bytes)
		byte = char(generator() >> 24);
	return bytes;
}

std::string generateClientKey()
{
	return base64Encode(randomBytes(16));
}

std::optional<std::string> extractHttpHead(ReceiveBuffer &buffer)
{
	const std::string_view bytes = buffer.view();
	const size_t end = bytes.find("\r\n\r\n");
	if (end == std::string_view::npos)
		return std::nullopt;
	std::string head(bytes.substr(0, end + 4));
	buffer.consume(head.size());
	return head;
}

std::string findHeaderValue(std::string_view head, std::string_view name)
{
	std::string needle(name);
	needle.push_back(':');
	size_t start = 0;
	while (start <= head.size()) {
		size_t end = head.find('\n', start);
		if (end == std::string_view::npos)
			end = head.size();
		std::string_view line = head.substr(start, end - start);
		while (!line.empty() && std::string_view(" \t\r\n").find(line.back()) != std::string_view::npos)
			line.remove_suffix(1);
		if (startsWithIgnoringCase(line, needle)) {
			std::string_view value = line.substr(needle.size());
			while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
				value.remove_prefix(1);
			return std::string(value);
		}
		start = end + 1;
	}
	return {};
}
