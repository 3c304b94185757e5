#pragma once

#include <QString>

// PKCE (RFC 7636, S256) and state values of the login flows.

// 50 random bytes in unpadded URL-safe Base64: 67 characters.
QString makeCodeVerifier();
// SHA-256 of the verifier in unpadded URL-safe Base64: 43 characters.
QString makeCodeChallenge(const QString &verifier);
// The prefix followed by a random UUID as 32 lower-case hex digits.
QString makeState(const QString &prefix);
