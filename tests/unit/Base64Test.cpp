#include "websocket/Base64.h"

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
