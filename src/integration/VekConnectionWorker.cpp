#include "integration/VekConnectionWorker.h"

#include "integration/VekMessage.h"
#include "obs/Log.h"
#include "websocket/FrameProcessor.h"
#include "websocket/WebSocketHandshake.h"

#include <utility>

#include <QStringList>

namespace {

constexpr size_t kMaxUnprocessedBytes = 16 * 1024 * 1024;
// An upgrade response head is a few hundred bytes; more is not a WebSocket.
constexpr size_t kMaxResponseHeadBytes = 64 * 1024;

} // namespace

// Frame processing's view of the worker.
class VekConnectionWorker::Endpoint : public FrameEndpoint {
public:
	explicit Endpoint(VekConnectionWorker &owner) : worker(owner) {}
	void sendFrame(std::string &&frame) override { worker.socket.write(frame.data(), qint64(frame.size())); }
	bool onTextMessage(std::string &&text) override
	{
		worker.onTextMessageReceived(std::move(text));
		// An auth rejection aborts the session; the rest of the buffer is gone.
		return worker.handshakeComplete;
	}

private:
	VekConnectionWorker &worker;
};

VekConnectionWorker::VekConnectionWorker(std::string accountPlatform, std::string accountToken, std::string accountUpid,
					 std::string accountUsername, VekService vekService, QObject *parent)
	: QObject(parent), platform(std::move(accountPlatform)), token(std::move(accountToken)),
	  upid(std::move(accountUpid)), username(std::move(accountUsername)), service(std::move(vekService))
{
	qRegisterMetaType<QList<QSslError>>("QList<QSslError>");
	qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
	reconnectTimer.setSingleShot(true);
	setupTimer.setSingleShot(true);
	connect(&socket, &QSslSocket::encrypted, this, &VekConnectionWorker::onEncrypted);
	connect(&socket, &QSslSocket::readyRead, this, &VekConnectionWorker::onReadyRead);
	connect(&socket, &QSslSocket::disconnected, this, &VekConnectionWorker::onDisconnected);
	connect(&socket, &QSslSocket::errorOccurred, this, &VekConnectionWorker::onSocketError);
	connect(&socket, &QSslSocket::sslErrors, this, &VekConnectionWorker::onSslErrors);
	connect(&reconnectTimer, &QTimer::timeout, this, &VekConnectionWorker::openConnection);
	connect(&setupTimer, &QTimer::timeout, this, &VekConnectionWorker::onSetupTimedOut);
}

VekConnectionWorker::~VekConnectionWorker()
{
	// Tearing the socket down must not call back into a half-destroyed worker.
	retire();
}

void VekConnectionWorker::resetSession()
{
	handshakeComplete = false;
	setupTimer.stop();
	receiveBuffer.clear();
	fragments = FragmentState();
}

void VekConnectionWorker::openConnection()
{
	if (token.empty())
		return;
	const auto state = socket.state();
	if (state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState ||
	    state == QAbstractSocket::ConnectedState)
		return;
	resetSession();
	handshakeKey = generateClientKey();
	socket.connectToHostEncrypted(service.apiHost, service.realtimePort, QIODevice::ReadWrite,
				      QAbstractSocket::AnyIPProtocol);
	setupTimer.start(service.setupTimeout);
}

void VekConnectionWorker::onSetupTimedOut()
{
	logWarning("Vek connection timed out platform=%s upid=%s stage=%s after=%dms", platform.c_str(), upid.c_str(),
		   setupStage(), int(service.setupTimeout.count()));
	// Aborting a connection that is set up reports its disconnect (which arms
	// the retry), one still connecting reports nothing: arm it here then.
	socket.abort();
	resetSession();
	scheduleRetryAfterFailedConnect();
}

const char *VekConnectionWorker::setupStage() const
{
	if (handshakeComplete)
		return "welcome";
	if (socket.isEncrypted())
		return "upgrade";
	return socket.state() == QAbstractSocket::ConnectedState ? "tls" : "connect";
}

void VekConnectionWorker::closeConnection()
{
	reconnectTimer.stop();
	resetSession();
	socket.abort();
}

void VekConnectionWorker::retire()
{
	socket.disconnect(this);
	closeConnection();
}

void VekConnectionWorker::closeGracefully()
{
	socket.disconnectFromHost();
}

void VekConnectionWorker::onEncrypted()
{
	const std::string request =
		buildUpgradeRequest("/v2/vek?client_id=" + std::string(VekService::clientId),
				    service.hostHeader.toStdString(), handshakeKey, service.origin.toStdString());
	socket.write(request.data(), qint64(request.size()));
}

