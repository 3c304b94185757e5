// Frame coding and reassembly.

#include "websocket/WebSocketFrame.h"
#include "websocket/ReceiveBuffer.h"

#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string header(std::initializer_list<int> bytes)
{
	std::string out;
	for (int b : bytes)
		out.push_back(char(b));
	return out;
}

WebSocketFrame decodeAll(const std::string &bytes)
{
	ReceiveBuffer buffer(bytes);
	WebSocketFrame frame;
	std::string error;
	EXPECT_EQ(decodeFrame(buffer, frame, error), DecodeResult::FrameReady) << error;
	EXPECT_TRUE(buffer.empty());
	return frame;
}

} // namespace

TEST(WebSocketFrame, LengthEncodingBoundariesRoundTrip)
{
	for (size_t length :
	     {size_t(0), size_t(1), size_t(125), size_t(126), size_t(65535), size_t(65536), size_t(70001)}) {
		std::string payload(length, '\0');
		for (size_t i = 0; i < length; ++i)
			payload[i] = char(i * 7 + 3);
		for (bool masked : {false, true}) {
			const std::string frame = encodeFrame(payload, WebSocketOpcode::Binary, masked);
			const size_t lengthBytes = length <= 125 ? 0 : length <= 65535 ? 2 : 8;
			ASSERT_EQ(frame.size(), 2 + lengthBytes + (masked ? 4 : 0) + length);
			EXPECT_EQ(uint8_t(frame[0]), 0x82);
			EXPECT_EQ(uint8_t(frame[1]) & 0x80, masked ? 0x80 : 0);
			EXPECT_EQ(uint8_t(frame[1]) & 0x7F, length <= 125 ? length : length <= 65535 ? 126 : 127);
			if (!masked) {
				EXPECT_EQ(frame.substr(2 + lengthBytes), payload);
			}
			const WebSocketFrame decoded = decodeAll(frame);
			EXPECT_TRUE(decoded.fin);
			EXPECT_EQ(decoded.opcode, WebSocketOpcode::Binary);
			EXPECT_EQ(decoded.payload, payload) << "length " << length << " masked " << masked;
		}
	}
}

TEST(WebSocketFrame, ExtendedLengthsAreBigEndian)
{
	const std::string medium = encodeFrame(std::string(0x1234, 'a'), WebSocketOpcode::Text, false);
	EXPECT_EQ(medium.substr(1, 3), header({126, 0x12, 0x34}));
	const std::string large = encodeFrame(std::string(0x10203, 'a'), WebSocketOpcode::Text, false);
	EXPECT_EQ(large.substr(1, 9), header({127, 0, 0, 0, 0, 0, 1, 2, 3}));
}

TEST(WebSocketFrame, MaskedFrameCarriesItsKey)
{
	const std::string frame = encodeFrame("abcdefghij", WebSocketOpcode::Text, true);
	const auto *key = reinterpret_cast<const uint8_t *>(frame.data() + 2);
	for (size_t i = 0; i < 10; ++i)
		EXPECT_EQ(uint8_t(frame[6 + i]) ^ key[i % 4], uint8_t("abcdefghij"[i]));
	// Keys differ between frames.
	EXPECT_NE(encodeFrame("x", 1, true).substr(2, 4), encodeFrame("x", 1, true).substr(2, 4));
}

TEST(WebSocketFrame, DecodesTheRfcSamples)
{
	// RFC 6455 section 5.7: unmasked and masked "Hello".
	WebSocketFrame frame = decodeAll(header({0x81, 0x05, 0x48, 0x65, 0x6c, 0x6c, 0x6f}));
	EXPECT_EQ(frame.payload, "Hello");
	frame = decodeAll(header({0x81, 0x85, 0x37, 0xfa, 0x21, 0x3d, 0x7f, 0x9f, 0x4d, 0x51, 0x58}));
	EXPECT_EQ(frame.payload, "Hello");
	frame = decodeAll(header({0x01, 0x03, 0x48, 0x65, 0x6c}));
	EXPECT_FALSE(frame.fin);
	EXPECT_EQ(frame.opcode, WebSocketOpcode::Text);
	// Reserved bits are ignored.
	frame = decodeAll(header({0xF9, 0x00}));
	EXPECT_EQ(frame.opcode, WebSocketOpcode::Ping);
}

