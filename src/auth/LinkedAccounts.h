#pragma once

#include "auth/IntegrationRecord.h"

#include <map>

#include <QJsonArray>
#include <QString>

// The platform accounts linked through Vek, by UPID in ascending order.
class LinkedAccounts {
public:
	using Records = std::map<QString, IntegrationRecord>;

	const Records &records() const { return byUpid; }

	// Records read back from the auth file.
	void restore(Records records) { byUpid = std::move(records); }
	// Links an account, replacing the one with the same UPID. The same token
	// under another UPID is the same account renamed by Vek: that record goes.
	void link(const IntegrationRecord &record);
	// Unlinks the account; false when none has this UPID.
	bool remove(const QString &upid);
	// The account with this UPID is linked with this token.
	bool holds(const QString &upid, const QString &token) const;

	// [{"platform", "token", "upid", "username"}] for the Vek runtime.
	QJsonArray snapshot() const;

private:
	Records byUpid;
};
