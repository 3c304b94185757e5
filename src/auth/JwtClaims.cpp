#include "auth/JwtClaims.h"

#include <QJsonDocument>
#include <QStringList>

QJsonObject decodeJwtPayload(const QString &token)
{
	const QStringList parts = token.split(QLatin1Char('.'), Qt::KeepEmptyParts);
	if (parts.size() < 2)
		return {};
	QByteArray payload = parts[1].toUtf8();
	while (payload.size() % 4 != 0)
		payload.append('=');
	const QByteArray json = QByteArray::fromBase64(payload, QByteArray::Base64UrlEncoding);
	const QJsonDocument document = QJsonDocument::fromJson(json);
	return document.isObject() ? document.object() : QJsonObject();
}

IdTokenClaims decodeIdTokenClaims(const QString &idToken)
{
	const QJsonObject payload = decodeJwtPayload(idToken);
	auto claim = [&payload](const char *name) {
		return payload.value(QLatin1String(name)).toString();
	};
	IdTokenClaims claims{claim("sub"), claim("email"), claim("name")};
	if (claims.displayName.isEmpty())
		claims.displayName = QStringLiteral("%1 %2").arg(claim("given_name"), claim("family_name")).trimmed();
	return claims;
}
