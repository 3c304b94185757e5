#pragma once

#include "auth/LinkedAccounts.h"
#include "auth/TokenStore.h"

#include <QSet>
#include <QString>

// What the auth file holds.
struct AuthState {
	AccountTokens account;
	LinkedAccounts::Records integrations;
};

// "zorva-auth.json": the account's tokens and the linked platform accounts,
// kept through libobs's settings data, which writes a temporary file and keeps
// a backup that is read when the file itself is unusable. The file holds live
// tokens: it, its temporary file and its backup are readable by the owner only.
class AuthStateFile {
public:
	// An empty path: nothing is loaded or saved.
	explicit AuthStateFile(QString path) : filePath(std::move(path)) {}

	const QString &path() const { return filePath; }

	// Empty when there is no file (or backup) to read. Linked accounts
	// without platform or UPID are dropped; of two with the same UPID the
	// later one is kept.
	AuthState load();
	// Logs a warning when the file cannot be written. The backup keeps the
	// file as it was before, unless this save drops an account the file held
	// (the Vorn account signed out, a platform account unlinked): then the
	// backup holds the new content too.
	void save(const AccountTokens &account, const LinkedAccounts::Records &integrations);

private:
	void remember(const AccountTokens &account, const LinkedAccounts::Records &integrations);
	bool dropsAnAccount(const AccountTokens &account, const LinkedAccounts::Records &integrations) const;

	QString filePath;
	// What the file held when it was last read or written: the Vorn
	// account's tokens or none, and the linked accounts' UPIDs.
	bool heldAccountTokens = false;
	QSet<QString> heldUpids;
};
