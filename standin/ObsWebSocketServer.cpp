#include "ObsWebSocketServer.h"

#include "ObsWebSocketConnection.h"
#include "ObsWebSocketProtocol.h"
#include "QueuedRelay.h"
#include "websocket/FrameProcessor.h"
#include "websocket/WebSocketHandshake.h"

#include <optional>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <util/base.h>

using json = nlohmann::json;
using namespace ObsWebSocketProtocol;

namespace {

constexpr size_t kMaxUpgradeBytes = 64 * 1024;

} // namespace

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
