#pragma once

#include "auth/IntegrationLogins.h"
#include "auth/LinkedAccounts.h"

#include <QJsonObject>
#include <QSet>
#include <QString>

// The views of the linked and pending platform accounts that the pages and
// the host read; built fresh on every call. A platform with a linked account
// shows no pending login.

// Linked accounts by UPID, pending logins as "pending:<platform>".
QJsonObject integrationsStatusJson(const LinkedAccounts &linked, const IntegrationLogins &logins);

// {"accounts": linked, then pending by platform; "requiredAccounts": the
// required platforms that have neither}.
QJsonObject accountsListJson(const LinkedAccounts &linked, const IntegrationLogins &logins,
			     const QSet<QString> &requiredPlatforms);
