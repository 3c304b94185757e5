#include "auth/LinkedAccounts.h"

#include <QJsonObject>

void LinkedAccounts::link(const IntegrationRecord &record)
{
	for (auto it = byUpid.begin(); it != byUpid.end();) {
		if (it->second.token == record.token && it->second.upid != record.upid)
			it = byUpid.erase(it);
		else
			++it;
	}
	byUpid[record.upid] = record;
}

bool LinkedAccounts::remove(const QString &upid)
{
	return byUpid.erase(upid) > 0;
}

bool LinkedAccounts::holds(const QString &upid, const QString &token) const
{
	const auto it = byUpid.find(upid);
	return it != byUpid.end() && it->second.token == token;
}

QJsonArray LinkedAccounts::snapshot() const
{
	QJsonArray records;
	for (const auto &[upid, record] : byUpid) {
		records.append(QJsonObject{
			{QStringLiteral("platform"), record.platform},
			{QStringLiteral("token"), record.token},
			{QStringLiteral("upid"), record.upid},
			{QStringLiteral("username"), record.username},
		});
	}
	return records;
}
