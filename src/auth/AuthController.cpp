// Auth state, snapshots and persistence of AuthController.

#include "auth/AuthController.h"

#include "auth/JsonReply.h"
#include "auth/JwtClaims.h"
#include "obs/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <obs-module.h>

namespace {

const QString kConnected = QStringLiteral("connected");
const QString kLoggingIn = QStringLiteral("logging_in");

QString isoTime(const QDateTime &time)
{
	return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QString normalizedPlatform(const QString &platform)
{
	return platform.trimmed().toUpper();
}

QJsonObject linkedAccountJson(const IntegrationRecord &record)
{
	return QJsonObject{
		{QStringLiteral("platform"), record.platform},
		{QStringLiteral("authenticated"), !record.token.isEmpty()},
		{QStringLiteral("state"), kConnected},
		{QStringLiteral("upid"), record.upid},
		{QStringLiteral("username"), record.username},
	};
}

QJsonObject pendingAccountJson(const PendingIntegrationLogin &login)
{
	return QJsonObject{
		{QStringLiteral("platform"), login.platform},
		{QStringLiteral("authenticated"), false},
		{QStringLiteral("state"), login.status.isEmpty() ? kLoggingIn : login.status},
		{QStringLiteral("pending"), true},
		{QStringLiteral("reason"), displayReason(login.status)},
	};
}

// The auth file holds live tokens: readable by the owner only. libobs writes
// the temporary file with fopen, which keeps the mode of an existing file, so
// the temporary file is created owner-only before libobs writes into it.
void prepareOwnerOnlyFile(const QString &path)
{
	const QByteArray native = QFile::encodeName(path);
	const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
	if (fd >= 0) {
		::fchmod(fd, S_IRUSR | S_IWUSR);
		::close(fd);
	}
}

void restrictToOwner(const QString &path)
{
	::chmod(QFile::encodeName(path).constData(), S_IRUSR | S_IWUSR);
}

} // namespace

QString displayReason(const QString &status)
{
	if (status == QStringLiteral("authorizing"))
		return QStringLiteral("Authorizing");
	if (status == kLoggingIn)
		return QStringLiteral("Logging in");
	return QStringLiteral("Pending");
}

AuthController::AuthController() : AuthController(Options()) {}

AuthController::AuthController(Options options, QObject *parent) : QObject(parent), options(std::move(options))
{
	callbackTimeout.setSingleShot(true);
	callbackTimeout.setInterval(this->options.callbackTimeoutMs);
	connect(&callbackServer, &QTcpServer::newConnection, this, &AuthController::onNewCallbackConnection);
	connect(&callbackTimeout, &QTimer::timeout, this, &AuthController::onCallbackTimeout);
	loadAuthState();
	if (!refreshToken.isEmpty())
		QTimer::singleShot(0, this, &AuthController::startupRefresh);
}

AuthController::~AuthController() = default;

// ---- snapshots

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
		{QStringLiteral("expiresAt"), isoTime(expiresAt)},
	};
}

QJsonObject AuthController::integrationsStatus() const
{
	QJsonObject status;
	QSet<QString> linkedPlatforms;
	for (const auto &[upid, record] : integrations) {
		status.insert(upid, linkedAccountJson(record));
		linkedPlatforms.insert(record.platform);
	}
	for (const auto &[loginState, login] : pendingIntegrationLogins) {
		if (login.platform.isEmpty() || linkedPlatforms.contains(login.platform))
			continue;
		status.insert(QStringLiteral("pending:%1").arg(login.platform), pendingAccountJson(login));
	}
	return status;
}

QJsonObject AuthController::statusSnapshot() const
{
	return QJsonObject{
		{QStringLiteral("account"), accountStatus()},
		{QStringLiteral("integrations"), integrationsStatus()},
		{QStringLiteral("vekEndpoint"), options.endpoints.vekApiBaseUrl},
	};
}

