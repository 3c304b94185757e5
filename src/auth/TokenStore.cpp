#include "auth/TokenStore.h"

#include <cmath>
#include <limits>

namespace {

constexpr int kDefaultExpirySeconds = 3600;

// Whole numbers within the 32-bit signed range; 0 for anything else.
int wholeSeconds(const QJsonValue &value)
{
	if (!value.isDouble())
		return 0;
	const double number = value.toDouble();
	if (std::trunc(number) != number || number < std::numeric_limits<int>::min() ||
	    number > std::numeric_limits<int>::max())
		return 0;
	return int(number);
}

} // namespace

QString AccountTokens::expiryText() const
{
	return expiresAt.isValid() ? expiresAt.toUTC().toString(Qt::ISODate) : QString();
}

void TokenStore::restore(const AccountTokens &tokens)
{
	current = tokens;
	identity = decodeIdTokenClaims(current.idToken);
	++changes;
}

bool TokenStore::applyTokenResponse(const QJsonObject &response)
{
	if (response.value(QStringLiteral("token_type")).toString().toLower() != QStringLiteral("bearer"))
		return false;
	current.idToken = response.value(QStringLiteral("id_token")).toString();
	current.accessToken = response.value(QStringLiteral("access_token")).toString();
	const QJsonValue refresh = response.value(QStringLiteral("refresh_token"));
	if (refresh.isString())
		current.refreshToken = refresh.toString();
	int expiresIn = wholeSeconds(response.value(QStringLiteral("expires_in")));
	if (expiresIn <= 0)
		expiresIn = kDefaultExpirySeconds;
	current.expiresAt = QDateTime::currentDateTimeUtc().addSecs(expiresIn);
	identity = decodeIdTokenClaims(current.idToken);
	++changes;
	return true;
}

void TokenStore::clear()
{
	current = AccountTokens();
	identity = IdTokenClaims();
	++changes;
}

bool TokenStore::isAuthenticated() const
{
	return !current.accessToken.isEmpty() &&
	       (!current.expiresAt.isValid() || current.expiresAt > QDateTime::currentDateTimeUtc());
}

QString TokenStore::currentAccessToken() const
{
	return isAuthenticated() ? current.accessToken : QString();
}

QJsonObject TokenStore::status() const
{
	return QJsonObject{
		{QStringLiteral("authenticated"), isAuthenticated()},  {QStringLiteral("email"), identity.email},
		{QStringLiteral("displayName"), identity.displayName}, {QStringLiteral("subject"), identity.subject},
		{QStringLiteral("expiresAt"), current.expiryText()},
	};
}
