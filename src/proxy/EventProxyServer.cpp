#include "proxy/EventProxyServer.h"

#include "obs/Log.h"
#include "proxy/AccessToken.h"
#include "proxy/ClientState.h"
#include "proxy/ProxyMessageRouting.h"
#include "threading/ThreadCalls.h"
#include "values/SecretCompare.h"
#include "websocket/FrameProcessor.h"
#include "websocket/WebSocketHandshake.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace {

constexpr std::string_view kForbidden = "HTTP/1.1 403 Forbidden\r\nConnection: close\r\n\r\n";
constexpr std::string_view kUnavailable = "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n\r\n";

std::string peerLabel(const QTcpSocket *socket)
{
	if (!socket)
		return "unknown";
	return socket->peerAddress().toString().toStdString() + ":" + std::to_string(socket->peerPort());
}

} // namespace

// Frame processing's view of one client.
class EventProxyServer::ClientEndpoint : public FrameEndpoint {
public:
	ClientEndpoint(EventProxyServer &owner, QTcpSocket *clientSocket, ClientState &state)
		: server(owner), socket(clientSocket), client(state)
	{
	}

	void sendFrame(std::string &&frame) override
	{
		server.sendReply(socket, client, QByteArray(frame.data(), qsizetype(frame.size())));
	}
	bool onTextMessage(std::string &&text) override
	{
		server.routeMessage(socket, client, std::move(text));
		return acceptsMore();
	}
	// Only while the client is still connected and taking its replies.
	bool acceptsMore() const override { return server.clients.contains(socket) && !client.backlog.inputPaused(); }

private:
	EventProxyServer &server;
	QTcpSocket *socket;
	ClientState &client;
};

EventProxyServer::EventProxyServer() : EventProxyServer(Options()) {}

EventProxyServer::EventProxyServer(Options serverOptions, QObject *parent)
	: QObject(parent), options(std::move(serverOptions)),
	  pendingUpgrades(options.maxPendingUpgrades, options.upgradeDeadline), upgradeDeadlineTimer(this),
	  token(generateAccessToken())
{
	upgradeDeadlineTimer.setSingleShot(true);
	connect(&upgradeDeadlineTimer, &QTimer::timeout, this, &EventProxyServer::onUpgradeDeadline);
}

EventProxyServer::~EventProxyServer()
{
	for (auto it = clients.cbegin(); it != clients.cend(); ++it)
		it.key()->disconnect(this);
	delete server;
}

void EventProxyServer::start()
{
	if (server && server->isListening())
		return;
	if (!server)
		server = new QTcpServer(this);
	connect(server, &QTcpServer::newConnection, this, &EventProxyServer::onNewConnection, Qt::UniqueConnection);

	if (!server->listen(QHostAddress::LocalHost, options.port)) {
		logError("Event proxy failed to bind to port %u: %s", unsigned(options.port),
			 server->errorString().toUtf8().constData());
		return;
	}
	const quint16 port = server->serverPort();
	logInfo("Event proxy listening on ws://127.0.0.1:%u", unsigned(port));
	Q_EMIT started(port, token);
}

void EventProxyServer::stop()
{
	// What was published last is handed to the kernel, as far as it takes
	// it, ahead of the close; what a page has no room for there is dropped
	// when the server, the sockets' parent, is deleted below.
	flushClients();
	for (auto it = clients.cbegin(); it != clients.cend(); ++it) {
		QTcpSocket *socket = it.key();
		socket->disconnect(this);
		socket->disconnectFromHost();
		socket->deleteLater();
	}
	clients.clear();
	pendingUpgrades.clear();
	upgradeDeadlineTimer.stop();
	if (server) {
		server->close();
		delete server;
		server = nullptr;
	}
	Q_EMIT stopped();
}

void EventProxyServer::onNewConnection()
{
	while (QTcpSocket *socket = server->nextPendingConnection()) {
		if (!clients.contains(socket))
			clients.insert(socket, std::make_shared<ClientState>(ClientBacklog::Limits{
						       options.maxUnsentBytesPerClient, options.unsentGrace,
						       options.maxUnsentBytesCeiling}));
		// Events are small and each should leave at once: no Nagle delay
		// waiting for the page's acknowledgement of the previous one.
		socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
		connect(socket, &QTcpSocket::readyRead, this, &EventProxyServer::onReadyRead);
		connect(socket, &QTcpSocket::disconnected, this, &EventProxyServer::onClientDisconnected);

		const PendingUpgrades::Added added = pendingUpgrades.add(socket, PendingUpgrades::Clock::now());
		if (added.burstStarted)
			logWarning(
				"Event proxy has %zu connections waiting to upgrade: closing the oldest for each new one",
				options.maxPendingUpgrades);
		if (added.evicted)
			dropConnection(added.evicted);
	}
	armUpgradeDeadline();
}

