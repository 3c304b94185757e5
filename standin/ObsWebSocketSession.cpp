#include "ObsWebSocketConnection.h"
#include "ObsWebSocketProtocol.h"
#include "QueuedRelay.h"
#include "values/SecretCompare.h"

#include <algorithm>
#include <thread>
#include <utility>

#include <QTcpSocket>

#include <util/base.h>

// obs-websocket's session over an upgraded connection: Identify and
// Reidentify, requests (vendor requests go to the stand-in's vendors), vendor
// events, and the close codes that end a session.

using json = nlohmann::json;
using namespace ObsWebSocketProtocol;

bool ObsWebSocketServer::onMessage(Connection &connection, const std::string &text)
{
	if (connection.closing)
		return false;
	const json message = json::parse(text, nullptr, false);
	if (!message.is_object())
		return closeWith(connection, CloseCode::MessageDecodeError, "The message is not a JSON object.");
	const auto op = message.find("op");
	if (op == message.end())
		return closeWith(connection, CloseCode::MissingDataField, "The message has no `op`.");
	if (!op->is_number_integer())
		return closeWith(connection, CloseCode::InvalidDataFieldType, "The message's `op` is not a number.");
	const int code = op->get<int>();
	if (!connection.identified && code != Op::Identify)
		return closeWith(connection, CloseCode::NotIdentified, "You must send Identify before anything else.");
	const auto data = message.find("d");
	if (data == message.end())
		return closeWith(connection, CloseCode::MissingDataField, "The message has no `d`.");
	if (!data->is_object())
		return closeWith(connection, CloseCode::InvalidDataFieldType, "The message's `d` is not an object.");

	switch (code) {
	case Op::Identify:
		return onIdentify(connection, *data);
	case Op::Reidentify:
		return onReidentify(connection, *data);
	case Op::Request:
		return onRequest(connection, *data);
	default:
		return closeWith(connection, CloseCode::UnknownOpCode, "Unknown op code: " + std::to_string(code));
	}
}

bool ObsWebSocketServer::onIdentify(Connection &connection, const json &data)
{
	if (connection.identified)
		return closeWith(connection, CloseCode::AlreadyIdentified, "You are already identified.");
	const auto rpc = data.find("rpcVersion");
	if (rpc == data.end())
		return closeWith(connection, CloseCode::MissingDataField, "Identify has no `rpcVersion`.");
	if (!rpc->is_number_integer() || rpc->get<int64_t>() != rpcVersion)
		return closeWith(connection, CloseCode::UnsupportedRpcVersion,
				 "Only RPC version " + std::to_string(rpcVersion) + " is supported.");
	if (config.authRequired) {
		std::string presented;
		const bool given = stringField(data, "authentication", presented) == Field::Present;
		if (!given || !sameSecret(presented, expectedAuthentication(connection)))
			return closeWith(connection, CloseCode::AuthenticationFailed, "Authentication failed.");
	}
	uint32_t subscriptions = allNonHighVolume;
	const auto requested = data.find("eventSubscriptions");
	if (requested != data.end() && !requested->is_null()) {
		if (!requested->is_number_unsigned())
			return closeWith(connection, CloseCode::InvalidDataFieldType,
					 "`eventSubscriptions` is not a number.");
		subscriptions = uint32_t(requested->get<uint64_t>());
	}
	connection.identified = true;
	connection.eventSubscriptions = subscriptions;
	sendMessage(connection, Op::Identified, {{"negotiatedRpcVersion", rpcVersion}});
	blog(LOG_INFO, "[obs-websocket stand-in] client %s identified (event subscriptions %u)",
	     connection.peer.c_str(), unsigned(subscriptions));
	return true;
}

bool ObsWebSocketServer::onReidentify(Connection &connection, const json &data)
{
	const auto requested = data.find("eventSubscriptions");
	if (requested != data.end() && !requested->is_null()) {
		if (!requested->is_number_unsigned())
			return closeWith(connection, CloseCode::InvalidDataFieldType,
					 "`eventSubscriptions` is not a number.");
		connection.eventSubscriptions = uint32_t(requested->get<uint64_t>());
	}
	sendMessage(connection, Op::Identified, {{"negotiatedRpcVersion", rpcVersion}});
	return true;
}

bool ObsWebSocketServer::onRequest(Connection &connection, const json &data)
{
	std::string requestType;
	std::string requestId;
	for (auto [key, value] : {std::pair{"requestType", &requestType}, std::pair{"requestId", &requestId}}) {
		switch (stringField(data, key, *value)) {
		case Field::Missing:
			return closeWith(connection, CloseCode::MissingDataField,
					 std::string("The request has no `") + key + "`.");
		case Field::WrongType:
			return closeWith(connection, CloseCode::InvalidDataFieldType,
					 std::string("The request's `") + key + "` is not a string.");
		case Field::Present:
			break;
		}
	}
	const auto requestData = data.find("requestData");
	const json &parameters = requestData != data.end() && requestData->is_object() ? *requestData : json::object();

	if (requestType == getVersion) {
		sendResponse(connection, requestType, requestId, Status::Success, std::string(), versionData());
	} else if (requestType == callVendorRequest) {
		callVendor(connection, requestId, parameters);
	} else {
		sendResponse(connection, requestType, requestId, Status::UnknownRequestType,
			     "Unknown request type: " + requestType);
	}
	return true;
}

