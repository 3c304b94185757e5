#pragma once

#include "websocket/ReceiveBuffer.h"

#include <optional>
#include <string>
#include <string_view>

// Sec-WebSocket-Accept for a Sec-WebSocket-Key (28 characters).
std::string computeAcceptKey(std::string_view key);

// A fresh Sec-WebSocket-Key: 16 random bytes in Base64 (24 characters).
std::string generateClientKey();

// Bytes from a new MT19937 seeded with one value of the random device; each
// byte is the top 8 bits of one generator output.
std::string randomBytes(size_t count);

// Cuts the HTTP head (up to and including the first blank line) off the
// front of the buffer; nothing while the head is incomplete.
std::optional<std::string> extractHttpHead(ReceiveBuffer &buffer);

// Value of the first line that starts with "<name>:" (case-insensitive), with
// leading blanks and trailing white space removed; empty when absent.
std::string findHeaderValue(std::string_view head, std::string_view name);

// A client's opening request for `target` on `host`, with its key and the
// Origin header.
std::string buildUpgradeRequest(std::string_view target, std::string_view host, std::string_view key,
				std::string_view origin);

// What a server reads from a client's opening request head.
struct UpgradeRequest {
	std::string target;     // between the first two spaces of the first line; empty without them
	std::string key;        // Sec-WebSocket-Key; empty when absent
	std::string protocols;  // Sec-WebSocket-Protocol as offered; empty when absent
	bool get = false;       // the head starts with "GET "
	bool websocket = false; // "Upgrade: websocket", in any case
};
UpgradeRequest readUpgradeRequest(std::string_view head);

// GET, "Upgrade: websocket" and a key: a request a strict server answers.
bool isWebSocketUpgrade(const UpgradeRequest &request);

// Whether a comma-separated header value (such as the offered subprotocols)
// lists the token, blanks around the items ignored.
bool listsToken(std::string_view value, std::string_view token);

// The server's 101 answer to a client key; it names the chosen subprotocol
// when there is one.
std::string buildUpgradeReply(std::string_view clientKey, std::string_view protocol = {});

// How a server answered the client's opening request.
struct UpgradeReplyCheck {
	enum class Verdict { Accepted, NotSwitching, AcceptMismatch };
	Verdict verdict = Verdict::NotSwitching;
	// Both are filled once the reply is a 101: the accept key the client
	// key calls for, and the one the server sent.
	std::string expectedAccept;
	std::string presentedAccept;
};
UpgradeReplyCheck checkUpgradeReply(std::string_view head, std::string_view clientKey);
