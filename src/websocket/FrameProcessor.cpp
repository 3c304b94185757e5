#include "websocket/FrameProcessor.h"

const char *const messageTooLargeError = "WebSocket message too large.";

namespace {

// What the connection would hold once the frame at the front of the buffer
// has arrived, counted with the open fragmented message.
bool exceedsLimit(const ReceiveBuffer &buffer, const FragmentState &fragments, size_t limit)
{
	uint64_t pending = announcedFrameSize(buffer.view());
	if (pending < buffer.size())
		pending = buffer.size();
	return pending > limit || fragments.buffer.size() > limit - pending;
}

bool isControl(uint8_t opcode)
{
	return opcode == WebSocketOpcode::Close || opcode == WebSocketOpcode::Ping || opcode == WebSocketOpcode::Pong;
}

} // namespace

FrameProcessingResult processFrames(ReceiveBuffer &buffer, FragmentState &fragments, FrameEndpoint &endpoint,
				    const FrameProcessingOptions &options, std::string &error)
{
	WebSocketFrame frame;
	WebSocketMessage message;
	for (;;) {
		switch (decodeFrame(buffer, frame, error)) {
		case DecodeResult::NeedMore:
			if (exceedsLimit(buffer, fragments, options.maxUnprocessedBytes)) {
				error = messageTooLargeError;
				return FrameProcessingResult::FrameFailed;
			}
			return FrameProcessingResult::NeedMore;
		case DecodeResult::Error:
			return FrameProcessingResult::FrameFailed;
		case DecodeResult::FrameReady:
			break;
		}

		if (frame.opcode == WebSocketOpcode::Close)
			return FrameProcessingResult::Closed;
		if (frame.opcode == WebSocketOpcode::Ping) {
			endpoint.sendFrame(encodeFrame(frame.payload, WebSocketOpcode::Pong, options.maskReplies));
			if (!endpoint.acceptsMore())
				return FrameProcessingResult::Stopped;
			continue;
		}
		if (isControl(frame.opcode))
			continue; // pong

		if (frame.payload.size() + fragments.buffer.size() > options.maxUnprocessedBytes) {
			error = messageTooLargeError;
			return FrameProcessingResult::FrameFailed;
		}
		switch (assembleFragment(std::move(frame), fragments, message, error)) {
		case AssembleResult::Error:
			return FrameProcessingResult::MessageFailed;
		case AssembleResult::Pending:
			break;
		case AssembleResult::MessageReady:
			if (message.opcode == WebSocketOpcode::Text &&
			    !endpoint.onTextMessage(std::move(message.payload)))
				return FrameProcessingResult::Stopped;
			break;
		}
	}
}
