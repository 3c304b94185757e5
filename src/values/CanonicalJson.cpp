#include "values/CanonicalJson.h"

#include "values/ByteScan.h"
#include "values/Json.h"
#include "values/JsonEscape.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

bool isDigit(char c)
{
	return c >= '0' && c <= '9';
}

} // namespace

bool CanonicalJsonWriter::append(std::string_view text, std::string &target)
{
	const size_t start = target.size();
	input = pos = text.data();
	end = pos + text.size();
	out = &target;
	members.clear();
	keys.clear();
	reorderings.clear();
	spans.clear();
	reorderedBytes = 0;
	// nlohmann skips a byte order mark at the very start and refuses a
	// partial one.
	if (pos < end && uint8_t(*pos) == 0xEF) {
		if (end - pos < 3 || uint8_t(pos[1]) != 0xBB || uint8_t(pos[2]) != 0xBF)
			return false;
		pos += 3;
	}
	copied = pos;
	skipWhitespace();
	bool ok = value(0);
	if (ok) {
		flush();
		skipWhitespace();
		ok = pos == end || endsAtNullByte(text);
	}
	if (ok && !reorderings.empty())
		reorder(start);
	if (!ok)
		target.resize(start);
	out = nullptr;
	releaseLargeBuffers();
	return ok;
}

// Buffers keep their capacity for the next text, unless one text of several
// megabytes made them that large.
void CanonicalJsonWriter::releaseLargeBuffers()
{
	if (members.capacity() * sizeof(Member) > keptBufferBytes)
		std::vector<Member>().swap(members);
	if (reorderings.capacity() * sizeof(Reordering) > keptBufferBytes)
		std::vector<Reordering>().swap(reorderings);
	if (spans.capacity() * sizeof(Span) > keptBufferBytes)
		std::vector<Span>().swap(spans);
	for (std::string *buffer : {&keys, &decoded, &reordered}) {
		if (buffer->capacity() > keptBufferBytes)
			std::string().swap(*buffer);
	}
}

// nlohmann takes a null byte where a token could start for the end of the
// text and ignores what follows it; parseJson still refuses the text where
// that rest holds brackets nested too deep.
bool CanonicalJsonWriter::endsAtNullByte(std::string_view text) const
{
	return *pos == '\0' && jsonNestingWithin(text, maxJsonNesting);
}

// The input up to pos, which stands in the output as it is.
void CanonicalJsonWriter::flush()
{
	out->append(copied, size_t(pos - copied));
	copied = pos;
}

void CanonicalJsonWriter::skipSpaces()
{
	flush();
	while (pos < end && isSpace(*pos))
		++pos;
	copied = pos;
}

bool CanonicalJsonWriter::value(size_t depth)
{
	if (pos == end)
		return false;
	switch (*pos) {
	case '{':
		return object(depth + 1);
	case '[':
		return array(depth + 1);
	case '"':
		return string(nullptr);
	case 't':
		return literal("true");
	case 'f':
		return literal("false");
	case 'n':
		return literal("null");
	default:
		return number();
	}
}

bool CanonicalJsonWriter::literal(std::string_view word)
{
	if (size_t(end - pos) < word.size() || std::memcmp(pos, word.data(), word.size()) != 0)
		return false;
	pos += word.size();
	return true;
}

bool CanonicalJsonWriter::array(size_t depth)
{
	if (depth > maxJsonNesting)
		return false;
	++pos;
	skipWhitespace();
	if (pos < end && *pos == ']') {
		++pos;
		return true;
	}
	for (;;) {
		skipWhitespace();
		if (!value(depth))
			return false;
		skipWhitespace();
		if (pos == end)
			return false;
		const char c = *pos++;
		if (c == ']')
			return true;
		if (c != ',')
			return false;
	}
}

