#include "QtBroadcastServer.h"

#include <QHostAddress>
#include <QWebSocket>

#include <nlohmann/json.hpp>

QtBroadcastServer::QtBroadcastServer(QObject *parent)
	: QObject(parent), server(QStringLiteral("relay-peer"), QWebSocketServer::NonSecureMode)
{
	connect(&server, &QWebSocketServer::newConnection, this, &QtBroadcastServer::onNewConnection);
}

bool QtBroadcastServer::listen()
{
	return server.listen(QHostAddress::LocalHost, 0);
}

void QtBroadcastServer::onNewConnection()
{
	while (QWebSocket *socket = server.nextPendingConnection()) {
		clients.append(socket);
		connect(socket, &QWebSocket::textMessageReceived, this, &QtBroadcastServer::onTextMessage);
		connect(socket, &QWebSocket::disconnected, this, &QtBroadcastServer::onDisconnected);
	}
}

void QtBroadcastServer::onTextMessage(const QString &message)
{
	// The same JSON library as the event proxy, so that only the WebSocket
	// layer differs.
	const QByteArray bytes = message.toUtf8();
	const nlohmann::json parsed = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
	if (!parsed.is_object())
		return;
	const auto upid = parsed.find("upid");
	const auto payload = parsed.find("payload");
	if (upid == parsed.end() || !upid->is_string() || upid->get_ref<const std::string &>().empty() ||
	    payload == parsed.end() || !payload->is_object() || payload->empty())
		return;
	const QString text =
		QString::fromStdString(payload->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
	for (QWebSocket *client : clients)
		client->sendTextMessage(text);
}

void QtBroadcastServer::onDisconnected()
{
	auto *socket = qobject_cast<QWebSocket *>(sender());
	clients.removeAll(socket);
	if (socket)
		socket->deleteLater();
}
