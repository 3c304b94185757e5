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
		socket->startServerEncryption();
	}

private:
	QSslConfiguration tls;
	bool useTls = false;
};

// The throwaway certificates of tests/support/tls.
namespace TestTls {
// Server configuration with the CA-signed localhost certificate, or the
// self-signed one that nobody trusts.
QSslConfiguration serverConfiguration(bool trusted = true);
// Adds the test CA to this process's default TLS configuration.
void trustTestAuthority();
} // namespace TestTls
