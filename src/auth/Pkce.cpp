#include "auth/Pkce.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUuid>

namespace {
constexpr int kVerifierBytes = 50;
constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
} // namespace

QString makeCodeVerifier()
{
	QByteArray bytes(kVerifierBytes, '\0');
	// A secret: from the operating system's generator, not the process-wide
	// one whose other draws (simulated events' picks) pages can see.
	QRandomGenerator *random = QRandomGenerator::system();
	for (char &byte : bytes)
		byte = char(random->generate() >> 24);
	return QString::fromLatin1(bytes.toBase64(kBase64Url));
}

QString makeCodeChallenge(const QString &verifier)
{
	const QByteArray digest = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
	return QString::fromLatin1(digest.toBase64(kBase64Url));
}

QString makeState(const QString &prefix)
{
	return prefix + QUuid::createUuid().toString(QUuid::Id128);
}
