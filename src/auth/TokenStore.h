#pragma once

#include "auth/JwtClaims.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// The Vorn account's OAuth tokens, as the auth file keeps them.
struct AccountTokens {
	QString idToken;
	QString accessToken;
	QString refreshToken;
	QDateTime expiresAt; // invalid: no expiry known

	// ISO 8601 in UTC; empty when no expiry is known.
	QString expiryText() const;
};

// The Vorn account: its tokens and the identity its id token names.
class TokenStore {
public:
	const AccountTokens &tokens() const { return current; }
	const QString &refreshToken() const { return current.refreshToken; }
	const QString &email() const { return identity.email; }
	// Advances whenever the tokens change (restored, an answer applied,
	// cleared): an answer to a request sent at an earlier generation belongs
	// to tokens that are gone.
	quint64 generation() const { return changes; }

	// Tokens read back from the auth file.
	void restore(const AccountTokens &tokens);
	// Takes a token endpoint's answer; false, changing nothing, when it is no
	// bearer token answer. A missing refresh token keeps the one held.
	bool applyTokenResponse(const QJsonObject &response);
	void clear();

	// An access token that has not expired (no known expiry counts as valid).
	bool isAuthenticated() const;
	QString currentAccessToken() const;
	// {"authenticated", "email", "displayName", "subject", "expiresAt"}.
	QJsonObject status() const;

private:
	AccountTokens current;
	IdTokenClaims identity;
	quint64 changes = 0;
};
