// Frame processing end to end over a byte stream, as both sides run it.

#include "websocket/FrameProcessor.h"

#include <gtest/gtest.h>

namespace {

class RecordingEndpoint : public FrameEndpoint {
public:
	void sendFrame(std::string &&frame) override { sent.push_back(std::move(frame)); }
	bool onTextMessage(std::string &&text) override
	{
		texts.push_back(std::move(text));
		return texts.size() != stopAfter;
	}
	std::vector<std::string> sent;
	std::vector<std::string> texts;
	size_t stopAfter = 0;
};

std::string frame(uint8_t opcode, std::string_view payload, bool fin = true, bool masked = false)
{
	std::string bytes = encodeFrame(payload, opcode, masked);
	if (!fin)
		bytes[0] = char(uint8_t(bytes[0]) & 0x7F);
	return bytes;
}

class FrameProcessorTest : public ::testing::Test {
protected:
	FrameProcessingResult feed(std::string_view bytes)
	{
		buffer.append(bytes);
		return processFrames(buffer, fragments, endpoint, options, error);
	}

	WebSocketFrame decodeSent(size_t index)
	{
		ReceiveBuffer sent(endpoint.sent.at(index));
		WebSocketFrame decoded;
		std::string decodeError;
		EXPECT_EQ(decodeFrame(sent, decoded, decodeError), DecodeResult::FrameReady);
		return decoded;
	}

	ReceiveBuffer buffer;
	FragmentState fragments;
	RecordingEndpoint endpoint;
	FrameProcessingOptions options;
	std::string error;
};

} // namespace

TEST_F(FrameProcessorTest, ThreeFramesInOneReadAndAPartialOne)
{
	const std::string fourth = frame(1, "four", true, true);
	EXPECT_EQ(feed(frame(1, "one", true, true) + frame(1, "two") + frame(1, "three", true, true) +
		       fourth.substr(0, 3)),
		  FrameProcessingResult::NeedMore);
	EXPECT_EQ(endpoint.texts, (std::vector<std::string>{"one", "two", "three"}));
	EXPECT_EQ(buffer.size(), 3u);
	EXPECT_EQ(feed(fourth.substr(3)), FrameProcessingResult::NeedMore);
	EXPECT_EQ(endpoint.texts.back(), "four");
	EXPECT_TRUE(buffer.empty());
}

TEST_F(FrameProcessorTest, PingsAreAnsweredMaskedAsTheSideRequires)
{
	EXPECT_EQ(feed(frame(9, "abc", true, true)), FrameProcessingResult::NeedMore);
	ASSERT_EQ(endpoint.sent.size(), 1u);
	EXPECT_EQ(endpoint.sent[0], std::string("\x8A\x03"
						"abc")); // server: unmasked pong

	options.maskReplies = true;
	EXPECT_EQ(feed(frame(9, "abc")), FrameProcessingResult::NeedMore);
	ASSERT_EQ(endpoint.sent.size(), 2u);
	EXPECT_EQ(uint8_t(endpoint.sent[1][1]), 0x83); // client: masked
	const WebSocketFrame pong = decodeSent(1);
	EXPECT_EQ(pong.opcode, WebSocketOpcode::Pong);
	EXPECT_EQ(pong.payload, "abc");
}

TEST_F(FrameProcessorTest, PingBetweenFragmentsIsAnsweredAndTheMessageStaysWhole)
{
	EXPECT_EQ(feed(frame(1, "Hel", false) + frame(0, "lo, ", false)), FrameProcessingResult::NeedMore);
	EXPECT_EQ(feed(frame(9, "p")), FrameProcessingResult::NeedMore);
	EXPECT_EQ(endpoint.sent.size(), 1u);
	EXPECT_TRUE(endpoint.texts.empty());
	EXPECT_EQ(feed(frame(10, "ignored") + frame(0, "world", true, true)), FrameProcessingResult::NeedMore);
	EXPECT_EQ(endpoint.texts, std::vector<std::string>{"Hello, world"});
	EXPECT_EQ(endpoint.sent.size(), 1u); // pongs are not answered
}

