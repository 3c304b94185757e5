// The canonical writer must give, byte for byte, what parsing the text and
// writing the value compactly gives, and refuse exactly the texts the parser
// refuses: pages receive and store that text. The event proxy's routing,
// which reads the message from that text, must decide as it did on the parsed
// message.

#include "values/CanonicalJson.h"
#include "proxy/ProxyMessageRouting.h"
#include "values/Json.h"

#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

std::optional<std::string> reference(std::string_view text)
{
	const json value = parseJson(text);
	if (value.is_discarded())
		return std::nullopt;
	return compactJson(value);
}

// The canonical text, appended behind a prefix that a refusal must leave as
// it was.
std::optional<std::string> canonical(std::string_view text)
{
	const std::string prefix = "kept";
	std::string out = prefix;
	if (!appendCanonicalJson(text, out)) {
		EXPECT_EQ(out, prefix) << "a refusal changed the output";
		return std::nullopt;
	}
	return out.substr(prefix.size());
}

std::string nested(size_t depth)
{
	return std::string(depth, '[') + std::string(depth, ']');
}

std::string nestedObjects(size_t depth)
{
	std::string text;
	for (size_t i = 0; i < depth; ++i)
		text += "{\"k\":";
	text += "1";
	return text + std::string(depth, '}');
}

const std::vector<std::string> &cases()
{
	static const std::vector<std::string> table = {
		// Objects: unsorted and duplicate keys at several depths.
		R"({"b":1,"a":2})",
		R"({"a":1,"a":2})",
		R"({"b":1,"a":2,"b":3,"a":4,"c":{"z":[{"y":1,"x":2,"y":3}],"a":{}}})",
		R"([{"b":{"d":1,"c":{"f":1,"e":2,"f":[3]}},"a":0},{"a":1,"a":{"b":2,"a":1}}])",
		R"({"b":{"d":1,"c":{"f":2,"e":3}},"a":[{"h":4,"g":5}],"b":{"j":[{"l":6,"k":7}],"i":8},"c":{"n":9,"m":0}})",
		R"({"":1,"a":2,"":3})",
		R"({"ab":1,"a":2,"abc":3,"b":4})",
		"{\"\xc3\xa9\":1,\"z\":2,\"\x7f\":3}",
		// Escaped keys that sort differently once decoded.
		R"({"\u0041":1,"\n":2,"B":3,"\\":4,"\"":5})",
		R"({"a\u0000":1,"a":2,"a\u0000":3})",
		R"({"\u00e9":1,"\u00c3":2,"é":3,"z":4})",
		R"({"\ud83d\ude00":1,"\uffff":2,"\/":3,"/":4})",
		// Strings: escapes of every kind, surrogate pairs, lone surrogates.
		R"(["\"\\\/\b\f\n\r\t","\u0000\u001f\u0020\u007f\u0080","\u00E9\u20AC\uFFFF"])",
		R"("\ud83d\ude00 \uD83D\uDE00 \udbff\udfff \ud800\udc00")",
		R"("\ud83d")",
		R"("\ud83d\u0041")",
		R"("\ud83dx")",
		R"("\ude00")",
		R"("\ude00\ud83d")",
		R"("\ud83d\ud83d")",
		R"("\ud83d\")",
		R"("\u12")",
		R"("\u12g4")",
		R"("\x")",
		R"("\)",
		R"("abc)",
		R"("trailing backslash\\")",
		"\"plain and long enough to be read eight bytes at a time, twice over\"",
		// Control characters: refused raw, taken escaped.
		"\"a\x01z\"",
		"\"tab\there\"",
		"\"new\nline\"",
		"[\"\0\"]"s,
		"\"0123456\x1f\"",
		// UTF-8: valid, overlong, surrogates, past U+10FFFF, truncated, stray.
		"\"h\xc3\xa9llo \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf\"",
		"\"\xc0\xaf\"",
		"\"\xc1\xbf\"",
		"\"\xe0\x80\xaf\"",
		"\"\xe0\x9f\xbf\"",
		"\"\xf0\x80\x80\xaf\"",
		"\"\xf0\x8f\xbf\xbf\"",
		"\"\xed\xa0\x80\"",
		"\"\xed\xbf\xbf\"",
		"\"\xed\x9f\xbf\"",
		"\"\xf4\x90\x80\x80\"",
		"\"\xf5\x80\x80\x80\"",
		"\"\xff\"",
		"\"\x80\"",
		"\"\xc3\"",
		"\"\xe2\x82\"",
		"\"\xf0\x9f\x98\"",
		"\"1234567\xc3\"",
		"\"\xc3\xa9\\n\xe2\x82\"",
		"{\"k\xff\":1}",
		// Numbers.
		"0",
		"-0",
		"[-0,0,1e2,1.0,1E+2,-1.5e-3,0.1,1e-400,5e-324]",
		"[9223372036854775807,9223372036854775808,-9223372036854775808,-9223372036854775809]",
		"[18446744073709551615,18446744073709551616,12345678901234567890,123456789012345678901]",
		"[123456789012345678,1234567890123456789,-123456789012345678,-1234567890123456789]",
		"1e400",
		"-1e400",
		"1E-2",
		"01",
		"-01",
		"00",
		"1.",
		".5",
		"1.e2",
		"1e",
		"1e+",
		"-",
		"+1",
		"--1",
		"0x10",
		"[1,]",
		"1 2",
		// Literals.
		"[true,false,null]",
		"tru",
		"nul",
		"True",
		"nullx",
		"[true false]",
		// Byte order mark, whitespace, trailing text, empty text.
		"\xef\xbb\xbf{\"b\":1,\"a\":2}",
		"\xef\xbb\xbf \t\r\n[1]",
		"\xef\xbb\xbf",
		"\xef\xbb{}",
		"\xef{}",
		"\xef",
		" \xef\xbb\xbf{}",
		"\xef\xbb\xbf\xef\xbb\xbf{}",
		"",
		" \t\r\n",
		" \t\r\n { \"b\" : [ 1 , 2 ] ,\n\"a\" : { } , \"c\" : [ ] } \r\n\t ",
		"\f1",
		"1\f",
		"{} x",
		"{}}",
		"[]]",
		"{}\0"s,
		"{\"b\":1,\"a\":2} \0 not read"s,
		"1\0x"s,
		"\0"s,
		"[1\0]"s,
		"{}\0"s + std::string(maxJsonNesting + 1, '['),
		"{}\0\"" + std::string(maxJsonNesting + 1, '['),
		"{} // comment",
		"/* comment */ {}",
		"{\"a\":1,}",
		"{,}",
		"{\"a\" 1}",
		"{\"a\":}",
		"{1:2}",
		"{\"a\":1",
		"[1",
		"[",
		"{",
		// Nesting: the limit itself, one past it, and a bracket in a string.
		nested(maxJsonNesting),
		nested(maxJsonNesting + 1),
		nestedObjects(maxJsonNesting),
		nestedObjects(maxJsonNesting + 1),
		"[\"" + std::string(maxJsonNesting + 1, '[') + "\"]",
		"[" + std::string(maxJsonNesting + 1, '[') + "]",
	};
	return table;
}

