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

bool equalsIgnoringCase(std::string_view text, std::string_view expected)
{
	return text.size() == expected.size() && startsWithIgnoringCase(text, expected);
}

std::string_view trimmedBlanks(std::string_view text)
{
	while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
		text.remove_prefix(1);
	while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
		text.remove_suffix(1);
	return text;
}

std::string_view requestTarget(std::string_view head)
{
	const std::string_view firstLine = head.substr(0, head.find('\n'));
	const size_t first = firstLine.find(' ');
	const size_t second = first == std::string_view::npos ? first : firstLine.find(' ', first + 1);
	if (second == std::string_view::npos)
		return {};
	return firstLine.substr(first + 1, second - first - 1);
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

std::string buildUpgradeRequest(std::string_view target, std::string_view host, std::string_view key,
				std::string_view origin)
{
	std::string request = "GET ";
	request.append(target).append(" HTTP/1.1\r\nHost: ").append(host);
	request.append("\r\n"
		       "Upgrade: websocket\r\n"
		       "Connection: Upgrade\r\n"
		       "Sec-WebSocket-Version: 13\r\n"
		       "Sec-WebSocket-Key: ");
	request.append(key).append("\r\nOrigin: ").append(origin).append("\r\n\r\n");
	return request;
}

UpgradeRequest readUpgradeRequest(std::string_view head)
{
	UpgradeRequest request;
	request.target = requestTarget(head);
	request.key = findHeaderValue(head, "Sec-WebSocket-Key");
	request.protocols = findHeaderValue(head, "Sec-WebSocket-Protocol");
	request.get = head.substr(0, 4) == "GET ";
	request.websocket = equalsIgnoringCase(findHeaderValue(head, "Upgrade"), "websocket");
	return request;
}

bool isWebSocketUpgrade(const UpgradeRequest &request)
{
	return request.get && request.websocket && !request.key.empty();
}

bool listsToken(std::string_view value, std::string_view token)
{
	size_t start = 0;
	while (start <= value.size()) {
		size_t end = value.find(',', start);
		if (end == std::string_view::npos)
			end = value.size();
		if (trimmedBlanks(value.substr(start, end - start)) == token)
			return true;
		start = end + 1;
	}
	return false;
}

std::string buildUpgradeReply(std::string_view clientKey, std::string_view protocol)
{
	std::string reply = "HTTP/1.1 101 Switching Protocols\r\n"
			    "Upgrade: websocket\r\n"
			    "Connection: Upgrade\r\n"
			    "Sec-WebSocket-Accept: " +
			    computeAcceptKey(clientKey) + "\r\n";
	if (!protocol.empty())
		reply.append("Sec-WebSocket-Protocol: ").append(protocol).append("\r\n");
	reply += "\r\n";
	return reply;
}

UpgradeReplyCheck checkUpgradeReply(std::string_view head, std::string_view clientKey)
{
	UpgradeReplyCheck check;
	if (head.substr(0, 12) != "HTTP/1.1 101")
		return check;
	check.expectedAccept = computeAcceptKey(clientKey);
	check.presentedAccept = findHeaderValue(head, "Sec-WebSocket-Accept");
	check.verdict = check.presentedAccept == check.expectedAccept ? UpgradeReplyCheck::Verdict::Accepted
								      : UpgradeReplyCheck::Verdict::AcceptMismatch;
	return check;
}
