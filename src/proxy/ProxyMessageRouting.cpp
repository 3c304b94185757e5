#include "proxy/ProxyMessageRouting.h"

ProxyRoute routeProxyMessage(std::string_view text, bool authenticated)
{
	ProxyRoute route;
	json message = parseJson(text);
	if (!message.is_object()) {
		route.action = ProxyRoute::Action::InvalidJson;
		return route;
	}

	route.payload = json::object();
	if (auto it = message.find("payload"); it != message.end() && it->is_object())
		route.payload = std::move(*it);
	route.payloadEmpty = route.payload.empty();
	route.upid = stringMember(message, "upid");
	route.type = stringMember(route.payload, "type");

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
		route.page = stringMember(route.payload, "page");
		return route;
	}
	if (route.type == "X_REQUEST" && !route.upid.empty()) {
		route.action = Action::VekRequest;
		return route;
	}
	if (!route.upid.empty() && !route.payloadEmpty) {
		// A "forVek" of another type than boolean counts as false.
		const auto forVek = message.find("forVek");
		const bool passthrough = forVek != message.end() && forVek->is_boolean() && forVek->get<bool>();
		route.action = passthrough ? Action::VekPassthrough : Action::Publish;
		return route;
	}
	route.action = Action::Malformed;
	return route;
}