// JSON-like text with the parts where writers go wrong, chosen at random:
// spacing, key order and duplicates, escapes, number forms, and now and then
// a flaw.
class TextMaker {
public:
	explicit TextMaker(uint32_t seed) : random(seed) {}

	std::string make()
	{
		std::string text;
		value(text, 0);
		if (pick(4) == 0 && !text.empty())
			text.erase(pick(text.size()), 1);
		return text;
	}

private:
	size_t pick(size_t n) { return size_t(random() % n); }

	void space(std::string &text)
	{
		static const char *const spaces[] = {"", "", "", " ", "\n\t", "\r\n  "};
		text += spaces[pick(6)];
	}

	void string(std::string &text)
	{
		static const char *const pieces[] = {
			"a",
			"b",
			"ab",
			"event_type",
			" plain words of a chat line ",
			"\\n",
			"\\\"",
			"\\\\",
			"\\/",
			"\\u0041",
			"\\u0000",
			"\\u001F",
			"\\u00e9",
			"\\u20ac",
			"\\ud83d\\ude00",
			"\xc3\xa9",
			"\xe2\x82\xac",
			"\xf0\x9f\x98\x80",
			"\x7f",
			"\\ud83d",
			"\\ude00",
			"\x01",
			"\xc0\xaf",
			"\xff",
		};
		const size_t validPieces = pick(20) == 0 ? 24 : 19;
		text.push_back('"');
		for (size_t i = pick(5); i > 0; --i)
			text += pieces[pick(validPieces)];
		text.push_back('"');
	}

