// The canonical writer against parsing and writing compactly: the same texts
// refused, the same bytes written for the others. The members read back from
// an object's canonical text are the parsed object's members.

#include "values/CanonicalJson.h"
#include "values/CanonicalObject.h"
#include "values/Json.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Every other object value is read member by member, the others as a whole.
void checkMembers(const json &object, CanonicalObjectReader &reader)
{
	std::string_view key;
	std::string decodedKey;
	size_t count = 0;
	while (reader.next(key)) {
		if (!canonicalStringValue("\"" + std::string(key) + "\"", decodedKey))
			std::abort();
		const auto member = object.find(decodedKey);
		if (member == object.end())
			std::abort();
		if (member->is_object() && count % 2 == 0 && reader.valueIsObject()) {
			CanonicalObjectReader nested = reader.objectValue();
			checkMembers(*member, nested);
			reader.pass(nested);
		} else {
			const std::string_view value = reader.value();
			std::string decodedValue;
			if (compactJson(*member) != value ||
			    canonicalStringValue(value, decodedValue) != member->is_string() ||
			    (member->is_string() && decodedValue != member->get_ref<const std::string &>()))
				std::abort();
		}
		++count;
	}
	if (count != object.size() || reader.objectText() != compactJson(object))
		std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string_view text(reinterpret_cast<const char *>(data), size);
	const json value = parseJson(text);
	std::string canonical = "x";
	const bool written = appendCanonicalJson(text, canonical);
	if (written == value.is_discarded())
		std::abort();
	if (!written) {
		if (canonical != "x")
			std::abort();
		return 0;
	}
	const std::string_view result = std::string_view(canonical).substr(1);
	if (result != compactJson(value))
		std::abort();
	if (value.is_object()) {
		CanonicalObjectReader reader(result);
		checkMembers(value, reader);
	}
	return 0;
}