TEST(WebSocketFrame, PartialFramesNeedMoreAndConsumeNothing)
{
	const std::string full =
		encodeFrame(std::string(300, 'p'), WebSocketOpcode::Text, true) + encodeFrame("tail", 1, false);
	const size_t first = full.size() - 6;
	for (size_t cut = 0; cut < first; ++cut) {
		ReceiveBuffer buffer(std::string_view(full).substr(0, cut));
		WebSocketFrame frame;
		std::string error;
		ASSERT_EQ(decodeFrame(buffer, frame, error), DecodeResult::NeedMore) << "cut " << cut;
		ASSERT_EQ(buffer.size(), cut);
	}
	// 64-bit length headers, cut anywhere before the payload.
	const std::string large = encodeFrame(std::string(65536, 'q'), WebSocketOpcode::Binary, false);
	for (size_t cut = 0; cut < 14; ++cut) {
		ReceiveBuffer buffer(std::string_view(large).substr(0, cut));
		WebSocketFrame frame;
		std::string error;
		ASSERT_EQ(decodeFrame(buffer, frame, error), DecodeResult::NeedMore);
		ASSERT_EQ(buffer.size(), cut);
	}
}

TEST(WebSocketFrame, OverflowGuard)
{
	std::string error;
	WebSocketFrame frame;
	ReceiveBuffer huge(header({0x82, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
	EXPECT_EQ(decodeFrame(huge, frame, error), DecodeResult::Error);
	EXPECT_EQ(error, "WebSocket frame too large.");
	EXPECT_EQ(huge.size(), 10u);

	// The largest length that fits with the header: no error, just more bytes needed.
	const uint64_t fits = std::numeric_limits<uint64_t>::max() - 10;
	std::string edge = header({0x82, 0x7F});
	for (int i = 7; i >= 0; --i)
		edge.push_back(char(fits >> (8 * i)));
	ReceiveBuffer edgeBuffer(edge);
	EXPECT_EQ(decodeFrame(edgeBuffer, frame, error), DecodeResult::NeedMore);
	// The masking key counts too.
	edge[1] = char(0xFF);
	ReceiveBuffer maskedEdge(edge);
	EXPECT_EQ(decodeFrame(maskedEdge, frame, error), DecodeResult::Error);

	// 2^40: representable, so it waits for the bytes.
	ReceiveBuffer large(header({0x82, 0x7F, 0, 0, 1, 0, 0, 0, 0, 0, 'a', 'b'}));
	EXPECT_EQ(decodeFrame(large, frame, error), DecodeResult::NeedMore);
	EXPECT_EQ(large.size(), 12u);
	EXPECT_EQ(announcedFrameSize(large.view()), (uint64_t(1) << 40) + 10);
}

TEST(WebSocketFrame, ReassemblyTable)
{
	FragmentState state;
	WebSocketMessage message;
	std::string error;
	auto frame = [](uint8_t opcode, bool fin, std::string payload) {
		return WebSocketFrame{opcode, fin, std::move(payload)};
	};

	// Single final data frame: a message, state untouched.
	EXPECT_EQ(assembleFragment(frame(1, true, "whole"), state, message, error), AssembleResult::MessageReady);
	EXPECT_EQ(message.opcode, 1);
	EXPECT_EQ(message.payload, "whole");
	EXPECT_FALSE(state.inProgress);

	// Continuation with nothing open.
	EXPECT_EQ(assembleFragment(frame(0, true, "x"), state, message, error), AssembleResult::Error);
	EXPECT_EQ(error, "Unexpected continuation frame.");
	EXPECT_EQ(assembleFragment(frame(0, false, "x"), state, message, error), AssembleResult::Error);

	// Start, continue, data frame inside (error, state kept), finish.
	EXPECT_EQ(assembleFragment(frame(2, false, "ab"), state, message, error), AssembleResult::Pending);
	EXPECT_TRUE(state.inProgress);
	EXPECT_EQ(state.opcode, 2);
	EXPECT_EQ(assembleFragment(frame(0, false, "cd"), state, message, error), AssembleResult::Pending);
	EXPECT_EQ(assembleFragment(frame(1, true, "new"), state, message, error), AssembleResult::Error);
	EXPECT_EQ(error, "Received a new data frame before the fragmented message completed.");
	EXPECT_EQ(state.buffer, "abcd");
	EXPECT_EQ(assembleFragment(frame(0, true, "ef"), state, message, error), AssembleResult::MessageReady);
	EXPECT_EQ(message.opcode, 2);
	EXPECT_EQ(message.payload, "abcdef");
	EXPECT_FALSE(state.inProgress);
	EXPECT_EQ(state.opcode, 0);
	EXPECT_TRUE(state.buffer.empty());
}

TEST(ReceiveBuffer, ConsumesFromTheFrontAndAppendsAtTheEnd)
{
	ReceiveBuffer buffer;
	buffer.append("hello ");
	buffer.consume(2);
	buffer.append("world");
	EXPECT_EQ(buffer.view(), "llo world");
	char *room = buffer.prepareAppend(10);
	std::memcpy(room, "!?", 2);
	buffer.commitAppend(2);
	EXPECT_EQ(buffer.view(), "llo world!?");
	buffer.consume(100);
	EXPECT_TRUE(buffer.empty());
}

namespace {

// A device with bytes waiting; `failAfter` reads later its reads fail, as a
// socket's do when the connection breaks while bytes are still reported.
struct ScriptedDevice {
	std::string pending;
	int failAfter = -1;
	std::vector<int64_t> asked;

	int64_t bytesAvailable() const { return int64_t(pending.size()); }
	int64_t read(char *into, int64_t room)
	{
		asked.push_back(room);
		if (failAfter >= 0 && int(asked.size()) > failAfter)
			return -1;
		const size_t count = std::min(size_t(room), pending.size());
		std::memcpy(into, pending.data(), count);
		pending.erase(0, count);
		return int64_t(count);
	}
};

} // namespace

TEST(ReceiveBuffer, TakesWhatADeviceHasInBoundedReads)
{
	std::string bytes(150 * 1024, '\0');
	for (size_t i = 0; i < bytes.size(); ++i)
		bytes[i] = char(i * 13);
	ScriptedDevice device{bytes, -1, {}};
	ReceiveBuffer buffer("x");
	buffer.appendAvailable(device);
	EXPECT_EQ(device.asked, (std::vector<int64_t>{64 * 1024, 64 * 1024, 22 * 1024}));
	EXPECT_EQ(buffer.view(), "x" + bytes);

	// A failed read ends the loop and adds nothing, though bytes are reported.
	ScriptedDevice failing{"abcdef", 0, {}};
	buffer.appendAvailable(failing);
	EXPECT_EQ(failing.asked.size(), 1u);
	EXPECT_EQ(buffer.size(), 1 + bytes.size());
}

TEST(WebSocketFrame, MaskingMatchesByteWiseXorAtEveryLengthAndOffset)
{
	const uint8_t key[4] = {0x37, 0xfa, 0x21, 0x3d};
	std::string source(160, '\0');
	for (size_t i = 0; i < source.size(); ++i)
		source[i] = char(i * 7 + 3);
	for (size_t offset = 0; offset < 8; ++offset) {
		for (size_t length = 0; length + offset <= source.size(); ++length) {
			std::string data = source;
			applyMask(data.data() + offset, length, key);
			for (size_t i = 0; i < data.size(); ++i) {
				const bool inside = i >= offset && i < offset + length;
				const char expected =
					inside ? char(uint8_t(source[i]) ^ key[(i - offset) % 4]) : source[i];
				ASSERT_EQ(data[i], expected)
					<< "offset " << offset << " length " << length << " byte " << i;
			}
		}
	}
}
