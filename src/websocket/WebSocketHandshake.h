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
