#include "ObsDataConversion.h"

#include <cstdint>

using json = nlohmann::json;

namespace {

void setMembers(obs_data_t *data, const json &object);

void setObject(obs_data_t *data, const char *key, const json &object)
{
	obs_data_t *child = obs_data_create();
	setMembers(child, object);
	obs_data_set_obj(data, key, child);
	obs_data_release(child);
}

// Settings data arrays are lists of data objects: any other element is lost.
void setArray(obs_data_t *data, const char *key, const json &array)
{
	obs_data_array_t *objects = obs_data_array_create();
	for (const json &element : array) {
		if (!element.is_object())
			continue;
		obs_data_t *child = obs_data_create();
		setMembers(child, element);
		obs_data_array_push_back(objects, child);
		obs_data_release(child);
	}
	obs_data_set_array(data, key, objects);
	obs_data_array_release(objects);
}

void setMember(obs_data_t *data, const char *key, const json &value)
{
	switch (value.type()) {
	case json::value_t::object:
		setObject(data, key, value);
		break;
	case json::value_t::array:
		setArray(data, key, value);
		break;
	case json::value_t::string:
		// A C string: an embedded NUL ends it.
		obs_data_set_string(data, key, value.get_ref<const std::string &>().c_str());
		break;
	case json::value_t::number_integer:
	case json::value_t::number_unsigned:
		// Unsigned values past INT64_MAX wrap, as obs-websocket reads every
		// integer as int64_t.
		obs_data_set_int(data, key, value.get<int64_t>());
		break;
	case json::value_t::number_float:
		obs_data_set_double(data, key, value.get<double>());
		break;
	case json::value_t::boolean:
		obs_data_set_bool(data, key, value.get<bool>());
		break;
	default: // null (and the binary values only MessagePack makes)
		break;
	}
}

// Members are visited in the JSON object's own order, ascending by key; a key
// is a C string too, so "a\u0000b" lands on "a".
void setMembers(obs_data_t *data, const json &object)
{
	for (const auto &[key, value] : object.items())
		setMember(data, key.c_str(), value);
}

json arrayOf(obs_data_item_t *item)
{
	json array = json::array();
	obs_data_array_t *objects = obs_data_item_get_array(item);
	const size_t count = obs_data_array_count(objects);
	for (size_t i = 0; i < count; ++i) {
		obs_data_t *child = obs_data_array_item(objects, i);
		array.push_back(ObsDataConversion::toJson(child));
		obs_data_release(child);
	}
	obs_data_array_release(objects);
	return array;
}

json numberOf(obs_data_item_t *item)
{
	if (obs_data_item_numtype(item) == OBS_DATA_NUM_INT)
		return json(int64_t(obs_data_item_get_int(item)));
	return json(obs_data_item_get_double(item));
}

} // namespace

obs_data_t *ObsDataConversion::toObsData(const json &object)
{
	if (!object.is_object())
		return nullptr;
	obs_data_t *data = obs_data_create();
	setMembers(data, object);
	return data;
}

json ObsDataConversion::toJson(obs_data_t *data)
{
	json object = json::object();
	if (!data)
		return object;
	for (obs_data_item_t *item = obs_data_first(data); item; obs_data_item_next(&item)) {
		if (!obs_data_item_has_user_value(item))
			continue;
		const char *name = obs_data_item_get_name(item);
		switch (obs_data_item_gettype(item)) {
		case OBS_DATA_STRING: {
			const char *text = obs_data_item_get_string(item);
			object.emplace(name, text ? text : "");
			break;
		}
		case OBS_DATA_NUMBER:
			object.emplace(name, numberOf(item));
			break;
		case OBS_DATA_BOOLEAN:
			object.emplace(name, obs_data_item_get_bool(item));
			break;
		case OBS_DATA_OBJECT: {
			obs_data_t *child = obs_data_item_get_obj(item);
			object.emplace(name, toJson(child));
			obs_data_release(child);
			break;
		}
		case OBS_DATA_ARRAY:
			object.emplace(name, arrayOf(item));
			break;
		case OBS_DATA_NULL:
			break;
		}
	}
	return object;
}

std::string ObsDataConversion::toText(const json &value)
{
	return value.dump(-1, ' ', false, json::error_handler_t::replace);
}
