#pragma once

#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

#include <cstddef>
#include <string>

// One side of a connection (event proxy server or Vek client) as frame
// processing sees it.
class FrameEndpoint {
public:
	virtual ~FrameEndpoint() = default;
	// Writes one complete frame (a pong) to the socket in one write.
	virtual void sendFrame(std::string &&frame) = 0;
	// A complete text message; false stops processing (the connection is
	// gone, or it takes no more input for now).
	virtual bool onTextMessage(std::string &&text) = 0;
	// Asked after each reply: false stops processing until the endpoint
	// runs it again (its peer has not taken what it was sent).
	virtual bool acceptsMore() const { return true; }
};

enum class FrameProcessingResult {
	NeedMore,      // everything complete was handled; wait for more bytes
	Closed,        // the peer sent a close frame: close gracefully, no reply
	FrameFailed,   // the frame could not be decoded or is too large (error set): close gracefully
	MessageFailed, // reassembly failed (error set): close gracefully
	Stopped,       // the endpoint asked to stop; the rest stays in the buffer
};

struct FrameProcessingOptions {
	bool maskReplies = false; // clients mask, servers do not
	// Bytes a connection may hold unprocessed: an incomplete frame plus an
	// open fragmented message. Past it processing fails with
	// messageTooLargeError, so that a peer cannot grow the process unbounded.
	size_t maxUnprocessedBytes = 16 * 1024 * 1024;
};

extern const char *const messageTooLargeError;

// Turns the received bytes into text messages and control replies. Run after
// every append once the handshake is complete.
FrameProcessingResult processFrames(ReceiveBuffer &buffer, FragmentState &fragments, FrameEndpoint &endpoint,
				    const FrameProcessingOptions &options, std::string &error);