void ObsWebSocketServer::callVendor(Connection &connection, const std::string &requestId, const json &requestData)
{
	std::string vendorName;
	std::string vendorRequestType;
	for (auto [key, value] : {std::pair{"vendorName", &vendorName}, std::pair{"requestType", &vendorRequestType}}) {
		switch (stringField(requestData, key, *value)) {
		case Field::Missing:
			sendResponse(connection, callVendorRequest, requestId, Status::MissingRequestField,
				     std::string("Your request is missing the `") + key + "` field.");
			return;
		case Field::WrongType:
			sendResponse(connection, callVendorRequest, requestId, Status::InvalidRequestFieldType,
				     std::string("The field `") + key + "` must be a string.");
			return;
		case Field::Present:
			break;
		}
	}
	const auto inner = requestData.find("requestData");
	if (inner != requestData.end() && !inner->is_null() && !inner->is_object()) {
		sendResponse(connection, callVendorRequest, requestId, Status::InvalidRequestFieldType,
			     "The field `requestData` must be an object.");
		return;
	}
	// Without request data (or with null) the callback still gets an empty object.
	json innerData = inner != requestData.end() && inner->is_object() ? *inner : json::object();

	// The vendor callback runs on a thread of the stand-in and may wait for
	// this (UI) thread, so its answer is awaited elsewhere and comes back
	// queued. The connection may be gone by then: it is looked up by id.
	std::future<ObsWebSocketStandin::VendorResponse> future = ObsWebSocketStandin::instance().callVendorRequestWith(
		vendorName, vendorRequestType, std::move(innerData));
	std::thread([this, target = relay, future = std::move(future), id = connection.id, requestId, vendorName,
		     vendorRequestType]() mutable {
		ObsWebSocketStandin::VendorResponse response = future.get();
		target->post([=] { finishVendorRequest(id, requestId, vendorName, vendorRequestType, response); });
	}).detach();
}

void ObsWebSocketServer::finishVendorRequest(uint64_t id, const std::string &requestId, const std::string &vendorName,
					     const std::string &vendorRequestType,
					     const ObsWebSocketStandin::VendorResponse &response)
{
	const auto it = connections.find(id);
	if (it == connections.end() || it->second->closing)
		return;
	Connection &connection = *it->second;
	if (!response.found) {
		const auto names = ObsWebSocketStandin::instance().vendorNames();
		const bool vendorKnown = std::find(names.begin(), names.end(), vendorName) != names.end();
		sendResponse(connection, callVendorRequest, requestId, Status::ResourceNotFound,
			     vendorKnown ? "The vendor `" + vendorName + "` has no request type `" + vendorRequestType +
						   "`."
					 : "No vendor is registered with the name `" + vendorName + "`.");
		return;
	}
	const json data = {{"vendorName", vendorName},
			   {"requestType", vendorRequestType},
			   {"responseData", parseObject(response.responseJson)}};
	sendResponse(connection, callVendorRequest, requestId, Status::Success, std::string(), data);
}

void ObsWebSocketServer::relayVendorEvent(const ObsWebSocketStandin::Event &event)
{
	// One serialisation and one frame for every subscribed client.
	const std::string frame = messageFrame(Op::Event, vendorEventData(event));
	for (const auto &[id, connection] : connections) {
		if (connection->identified && !connection->closing && (connection->eventSubscriptions & vendorsIntent))
			connection->socket->write(frame.data(), qint64(frame.size()));
	}
}

std::string ObsWebSocketServer::expectedAuthentication(const Connection &connection) const
{
	return authenticationFor(config.password.toStdString(), salt, connection.challenge);
}

void ObsWebSocketServer::sendHello(Connection &connection)
{
	if (config.authRequired)
		connection.challenge = randomBase64(32);
	sendMessage(connection, Op::Hello, helloData(connection.challenge, salt));
}

void ObsWebSocketServer::sendMessage(Connection &connection, int op, const json &data)
{
	const std::string frame = messageFrame(op, data);
	connection.socket->write(frame.data(), qint64(frame.size()));
}

void ObsWebSocketServer::sendResponse(Connection &connection, const std::string &requestType,
				      const std::string &requestId, int code, const std::string &comment,
				      const json &data)
{
	sendMessage(connection, Op::RequestResponse,
		    ObsWebSocketProtocol::responseData(requestType, requestId, code, comment, data));
}

bool ObsWebSocketServer::closeWith(Connection &connection, uint16_t code, const std::string &reason)
{
	if (code != CloseCode::Normal)
		blog(LOG_INFO, "[obs-websocket stand-in] closing client %s with code %u: %s", connection.peer.c_str(),
		     unsigned(code), reason.c_str());
	connection.closing = true;
	const std::string frame = closeFrame(code, reason);
	connection.socket->write(frame.data(), qint64(frame.size()));
	// Pending frames leave first; whatever the client sends now is not read.
	connection.socket->disconnectFromHost();
	return false;
}
