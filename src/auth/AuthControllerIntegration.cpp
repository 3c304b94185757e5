// Platform accounts linked through Vek: the platforms the pages require, the
// login through Vek's login URL and the callback, code exchange, identity
// inspection, logout and removal.

#include "auth/AuthController.h"

#include "auth/JsonReply.h"
#include "auth/Pkce.h"
#include "obs/Log.h"
#include "values/ErrorCodes.h"

#include <QDesktopServices>

namespace {

QString normalizedPlatform(const QString &platform)
{
	return platform.trimmed().toUpper();
}

} // namespace

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

Result<QJsonObject> AuthController::beginIntegrationLogin(const QString &platform)
{
	const QString name = normalizedPlatform(platform);
	if (name.isEmpty())
		return Failure{QStringLiteral("Missing platform."), ErrorCodes::missingPlatform};
	// A platform Vek cannot be asked for is refused before the listener opens,
	// whose port may be taken: that would hide what is wrong.
	if (const Result<QByteArray> segment = VekLoginClient::pathSegment(name); !segment.ok())
		return segment.failure();
	integrationLogins.cancelPlatform(name);

	const QString requestState = makeState(QString());
	if (!listener.listen())
		return Failure{QStringLiteral("Unable to start local login callback server."),
			       ErrorCodes::callbackServerFailed};

	const quint64 id = integrationLogins.start(name, requestState);
	auto fail = [this, id](const Failure &failure) {
		endIntegrationAttempt(id);
		return failure;
	};
	const Result<VekLoginUrl> login = vek.fetchLoginUrl(name, requestState);
	// While it waited, another login for the platform or the listener's
	// time-out may have ended this attempt: its callback would find nothing,
	// so nothing is opened for it.
	if (!integrationLogins.isLive(id))
		return fail({QStringLiteral("The integration login was cancelled."), ErrorCodes::vekLoginCancelled});
	if (!login.ok())
		return fail(login.failure());
	integrationLogins.list(id, login.value().loginState);
	if (!QDesktopServices::openUrl(login.value().url))
		return fail({QStringLiteral("Unable to open system browser."), ErrorCodes::browserOpenFailed});

	listener.startTimeout();
	logInfo("Started Vek login for %s.", name.toUtf8().constData());
	Q_EMIT statusChanged();
	return QJsonObject{{QStringLiteral("opened"), true},
			   {QStringLiteral("url"), login.value().url.toString()},
			   {QStringLiteral("callbackUrl"), callbackUrl()}};
}

bool AuthController::acceptIntegrationCallback(const QString &state, const QString &code)
{
	PendingIntegrationLogin *login = integrationLogins.listed(state);
	if (!login || login->exchanging)
		return false;
	if (code.isEmpty()) {
		logWarning("Vek callback rejected: missing authorization code.");
		return false;
	}
	login->status = PendingIntegrationLogin::Status::Authorizing;
	logInfo("Vek callback accepted for %s; exchanging token.", login->platform.toUtf8().constData());
	Q_EMIT statusChanged();
	exchangeIntegrationCode(code, state);
	Q_EMIT redirectConsumed();
	return true;
}

bool AuthController::exchangeIntegrationCode(const QString &code, const QString &state)
{
	PendingIntegrationLogin *found = integrationLogins.listed(state);
	if (!found || found->platform.isEmpty() || found->exchanging)
		return false;
	found->exchanging = true;
	vek.exchangeCode(code, state, this, [this, login = *found](const VekAnswer &answer) {
		onIntegrationCodeExchanged(login, answer);
	});
	return true;
}

void AuthController::onIntegrationCodeExchanged(const PendingIntegrationLogin &login, const VekAnswer &answer)
{
	if (!integrationLogins.isLive(login.attemptId))
		return endIntegrationAttempt(login.attemptId);
	if (!answer.error.isEmpty()) {
		logWarning("Vek token exchange failed: %s", redactTokens(answer.error).toUtf8().constData());
		return failIntegrationAttempt(login.attemptId);
	}
	const QString token = answer.data.value(QStringLiteral("token")).toString();
	const QString echoedState = answer.data.value(QStringLiteral("state")).toString();
	if (token.isEmpty() || echoedState != login.requestState) {
		logWarning("Vek token exchange failed: invalid response.");
		return failIntegrationAttempt(login.attemptId);
	}
	logInfo("Vek token exchange completed for %s; inspecting identity.", login.platform.toUtf8().constData());
	vek.inspect(token, this, [this, login, token](const VekAnswer &identity) {
		onIntegrationInspected(login, token, identity);
	});
}

void AuthController::onIntegrationInspected(const PendingIntegrationLogin &login, const QString &token,
					    const VekAnswer &answer)
{
	if (!integrationLogins.isLive(login.attemptId))
		return endIntegrationAttempt(login.attemptId);
	if (!answer.error.isEmpty()) {
		logWarning("Vek inspect failed: %s", redactTokens(answer.error).toUtf8().constData());
		return failIntegrationAttempt(login.attemptId);
	}
	const QString upid = answer.data.value(QStringLiteral("UPID")).toString();
	const QString username = answer.data.value(QStringLiteral("username")).toString();
	if (upid.isEmpty() || username.isEmpty()) {
		logWarning("Vek inspect failed: invalid identity response.");
		return failIntegrationAttempt(login.attemptId);
	}
	if (integrationLogins.refuses(login.attemptId, upid)) {
		logInfo("Vek auth for %s as %s (%s) dropped: the account was logged out during the login.",
			login.platform.toUtf8().constData(), username.toUtf8().constData(), upid.toUtf8().constData());
		return failIntegrationAttempt(login.attemptId);
	}
	linkedAccounts.link(IntegrationRecord{login.platform, token, upid, username});
	saveAuthState();
	endIntegrationAttempt(login.attemptId);
	logInfo("Vek auth completed for %s as %s (%s).", login.platform.toUtf8().constData(),
		username.toUtf8().constData(), upid.toUtf8().constData());
	Q_EMIT statusChanged();
}

void AuthController::endIntegrationAttempt(quint64 attemptId)
{
	integrationLogins.finish(attemptId);
	stopListenerIfIdle();
}

void AuthController::failIntegrationAttempt(quint64 attemptId)
{
	endIntegrationAttempt(attemptId);
	Q_EMIT statusChanged();
}

QJsonObject AuthController::logoutIntegration(const QString &upid)
{
	// The user signed this account out: a login under way that turns out to
	// be this account does not link it again. Logins of the platform's other
	// accounts go on.
	const QString accountUpid = upid.trimmed();
	if (linkedAccounts.remove(accountUpid))
		integrationLogins.refuseAccount(accountUpid);
	saveAuthState();
	Q_EMIT statusChanged();
	return statusSnapshot();
}

bool AuthController::removeIntegration(const QString &upid, const QString &rejectedToken)
{
	// The rejection may be of an old session's token, come after the
	// account was linked again: that link is not undone.
	const QString accountUpid = upid.trimmed();
	if (!linkedAccounts.holds(accountUpid, rejectedToken))
		return false;
	// A login under way brings a new token, which is what the rejection calls
	// for: it goes on, whichever account it turns out to be.
	linkedAccounts.remove(accountUpid);
	saveAuthState();
	Q_EMIT statusChanged();
	return true;
}
