#include "ObsWebSocketServer.h"

#include "ObsWebSocketProtocol.h"
#include "QueuedRelay.h"
#include "values/SecretCompare.h"
#include "websocket/FrameProcessor.h"
#include "websocket/WebSocketHandshake.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <util/base.h>

using json = nlohmann::json;
using namespace ObsWebSocketProtocol;

namespace {

constexpr size_t kMaxUpgradeBytes = 64 * 1024;

} // namespace

struct ObsWebSocketServer::Connection {
	uint64_t id = 0;
	QTcpSocket *socket = nullptr;
	std::string peer;
	ReceiveBuffer buffer;
	FragmentState fragments;
	bool upgraded = false;
	bool identified = false;
	bool closing = false;
	uint32_t eventSubscriptions = 0;
	std::string challenge; // with a password: this session's, sent in Hello
};

// Frame processing's view of one connection.
class ObsWebSocketServer::Endpoint : public FrameEndpoint {
public:
	Endpoint(ObsWebSocketServer &owner, Connection &served) : server(owner), connection(served) {}

	void sendFrame(std::string &&frame) override { connection.socket->write(frame.data(), qint64(frame.size())); }
	bool onTextMessage(std::string &&text) override { return server.onMessage(connection, text); }

private:
	ObsWebSocketServer &server;
	Connection &connection;
};

ObsWebSocketServer::ObsWebSocketServer(QObject *parent) : QObject(parent), relay(std::make_shared<QueuedRelay>(this)) {}

ObsWebSocketServer::~ObsWebSocketServer()
{
	relay->detach();
	stop();
}

bool ObsWebSocketServer::start(const ObsWebSocketSettings &newConfig)
{
	stop();
	config = newConfig;
	if (!config.enabled) {
		blog(LOG_INFO, "[obs-websocket stand-in] server disabled in the config; not listening");
		return false;
	}
	server = new QTcpServer(this);
	connect(server, &QTcpServer::newConnection, this, &ObsWebSocketServer::onNewConnection);
	if (!server->listen(QHostAddress::LocalHost, config.port)) {
		blog(LOG_WARNING, "[obs-websocket stand-in] cannot listen on 127.0.0.1:%u: %s", unsigned(config.port),
		     server->errorString().toUtf8().constData());
		delete server;
		server = nullptr;
		return false;
	}
	salt = randomBase64(32);
	if (config.authRequired && config.password.isEmpty())
		blog(LOG_WARNING, "[obs-websocket stand-in] authentication is required but the password is empty");

	// Events may be emitted on any thread; they are sent from this one.
	ObsWebSocketStandin::instance().setEventListener(
		[this, target = relay](const ObsWebSocketStandin::Event &event) {
			target->post([this, event] { relayVendorEvent(event); });
		});
	blog(LOG_INFO, "[obs-websocket stand-in] listening on 127.0.0.1:%u (authentication %s)", unsigned(port()),
	     config.authRequired ? "required" : "off");
	return true;
}

void ObsWebSocketServer::stop()
{
	if (!server)
		return;
	ObsWebSocketStandin::instance().setEventListener(nullptr);
	for (auto &[id, connection] : connections) {
		connection->socket->disconnect(this);
		connection->socket->abort();
		connection->socket->deleteLater();
	}
	connections.clear();
	server->close();
	delete server;
	server = nullptr;
	blog(LOG_INFO, "[obs-websocket stand-in] stopped");
}

bool ObsWebSocketServer::isListening() const
{
	return server && server->isListening();
}

quint16 ObsWebSocketServer::port() const
{
	return server ? server->serverPort() : 0;
}

void ObsWebSocketServer::onNewConnection()
{
	while (QTcpSocket *socket = server->nextPendingConnection()) {
		auto connection = std::make_shared<Connection>();
		connection->id = nextId++;
		connection->socket = socket;
		connection->peer =
			socket->peerAddress().toString().toStdString() + ":" + std::to_string(socket->peerPort());
		connections[connection->id] = connection;
		const std::weak_ptr<Connection> weak = connection;
		connect(socket, &QTcpSocket::readyRead, this, [this, weak] {
			if (std::shared_ptr<Connection> held = weak.lock())
				onReadyRead(held);
		});
		const uint64_t id = connection->id;
		connect(socket, &QTcpSocket::disconnected, this, [this, id] { onDisconnected(id); });
	}
}

void ObsWebSocketServer::onReadyRead(const std::shared_ptr<Connection> &connection)
{
	connection->buffer.appendAvailable(*connection->socket);
	// After a close nothing more is read: the session is over.
	if (connection->closing)
		return;
	if (!connection->upgraded && !runUpgrade(*connection))
		return;
	runFrameProcessing(connection);
}

void ObsWebSocketServer::onDisconnected(uint64_t id)
{
	const auto it = connections.find(id);
	if (it == connections.end())
		return;
	if (it->second->upgraded)
		blog(LOG_INFO, "[obs-websocket stand-in] client %s disconnected", it->second->peer.c_str());
	it->second->socket->deleteLater();
	connections.erase(it);
}

bool ObsWebSocketServer::runUpgrade(Connection &connection)
{
	const std::optional<std::string> head = extractHttpHead(connection.buffer);
	if (!head) {
		if (connection.buffer.size() > kMaxUpgradeBytes)
			rejectUpgrade(connection, "431 Request Header Fields Too Large", "request head too large");
		return false;
	}
	const UpgradeRequest request = readUpgradeRequest(*head);
	if (!isWebSocketUpgrade(request)) {
		rejectUpgrade(connection, "400 Bad Request", "not a WebSocket upgrade");
		return false;
	}
	// Only the JSON encoding is served; a client that offers subprotocols
	// must offer it, or it would expect MessagePack frames.
	const bool offersJson = listsToken(request.protocols, jsonSubprotocol);
	if (!request.protocols.empty() && !offersJson) {
		rejectUpgrade(connection, "400 Bad Request", "only the obswebsocket.json subprotocol is served");
		return false;
	}

	const std::string response = buildUpgradeReply(request.key, offersJson ? jsonSubprotocol : "");
	connection.socket->write(response.data(), qint64(response.size()));
	connection.upgraded = true;
	blog(LOG_INFO, "[obs-websocket stand-in] client %s connected", connection.peer.c_str());
	sendHello(connection);
	return true;
}

void ObsWebSocketServer::rejectUpgrade(Connection &connection, const char *status, const char *reason)
{
	blog(LOG_WARNING, "[obs-websocket stand-in] refused client %s: %s", connection.peer.c_str(), reason);
	const std::string response =
		std::string("HTTP/1.1 ") + status + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
	connection.closing = true;
	connection.socket->write(response.data(), qint64(response.size()));
	connection.socket->disconnectFromHost();
}

void ObsWebSocketServer::runFrameProcessing(const std::shared_ptr<Connection> &connection)
{
	Endpoint endpoint(*this, *connection);
	FrameProcessingOptions options;
	std::string error;
	switch (processFrames(connection->buffer, connection->fragments, endpoint, options, error)) {
	case FrameProcessingResult::NeedMore:
	case FrameProcessingResult::Stopped:
		return;
	case FrameProcessingResult::Closed:
		// Answer the client's close, then end the connection.
		closeWith(*connection, CloseCode::Normal, std::string());
		return;
	case FrameProcessingResult::FrameFailed:
	case FrameProcessingResult::MessageFailed:
		closeWith(*connection, CloseCode::ProtocolError, error);
		return;
	}
}

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
