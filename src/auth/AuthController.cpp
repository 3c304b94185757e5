#include "auth/AuthController.h"

AuthController::AuthController(ServiceEndpoints endpoints, QObject *parent)
	: QObject(parent), endpoints(std::move(endpoints))
{
}

AuthController::~AuthController() = default;

bool AuthController::isAuthenticated() const
{
	return !accessToken.isEmpty() && (!expiresAt.isValid() || expiresAt > QDateTime::currentDateTimeUtc());
}

QJsonObject AuthController::accountStatus() const
{
	return QJsonObject{
		{QStringLiteral("authenticated"), isAuthenticated()},
		{QStringLiteral("email"), email},
		{QStringLiteral("displayName"), displayName},
		{QStringLiteral("subject"), subject},
		{QStringLiteral("expiresAt"), expiresAt.isValid() ? expiresAt.toString(Qt::ISODate) : QString()},
	};
}

QJsonObject AuthController::integrationsStatus() const
{
	QJsonObject status;
	for (const auto &[upid, record] : integrations) {
		status.insert(upid, QJsonObject{
					    {QStringLiteral("platform"), record.platform},
					    {QStringLiteral("authenticated"), !record.token.isEmpty()},
					    {QStringLiteral("state"), QStringLiteral("connected")},
					    {QStringLiteral("upid"), record.upid},
					    {QStringLiteral("username"), record.username},
				    });
	}
	return status;
}

QJsonObject AuthController::statusSnapshot() const
{
	return QJsonObject{
		{QStringLiteral("account"), accountStatus()},
		{QStringLiteral("integrations"), integrationsStatus()},
		{QStringLiteral("vekEndpoint"), endpoints.vekApiBaseUrl},
	};
}

QJsonArray AuthController::integrationSnapshot() const
{
	QJsonArray snapshot;
	for (const auto &[upid, record] : integrations) {
		snapshot.append(QJsonObject{
			{QStringLiteral("platform"), record.platform},
			{QStringLiteral("token"), record.token},
			{QStringLiteral("upid"), record.upid},
			{QStringLiteral("username"), record.username},
		});
	}
	return snapshot;
}

QString AuthController::currentAccessToken() const
{
	return isAuthenticated() ? accessToken : QString();
}

bool AuthController::removeIntegration(const QString &upid)
{
	const QString key = upid.trimmed();
	if (key.isEmpty() || integrations.erase(key) == 0)
		return false;
	Q_EMIT statusChanged();
	return true;
}

bool AuthController::handleRedirect(const QUrl &)
{
	// No account login can be pending yet, so no URL is a redirect to consume.
	return false;
}
