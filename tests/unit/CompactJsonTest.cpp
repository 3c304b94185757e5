// The event proxy's compact writer must give exactly nlohmann's text: pages
// compare and store what they receive, and the history is kept as text.

#include "values/Json.h"

#include <random>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string reference(const json &value)
{
	return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Strings of mixed bytes: plain ASCII, escapes, valid multi-byte sequences
// and every kind of broken one.
std::string randomText(std::mt19937 &random)
{
	static const std::string pieces[] = {
		"a",
		"Zorva ",
		"\"",
		"\\",
		"\n",
		"\t",
		"\x01",
		"\x1f",
		"\x7f",
		"/",
		"\xc3\xa9",         // é
		"\xe2\x82\xac",     // €
		"\xf0\x9f\x98\x80", // an emoji
		"\xc0\xaf",         // overlong
		"\xe0\x80\xaf",     // overlong
		"\xed\xa0\x80",     // surrogate
		"\xf4\x90\x80\x80", // past U+10FFFF
		"\xf5\x80\x80\x80",
		"\xff",
		"\x80",
		"\xc3",
		"\xe2\x82",
		"\xf0\x9f\x98",
	};
	std::string text;
	const int count = int(random() % 12);
	for (int i = 0; i < count; ++i)
		text += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
	return text;
}

json randomValue(std::mt19937 &random, int depth)
{
	switch (random() % (depth > 3 ? 6 : 8)) {
	case 0:
		return nullptr;
	case 1:
		return random() % 2 == 0;
	case 2:
		return std::int64_t(random()) - std::int64_t(random()) * 65536;
	case 3:
		return std::uint64_t(random()) << 32 | random();
	case 4:
		return double(int(random() % 2000000) - 1000000) / 64.0;
	case 5:
		return randomText(random);
	case 6: {
		json object = json::object();
		for (int i = int(random() % 5); i > 0; --i)
			object[randomText(random)] = randomValue(random, depth + 1);
		return object;
	}
	default: {
		json array = json::array();
		for (int i = int(random() % 5); i > 0; --i)
			array.push_back(randomValue(random, depth + 1));
		return array;
	}
	}
}

} // namespace

TEST(CompactJson, MatchesNlohmannOnEveryKindOfValue)
{
	const json fixed[] = {
		json(nullptr),
		json(true),
		json(false),
		json(0),
		json(-1),
		json(INT64_MIN),
		json(UINT64_MAX),
		json(0.5),
		json(1.0),
		json(-0.0),
		json(1e300),
		json(std::nan("")),
		json(""),
		json::object(),
		json::array(),
		json{{"event_type", "RICH_MESSAGE"},
		     {"author", {{"name", "zoë"}}},
		     {"n", json::array({1, 2.5, nullptr})}},
		json::binary({1, 2, 3}),
	};
	for (const json &value : fixed)
		EXPECT_EQ(compactJson(value), reference(value)) << reference(value);

	std::mt19937 random(20261208);
	for (int i = 0; i < 20000; ++i) {
		const json value = randomValue(random, 0);
		ASSERT_EQ(compactJson(value), reference(value)) << "case " << i;
	}
}

TEST(CompactJson, EscapesAndReplacesAsNlohmannDoes)
{
	// Control characters, quotes and backslashes escaped; '/' and DEL not.
	EXPECT_EQ(compactJson("a\"b\\c/\x7f\b\f\n\r\t\x01\x1f"), R"("a\"b\\c/)"
								 "\x7f"
								 R"(\b\f\n\r\t\u0001\u001f")");
	// Valid UTF-8 passes through; broken sequences become U+FFFD.
	EXPECT_EQ(compactJson("h\xc3\xa9llo \xf0\x9f\x98\x80"), "\"h\xc3\xa9llo \xf0\x9f\x98\x80\"");
	EXPECT_EQ(compactJson("x\xffy"), "\"x\xef\xbf\xbdy\"");
	EXPECT_EQ(compactJson(json{{"k\xff", "v"}}), reference(json{{"k\xff", "v"}}));
}

namespace {

// Character by character, the plain way: what the fast scan must agree with.
bool nestingWithinByHand(std::string_view text, size_t limit)
{
	size_t depth = 0;
	bool inString = false;
	bool escaped = false;
	for (const char c : text) {
		if (inString) {
			if (escaped)
				escaped = false;
			else if (c == '\\')
				escaped = true;
			else if (c == '"')
				inString = false;
		} else if (c == '"') {
			inString = true;
		} else if (c == '[' || c == '{') {
			if (++depth > limit)
				return false;
		} else if ((c == ']' || c == '}') && depth > 0) {
			--depth;
		}
	}
	return true;
}

} // namespace

TEST(JsonNesting, BracketsInsideStringsDoNotCount)
{
	const std::string deep(maxJsonNesting + 1, '[');
	EXPECT_FALSE(jsonNestingWithin(deep, maxJsonNesting));
	EXPECT_TRUE(jsonNestingWithin(deep.substr(1), maxJsonNesting));
	// In a string, behind an escaped quote, in an unterminated string: text.
	EXPECT_TRUE(jsonNestingWithin("[\"" + deep + "\"]", maxJsonNesting));
	EXPECT_TRUE(jsonNestingWithin("[\"\\\"" + deep + "\"]", maxJsonNesting));
	EXPECT_TRUE(jsonNestingWithin("[\"" + deep, maxJsonNesting));
	// An escaped backslash does not escape the quote after it.
	EXPECT_FALSE(jsonNestingWithin("[\"\\\\\"" + deep, maxJsonNesting));
	EXPECT_TRUE(jsonNestingWithin("[\"\\\\\\\"" + deep, maxJsonNesting));
	// Through parseJson: refused beyond the limit, parsed up to it.
	const std::string limitDeep = std::string(maxJsonNesting, '[') + std::string(maxJsonNesting, ']');
	EXPECT_TRUE(parseJson(limitDeep).is_array());
	EXPECT_TRUE(parseJson("[" + limitDeep + "]").is_discarded());
}

TEST(JsonNesting, AgreesWithACharacterByCharacterScan)
{
	std::mt19937 random(7);
	const char alphabet[] = {'[', ']', '{', '}', '"', '\\', 'a', ','};
	for (int round = 0; round < 20000; ++round) {
		std::string text(random() % 64, ' ');
		for (char &c : text)
			c = alphabet[random() % sizeof(alphabet)];
		for (size_t limit : {size_t(0), size_t(1), size_t(3)})
			ASSERT_EQ(jsonNestingWithin(text, limit), nestingWithinByHand(text, limit))
				<< text << " " << limit;
	}
}