void VekConnectionWorker::onReadyRead()
{
	receiveBuffer.appendAvailable(socket);
	if (handshakeComplete) {
		processFrames();
		return;
	}
	processHandshake();
	if (handshakeComplete)
		processFrames();
}

void VekConnectionWorker::processHandshake()
{
	const std::optional<std::string> head = extractHttpHead(receiveBuffer);
	if (!head && receiveBuffer.size() <= kMaxResponseHeadBytes)
		return;
	// A head that never ends is no 101 either.
	const UpgradeReplyCheck check = head ? checkUpgradeReply(*head, handshakeKey) : UpgradeReplyCheck();
	if (check.verdict == UpgradeReplyCheck::Verdict::NotSwitching) {
		logWarning("Vek websocket handshake failed platform=%s upid=%s", platform.c_str(), upid.c_str());
		closeGracefully();
		return;
	}
	if (check.verdict == UpgradeReplyCheck::Verdict::AcceptMismatch) {
		logWarning("Vek websocket accept mismatch platform=%s upid=%s expected=%s actual=%s", platform.c_str(),
			   upid.c_str(), check.expectedAccept.c_str(), check.presentedAccept.c_str());
		closeGracefully();
		return;
	}
	handshakeComplete = true;
	logInfo("Vek websocket connected platform=%s upid=%s", platform.c_str(), upid.c_str());
}

void VekConnectionWorker::processFrames()
{
	Endpoint endpoint(*this);
	FrameProcessingOptions options;
	options.maskReplies = true;
	options.maxUnprocessedBytes = kMaxUnprocessedBytes;
	std::string error;
	switch (::processFrames(receiveBuffer, fragments, endpoint, options, error)) {
	case FrameProcessingResult::NeedMore:
	case FrameProcessingResult::Stopped:
		return;
	case FrameProcessingResult::FrameFailed:
		logWarning("Vek frame parse failed platform=%s upid=%s error=%s", platform.c_str(), upid.c_str(),
			   error.c_str());
		break;
	case FrameProcessingResult::MessageFailed:
		logWarning("Vek message parse failed platform=%s upid=%s error=%s", platform.c_str(), upid.c_str(),
			   error.c_str());
		break;
	case FrameProcessingResult::Closed:
		break;
	}
	closeGracefully();
}

void VekConnectionWorker::onTextMessageReceived(std::string message)
{
	setupTimer.stop(); // the service has spoken
	VekMessageAction action = decideVekMessage(message, {platform, upid, token});
	for (const std::string &warning : action.warnings)
		logWarning("%s", warning.c_str());
	if (action.reply)
		sendJson(*action.reply);
	if (action.event)
		Q_EMIT rawEvent(upid, *action.event);
	if (action.tokenRejected) {
		const std::string rejected = std::exchange(token, std::string());
		closeConnection();
		Q_EMIT loggedOut(upid, rejected);
	}
}

void VekConnectionWorker::sendJson(const nlohmann::json &value)
{
	if (socket.state() != QAbstractSocket::ConnectedState || !handshakeComplete)
		return;
	const std::string frame = encodeFrame(compactJson(value), WebSocketOpcode::Text, true);
	socket.write(frame.data(), qint64(frame.size()));
}

void VekConnectionWorker::onDisconnected()
{
	resetSession();
	if (!token.empty())
		reconnectTimer.start(service.retryDelay);
}

void VekConnectionWorker::onSocketError(QAbstractSocket::SocketError error)
{
	logWarning("Vek socket error platform=%s upid=%s error=%d reason=%s", platform.c_str(), upid.c_str(),
		   int(error), socket.errorString().toUtf8().constData());
	// A connection that was never established reports no disconnect; retry
	// it all the same, so one outage at start-up does not silence the account.
	QTimer::singleShot(0, this, &VekConnectionWorker::scheduleRetryAfterFailedConnect);
}

void VekConnectionWorker::scheduleRetryAfterFailedConnect()
{
	if (socket.state() == QAbstractSocket::UnconnectedState && !token.empty() && !reconnectTimer.isActive())
		reconnectTimer.start(service.retryDelay);
}

void VekConnectionWorker::onSslErrors(QList<QSslError> errors)
{
	QStringList descriptions;
	for (const QSslError &error : errors)
		descriptions << error.errorString();
	logWarning("Vek SSL errors platform=%s upid=%s: %s", platform.c_str(), upid.c_str(),
		   descriptions.join(QStringLiteral("; ")).toUtf8().constData());
}