TEST_F(FrameProcessorTest, BinaryAndReservedMessagesAreDropped)
{
	EXPECT_EQ(feed(frame(2, "bin") + frame(3, "reserved") + frame(11, "control-ish") + frame(1, "text")),
		  FrameProcessingResult::NeedMore);
	EXPECT_EQ(endpoint.texts, std::vector<std::string>{"text"});
	EXPECT_TRUE(endpoint.sent.empty());
}

TEST_F(FrameProcessorTest, CloseStopsWithoutReply)
{
	EXPECT_EQ(feed(frame(1, "before") + frame(8, "\x03\xe8") + frame(1, "after")), FrameProcessingResult::Closed);
	EXPECT_EQ(endpoint.texts, std::vector<std::string>{"before"});
	EXPECT_TRUE(endpoint.sent.empty());
}

TEST_F(FrameProcessorTest, ProtocolErrorsFail)
{
	EXPECT_EQ(feed(frame(0, "orphan")), FrameProcessingResult::MessageFailed);
	EXPECT_EQ(error, "Unexpected continuation frame.");

	buffer.clear();
	fragments = FragmentState();
	EXPECT_EQ(feed(frame(1, "open", false) + frame(1, "intruder")), FrameProcessingResult::MessageFailed);
	EXPECT_EQ(error, "Received a new data frame before the fragmented message completed.");

	buffer.clear();
	fragments = FragmentState();
	EXPECT_EQ(feed(std::string("\x81\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)),
		  FrameProcessingResult::FrameFailed);
	EXPECT_EQ(error, "WebSocket frame too large.");
}

TEST_F(FrameProcessorTest, SizeLimitOnIncompleteFramesAndOpenMessages)
{
	options.maxUnprocessedBytes = 1000;
	// A frame announcing more than the limit fails at once, before its bytes arrive.
	EXPECT_EQ(feed(frame(1, std::string(1001, 'x')).substr(0, 4)), FrameProcessingResult::FrameFailed);
	EXPECT_EQ(error, "WebSocket message too large.");

	// Exactly at the limit is fine.
	buffer.clear();
	error.clear();
	const std::string atLimit = frame(1, std::string(1000 - 4, 'y'));
	EXPECT_EQ(feed(atLimit), FrameProcessingResult::NeedMore);
	EXPECT_EQ(endpoint.texts.back().size(), 996u);

	// Fragments that add up past the limit fail.
	buffer.clear();
	EXPECT_EQ(feed(frame(1, std::string(600, 'a'), false)), FrameProcessingResult::NeedMore);
	EXPECT_EQ(feed(frame(0, std::string(300, 'b'), false)), FrameProcessingResult::NeedMore);
	EXPECT_EQ(feed(frame(0, std::string(200, 'c'), true)), FrameProcessingResult::FrameFailed);
	EXPECT_EQ(error, "WebSocket message too large.");

	// Many small complete frames in one read are not limited by their total.
	buffer.clear();
	fragments = FragmentState();
	std::string many;
	for (int i = 0; i < 100; ++i)
		many += frame(1, std::string(50, 'm'));
	const size_t before = endpoint.texts.size();
	EXPECT_EQ(feed(many), FrameProcessingResult::NeedMore);
	EXPECT_EQ(endpoint.texts.size(), before + 100);
}

TEST_F(FrameProcessorTest, HandlerCanStopProcessing)
{
	endpoint.stopAfter = 1;
	EXPECT_EQ(feed(frame(1, "first") + frame(1, "second")), FrameProcessingResult::Stopped);
	EXPECT_EQ(endpoint.texts, std::vector<std::string>{"first"});
	EXPECT_FALSE(buffer.empty());
}