bool CanonicalJsonWriter::object(size_t depth)
{
	if (depth > maxJsonNesting)
		return false;
	++pos;
	const size_t contentStart = written();
	const size_t firstMember = members.size();
	const size_t firstKey = keys.size();
	skipWhitespace();
	if (pos < end && *pos == '}') {
		++pos;
		return true;
	}
	bool sorted = true;
	for (;;) {
		skipWhitespace();
		if (pos == end || *pos != '"')
			return false;
		Member member{0, 0, false, written(), 0};
		if (!string(&member))
			return false;
		skipWhitespace();
		if (pos == end || *pos != ':')
			return false;
		++pos;
		skipWhitespace();
		if (!value(depth))
			return false;
		member.end = written();
		if (sorted && members.size() > firstMember && !(keyOf(members.back()) < keyOf(member)))
			sorted = false;
		members.push_back(member);
		skipWhitespace();
		if (pos == end)
			return false;
		const char c = *pos++;
		if (c == '}')
			break;
		if (c != ',')
			return false;
	}
	if (!sorted)
		noteOrder(firstMember, contentStart);
	members.resize(firstMember);
	keys.resize(firstKey);
	return true;
}

std::string_view CanonicalJsonWriter::keyOf(const Member &member) const
{
	const char *base = member.keyDecoded ? keys.data() : input;
	return std::string_view(base + member.keyOffset, member.keyLength);
}

// Notes the order the members of the object just closed take, where the text
// had them in another order or gave a key twice. Of equal keys the last one
// stays, as in nlohmann's parser, whose later member replaces the earlier one.
// The output is left as written: an object moved now would be moved again for
// each object around it that is out of order too.
void CanonicalJsonWriter::noteOrder(size_t firstMember, size_t contentStart)
{
	const auto first = members.begin() + std::ptrdiff_t(firstMember);
	std::sort(first, members.end(), [this](const Member &a, const Member &b) {
		const int order = keyOf(a).compare(keyOf(b));
		return order != 0 ? order < 0 : a.start < b.start;
	});
	const size_t firstSpan = spans.size();
	for (auto it = first; it != members.end(); ++it) {
		const auto next = it + 1;
		if (next == members.end() || keyOf(*next) != keyOf(*it))
			spans.push_back(Span{it->start, it->end});
	}
	// written() is just past the closing brace.
	reorderings.push_back(Reordering{contentStart - 1, written() - 1, firstSpan, spans.size()});
}

// The output from `start` on, rewritten once with every object noted in
// order.
void CanonicalJsonWriter::reorder(size_t start)
{
	// Noted as they closed, inner objects before outer ones; place() looks
	// them up by where they open.
	std::sort(reorderings.begin(), reorderings.end(),
		  [](const Reordering &a, const Reordering &b) { return a.open < b.open; });
	reordered.clear();
	place(Span{start, out->size()});
	out->resize(start);
	out->append(reordered);
	reorderedBytes += 2 * reordered.size();
}

// Appends the output in `span` to `reordered`, each noted object in it with
// its members in order. Objects nested in one lie within its members' spans,
// so every byte is copied once, and those of dropped members never. Recurses
// once per noted object around the span, no deeper than the text nests.
void CanonicalJsonWriter::place(Span span)
{
	const auto opensFrom = [this](size_t position) {
		return std::lower_bound(reorderings.begin(), reorderings.end(), position,
					[](const Reordering &r, size_t p) { return r.open < p; });
	};
	size_t from = span.start;
	for (auto it = opensFrom(from); it != reorderings.end() && it->open < span.end; it = opensFrom(from)) {
		const Reordering object = *it;
		reordered.append(*out, from, object.open + 1 - from);
		for (size_t i = object.firstSpan; i < object.endSpan; ++i) {
			if (i != object.firstSpan)
				reordered.push_back(',');
			place(spans[i]);
		}
		reordered.push_back('}');
		from = object.close + 1;
	}
	reordered.append(*out, from, span.end - from);
}

