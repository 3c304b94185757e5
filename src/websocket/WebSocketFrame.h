#pragma once

#include "websocket/ReceiveBuffer.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace WebSocketOpcode {
constexpr uint8_t Continuation = 0;
constexpr uint8_t Text = 1;
constexpr uint8_t Binary = 2;
constexpr uint8_t Close = 8;
constexpr uint8_t Ping = 9;
constexpr uint8_t Pong = 10;
} // namespace WebSocketOpcode

// One decoded frame, payload already unmasked.
struct WebSocketFrame {
	uint8_t opcode = 0;
	bool fin = false;
	std::string payload;
};

// A fragmented message being received on one connection.
struct FragmentState {
	uint8_t opcode = 0;
	bool inProgress = false;
	std::string buffer;
};

// A complete message out of reassembly.
struct WebSocketMessage {
	uint8_t opcode = 0;
	std::string payload;
};

enum class DecodeResult { NeedMore = 0, FrameReady = 1, Error = 2 };
enum class AssembleResult { Pending = 0, MessageReady = 1, Error = 2 };

// One final frame; masked frames get a fresh random key.
std::string encodeFrame(std::string_view payload, uint8_t opcode, bool masked);

// Longest header of an unmasked frame: 2 bytes and an 8-byte length.
constexpr size_t kMaxFrameHeaderSize = 10;
// Writes the header of an unmasked final frame with a payload of that size,
// for callers that place the payload themselves; returns the header's size.
size_t writeFrameHeader(uint8_t *out, uint64_t payloadSize, uint8_t opcode);

// Decodes the frame at the front of the buffer and consumes it; nothing is
// consumed unless a whole frame is there.
DecodeResult decodeFrame(ReceiveBuffer &buffer, WebSocketFrame &frame, std::string &error);

// Feeds a data frame into the connection's reassembly.
AssembleResult assembleFragment(WebSocketFrame &&frame, FragmentState &state, WebSocketMessage &message,
				std::string &error);

// Size of the frame whose header starts the bytes (header, key and payload),
// or 0 while the header itself is incomplete. Saturates instead of overflowing.
uint64_t announcedFrameSize(std::string_view bytes);

// XORs the bytes with the 4-byte key, starting at key position 0.
void applyMask(char *data, size_t size, const uint8_t key[4]);
