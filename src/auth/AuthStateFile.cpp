#include "auth/AuthStateFile.h"

#include "auth/OwnerOnlyFile.h"
#include "obs/Log.h"

#include <QDir>
#include <QFileInfo>

#include <obs.hpp>

namespace {

void setString(obs_data_t *data, const char *name, const QString &value)
{
	obs_data_set_string(data, name, value.toUtf8().constData());
}

QString stringOf(obs_data_t *data, const char *name)
{
	return QString::fromUtf8(obs_data_get_string(data, name));
}

OBSDataAutoRelease accountData(const AccountTokens &account)
{
	OBSDataAutoRelease data = obs_data_create();
	setString(data, "idToken", account.idToken);
	setString(data, "accessToken", account.accessToken);
	setString(data, "refreshToken", account.refreshToken);
	setString(data, "expiresAt", account.expiryText());
	return data;
}

OBSDataArrayAutoRelease integrationsData(const LinkedAccounts::Records &integrations)
{
	OBSDataArrayAutoRelease array = obs_data_array_create();
	for (const auto &[upid, record] : integrations) {
		OBSDataAutoRelease item = obs_data_create();
		setString(item, "platform", record.platform);
		setString(item, "token", record.token);
		setString(item, "upid", record.upid);
		setString(item, "username", record.username);
		obs_data_array_push_back(array, item);
	}
	return array;
}

bool holdsTokens(const AccountTokens &account)
{
	return !account.idToken.isEmpty() || !account.accessToken.isEmpty() || !account.refreshToken.isEmpty();
}

// The backup libobs keeps is the file as it was before this save, tokens and
// all. Were the file then lost, the next start would read them back and sign
// in again whoever had just signed out: the backup takes the new content,
// emptied first so that nothing of the old one outlives a failed write.
void replaceBackup(obs_data_t *data, const QString &backupPath)
{
	prepareOwnerOnlyFile(backupPath);
	const QByteArray nativePath = backupPath.toUtf8();
	if (!obs_data_save_json(data, nativePath.constData()))
		logWarning("Failed to save auth settings to %s", nativePath.constData());
}

AccountTokens accountOf(obs_data_t *account)
{
	return AccountTokens{stringOf(account, "idToken"), stringOf(account, "accessToken"),
			     stringOf(account, "refreshToken"),
			     QDateTime::fromString(stringOf(account, "expiresAt"), Qt::ISODate)};
}

LinkedAccounts::Records integrationsOf(obs_data_array_t *array)
{
	LinkedAccounts::Records integrations;
	const size_t count = obs_data_array_count(array);
	for (size_t i = 0; i < count; ++i) {
		OBSDataAutoRelease item = obs_data_array_item(array, i);
		IntegrationRecord record{stringOf(item, "platform"), stringOf(item, "token"), stringOf(item, "upid"),
					 stringOf(item, "username")};
		if (record.platform.isEmpty() || record.upid.isEmpty())
			continue;
		integrations[record.upid] = std::move(record);
	}
	return integrations;
}

} // namespace

AuthState AuthStateFile::load()
{
	AuthState state;
	if (filePath.isEmpty())
		return state;
	OBSDataAutoRelease data = obs_data_create_from_json_file_safe(filePath.toUtf8().constData(), "bak");
	if (!data)
		return state;
	if (OBSDataAutoRelease account = obs_data_get_obj(data, "account"))
		state.account = accountOf(account);
	if (OBSDataArrayAutoRelease array = obs_data_get_array(data, "integrations"))
		state.integrations = integrationsOf(array);
	remember(state.account, state.integrations);
	return state;
}

void AuthStateFile::remember(const AccountTokens &account, const LinkedAccounts::Records &integrations)
{
	heldAccountTokens = holdsTokens(account);
	heldUpids.clear();
	for (const auto &[upid, record] : integrations)
		heldUpids.insert(upid);
}

// A refresh or a new link replaces tokens of accounts that stay: the backup
// then holds older tokens of the same accounts, which is what it is for.
bool AuthStateFile::dropsAnAccount(const AccountTokens &account, const LinkedAccounts::Records &integrations) const
{
	if (heldAccountTokens && !holdsTokens(account))
		return true;
	for (const QString &upid : heldUpids) {
		if (integrations.find(upid) == integrations.end())
			return true;
	}
	return false;
}

void AuthStateFile::save(const AccountTokens &account, const LinkedAccounts::Records &integrations)
{
	if (filePath.isEmpty())
		return;
	QDir().mkpath(QFileInfo(filePath).absolutePath());

	OBSDataAutoRelease data = obs_data_create();
	obs_data_set_obj(data, "account", accountData(account));
	obs_data_set_array(data, "integrations", integrationsData(integrations));

	const QByteArray nativePath = filePath.toUtf8();
	const QString backupPath = filePath + QStringLiteral(".bak");
	// libobs writes the temporary file with fopen, which keeps the mode of an
	// existing file.
	prepareOwnerOnlyFile(filePath + QStringLiteral(".tmp"));
	const bool saved = obs_data_save_json_safe(data, nativePath.constData(), "tmp", "bak");
	restrictToOwner(filePath);
	restrictToOwner(backupPath);
	if (!saved) {
		logWarning("Failed to save auth settings to %s", nativePath.constData());
		return;
	}
	if (dropsAnAccount(account, integrations))
		replaceBackup(data, backupPath);
	remember(account, integrations);
}
