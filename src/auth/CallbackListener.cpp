#include "auth/CallbackListener.h"

#include "auth/CallbackPage.h"
#include "obs/Log.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

// A browser's request head is small; anything larger is not a callback.
constexpr qsizetype kMaxCallbackRequestBytes = 64 * 1024;

} // namespace

CallbackListener::CallbackListener(quint16 port, std::chrono::milliseconds idleTimeout, QString icon,
				   CodeHandler codeHandler, QObject *parent)
	: QObject(parent), listenPort(port), iconUrl(std::move(icon)), handler(std::move(codeHandler))
{
	timeout.setSingleShot(true);
	timeout.setInterval(idleTimeout);
	connect(&server, &QTcpServer::newConnection, this, &CallbackListener::onNewConnection);
	connect(&timeout, &QTimer::timeout, this, [this] {
		server.close();
		Q_EMIT timedOut();
	});
}

CallbackListener::~CallbackListener() = default;

bool CallbackListener::listen()
{
	if (server.isListening())
		return server.serverPort() == listenPort;
	return server.listen(QHostAddress(QHostAddress::LocalHost), listenPort);
}

void CallbackListener::startTimeout()
{
	timeout.start();
}

void CallbackListener::close()
{
	timeout.stop();
	server.close();
}

void CallbackListener::onNewConnection()
{
	while (QTcpSocket *socket = server.nextPendingConnection()) {
		connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
		connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
		connect(socket, &QObject::destroyed, this, [this, socket] { partialHeads.remove(socket); });
	}
}

void CallbackListener::onReadyRead(QTcpSocket *socket)
{
	// A request head may arrive in several reads: keep its bytes until it is
	// complete, up to a bound.
	QByteArray &bytes = partialHeads[socket];
	bytes += socket->readAll();
	const CallbackRequest request = parseCallbackRequest(bytes);
	switch (request.outcome) {
	case CallbackRequest::Outcome::Incomplete:
		if (bytes.size() > kMaxCallbackRequestBytes)
			answer(socket, false, QStringLiteral("Invalid callback request."));
		return;
	case CallbackRequest::Outcome::Invalid:
		answer(socket, false, QStringLiteral("Invalid callback request."));
		return;
	case CallbackRequest::Outcome::UnknownPath:
		answer(socket, false, QStringLiteral("Unknown callback path."));
		return;
	case CallbackRequest::Outcome::Callback:
		break;
	}

	const QUrlQuery &query = request.query;
	if (!decodedQueryItem(query, "error").isEmpty()) {
		const QString description = decodedQueryItem(query, "error_description");
		logWarning("Auth callback failed: %s", description.toUtf8().constData());
		answer(socket, false, description);
		return;
	}
	const bool accepted = handler(decodedQueryItem(query, "state"), decodedQueryItem(query, "code"));
	answer(socket, accepted, QStringLiteral("Login callback could not be accepted."));
}

void CallbackListener::answer(QTcpSocket *socket, bool success, const QString &message)
{
	// One answer per connection: later bytes from the browser are ignored.
	socket->disconnect(this);
	partialHeads.remove(socket);
	socket->write(callbackPageResponse(success, message, iconUrl));
	socket->disconnectFromHost();
}
