#include "websocket/Base64.h"

#include <array>
#include <cstdint>
#include <cstring>

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

// Two output characters for every 12-bit value: encoding takes two lookups
// per 3 input bytes instead of four.
constexpr std::array<char, 2 * 4096> makePairTable()
{
	std::array<char, 2 * 4096> table{};
	for (size_t v = 0; v < 4096; ++v) {
		table[2 * v] = kAlphabet[v >> 6];
		table[2 * v + 1] = kAlphabet[v & 63];
	}
	return table;
}

constexpr std::array<char, 2 * 4096> kPairTable = makePairTable();

// A digit's value already shifted to its place in a 4-character group, so
// that a group decodes with four lookups and three ORs. Anything but a digit
// sets the top bit, which no digit does: one test finds a group that needs
// the careful path.
constexpr uint32_t kNotDigit = 0x80000000u;

constexpr std::array<uint32_t, 256> makeShiftedTable(int shift)
{
	std::array<uint32_t, 256> table{};
	for (size_t c = 0; c < 256; ++c) {
		const uint8_t value = kDecodeTable[c];
		table[c] = value < 64 ? uint32_t(value) << shift : kNotDigit;
	}
	return table;
}

constexpr std::array<uint32_t, 256> kShifted0 = makeShiftedTable(18);
constexpr std::array<uint32_t, 256> kShifted1 = makeShiftedTable(12);
constexpr std::array<uint32_t, 256> kShifted2 = makeShiftedTable(6);
constexpr std::array<uint32_t, 256> kShifted3 = makeShiftedTable(0);

// Decodes whole groups of four digits from `at` on; stops at the first group
// holding anything else (a blank, padding, an invalid character) or at the
// end. Returns where it stopped.
size_t decodeDigitGroups(const uint8_t *in, size_t at, size_t size, char *&out)
{
	for (; at + 4 <= size; at += 4) {
		const uint32_t v =
			kShifted0[in[at]] | kShifted1[in[at + 1]] | kShifted2[in[at + 2]] | kShifted3[in[at + 3]];
		if (v & kNotDigit)
			break;
		out[0] = char(v >> 16);
		out[1] = char((v >> 8) & 0xFF);
		out[2] = char(v & 0xFF);
		out += 3;
	}
	return at;
}

// The lenient rules for one group collected character by character: false
// when the group empties the whole result.
bool decodeGroup(const uint8_t group[4], char *&out)
{
	if (group[0] >= 64 || group[1] >= 64)
		return false;
	// Marks in the third or fourth position add zero bits.
	const uint32_t third = group[2] < 64 ? group[2] : 0;
	const uint32_t fourth = group[3] < 64 ? group[3] : 0;
	const uint32_t v = uint32_t(group[0]) << 18 | uint32_t(group[1]) << 12 | third << 6 | fourth;
	*out++ = char(v >> 16);
	if (group[2] < 64)
		*out++ = char((v >> 8) & 0xFF);
	if (group[3] < 64)
		*out++ = char(v & 0xFF);
	return true;
}

} // namespace

std::string base64Encode(std::string_view bytes)
{
	std::string out((bytes.size() + 2) / 3 * 4, '\0');
	const auto *in = reinterpret_cast<const uint8_t *>(bytes.data());
	const size_t whole = bytes.size() / 3 * 3;
	char *o = out.data();
	for (size_t i = 0; i < whole; i += 3) {
		const uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
		std::memcpy(o, &kPairTable[2 * (v >> 12)], 2);
		std::memcpy(o + 2, &kPairTable[2 * (v & 0xFFF)], 2);
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
	// Every group of four characters gives at most three bytes.
	std::string out(text.size() / 4 * 3, '\0');
	char *o = out.data();
	const auto *in = reinterpret_cast<const uint8_t *>(text.data());
	const size_t size = text.size();
	size_t at = 0;
	for (;;) {
		at = decodeDigitGroups(in, at, size, o);
		// The careful path for one group: blanks skipped, marks judged.
		uint8_t group[4];
		int filled = 0;
		for (; at < size && filled < 4; ++at) {
			const uint8_t value = kDecodeTable[in[at]];
			if (value != kBlank)
				group[filled++] = value;
		}
		if (filled < 4)
			break; // a trailing group of one to three characters is ignored
		if (!decodeGroup(group, o))
			return {};
	}
	out.resize(size_t(o - out.data()));
	return out;
}
