#pragma once

// Unsigned ID tokens as the account service issues them: the module reads
// their claims and never checks the signature.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

inline QString makeIdToken(const QJsonObject &claims)
{
	const auto encode = [](const QByteArray &bytes) {
		return QString::fromLatin1(
			bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
	};
	return encode(R"({"alg":"none"})") + QLatin1Char('.') +
	       encode(QJsonDocument(claims).toJson(QJsonDocument::Compact)) + QStringLiteral(".signature");
}