void EventProxyServer::onUpgradeDeadline()
{
	for (QTcpSocket *socket : pendingUpgrades.takeExpired(PendingUpgrades::Clock::now())) {
		logDebug("Event proxy closed connection peer=%s: no upgrade within %lld ms", peerLabel(socket).c_str(),
			 static_cast<long long>(options.upgradeDeadline.count()));
		dropConnection(socket);
	}
	armUpgradeDeadline();
}

void EventProxyServer::armUpgradeDeadline()
{
	const auto due = pendingUpgrades.nextDeadline();
	if (!due) {
		upgradeDeadlineTimer.stop();
		return;
	}
	const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - PendingUpgrades::Clock::now());
	upgradeDeadlineTimer.start(std::max(wait, std::chrono::milliseconds(0)));
}

void EventProxyServer::onReadyRead()
{
	auto *socket = qobject_cast<QTcpSocket *>(sender());
	if (!socket)
		return;
	// Held here so that a disconnect while processing cannot free it.
	if (const std::shared_ptr<ClientState> client = clients.value(socket))
		readInput(socket, client);
}

void EventProxyServer::onClientBytesWritten()
{
	auto *socket = qobject_cast<QTcpSocket *>(sender());
	const std::shared_ptr<ClientState> client = clients.value(socket);
	if (!client || !client->backlog.resumeInputIfCaughtUp(*socket))
		return;
	// It caught up with its replies: its waiting requests go on, from the
	// event loop. Qt reports bytes written inside a flush too, and a flush
	// (a logout's, while the UI thread waits for it) must not run a page's input.
	disconnect(socket, &QTcpSocket::bytesWritten, this, &EventProxyServer::onClientBytesWritten);
	postTo(socket, [this, socket] {
		if (const std::shared_ptr<ClientState> resumed = clients.value(socket))
			readInput(socket, resumed);
	});
}

void EventProxyServer::readInput(QTcpSocket *socket, const std::shared_ptr<ClientState> &client)
{
	// Left with Qt and the kernel until the client takes its replies.
	if (client->backlog.inputPaused())
		return;
	client->receiveBuffer.appendAvailable(*socket);
	if (!client->handshakeComplete && !runHandshake(socket, *client))
		return;
	// Every page gets what this input publishes with one write at its end.
	const bool outermost = !inInputBatch;
	inInputBatch = true;
	runFrameProcessing(socket, client);
	if (outermost) {
		inInputBatch = false;
		flushQueued();
	}
}

void EventProxyServer::rejectClient(QTcpSocket *socket, const char *reason)
{
	logWarning("Event proxy rejected client peer=%s reason=%s", peerLabel(socket).c_str(), reason);
	closeWithAnswer(socket, kForbidden);
}

void EventProxyServer::closeWithAnswer(QTcpSocket *socket, std::string_view answer)
{
	// One answer per connection: whatever follows is not read.
	stopReadingFrom(socket);
	pendingUpgrades.remove(socket);
	socket->write(answer.data(), qint64(answer.size()));
	socket->disconnectFromHost();
}

bool EventProxyServer::runHandshake(QTcpSocket *socket, ClientState &client)
{
	const std::optional<std::string> head = extractHttpHead(client.receiveBuffer);
	// However it arrives, in pieces or in one read, a head over the limit is refused.
	if (head ? head->size() > options.maxUpgradeRequestBytes
		 : client.receiveBuffer.size() > options.maxUpgradeRequestBytes) {
		rejectClient(socket, "request_too_large");
		return false;
	}
	if (!head)
		return false;

	// Any request with a key is answered; the token decides what the client may do.
	const UpgradeRequest request = readUpgradeRequest(*head);
	if (request.key.empty()) {
		rejectClient(socket, "missing_ws_key");
		return false;
	}

	const QUrl target(QString::fromStdString(request.target), QUrl::TolerantMode);
	const QString presented = QUrlQuery(target).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
	client.authenticated = sameSecret(presented.toStdString(), token);
	if (!client.authenticated && !admitReadOnlyClient()) {
		closeWithAnswer(socket, kUnavailable);
		return false;
	}
	// Through the client's backlog like every later byte, as its first reply.
	client.backlog.sendReply(*socket, QByteArray::fromStdString(buildUpgradeReply(request.key)));
	client.handshakeComplete = true;
	pendingUpgrades.remove(socket);
	armUpgradeDeadline();
	logInfo("Event proxy accepted %s client from %s:%u", client.authenticated ? "authenticated" : "read-only",
		socket->peerAddress().toString().toUtf8().constData(), unsigned(socket->peerPort()));
	return true;
}

