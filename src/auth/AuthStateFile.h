#pragma once

#include "auth/LinkedAccounts.h"
#include "auth/TokenStore.h"

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
	AuthState load() const;
	// Logs a warning when the file cannot be written.
	void save(const AccountTokens &account, const LinkedAccounts::Records &integrations) const;

private:
	QString filePath;
};
