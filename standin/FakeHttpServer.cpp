#include "FakeHttpServer.h"

#include <utility>

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const char *reasonPhrase(int status)
{
	switch (status) {
	case 200:
		return "OK";
	case 302:
		return "Found";
	case 400:
		return "Bad Request";
	case 401:
		return "Unauthorized";
	case 404:
		return "Not Found";
	case 500:
		return "Internal Server Error";
	default:
		return "Status";
	}
}

bool isWebSocketUpgrade(const QByteArray &head)
{
	for (const QByteArray &line : head.split('\n')) {
		const qsizetype colon = line.indexOf(':');
		if (colon > 0 && line.left(colon).trimmed().toLower() == "upgrade")
			return line.mid(colon + 1).trimmed().toLower() == "websocket";
	}
	return false;
}

} // namespace

QString FakeHttpServer::Request::path() const
{
	return QUrl(QString::fromLatin1(target)).path(QUrl::FullyDecoded);
}

QUrlQuery FakeHttpServer::Request::query() const
{
	return QUrlQuery(QUrl(QString::fromLatin1(target)).query(QUrl::FullyEncoded));
}

QList<std::pair<QString, QString>> FakeHttpServer::Request::formItems() const
{
	QList<std::pair<QString, QString>> items;
	for (const QByteArray &pair : body.split('&')) {
		const qsizetype eq = pair.indexOf('=');
		items.append({QUrl::fromPercentEncoding(pair.left(eq)), QUrl::fromPercentEncoding(pair.mid(eq + 1))});
	}
	return items;
}

QString FakeHttpServer::Request::formValue(const QString &key) const
{
	for (const auto &[name, value] : formItems()) {
		if (name == key)
			return value;
	}
	return {};
}

FakeHttpServer::FakeHttpServer(QObject *parent) : QObject(parent)
{
	connect(&server, &QTcpServer::newConnection, this, &FakeHttpServer::onNewConnection);
}

bool FakeHttpServer::listen(quint16 port)
{
	return server.listen(QHostAddress::LocalHost, port);
}

bool FakeHttpServer::listenTls(const QSslConfiguration &configuration, quint16 port)
{
	server.setTls(configuration);
	tls = true;
	return listen(port);
}

QString FakeHttpServer::baseUrl() const
{
	return QStringLiteral("%1://127.0.0.1:%2")
		.arg(tls ? QStringLiteral("https") : QStringLiteral("http"))
		.arg(port());
}

void FakeHttpServer::route(const QByteArray &method, const QString &path, Handler handler)
{
	routes[{method, path}] = std::move(handler);
}

void FakeHttpServer::route(const QByteArray &method, const QString &path, Response response)
{
	route(method, path, [response](const Request &) { return response; });
}

void FakeHttpServer::routeOthers(Handler handler)
{
	others = std::move(handler);
}

void FakeHttpServer::onWebSocketUpgrade(UpgradeHandler handler)
{
	upgrades = std::move(handler);
}

void FakeHttpServer::releaseHeld()
{
	const auto held = std::exchange(heldAnswers, {});
	for (const auto &[socket, response] : held) {
		if (socket)
			respond(socket, response);
	}
}

void FakeHttpServer::onNewConnection()
{
	while (QTcpSocket *socket = server.nextPendingConnection()) {
		++liveConnections;
		connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
		connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
			--liveConnections;
			socket->deleteLater();
		});
		connect(socket, &QObject::destroyed, this, [this, socket] { buffers.remove(socket); });
	}
}

void FakeHttpServer::onReadyRead(QTcpSocket *socket)
{
	if (upgrades && !buffers.contains(socket)) {
		// Until its head is complete, a new request is only peeked at, so
		// that an upgrade reaches the WebSocket side unread, as if that side
		// had accepted the connection itself.
		const QByteArray peeked = socket->peek(socket->bytesAvailable());
		const qsizetype headEnd = peeked.indexOf("\r\n\r\n");
		if (headEnd < 0)
			return;
		if (isWebSocketUpgrade(peeked.left(headEnd))) {
			handOver(socket);
			return;
		}
	}
	QByteArray &buffer = buffers[socket];
	buffer += socket->readAll();
	const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
	if (headEnd < 0)
		return;
	Request request;
	const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
	const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
	request.method = requestLine.value(0);
	request.target = requestLine.value(1);
	for (qsizetype i = 1; i < lines.size(); ++i) {
		const qsizetype colon = lines[i].indexOf(':');
		if (colon > 0)
			request.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
	}
	const qsizetype length = request.headers.value("content-length", "0").toLongLong();
	if (buffer.size() < headEnd + 4 + length)
		return;
	request.body = buffer.mid(headEnd + 4, length);
	buffer.remove(0, headEnd + 4 + length);
	requests.append(request);

	const auto handler = routes.find({request.method, request.path()});
	const Response response = handler != routes.end() ? (*handler)(request)
				  : others                ? others(request)
							  : Response{404, "{}", 0, "application/json"};
	if (response.hang)
		return;
	if (response.held) {
		heldAnswers.append({socket, response});
		return;
	}
	if (response.delayMs <= 0) {
		respond(socket, response);
		return;
	}
	QPointer<QTcpSocket> guarded(socket);
	QTimer::singleShot(response.delayMs, this, [this, guarded, response] {
		if (guarded)
			respond(guarded, response);
	});
}

void FakeHttpServer::handOver(QTcpSocket *socket)
{
	--liveConnections;
	socket->disconnect(this);
	socket->setParent(nullptr);
	upgrades(socket);
}

void FakeHttpServer::respond(QTcpSocket *socket, const Response &response)
{
	QByteArray out =
		"HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
	if (!response.contentType.isEmpty())
		out += "Content-Type: " + response.contentType + "\r\n";
	out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n";
	for (const auto &[name, value] : response.headers)
		out += name + ": " + value + "\r\n";
	out += "\r\n" + response.body;
	if (response.cutAfterBytes >= 0)
		out.truncate(response.cutAfterBytes);
	socket->write(out);
	socket->disconnectFromHost();
}
