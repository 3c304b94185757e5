#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Rewrites JSON text straight into the text compactJson(parseJson(text))
// gives, without building a value: object members sorted by key (the last of
// duplicate keys kept), no whitespace, strings escaped as compactJson does.
// Accepts exactly what parseJson accepts: its nesting limit, a leading byte
// order mark, and a null byte after the value taken for the end of the text,
// as nlohmann does. Text that needs no change (plain strings, small integers,
// literals, no whitespace) is checked and copied in runs as long as it goes;
// strings with escapes are decoded and escaped anew, and numbers of any other
// form converted by nlohmann one token at a time, so they stay identical.
// Objects with members out of order are written as they come and only noted;
// one pass at the end puts all of them in order, so that however deep they
// nest each byte is moved a bounded number of times.
//
// Keep one writer per thread and reuse it: its buffers keep their capacity.
class CanonicalJsonWriter {
public:
	// Buffers keep their capacity for the next text up to this size; beyond
	// it one text of megabytes would keep them large for good.
	static constexpr size_t keptBufferBytes = 1024 * 1024;

	// Appends the canonical text to out; false, with out as it was, where
	// parseJson would discard the text.
	bool append(std::string_view text, std::string &out);

	// Bytes the last text's objects with members out of order cost to put
	// in order: copied from the output and back. Input of any nesting moves
	// each byte a bounded number of times; tests hold it to that.
	size_t bytesReordered() const { return reorderedBytes; }

private:
	// One member of the object being written: its key (in the input when
	// written without escapes, else decoded in `keys`) and the span of
	// `"key":value` in the output.
	struct Member {
		size_t keyOffset;
		size_t keyLength;
		bool keyDecoded;
		size_t start;
		size_t end;
	};
	// A stretch of the output: a member, or all the text's.
	struct Span {
		size_t start;
		size_t end;
	};
	// An object whose members are out of order: where its braces stand in
	// the output as written, and in `spans` from firstSpan to endSpan its
	// members in key order, the last of equal keys only.
	struct Reordering {
		size_t open;
		size_t close;
		size_t firstSpan;
		size_t endSpan;
	};
	enum class Stop { Quote, Backslash, Invalid };

	bool value(size_t depth);
	bool object(size_t depth);
	bool array(size_t depth);
	bool string(Member *member);
	bool escapedString(const char *content, const char *backslash);
	bool number();
	bool skipDigits(const char *&p) const;
	bool literal(std::string_view word);
	Stop scanPlain(const char *&p) const;
	static bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
	// Compact text has none, so the check comes first, out of line only
	// where there is some.
	void skipWhitespace()
	{
		if (pos < end && isSpace(*pos))
			skipSpaces();
	}
	void skipSpaces();
	void flush();
	// The length the output has, with the input not copied yet.
	size_t written() const { return out->size() + size_t(pos - copied); }
	bool endsAtNullByte(std::string_view text) const;
	std::string_view keyOf(const Member &member) const;
	void noteOrder(size_t firstMember, size_t contentStart);
	void reorder(size_t start);
	void place(Span span);
	void releaseLargeBuffers();

	const char *input = nullptr;
	const char *pos = nullptr;
	const char *end = nullptr;
	// Where the input that is still to be copied as it stands begins: most
	// text needs no change, and is copied in long runs.
	const char *copied = nullptr;
	std::string *out = nullptr;
	std::vector<Member> members;         // of every object still open, innermost last
	std::string keys;                    // keys that held escapes, decoded
	std::string decoded;                 // the string being decoded
	std::vector<Reordering> reorderings; // of the text, noted as they close
	std::vector<Span> spans;             // their members in order
	std::string reordered;               // the output with them in order
	size_t reorderedBytes = 0;
};

// The same with a writer of the calling thread's own.
bool appendCanonicalJson(std::string_view text, std::string &out);
