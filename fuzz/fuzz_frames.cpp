// Frame processing over arbitrary bytes, delivered in arbitrary chunks.

#include "websocket/FrameProcessor.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

class CountingEndpoint : public FrameEndpoint {
public:
	void sendFrame(std::string &&frame) override { sentBytes += frame.size(); }
	bool onTextMessage(std::string &&text) override
	{
		receivedBytes += text.size();
		return text != "stop";
	}
	size_t sentBytes = 0;
	size_t receivedBytes = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 2)
		return 0;
	// First byte: chunk size; second: side and a small limit now and then.
	const size_t chunk = size_t(data[0]) + 1;
	FrameProcessingOptions options;
	options.maskReplies = (data[1] & 1) != 0;
	options.maxUnprocessedBytes = (data[1] & 2) ? 64 : 1024 * 1024;
	std::string_view bytes(reinterpret_cast<const char *>(data + 2), size - 2);

	ReceiveBuffer buffer;
	FragmentState fragments;
	CountingEndpoint endpoint;
	std::string error;
	for (size_t at = 0; at < bytes.size(); at += chunk) {
		buffer.append(bytes.substr(at, chunk));
		const size_t before = buffer.size();
		const FrameProcessingResult result = processFrames(buffer, fragments, endpoint, options, error);
		const bool failed =
			result == FrameProcessingResult::FrameFailed || result == FrameProcessingResult::MessageFailed;
		if (failed && error.empty())
			std::abort(); // a failure always says why
		if (buffer.size() > before)
			std::abort(); // processing never adds bytes
		if (result != FrameProcessingResult::NeedMore)
			break;
		if (buffer.size() + fragments.buffer.size() > options.maxUnprocessedBytes + chunk)
			std::abort(); // the limit holds
	}
	return 0;
}