// Clients without the token only listen: the streamer's overlays. Each holds
// one of OBS's file descriptors and may park an unfinished message, so only
// so many are taken at once; pages with the token always get in.
bool EventProxyServer::admitReadOnlyClient()
{
	const auto readOnly = std::count_if(clients.cbegin(), clients.cend(), [](const auto &client) {
		return client->handshakeComplete && !client->authenticated;
	});
	if (size_t(readOnly) < options.maxReadOnlyClients) {
		readOnlyFull = false;
		return true;
	}
	if (!readOnlyFull)
		logWarning("Event proxy has %zu clients without the token: refusing more until one leaves",
			   options.maxReadOnlyClients);
	readOnlyFull = true;
	return false;
}

void EventProxyServer::runFrameProcessing(QTcpSocket *socket, const std::shared_ptr<ClientState> &client)
{
	ClientEndpoint endpoint(*this, socket, *client);
	FrameProcessingOptions processing;
	processing.maskReplies = false;
	// Without the token a client may send only X_INIT, X_LOG, pings and a
	// close, all small: it may not park a large unfinished message.
	processing.maxUnprocessedBytes =
		client->authenticated ? options.maxUnprocessedFrameBytes : options.maxReadOnlyMessageBytes;
	std::string error;
	switch (processFrames(client->receiveBuffer, client->fragments, endpoint, processing, error)) {
	case FrameProcessingResult::NeedMore:
	case FrameProcessingResult::Stopped:
		return;
	case FrameProcessingResult::FrameFailed:
	case FrameProcessingResult::MessageFailed:
		// Protocol errors close quietly; only an oversized message is logged.
		if (error == messageTooLargeError)
			logWarning("Event proxy closed client peer=%s reason=message_too_large",
				   peerLabel(socket).c_str());
		break;
	case FrameProcessingResult::Closed:
		break;
	}
	stopReadingFrom(socket);
	socket->disconnectFromHost();
}

// For a client being closed: its unsent data may keep the connection open a
// while, but nothing it sends is handled any more.
void EventProxyServer::stopReadingFrom(QTcpSocket *socket)
{
	disconnect(socket, &QTcpSocket::readyRead, this, &EventProxyServer::onReadyRead);
	disconnect(socket, &QTcpSocket::bytesWritten, this, &EventProxyServer::onClientBytesWritten);
}

void EventProxyServer::routeMessage(QTcpSocket *socket, ClientState &client, std::string &&text)
{
	ProxyRoute route = routeProxyMessage(text, client.authenticated);
	using Action = ProxyRoute::Action;
	switch (route.action) {
	case Action::InvalidJson:
		logWarning("Event proxy inbound invalid_json peer=%s bytes=%lld", peerLabel(socket).c_str(),
			   static_cast<long long>(text.size()));
		break;
	case Action::SendInitialState:
		sendInitialState(socket, client);
		break;
	case Action::Ignore:
		break;
	case Action::DropUnauthenticated:
		logWarning("Event proxy dropped unauthenticated write peer=%s type=%s", peerLabel(socket).c_str(),
			   route.type.c_str());
		break;
	case Action::ShowSettings:
		Q_EMIT showSettingsRequested(route.page);
		break;
	case Action::VekRequest:
		Q_EMIT vekRequest(route.upid, route.payload);
		break;
	case Action::VekPassthrough:
		Q_EMIT vekPassthrough(route.upid, route.payload);
		break;
	case Action::Publish:
		publishEventText(route.upid, std::move(route.payloadText), route.eventType);
		break;
	case Action::Malformed:
		logWarning("Event proxy dropping malformed message peer=%s upid=%s payload_empty=%d",
			   peerLabel(socket).c_str(), route.upid.c_str(), route.payloadEmpty ? 1 : 0);
		break;
	}
}

void EventProxyServer::closeStalledClient(QTcpSocket *socket)
{
	logWarning("Event proxy closing client peer=%s: %lld bytes unsent, it stopped reading",
		   peerLabel(socket).c_str(), static_cast<long long>(socket->bytesToWrite()));
	// Dropping what it has not taken is the point: abort, not a graceful close.
	dropConnection(socket);
}

// Closes at once, dropping anything unsent. Aborting reports the disconnect
// at once, which may already have taken the client out of the table.
void EventProxyServer::dropConnection(QTcpSocket *socket)
{
	socket->abort();
	pendingUpgrades.remove(socket);
	if (clients.remove(socket))
		socket->deleteLater();
}

void EventProxyServer::onClientDisconnected()
{
	auto *socket = qobject_cast<QTcpSocket *>(sender());
	if (!socket)
		return;
	clients.remove(socket);
	pendingUpgrades.remove(socket);
	socket->deleteLater();
}
