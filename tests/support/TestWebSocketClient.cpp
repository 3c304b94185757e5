#include "TestWebSocketClient.h"

#include "EventLoopWait.h"
#include "websocket/WebSocketHandshake.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <sys/socket.h>

TestWebSocketClient::TestWebSocketClient(QObject *parent) : QObject(parent)
{
	connect(&socket, &QTcpSocket::readyRead, this, &TestWebSocketClient::onReadyRead);
}

bool TestWebSocketClient::open(quint16 port, const QString &target, bool withKey, const QByteArray &extraHeaders)
{
	socket.connectToHost(QStringLiteral("127.0.0.1"), port);
	if (!waitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; }, std::chrono::seconds(5)))
		return false;
	key = generateClientKey();
	QByteArray request = "GET " + target.toUtf8() +
			     " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
			     "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n";
	if (withKey)
		request += "Sec-WebSocket-Key: " + QByteArray::fromStdString(key) + "\r\n";
	request += extraHeaders + "\r\n";
	socket.write(request);
	return true;
}

bool TestWebSocketClient::waitForUpgrade(std::chrono::milliseconds timeout)
{
	return waitUntil([this] { return answered || isClosed(); }, timeout) && accepted;
}

void TestWebSocketClient::sendText(const std::string &text)
{
	sendFrame(WebSocketOpcode::Text, text);
}

void TestWebSocketClient::sendFrame(uint8_t opcode, const std::string &payload, bool fin)
{
	std::string frame = encodeFrame(payload, opcode, true);
	if (!fin)
		frame[0] = char(uint8_t(frame[0]) & 0x7F);
	socket.write(frame.data(), qint64(frame.size()));
}

void TestWebSocketClient::sendRaw(const QByteArray &bytes)
{
	socket.write(bytes);
}

bool TestWebSocketClient::waitForMessages(size_t count, std::chrono::milliseconds timeout)
{
	return waitUntil([this, count] { return received.size() >= count; }, timeout);
}

void TestWebSocketClient::stopReading()
{
	disconnect(&socket, &QTcpSocket::readyRead, this, &TestWebSocketClient::onReadyRead);
	socket.setReadBufferSize(4096);
}

void TestWebSocketClient::resumeReading()
{
	socket.setReadBufferSize(0);
	connect(&socket, &QTcpSocket::readyRead, this, &TestWebSocketClient::onReadyRead, Qt::UniqueConnection);
	onReadyRead();
}

void TestWebSocketClient::readArrived(std::chrono::milliseconds wait)
{
	socket.waitForReadyRead(int(wait.count()));
}

void TestWebSocketClient::reset()
{
	// Lingering for no time makes the close a reset.
	const linger immediately{1, 0};
	setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &immediately, sizeof(immediately));
	socket.abort();
}

bool TestWebSocketClient::waitForClose(std::chrono::milliseconds timeout)
{
	return waitUntil([this] { return isClosed(); }, timeout);
}

int TestWebSocketClient::closeCode() const
{
	for (const WebSocketFrame &frame : control) {
		if (frame.opcode == WebSocketOpcode::Close)
			return frame.payload.size() >= 2 ? (uint8_t(frame.payload[0]) << 8) | uint8_t(frame.payload[1])
							 : -1;
	}
	return -1;
}

void TestWebSocketClient::onReadyRead()
{
	const QByteArray bytes = socket.readAll();
	buffer.append(std::string_view(bytes.constData(), size_t(bytes.size())));
	if (!answered) {
		auto response = extractHttpHead(buffer);
		if (!response)
			return;
		head = QByteArray::fromStdString(*response);
		answered = true;
		accepted = head.startsWith("HTTP/1.1 101 ") &&
			   findHeaderValue(*response, "Sec-WebSocket-Accept") == computeAcceptKey(key);
	}
	WebSocketFrame frame;
	WebSocketMessage message;
	std::string error;
	while (decodeFrame(buffer, frame, error) == DecodeResult::FrameReady) {
		if (frame.opcode >= WebSocketOpcode::Close) {
			control.push_back(frame);
			continue;
		}
		if (assembleFragment(std::move(frame), fragments, message, error) == AssembleResult::MessageReady &&
		    message.opcode == WebSocketOpcode::Text)
			received.push_back(std::move(message.payload));
	}
}
