#include "LoginCallbackClient.h"

#include "EventLoopWait.h"

#include <QTcpSocket>

QByteArray callbackExchange(const QList<QByteArray> &pieces)
{
	QTcpSocket socket;
	socket.connectToHost(QStringLiteral("127.0.0.1"), 49231);
	bool refused = false;
	QObject::connect(&socket, &QTcpSocket::errorOccurred,
			 [&] { refused = socket.state() != QAbstractSocket::ConnectedState; });
	if (!waitUntil([&] { return refused || socket.state() == QAbstractSocket::ConnectedState; },
		       std::chrono::seconds(5)) ||
	    refused)
		return "<no connection>";
	QByteArray answer;
	QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
	for (const QByteArray &piece : pieces) {
		socket.write(piece);
		pumpEvents(std::chrono::milliseconds(30));
	}
	waitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, std::chrono::seconds(5));
	answer += socket.readAll();
	return answer;
}

QByteArray callbackGet(const QString &target)
{
	return callbackExchange({"GET " + target.toLatin1() + " HTTP/1.1\r\nHost: localhost:49231\r\n\r\n"});
}

QByteArray responseBody(const QByteArray &response)
{
	const qsizetype end = response.indexOf("\r\n\r\n");
	return end < 0 ? QByteArray() : response.mid(end + 4);
}
