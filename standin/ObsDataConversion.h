#pragma once

#include <nlohmann/json.hpp>

#include <obs.h>

// Request, response and event data cross obs-websocket as libobs settings
// data. obs-websocket converts between its JSON messages and that data with
// nlohmann::json on its own side, not with libobs's JSON reader and writer,
// and the two disagree at the edges: libobs's reader gives nothing at all for
// a text holding an integer beyond int64 or a "\u0000", and its writer leaves
// out non-finite doubles. The stand-in converts the way obs-websocket does, so
// that vendors and clients see what they see with OBS.
class ObsDataConversion {
public:
	// A new data object (the caller releases it) with the object's members:
	// objects stay objects; arrays keep only their object elements (arrays,
	// strings, numbers, booleans and nulls inside an array are left out);
	// strings end at their first NUL; integers become ints, those beyond
	// int64 wrapped to 64 bits; other numbers become doubles; nulls are left
	// out. Null for a value that is not an object.
	static obs_data_t *toObsData(const nlohmann::json &object);

	// The members that hold a value of their own (default values are left
	// out): an int stays an integer and a double a float, whatever its value;
	// arrays come back as arrays of objects. An empty object for null data.
	static nlohmann::json toJson(obs_data_t *data);

	// The text obs-websocket writes for a value: compact, keys in ascending
	// order, floats with a fraction or an exponent ("1.0", "1e+20"), NaN and
	// infinities as null. Bytes that are not UTF-8 (which only a vendor can
	// put into settings data) become U+FFFD, where obs-websocket's writer
	// would throw.
	static std::string toText(const nlohmann::json &value);
};
