#include "websocket/WebSocketFrame.h"

#include "websocket/WebSocketHandshake.h"

#include <cstring>
#include <limits>

namespace {

struct FrameHeader {
	bool fin;
	uint8_t opcode;
	bool masked;
	uint64_t length;
	size_t headerSize; // without the masking key
};

// Parses the fixed part and the extended length; false while incomplete.
bool parseHeader(std::string_view bytes, FrameHeader &header)
{
	if (bytes.size() < 2)
		return false;
	const auto *b = reinterpret_cast<const uint8_t *>(bytes.data());
	header.fin = (b[0] & 0x80) != 0;
	header.opcode = b[0] & 0x0F;
	header.masked = (b[1] & 0x80) != 0;
	const uint8_t code = b[1] & 0x7F;
	if (code == 126) {
		if (bytes.size() < 4)
			return false;
		header.length = uint64_t(b[2]) << 8 | b[3];
		header.headerSize = 4;
	} else if (code == 127) {
		if (bytes.size() < 10)
			return false;
		header.length = 0;
		for (int i = 2; i < 10; ++i)
			header.length = header.length << 8 | b[i];
		header.headerSize = 10;
	} else {
		header.length = code;
		header.headerSize = 2;
	}
	return true;
}

size_t keySize(const FrameHeader &header)
{
	return header.masked ? 4 : 0;
}

bool lengthOverflows(const FrameHeader &header)
{
	return header.length > std::numeric_limits<uint64_t>::max() - header.headerSize - keySize(header);
}

// Sixteen key bytes in one vector; GCC and Clang map the operations on it to
// the target's vector instructions (two SSE2 ones for 32 bytes on x86-64).
typedef uint64_t MaskVector __attribute__((vector_size(16)));

// The header of a final frame; the masking key, when there is one, follows it.
size_t writeHeader(uint8_t *b, uint64_t n, uint8_t opcode, bool masked)
{
	b[0] = uint8_t(0x80 | (opcode & 0x0F));
	const uint8_t maskBit = masked ? 0x80 : 0;
	if (n <= 125) {
		b[1] = uint8_t(maskBit | n);
		return 2;
	}
	if (n <= 65535) {
		b[1] = maskBit | 126;
		b[2] = uint8_t(n >> 8);
		b[3] = uint8_t(n);
		return 4;
	}
	b[1] = maskBit | 127;
	for (int i = 0; i < 8; ++i)
		b[2 + i] = uint8_t(n >> (56 - 8 * i));
	return 10;
}

} // namespace

void applyMask(char *data, size_t size, const uint8_t key[4])
{
	// The key repeats every 4 bytes, so every block that starts at a multiple
	// of 4 takes the same wide key: 32 bytes a round, then 8, then single
	// bytes. Small frames (most of the pages' messages) skip the wide rounds.
	uint32_t key32;
	std::memcpy(&key32, key, sizeof(key32));
	const uint64_t key64 = uint64_t(key32) * 0x0000000100000001ull;
	const MaskVector wide = {key64, key64};
	size_t i = 0;
	for (; i + 32 <= size; i += 32) {
		MaskVector block[2];
		std::memcpy(block, data + i, sizeof(block));
		block[0] ^= wide;
		block[1] ^= wide;
		std::memcpy(data + i, block, sizeof(block));
	}
	for (; i + 8 <= size; i += 8) {
		uint64_t word;
		std::memcpy(&word, data + i, sizeof(word));
		word ^= key64;
		std::memcpy(data + i, &word, sizeof(word));
	}
	for (; i < size; ++i)
		data[i] = char(uint8_t(data[i]) ^ key[i % 4]);
}

size_t writeFrameHeader(uint8_t *out, uint64_t payloadSize, uint8_t opcode)
{
	return writeHeader(out, payloadSize, opcode, false);
}

std::string encodeFrame(std::string_view payload, uint8_t opcode, bool masked)
{
	uint8_t header[kMaxFrameHeaderSize];
	const size_t headerSize = writeHeader(header, payload.size(), opcode, masked);
	const size_t keySize = masked ? 4 : 0;
	std::string frame(headerSize + keySize + payload.size(), '\0');
	std::memcpy(frame.data(), header, headerSize);
	char *body = frame.data() + headerSize + keySize;
	if (!payload.empty())
		std::memcpy(body, payload.data(), payload.size());
	if (masked) {
		const std::string key = randomBytes(4);
		std::memcpy(frame.data() + headerSize, key.data(), 4);
		applyMask(body, payload.size(), reinterpret_cast<const uint8_t *>(key.data()));
	}
	return frame;
}

DecodeResult decodeFrame(ReceiveBuffer &buffer, WebSocketFrame &frame, std::string &error)
{
	const std::string_view bytes = buffer.view();
	FrameHeader header;
	if (!parseHeader(bytes, header))
		return DecodeResult::NeedMore;
	if (lengthOverflows(header)) {
		error = "WebSocket frame too large.";
		return DecodeResult::Error;
	}
	const uint64_t total = header.headerSize + keySize(header) + header.length;
	if (bytes.size() < total)
		return DecodeResult::NeedMore;

	frame.fin = header.fin;
	frame.opcode = header.opcode;
	const size_t payloadStart = header.headerSize + keySize(header);
	frame.payload.assign(bytes.data() + payloadStart, size_t(header.length));
	if (header.masked) {
		// Copying first and unmasking in place measured faster than one
		// fused pass: the copy is libc's widest, the XOR then runs in cache.
		uint8_t key[4];
		std::memcpy(key, bytes.data() + header.headerSize, 4);
		applyMask(frame.payload.data(), frame.payload.size(), key);
	}
	buffer.consume(size_t(total));
	return DecodeResult::FrameReady;
}

AssembleResult assembleFragment(WebSocketFrame &&frame, FragmentState &state, WebSocketMessage &message,
				std::string &error)
{
	if (frame.opcode != WebSocketOpcode::Continuation) {
		if (state.inProgress) {
			error = "Received a new data frame before the fragmented message completed.";
			return AssembleResult::Error;
		}
		if (!frame.fin) {
			state.opcode = frame.opcode;
			state.inProgress = true;
			state.buffer = std::move(frame.payload);
			return AssembleResult::Pending;
		}
		message.opcode = frame.opcode;
		message.payload = std::move(frame.payload);
		return AssembleResult::MessageReady;
	}

	if (!state.inProgress) {
		error = "Unexpected continuation frame.";
		return AssembleResult::Error;
	}
	state.buffer.append(frame.payload);
	if (!frame.fin)
		return AssembleResult::Pending;
	message.opcode = state.opcode;
	message.payload = std::move(state.buffer);
	state = FragmentState();
	return AssembleResult::MessageReady;
}

uint64_t announcedFrameSize(std::string_view bytes)
{
	FrameHeader header;
	if (!parseHeader(bytes, header))
		return 0;
	if (lengthOverflows(header))
		return std::numeric_limits<uint64_t>::max();
	return header.headerSize + keySize(header) + header.length;
}
