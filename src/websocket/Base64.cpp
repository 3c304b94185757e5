#include "websocket/Base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding marks beside the 64 digit values.
constexpr uint8_t kPadding = 64;
constexpr uint8_t kInvalid = 65;
constexpr uint8_t kBlank = 66;

constexpr std::array<uint8_t, 256> makeDecodeTable()
{
	std::array<uint8_t, 256> table{};
	for (auto &entry : table)
		entry = kInvalid;
	for (uint8_t i = 0; i < 64; ++i)
		table[uint8_t(kAlphabet[i])] = i;
	table[uint8_t('=')] = kPadding;
	for (char blank : {'\t', '\n', '\r', ' '})
		table[uint8_t(blank)] = kBlank;
	return table;
}

constexpr std::array<uint8_t, 256> kDecodeTable = makeDecodeTable();

} // namespace

std::string base64Encode(std::string_view bytes)
{
	std::string out((bytes.size() + 2) / 3 * 4, '\0');
	const auto *in = reinterpret_cast<const uint8_t *>(bytes.data());
	const size_t whole = bytes.size() / 3 * 3;
	char *o = out.data();
	for (size_t i = 0; i < whole; i += 3) {
		const uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
		o[0] = kAlphabet[v >> 18];
		o[1] = kAlphabet[(v >> 12) & 63];
		o[2] = kAlphabet[(v >> 6) & 63];
		o[3] = kAlphabet[v & 63];
		o += 4;
	}
	const size_t rest = bytes.size() - whole;
	if (rest > 0) {
		const uint32_t v = uint32_t(in[whole]) << 16 | (rest == 2 ? uint32_t(in[whole + 1]) << 8 : 0);
		o[0] = kAlphabet[v >> 18];
		o[1] = kAlphabet[(v >> 12) & 63];
		o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
		o[3] = '=';
	}
	return out;
}

std::string base64Decode(std::string_view text)
{
	std::string out;
	out.reserve(text.size() / 4 * 3);
	uint8_t group[4];
	int filled = 0;
	for (unsigned char c : text) {
		const uint8_t value = kDecodeTable[c];
		if (value == kBlank)
			continue;
		group[filled++] = value;
		if (filled < 4)
			continue;
		filled = 0;
		if (group[0] >= 64 || group[1] >= 64)
			return {};
		// Marks in the third or fourth position add zero bits.
		const uint32_t third = group[2] < 64 ? group[2] : 0;
		const uint32_t fourth = group[3] < 64 ? group[3] : 0;
		const uint32_t v = uint32_t(group[0]) << 18 | uint32_t(group[1]) << 12 | third << 6 | fourth;
		out.push_back(char(v >> 16));
		if (group[2] < 64)
			out.push_back(char((v >> 8) & 0xFF));
		if (group[3] < 64)
			out.push_back(char(v & 0xFF));
	}
	return out;
}
