#include "FakeVekRealtime.h"

#include "websocket/WebSocketHandshake.h"

#include <QTimer>

FakeVekRealtime::FakeVekRealtime(bool trustedCertificate, QObject *parent) : QObject(parent)
{
	clock.start();
	server.setTls(ThrowawayTls::serverConfiguration(trustedCertificate));
	connect(&server, &QTcpServer::newConnection, this, &FakeVekRealtime::onNewConnection);
}

bool FakeVekRealtime::listen(quint16 port)
{
	return listen(QHostAddress(QHostAddress::LocalHost), port);
}

bool FakeVekRealtime::listen(const QHostAddress &address, quint16 port)
{
	return server.listen(address, port);
}

void FakeVekRealtime::setTls(Tls behaviour)
{
	tls = behaviour;
	server.answerTls = behaviour == Tls::Handshake;
}

void FakeVekRealtime::onNewConnection()
{
	while (QTcpSocket *plain = server.nextPendingConnection()) {
		auto *socket = qobject_cast<QSslSocket *>(plain);
		auto connection = std::make_unique<Connection>();
		connection->socket = socket;
		connection->tls = tls;
		connection->acceptedAtMs = elapsedMs();
		Connection *raw = connection.get();
		connections.push_back(std::move(connection));
		if (raw->tls == Tls::Handshake)
			connect(socket, &QSslSocket::readyRead, this, [this, raw] { onReadyRead(raw); });
		else
			connect(socket, &QSslSocket::readyRead, this, [this, raw] { onRawBytes(raw); });
		connect(socket, &QSslSocket::disconnected, this, [raw] { raw->ended = true; });
		connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
	}
}

void FakeVekRealtime::onReadyRead(Connection *connection)
{
	const QByteArray bytes = connection->socket->readAll();
	connection->buffer.append(std::string_view(bytes.constData(), size_t(bytes.size())));
	if (!connection->upgraded) {
		auto head = extractHttpHead(connection->buffer);
		if (!head)
			return;
		connection->requestHead = *head;
		connection->key = findHeaderValue(*head, "Sec-WebSocket-Key");
		answerUpgrade(*connection);
		if (!connection->upgraded)
			return;
	}
	WebSocketFrame frame;
	WebSocketMessage message;
	std::string error;
	for (;;) {
		const std::string_view view = connection->buffer.view();
		if (view.size() >= 2 && (uint8_t(view[1]) & 0x80) == 0)
			connection->allFramesMasked = false;
		if (decodeFrame(connection->buffer, frame, error) != DecodeResult::FrameReady)
			break;
		if (frame.opcode >= WebSocketOpcode::Close) {
			connection->control.push_back(frame);
			continue;
		}
		if (assembleFragment(std::move(frame), connection->fragments, message, error) ==
		    AssembleResult::MessageReady)
			connection->texts.push_back(std::move(message.payload));
	}
}

void FakeVekRealtime::onRawBytes(Connection *connection)
{
	const QByteArray bytes = connection->socket->readAll();
	connection->clientHello.append(bytes.constData(), size_t(bytes.size()));
	if (connection->tls == Tls::CloseAfterClientHello && connection->closedAtMs < 0)
		close(*connection);
}

void FakeVekRealtime::answerUpgrade(Connection &connection)
{
	std::string response;
	switch (upgrade) {
	case Upgrade::Accept:
		response = "HTTP/1.1 101 Web Socket Protocol Handshake\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
			   "Sec-WebSocket-Accept: " +
			   computeAcceptKey(connection.key) + "\r\n\r\n";
		connection.upgraded = true;
		break;
	case Upgrade::WrongAcceptKey:
		response = "HTTP/1.1 101 Switching Protocols\r\nSec-WebSocket-Accept: " + computeAcceptKey("other") +
			   "\r\n\r\n";
		break;
	case Upgrade::Status200:
		response = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
		break;
	case Upgrade::EndlessHead:
		response = "HTTP/1.1 101 Switching Protocols\r\nX-Filler: " + std::string(100 * 1024, 'x');
		break;
	case Upgrade::PartialHeadThenClose: {
		const std::string head =
			"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nSec-WebSocket-Accept: " +
			computeAcceptKey(connection.key);
		sendRaw(connection, head);
		close(connection);
		return;
	}
	case Upgrade::Silent:
		return;
	}
	if (connection.upgraded && welcome)
		response += encodeFrame(R"({"type":"WELCOME"})", WebSocketOpcode::Text, false);
	if (connection.upgraded)
		startKeepAlives(connection);
	if (!splitResponse) {
		connection.socket->write(response.data(), qint64(response.size()));
		return;
	}
	// In three pieces, apart in time, so the client reads them separately.
	QPointer<QSslSocket> socket = connection.socket;
	const size_t third = response.size() / 3;
	for (int i = 0; i < 3; ++i) {
		const std::string piece = response.substr(i * third, i == 2 ? std::string::npos : third);
		QTimer::singleShot(60 * i, this, [socket, piece] {
			if (socket)
				socket->write(piece.data(), qint64(piece.size()));
		});
	}
}

void FakeVekRealtime::startKeepAlives(Connection &connection)
{
	if (keepAliveIntervalMs <= 0)
		return;
	// Dies with the socket, so a closed connection gets no more.
	auto *timer = new QTimer(connection.socket);
	Connection *raw = &connection;
	connect(timer, &QTimer::timeout, this, [this, raw] {
		sendText(*raw, R"({"type":"KEEP_ALIVE"})");
		++raw->keepAlivesSent;
	});
	timer->start(keepAliveIntervalMs);
}

void FakeVekRealtime::sendText(Connection &connection, const std::string &text)
{
	sendFrame(connection, WebSocketOpcode::Text, text);
}

void FakeVekRealtime::sendFrame(Connection &connection, uint8_t opcode, const std::string &payload)
{
	sendRaw(connection, encodeFrame(payload, opcode, false));
}

void FakeVekRealtime::sendRaw(Connection &connection, const std::string &bytes)
{
	if (connection.socket)
		connection.socket->write(bytes.data(), qint64(bytes.size()));
}

void FakeVekRealtime::close(Connection &connection)
{
	connection.closedAtMs = elapsedMs();
	if (connection.socket)
		connection.socket->disconnectFromHost();
}