	void value(std::string &text, int depth)
	{
		static const char *const numbers[] = {
			"0",
			"-0",
			"7",
			"-42",
			"123456789012345678",
			"1234567890123456789",
			"18446744073709551616",
			"1.5",
			"1e2",
			"-2E-3",
			"1.0",
			"01",
			"1.",
			"1e400",
		};
		const size_t kinds = depth > 3 ? 3 : 5;
		space(text);
		switch (pick(kinds)) {
		case 0:
			string(text);
			break;
		case 1:
			text += numbers[pick(pick(10) == 0 ? 14 : 11)];
			break;
		case 2:
			text += pick(2) == 0 ? "true" : "null";
			break;
		case 3:
			text.push_back('[');
			for (size_t i = pick(4); i > 0; --i) {
				value(text, depth + 1);
				if (i > 1)
					text.push_back(',');
			}
			text.push_back(']');
			break;
		default:
			text.push_back('{');
			for (size_t i = pick(5); i > 0; --i) {
				space(text);
				string(text);
				space(text);
				text.push_back(':');
				value(text, depth + 1);
				if (i > 1)
					text.push_back(',');
			}
			text.push_back('}');
			break;
		}
		space(text);
	}

	std::mt19937 random;
};

} // namespace

TEST(CanonicalJson, WritesWhatParsingAndCompactWritingGive)
{
	for (const std::string &text : cases()) {
		const std::optional<std::string> expected = reference(text);
		EXPECT_EQ(canonical(text), expected) << "input: " << text;
	}
}

TEST(CanonicalJson, AgreesWithParsingOnGeneratedTexts)
{
	TextMaker maker(20261208);
	int accepted = 0;
	for (int i = 0; i < 20000; ++i) {
		const std::string text = maker.make();
		const std::optional<std::string> expected = reference(text);
		accepted += expected.has_value();
		ASSERT_EQ(canonical(text), expected) << "case " << i << " input: " << text;
	}
	// Both kinds of text occur often enough to be compared.
	EXPECT_GT(accepted, 4000);
	EXPECT_LT(accepted, 18000);
}

TEST(CanonicalJson, SortsEscapedKeysByTheirDecodedBytes)
{
	// "\n" (0x0A) sorts before "A" (0x41) although its escaped form does not;
	// of a duplicate key the last value stays.
	EXPECT_EQ(canonical(R"({"B":1,"\u0041":2,"\n":3,"A":4})"), R"({"\n":3,"A":4,"B":1})");
	EXPECT_EQ(canonical(" {\"\\u00e9\" : \"\\/\\ud83d\\ude00\"} "), "{\"\xc3\xa9\":\"/\xf0\x9f\x98\x80\"}");
}

// Objects nested deep, each with its keys out of order, around a long string:
// what any client may send before its token is checked. Putting them in order
// must move each byte a bounded number of times, not once for every object
// around it.
TEST(CanonicalJson, ReordersDeeplyNestedObjectsInLinearWork)
{
	constexpr size_t depth = 500;
	const std::string inner = '"' + std::string(256 * 1024, 'x') + '"';
	std::string unsorted;
	std::string sorted;
	for (size_t i = 0; i < depth; ++i) {
		unsorted += R"({"b":)";
		sorted += R"({"a":0,"b":)";
	}
	unsorted += inner;
	sorted += inner;
	for (size_t i = 0; i < depth; ++i) {
		unsorted += R"(,"a":0})";
		sorted += '}';
	}
	CanonicalJsonWriter writer;
	std::string out;
	ASSERT_TRUE(writer.append(unsorted, out));
	EXPECT_TRUE(out == sorted) << "the members were not put in order";
	EXPECT_LE(writer.bytesReordered(), 3 * unsorted.size());

	out.clear();
	ASSERT_TRUE(writer.append(sorted, out));
	EXPECT_TRUE(out == sorted);
	EXPECT_EQ(writer.bytesReordered(), 0u) << "text already in order was moved";
}

