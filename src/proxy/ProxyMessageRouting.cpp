#include "proxy/ProxyMessageRouting.h"

#include "values/CanonicalJson.h"
#include "values/CanonicalObject.h"

namespace {

// What a route reads from the message, as spans of its canonical text.
struct MessageFields {
	std::string_view payload = "{}"; // "payload" when it is an object
	std::string_view forVek;
	std::string_view page;
	std::string_view eventType;
};

void readPayload(CanonicalObjectReader &payload, ProxyRoute &route, MessageFields &fields)
{
	std::string_view key;
	while (payload.next(key)) {
		if (key == "type")
			canonicalStringValue(payload.value(), route.type);
		else if (key == "page")
			fields.page = payload.value();
		else if (key == "event_type")
			fields.eventType = payload.value();
	}
	fields.payload = payload.objectText();
}

// The message's fields, and the payload's, in one pass over the text.
MessageFields readFields(std::string_view message, ProxyRoute &route)
{
	MessageFields fields;
	std::string_view key;
	CanonicalObjectReader members(message);
	while (members.next(key)) {
		if (key == "payload" && members.valueIsObject()) {
			CanonicalObjectReader payload = members.objectValue();
			readPayload(payload, route, fields);
			members.pass(payload);
		} else if (key == "upid") {
			canonicalStringValue(members.value(), route.upid);
		} else if (key == "forVek") {
			fields.forVek = members.value();
		}
	}
	route.payloadEmpty = fields.payload == "{}";
	return fields;
}

} // namespace

ProxyRoute routeProxyMessage(std::string_view text, bool authenticated)
{
	ProxyRoute route;
	thread_local std::string canonical;
	// Events are relayed by the thousand a second: the message is rewritten
	// once into the text every page gets, and its fields are read from that
	// text, in a buffer of the thread's own that keeps its capacity.
	if (canonical.capacity() > CanonicalJsonWriter::keptBufferBytes)
		std::string().swap(canonical);
	canonical.clear();
	if (!appendCanonicalJson(text, canonical) || canonical.front() != '{') {
		route.action = ProxyRoute::Action::InvalidJson;
		return route;
	}
	const MessageFields fields = readFields(canonical, route);

	using Action = ProxyRoute::Action;
	if (route.type == "X_INIT") {
		route.action = Action::SendInitialState;
		return route;
	}
	if (route.type == "X_LOG") {
		route.action = Action::Ignore;
		return route;
	}
	if (!authenticated) {
		route.action = Action::DropUnauthenticated;
		return route;
	}
	if (route.type == "X_SHOW_SETTINGS") {
		route.action = Action::ShowSettings;
		canonicalStringValue(fields.page, route.page);
		return route;
	}
	if (route.type == "X_REQUEST" && !route.upid.empty()) {
		route.action = Action::VekRequest;
		route.payload = parseJson(fields.payload);
		return route;
	}
	if (!route.upid.empty() && !route.payloadEmpty) {
		// A "forVek" of another type than boolean counts as false.
		if (fields.forVek == "true") {
			route.action = Action::VekPassthrough;
			route.payload = parseJson(fields.payload);
		} else {
			route.action = Action::Publish;
			route.payloadText.assign(fields.payload);
			canonicalStringValue(fields.eventType, route.eventType);
		}
		return route;
	}
	route.action = Action::Malformed;
	return route;
}
