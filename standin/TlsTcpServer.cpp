#include "TlsTcpServer.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

namespace {

QByteArray readFile(const QString &name)
{
	QFile file(QStringLiteral(ZORVA_TLS_DIR "/") + name);
	return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QSslConfiguration ThrowawayTls::serverConfiguration(bool trusted)
{
	QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
	const QString base = trusted ? QStringLiteral("server") : QStringLiteral("untrusted");
	configuration.setLocalCertificate(QSslCertificate(readFile(base + QStringLiteral(".pem"))));
	configuration.setPrivateKey(QSslKey(readFile(base + QStringLiteral(".key")), QSsl::Rsa));
	configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
	return configuration;
}

void ThrowawayTls::trustAuthority()
{
	QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
	configuration.addCaCertificates(QSslCertificate::fromData(readFile(QStringLiteral("ca.pem"))));
	QSslConfiguration::setDefaultConfiguration(configuration);
}
