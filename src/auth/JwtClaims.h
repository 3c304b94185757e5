#pragma once

#include <QJsonObject>
#include <QString>

// The payload of a JSON Web Token, unverified; empty when it is not a JSON
// object in URL-safe Base64.
QJsonObject decodeJwtPayload(const QString &token);

struct IdTokenClaims {
	QString subject;
	QString email;
	QString displayName;
};

// "sub", "email" and "name" (or "given_name family_name") of an id token.
IdTokenClaims decodeIdTokenClaims(const QString &idToken);