QJsonObject AuthController::accountsList() const
{
	QJsonArray accounts;
	QJsonArray required;
	QSet<QString> seen;
	for (const auto &[upid, record] : integrations) {
		QJsonObject account = linkedAccountJson(record);
		account.insert(QStringLiteral("id"), upid);
		accounts.append(account);
		seen.insert(record.platform);
	}
	for (const auto &[loginState, login] : pendingIntegrationLogins) {
		if (login.platform.isEmpty() || seen.contains(login.platform))
			continue;
		QJsonObject account = pendingAccountJson(login);
		account.insert(QStringLiteral("id"), login.platform);
		accounts.append(account);
		seen.insert(login.platform);
	}
	for (const QString &platform : requiredPlatforms) {
		if (seen.contains(platform))
			continue;
		required.append(QJsonObject{
			{QStringLiteral("id"), platform},
			{QStringLiteral("platform"), platform},
			{QStringLiteral("authenticated"), false},
			{QStringLiteral("state"), QStringLiteral("disconnected")},
			{QStringLiteral("reason"), QStringLiteral("Login required")},
		});
	}
	return QJsonObject{{QStringLiteral("accounts"), accounts}, {QStringLiteral("requiredAccounts"), required}};
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

QJsonObject AuthController::requirePlatforms(const QStringList &platforms)
{
	for (const QString &platform : platforms) {
		const QString normalized = normalizedPlatform(platform);
		if (!normalized.isEmpty())
			requiredPlatforms.insert(normalized);
	}
	Q_EMIT statusChanged();
	return accountsList();
}

// ---- state operations

void AuthController::resetAccountLogin()
{
	pendingAccountState.clear();
	pendingCodeVerifier.clear();
	pendingRedirectUri.clear();
	pendingAccountAttempt = 0;
}

void AuthController::finishAttempt(quint64 id)
{
	if (id == 0)
		return;
	activeAttempts.remove(id);
	cancelledAttempts.remove(id);
	attemptPlatforms.erase(id);
	for (auto it = pendingIntegrationLogins.begin(); it != pendingIntegrationLogins.end();) {
		if (it->second.attemptId == id)
			it = pendingIntegrationLogins.erase(it);
		else
			++it;
	}
}

bool AuthController::isAttemptLive(quint64 id) const
{
	return id != 0 && activeAttempts.contains(id) && !cancelledAttempts.contains(id);
}

bool AuthController::hasPendingWork() const
{
	if (!pendingAccountState.isEmpty() || !pendingIntegrationLogins.empty())
		return true;
	for (quint64 id : activeAttempts) {
		if (!cancelledAttempts.contains(id))
			return true;
	}
	return false;
}

void AuthController::cancelPlatformLogins(const QString &platform)
{
	const QString normalized = normalizedPlatform(platform);
	if (normalized.isEmpty())
		return;
	for (const auto &[id, attemptPlatform] : attemptPlatforms) {
		if (attemptPlatform == normalized)
			cancelledAttempts.insert(id);
	}
	for (auto it = pendingIntegrationLogins.begin(); it != pendingIntegrationLogins.end();) {
		if (it->second.platform == normalized) {
			cancelledAttempts.insert(it->second.attemptId);
			it = pendingIntegrationLogins.erase(it);
		} else {
			++it;
		}
	}
}

void AuthController::cancelAllIntegrationLogins()
{
	for (quint64 id : activeAttempts)
		cancelledAttempts.insert(id);
	pendingIntegrationLogins.clear();
}

bool AuthController::ensureCallbackListener()
{
	if (callbackServer.isListening())
		return callbackServer.serverPort() == options.callbackPort;
	return callbackServer.listen(QHostAddress(QHostAddress::LocalHost), options.callbackPort);
}

void AuthController::stopListenerIfIdle()
{
	if (hasPendingWork())
		return;
	callbackTimeout.stop();
	callbackServer.close();
}

// ---- persistence

void AuthController::saveAuthState()
{
	const QString &path = options.stateFilePath;
	if (path.isEmpty())
		return;
	QDir().mkpath(QFileInfo(path).absolutePath());

	obs_data_t *data = obs_data_create();
	obs_data_t *account = obs_data_create();
	obs_data_set_string(account, "idToken", idToken.toUtf8().constData());
	obs_data_set_string(account, "accessToken", accessToken.toUtf8().constData());
	obs_data_set_string(account, "refreshToken", refreshToken.toUtf8().constData());
	obs_data_set_string(account, "expiresAt", isoTime(expiresAt).toUtf8().constData());
	obs_data_set_obj(data, "account", account);
	obs_data_release(account);

	obs_data_array_t *array = obs_data_array_create();
	for (const auto &[upid, record] : integrations) {
		obs_data_t *item = obs_data_create();
		obs_data_set_string(item, "platform", record.platform.toUtf8().constData());
		obs_data_set_string(item, "token", record.token.toUtf8().constData());
		obs_data_set_string(item, "upid", record.upid.toUtf8().constData());
		obs_data_set_string(item, "username", record.username.toUtf8().constData());
		obs_data_array_push_back(array, item);
		obs_data_release(item);
	}
	obs_data_set_array(data, "integrations", array);
	obs_data_array_release(array);

	const QByteArray nativePath = path.toUtf8();
	prepareOwnerOnlyFile(path + QStringLiteral(".tmp"));
	const bool saved = obs_data_save_json_safe(data, nativePath.constData(), "tmp", "bak");
	obs_data_release(data);
	restrictToOwner(path);
	restrictToOwner(path + QStringLiteral(".bak"));
	if (!saved)
		logWarning("Failed to save auth settings to %s", nativePath.constData());
}

void AuthController::loadAuthState()
{
	const QString &path = options.stateFilePath;
	if (path.isEmpty())
		return;
	obs_data_t *data = obs_data_create_from_json_file_safe(path.toUtf8().constData(), "bak");
	if (!data)
		return;

	if (obs_data_t *account = obs_data_get_obj(data, "account")) {
		idToken = QString::fromUtf8(obs_data_get_string(account, "idToken"));
		accessToken = QString::fromUtf8(obs_data_get_string(account, "accessToken"));
		refreshToken = QString::fromUtf8(obs_data_get_string(account, "refreshToken"));
		expiresAt = QDateTime::fromString(QString::fromUtf8(obs_data_get_string(account, "expiresAt")),
						  Qt::ISODate);
		applyIdTokenClaims();
		obs_data_release(account);
	}

	if (obs_data_array_t *array = obs_data_get_array(data, "integrations")) {
		const size_t count = obs_data_array_count(array);
		for (size_t i = 0; i < count; ++i) {
			obs_data_t *item = obs_data_array_item(array, i);
			IntegrationRecord record{QString::fromUtf8(obs_data_get_string(item, "platform")),
						 QString::fromUtf8(obs_data_get_string(item, "token")),
						 QString::fromUtf8(obs_data_get_string(item, "upid")),
						 QString::fromUtf8(obs_data_get_string(item, "username"))};
			obs_data_release(item);
			if (record.platform.isEmpty() || record.upid.isEmpty())
				continue;
			integrations[record.upid] = std::move(record);
		}
		obs_data_array_release(array);
	}
	obs_data_release(data);
}

void AuthController::applyIdTokenClaims()
{
	const IdTokenClaims claims = decodeIdTokenClaims(idToken);
	subject = claims.subject;
	email = claims.email;
	displayName = claims.displayName;
}

void AuthController::startupRefresh()
{
	const QJsonObject result = refreshAccount();
	if (result.value(QStringLiteral("error")).isString()) {
		logWarning("Startup auth refresh failed (%s): %s",
		     result.value(QStringLiteral("errorCode")).toString().toUtf8().constData(),
		     redactTokens(result.value(QStringLiteral("error")).toString()).toUtf8().constData());
		return;
	}
	Q_EMIT statusChanged();
}
