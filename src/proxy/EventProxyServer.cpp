#include "proxy/EventProxyServer.h"

#include <QHostAddress>
#include <QRandomGenerator64>
#include <QTcpServer>

#include <obs.h>

namespace {
constexpr char kTokenAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr quint64 kTokenAlphabetSize = sizeof(kTokenAlphabet) - 1;
constexpr int kTokenLength = 32;
} // namespace

EventProxyServer::EventProxyServer(QObject *parent) : QObject(parent), token(generateToken()) {}

EventProxyServer::~EventProxyServer()
{
	delete server;
}

std::string EventProxyServer::generateToken()
{
	std::string result;
	result.reserve(kTokenLength);
	QRandomGenerator64 *random = QRandomGenerator64::global();
	for (int i = 0; i < kTokenLength; ++i) {
		// Multiply-shift maps a 32-bit value onto the alphabet without division.
		const quint64 index = (quint64(random->QRandomGenerator::generate()) * kTokenAlphabetSize) >> 32;
		result.push_back(kTokenAlphabet[index]);
	}
	return result;
}

void EventProxyServer::start()
{
	if (server && server->isListening())
		return;
	if (!server)
		server = new QTcpServer();

	if (!server->listen(QHostAddress::LocalHost, listenPort)) {
		blog(LOG_ERROR, "[vorn-zorva] Event proxy failed to bind to port %u: %s", unsigned(listenPort),
		     server->errorString().toUtf8().constData());
		return;
	}
	const quint16 port = server->serverPort();
	blog(LOG_INFO, "[vorn-zorva] Event proxy listening on ws://127.0.0.1:%u", unsigned(port));
	Q_EMIT started(port, token);
}

void EventProxyServer::stop()
{
	if (server) {
		server->close();
		delete server;
		server = nullptr;
	}
	Q_EMIT stopped();
}
