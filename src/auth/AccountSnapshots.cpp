#include "auth/AccountSnapshots.h"

#include <QJsonArray>

namespace {

QString statusText(PendingIntegrationLogin::Status status)
{
	switch (status) {
	case PendingIntegrationLogin::Status::LoggingIn:
		return QStringLiteral("logging_in");
	case PendingIntegrationLogin::Status::Authorizing:
		return QStringLiteral("authorizing");
	}
	return QStringLiteral("logging_in");
}

QString displayReason(PendingIntegrationLogin::Status status)
{
	switch (status) {
	case PendingIntegrationLogin::Status::LoggingIn:
		return QStringLiteral("Logging in");
	case PendingIntegrationLogin::Status::Authorizing:
		return QStringLiteral("Authorizing");
	}
	return QStringLiteral("Pending");
}

QJsonObject linkedAccountJson(const IntegrationRecord &record)
{
	return QJsonObject{
		{QStringLiteral("platform"), record.platform},
		{QStringLiteral("authenticated"), !record.token.isEmpty()},
		{QStringLiteral("state"), QStringLiteral("connected")},
		{QStringLiteral("upid"), record.upid},
		{QStringLiteral("username"), record.username},
	};
}

QJsonObject pendingAccountJson(const PendingIntegrationLogin &login)
{
	return QJsonObject{
		{QStringLiteral("platform"), login.platform},
		{QStringLiteral("authenticated"), false},
		{QStringLiteral("state"), statusText(login.status)},
		{QStringLiteral("pending"), true},
		{QStringLiteral("reason"), displayReason(login.status)},
	};
}

QJsonObject requiredAccountJson(const QString &platform)
{
	return QJsonObject{
		{QStringLiteral("id"), platform},
		{QStringLiteral("platform"), platform},
		{QStringLiteral("authenticated"), false},
		{QStringLiteral("state"), QStringLiteral("disconnected")},
		{QStringLiteral("reason"), QStringLiteral("Login required")},
	};
}

QSet<QString> linkedPlatforms(const LinkedAccounts &linked)
{
	QSet<QString> platforms;
	for (const auto &[upid, record] : linked.records())
		platforms.insert(record.platform);
	return platforms;
}

} // namespace

QJsonObject integrationsStatusJson(const LinkedAccounts &linked, const IntegrationLogins &logins)
{
	QJsonObject status;
	for (const auto &[upid, record] : linked.records())
		status.insert(upid, linkedAccountJson(record));
	const QSet<QString> platforms = linkedPlatforms(linked);
	for (const PendingIntegrationLogin *login : logins.listedAttempts()) {
		if (login->platform.isEmpty() || platforms.contains(login->platform))
			continue;
		status.insert(QStringLiteral("pending:%1").arg(login->platform), pendingAccountJson(*login));
	}
	return status;
}

QJsonObject accountsListJson(const LinkedAccounts &linked, const IntegrationLogins &logins,
			     const QSet<QString> &requiredPlatforms)
{
	QJsonArray accounts;
	for (const auto &[upid, record] : linked.records()) {
		QJsonObject account = linkedAccountJson(record);
		account.insert(QStringLiteral("id"), upid);
		accounts.append(account);
	}
	QSet<QString> seen = linkedPlatforms(linked);
	for (const PendingIntegrationLogin *login : logins.listedAttempts()) {
		if (login->platform.isEmpty() || seen.contains(login->platform))
			continue;
		QJsonObject account = pendingAccountJson(*login);
		account.insert(QStringLiteral("id"), login->platform);
		accounts.append(account);
		seen.insert(login->platform);
	}
	QJsonArray required;
	for (const QString &platform : requiredPlatforms) {
		if (!seen.contains(platform))
			required.append(requiredAccountJson(platform));
	}
	return QJsonObject{{QStringLiteral("accounts"), accounts}, {QStringLiteral("requiredAccounts"), required}};
}