// Past plain ASCII and well-formed UTF-8, eight bytes at a time where they
// are plain, up to the closing quote or a backslash.
CanonicalJsonWriter::Stop CanonicalJsonWriter::scanPlain(const char *&p) const
{
	for (;;) {
		while (end - p >= 8) {
			const size_t plain = byteScan::firstNotPlain(p);
			p += plain;
			if (plain < 8)
				break;
		}
		if (p == end)
			return Stop::Invalid;
		const auto c = uint8_t(*p);
		if (c == '"')
			return Stop::Quote;
		if (c == '\\')
			return Stop::Backslash;
		if (c < 0x20)
			return Stop::Invalid;
		if (c < 0x80) {
			++p;
			continue;
		}
		const size_t length = utf8SequenceLength(reinterpret_cast<const unsigned char *>(p), size_t(end - p));
		if (length == 0)
			return Stop::Invalid;
		p += length;
	}
}

bool CanonicalJsonWriter::string(Member *member)
{
	const char *content = pos + 1;
	const char *p = content;
	const Stop stop = scanPlain(p);
	if (stop == Stop::Invalid)
		return false;
	if (stop == Stop::Backslash) {
		if (!escapedString(content, p))
			return false;
		if (member) {
			*member = Member{keys.size(), decoded.size(), true, member->start, 0};
			keys += decoded;
		}
		return true;
	}
	// Nothing to escape: the text is already canonical.
	if (member) {
		member->keyOffset = size_t(content - input);
		member->keyLength = size_t(p - content);
	}
	pos = p + 1;
	return true;
}

// Decodes the string into `decoded` and writes it escaped as compactJson does.
bool CanonicalJsonWriter::escapedString(const char *content, const char *backslash)
{
	decoded.assign(content, size_t(backslash - content));
	const char *p = backslash;
	for (;;) {
		if (!decodeJsonEscape(p, end, decoded))
			return false;
		const char *run = p;
		const Stop stop = scanPlain(p);
		if (stop == Stop::Invalid)
			return false;
		decoded.append(run, size_t(p - run));
		if (stop == Stop::Quote)
			break;
	}
	flush(); // up to the opening quote
	out->push_back('"');
	// Everything decoded is well-formed UTF-8 by now, so this cannot fail.
	if (!appendJsonEscaped(decoded, *out))
		return false;
	out->push_back('"');
	pos = copied = p + 1;
	return true;
}

// Past the digits at p, of which there must be one at least.
bool CanonicalJsonWriter::skipDigits(const char *&p) const
{
	if (p == end || !isDigit(*p))
		return false;
	while (p < end && isDigit(*p))
		++p;
	return true;
}

// Integers of up to 18 digits are written as they stand: nlohmann reads them
// exactly and writes them back digit for digit. Every other number (-0,
// fractions, exponents, longer integers) is converted by nlohmann itself.
bool CanonicalJsonWriter::number()
{
	const char *start = pos;
	const char *p = pos;
	if (*p == '-')
		++p;
	const char *digits = p;
	if (p < end && *p == '0')
		++p;
	else if (!skipDigits(p))
		return false;
	bool plainInteger = true;
	if (p < end && *p == '.') {
		if (!skipDigits(++p))
			return false;
		plainInteger = false;
	}
	if (p < end && (*p == 'e' || *p == 'E')) {
		++p;
		if (p < end && (*p == '+' || *p == '-'))
			++p;
		if (!skipDigits(p))
			return false;
		plainInteger = false;
	}
	const bool negativeZero = start != digits && *digits == '0';
	if (plainInteger && !negativeZero && p - digits <= 18) {
		pos = p;
		return true;
	}
	const json number = json::parse(start, p, nullptr, false, false);
	if (number.is_discarded()) // out of the range of a double
		return false;
	flush(); // up to the number
	*out += compactJson(number);
	pos = copied = p;
	return true;
}

bool appendCanonicalJson(std::string_view text, std::string &out)
{
	thread_local CanonicalJsonWriter writer;
	return writer.append(text, out);
}
