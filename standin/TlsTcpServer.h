#pragma once

// A QTcpServer whose connections speak TLS as a server, with a given
// certificate and key, when a configuration is set; plain TCP otherwise.

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>

class TlsTcpServer : public QTcpServer {
	Q_OBJECT

public:
	using QTcpServer::QTcpServer;

	void setTls(const QSslConfiguration &configuration)
	{
		tls = configuration;
		useTls = true;
	}

	// False: connections are still QSslSockets, but the server side of the
	// TLS handshake is never started, so the raw bytes of the client's
	// handshake can be read (a peer that fails or stalls mid-TLS).
	bool answerTls = true;

protected:
	void incomingConnection(qintptr descriptor) override
	{
		if (!useTls) {
			QTcpServer::incomingConnection(descriptor);
			return;
		}
		auto *socket = new QSslSocket(this);
		if (!socket->setSocketDescriptor(descriptor)) {
			delete socket;
			return;
		}
		socket->setSslConfiguration(tls);
		addPendingConnection(socket);
		if (answerTls)
			socket->startServerEncryption();
	}

private:
	QSslConfiguration tls;
	bool useTls = false;
};

// The throwaway certificates of standin/tls, which the tests' fakes and the
// development host's sample Vek serve.
namespace ThrowawayTls {
// Server configuration with the CA-signed localhost certificate, or the
// self-signed one that nobody trusts.
QSslConfiguration serverConfiguration(bool trusted = true);
// Adds the throwaway CA to this process's default TLS configuration.
void trustAuthority();
} // namespace ThrowawayTls
