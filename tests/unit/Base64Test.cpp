#include "websocket/Base64.h"

#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>

TEST(Base64, EncodesKnownVectors)
{
	// RFC 4648 test vectors.
	EXPECT_EQ(base64Encode(""), "");
	EXPECT_EQ(base64Encode("f"), "Zg==");
	EXPECT_EQ(base64Encode("fo"), "Zm8=");
	EXPECT_EQ(base64Encode("foo"), "Zm9v");
	EXPECT_EQ(base64Encode("foob"), "Zm9vYg==");
	EXPECT_EQ(base64Encode("fooba"), "Zm9vYmE=");
	EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
	EXPECT_EQ(base64Encode(std::string("\xfb\xff\x00", 3)), "+/8A");
}

TEST(Base64, DecodesKnownVectors)
{
	EXPECT_EQ(base64Decode(""), "");
	EXPECT_EQ(base64Decode("Zg=="), "f");
	EXPECT_EQ(base64Decode("Zm8="), "fo");
	EXPECT_EQ(base64Decode("Zm9vYmFy"), "foobar");
	EXPECT_EQ(base64Decode("+/8A"), std::string("\xfb\xff\x00", 3));
}

TEST(Base64, RoundTripsEveryByteValue)
{
	std::string bytes;
	for (int i = 0; i < 256; ++i)
		bytes.push_back(char(i));
	for (size_t length = 0; length <= bytes.size(); length += 37)
		EXPECT_EQ(base64Decode(base64Encode(bytes.substr(0, length))), bytes.substr(0, length));
}

TEST(Base64, DecodeSkipsBlanks)
{
	EXPECT_EQ(base64Decode(" Zm9v\r\nYm\tFy \n"), "foobar");
}

TEST(Base64, BrokenGroupEmptiesEverything)
{
	// The first group is fine, the second starts with padding.
	EXPECT_EQ(base64Decode("Zm9v=m9v"), "");
	EXPECT_EQ(base64Decode("Zm9vY=9v"), "");
	// URL-safe characters are not part of this alphabet.
	EXPECT_EQ(base64Decode("Zm9v-_9v"), "");
	EXPECT_EQ(base64Decode("Zm9v_m9v"), "");
}

TEST(Base64, TrailingPartialGroupIsIgnored)
{
	EXPECT_EQ(base64Decode("Zm9vYg"), "foo");
	EXPECT_EQ(base64Decode("Zm9vY"), "foo");
	EXPECT_EQ(base64Decode("Zm9vYmF"), "foo");
}

TEST(Base64, ThirdAndFourthPositionsAreJudgedApart)
{
	// A mark in the third position drops the second byte only; the fourth
	// digit still yields the third byte (with zero bits for the mark).
	EXPECT_EQ(base64Decode("Zm=v"), std::string("f\x2f", 2));
	EXPECT_EQ(base64Decode("Zm9="), "fo");
	EXPECT_EQ(base64Decode("Zm9!"), "fo");
	// Padding in the middle of the text is judged per group, not as the end.
	EXPECT_EQ(base64Decode("Zg==Zg=="), "ff");
}

namespace {

// The lenient rules character by character, as the header states them.
std::string decodeByTheRules(const std::string &text)
{
	const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
	std::string out;
	int group[4];
	int filled = 0;
	for (char c : text) {
		if (c == '\t' || c == '\n' || c == '\r' || c == ' ')
			continue;
		const size_t digit = alphabet.find(c);
		group[filled++] = digit == std::string::npos ? -1 : int(digit); // "=" and invalid alike
		if (filled < 4)
			continue;
		filled = 0;
		if (group[0] < 0 || group[1] < 0)
			return {};
		const uint32_t v = uint32_t(group[0]) << 18 | uint32_t(group[1]) << 12 |
				   uint32_t(group[2] < 0 ? 0 : group[2]) << 6 | uint32_t(group[3] < 0 ? 0 : group[3]);
		out.push_back(char(v >> 16));
		if (group[2] >= 0)
			out.push_back(char(v >> 8));
		if (group[3] >= 0)
			out.push_back(char(v));
	}
	return out;
}

} // namespace

TEST(Base64, DecodingFollowsTheLenientRulesOnMixedInput)
{
	// Long runs of digits (decoded four at a time) mixed with blanks, padding
	// and invalid characters (decoded one group at a time).
	const std::string pieces[] = {"QUJD", "ZGVm", "Zm9v", "YQ==", "Yg=", "=",    " ",      "\r\n",
				      "\t",   "*",    "-_",   "A",    "Bz",  "+/8A", "QUJDRA", "\xc3\xa9"};
	std::mt19937 random(4648);
	for (int i = 0; i < 20000; ++i) {
		std::string text;
		for (int n = int(random() % 16); n > 0; --n)
			text += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
		ASSERT_EQ(base64Decode(text), decodeByTheRules(text)) << "input: " << text;
	}
}