namespace {

// The routing as it was decided on the parsed message: what the canonical
// routing must agree with.
ProxyRoute routeParsedMessage(std::string_view text, bool authenticated)
{
	using Action = ProxyRoute::Action;
	ProxyRoute route;
	json message = parseJson(text);
	if (!message.is_object()) {
		route.action = Action::InvalidJson;
		return route;
	}
	route.payload = json::object();
	if (auto it = message.find("payload"); it != message.end() && it->is_object())
		route.payload = std::move(*it);
	route.payloadEmpty = route.payload.empty();
	route.upid = stringMember(message, "upid");
	route.type = stringMember(route.payload, "type");
	route.payloadText = compactJson(route.payload);
	route.eventType = stringMember(route.payload, "event_type");
	route.page = stringMember(route.payload, "page");
	if (route.type == "X_INIT")
		route.action = Action::SendInitialState;
	else if (route.type == "X_LOG")
		route.action = Action::Ignore;
	else if (!authenticated)
		route.action = Action::DropUnauthenticated;
	else if (route.type == "X_SHOW_SETTINGS")
		route.action = Action::ShowSettings;
	else if (route.type == "X_REQUEST" && !route.upid.empty())
		route.action = Action::VekRequest;
	else if (!route.upid.empty() && !route.payloadEmpty)
		route.action = message.value("forVek", json()) == json(true) ? Action::VekPassthrough : Action::Publish;
	else
		route.action = Action::Malformed;
	return route;
}

void expectSameRoute(const std::string &text, bool authenticated)
{
	using Action = ProxyRoute::Action;
	const ProxyRoute expected = routeParsedMessage(text, authenticated);
	const ProxyRoute route = routeProxyMessage(text, authenticated);
	SCOPED_TRACE(text + (authenticated ? " (authenticated)" : ""));
	ASSERT_EQ(int(route.action), int(expected.action));
	EXPECT_EQ(route.upid, expected.upid);
	EXPECT_EQ(route.type, expected.type);
	if (route.action == Action::ShowSettings) {
		EXPECT_EQ(route.page, expected.page);
	}
	if (route.action != Action::InvalidJson) {
		EXPECT_EQ(route.payloadEmpty, expected.payloadEmpty);
	}
	if (route.action == Action::Publish) {
		EXPECT_EQ(route.payloadText, expected.payloadText);
		EXPECT_EQ(route.eventType, expected.eventType);
	}
	// Written out, so that 1 and 1.0 differ.
	if (route.action == Action::VekRequest || route.action == Action::VekPassthrough) {
		EXPECT_EQ(compactJson(route.payload), expected.payloadText);
	}
}

} // namespace

TEST(ProxyMessageRouting, DecidesAsOnTheParsedMessage)
{
	const std::string chat =
		R"({"upid":"twitch_1234","payload":{"user_id":"98765","event_type":"CHAT_MESSAGE","id":"a1b2c3",)"
		R"("sender":{"username":"zoë","color":"#FF8800","badges":[{"type":"moderator","version":1}]},)"
		R"("message":"Hello \"chat\" \ud83d\ude00 \u00e9","created_at":1733660000123,"amount":2.50,)"
		R"("emotes":[],"platform":"twitch","timestamp":1.7336600001e12}})";
	std::vector<std::string> messages = {
		chat,
		R"({"payload":{"type":"X_INIT"}})",
		R"({"payload":{"type":"X_LOG","line":"x"},"upid":"u"})",
		R"({"payload":{"type":"X_SHOW_SETTINGS","page":"accounts"}})",
		R"({"payload":{"page":"a\u0000b","type":"X_SHOW_SETTINGS"}})",
		R"({"payload":{"type":"X_SHOW_SETTINGS","page":7}})",
		R"({"upid":"u","payload":{"type":"X_REQUEST","nonce":"n1","body":{"b":1.0,"a":-0}}})",
		R"({"payload":{"type":"X_REQUEST"}})",
		R"({"forVek":true,"upid":"u","payload":{"z":1,"a":[1e2]}})",
		R"({"forVek":"true","upid":"u","payload":{"a":1}})",
		R"({"forVek":1,"upid":"u","payload":{"a":1}})",
		R"({"forVek":false,"upid":"u","payload":{"a":1}})",
		R"({"upid":"u","payload":{}})",
		R"({"upid":"","payload":{"a":1}})",
		R"({"upid":5,"payload":{"a":1}})",
		R"({"upid":"u","payload":"x"})",
		R"({"upid":"u","payload":[{"a":1}]})",
		R"({"upid":"u","payload":{"a":1},"payload":{"b":2}})",
		R"({"upid":"u","payload":{"a":1},"payload":null})",
		R"({"\u0075pid":"u\"\/","payload":{"event_type":"USER\u005fUPDATE","t\u0079pe":"X"}})",
		R"({"upid":"u","payload":{"event_type":7,"n":1}})",
		R"({"upid":"u","payload":{"event_type":"","n":1}})",
		R"({"upid":"u","payload":{"e":{"event_type":"NESTED"},"d":"}\\","c":"{[\"","type":"\u0058_INIT"}})",
		"[1,2]",
		"\"text\"",
		"{\"upid\":\"u\",\"payload\":{\"a\":1}}\0trailing"s,
	};
	for (const std::string &text : cases()) {
		messages.push_back(text);
		messages.push_back(R"({"upid":"u","payload":)" + text + "}");
		messages.push_back(R"({"payload":{"event_type":)" + text + R"(,"type":"E"},"forVek":true,"upid":"u"})");
	}
	for (const std::string &text : messages) {
		expectSameRoute(text, true);
		expectSameRoute(text, false);
	}
}
