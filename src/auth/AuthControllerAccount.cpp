// The Vorn account: login with PKCE in the system browser, token exchange,
// refresh and logout.

#include "auth/AuthController.h"

#include "auth/JsonReply.h"
#include "auth/Pkce.h"
#include "obs/Log.h"

#include <cmath>
#include <limits>

#include <QDesktopServices>
#include <QEventLoop>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

#include <obs.h>

namespace {

const char *const kScope = "openid profile email offline";
const char *const kAccountStatePrefix = "vorn.";
const char *const kFormContentType = "application/x-www-form-urlencoded; charset=UTF-8";
constexpr int kDefaultExpirySeconds = 3600;

QByteArray formBody(const QList<std::pair<QString, QString>> &items)
{
	QByteArray body;
	for (const auto &[key, value] : items) {
		if (!body.isEmpty())
			body += '&';
		body += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
	}
	return body;
}

// Whole numbers within the 32-bit signed range; 0 for anything else.
int wholeSeconds(const QJsonValue &value)
{
	if (!value.isDouble())
		return 0;
	const double number = value.toDouble();
	if (std::trunc(number) != number || number < std::numeric_limits<int>::min() ||
	    number > std::numeric_limits<int>::max())
		return 0;
	return int(number);
}

} // namespace

QString AuthController::callbackUrl() const
{
	return QStringLiteral("http://localhost:%1/callback").arg(callbackServer.serverPort());
}

QString AuthController::buildAuthorizeUrl()
{
	pendingAccountState = makeState(QString::fromLatin1(kAccountStatePrefix));
	pendingCodeVerifier = makeCodeVerifier();
	pendingRedirectUri = options.endpoints.accountRedirectUrl;
	pendingAccountAttempt = nextAccountAttempt++;

	QUrlQuery query;
	const QList<std::pair<QString, QString>> items = {
		{QStringLiteral("redirect"), QStringLiteral("vorn")},
		{QStringLiteral("response_type"), QStringLiteral("code")},
		{QStringLiteral("force_verify"), QStringLiteral("true")},
		{QStringLiteral("client_id"), QString::fromLatin1(accountClientId)},
		{QStringLiteral("redirect_uri"), pendingRedirectUri},
		{QStringLiteral("scope"), QString::fromLatin1(kScope)},
		{QStringLiteral("state"), pendingAccountState},
		{QStringLiteral("code_challenge"), makeCodeChallenge(pendingCodeVerifier)},
		{QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
		{QStringLiteral("start_page"), QStringLiteral("registration")},
	};
	for (const auto &[key, value] : items)
		query.addQueryItem(key, QString::fromUtf8(QUrl::toPercentEncoding(value)));
	QUrl url(options.endpoints.accountLoginUrl);
	url.setQuery(query);
	return url.toString();
}

QJsonObject AuthController::beginAccountLogin()
{
	resetAccountLogin();
	if (!ensureCallbackListener())
		return QJsonObject{{QStringLiteral("opened"), false},
				   {QStringLiteral("error"), QStringLiteral("Unable to start local login callback server.")}};

	const QString url = buildAuthorizeUrl();
	const QString callback = callbackUrl();
	const bool opened = QDesktopServices::openUrl(QUrl(url));
	QJsonObject result{{QStringLiteral("opened"), opened},
			   {QStringLiteral("url"), url},
			   {QStringLiteral("callbackUrl"), callback}};
	if (opened) {
		logInfo("Started Vorn account login.");
		callbackTimeout.start();
	} else {
		resetAccountLogin();
		stopListenerIfIdle();
		result.insert(QStringLiteral("error"), QStringLiteral("Unable to open system browser."));
	}
	return result;
}

QNetworkReply *AuthController::postForm(const QString &url, const QList<std::pair<QString, QString>> &items)
{
	QNetworkRequest request{QUrl(url)};
	request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(kFormContentType));
	return network.post(request, formBody(items));
}

void AuthController::exchangeAccountCode(const QString &code, const QString &state)
{
	if (state != pendingAccountState || pendingCodeVerifier.isEmpty())
		return;
	const quint64 attempt = pendingAccountAttempt;
	QNetworkReply *reply = postForm(options.endpoints.accountBaseUrl + QStringLiteral("/oauth2/token"),
					{{QStringLiteral("client_id"), QString::fromLatin1(accountClientId)},
					 {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
					 {QStringLiteral("redirect_uri"), pendingRedirectUri},
					 {QStringLiteral("code"), code},
					 {QStringLiteral("code_verifier"), pendingCodeVerifier}});
	connect(reply, &QNetworkReply::finished, this, [this, reply, attempt] {
		QString error;
		const QJsonObject response = readJsonReply(reply, error);
		reply->deleteLater();
		// Only the login that is still current may change the tokens.
		if (pendingAccountAttempt == 0 || pendingAccountAttempt != attempt)
			return;
		if (!error.isEmpty()) {
			resetAccountLogin();
			stopListenerIfIdle();
			logWarning("Vorn account token exchange failed: %s",
			     redactTokens(error).toUtf8().constData());
			Q_EMIT statusChanged();
			return;
		}
		applyTokenResponse(response);
		resetAccountLogin();
		stopListenerIfIdle();
	});
}

void AuthController::applyTokenResponse(const QJsonObject &response)
{
	if (response.value(QStringLiteral("token_type")).toString().toLower() != QStringLiteral("bearer")) {
		logWarning("Vorn account exchange failed: unsupported token type.");
		return;
	}
	idToken = response.value(QStringLiteral("id_token")).toString();
	accessToken = response.value(QStringLiteral("access_token")).toString();
	const QJsonValue refresh = response.value(QStringLiteral("refresh_token"));
	if (refresh.isString())
		refreshToken = refresh.toString();
	int expiresIn = wholeSeconds(response.value(QStringLiteral("expires_in")));
	if (expiresIn <= 0)
		expiresIn = kDefaultExpirySeconds;
	expiresAt = QDateTime::currentDateTimeUtc().addSecs(expiresIn);
	applyIdTokenClaims();
	saveAuthState();
	logInfo("Authenticated Vorn account for %s",
	     email.isEmpty() ? "<unknown>" : email.toUtf8().constData());
	Q_EMIT statusChanged();
}

QJsonObject AuthController::refreshAccount()
{
	if (refreshToken.isEmpty())
		return errorObject(QStringLiteral("No refresh token is available."), "NO_REFRESH_TOKEN");

	QNetworkReply *reply = postForm(options.endpoints.accountBaseUrl + QStringLiteral("/oauth2/token"),
					{{QStringLiteral("client_id"), QString::fromLatin1(accountClientId)},
					 {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
					 {QStringLiteral("refresh_token"), refreshToken}});
	const bool timedOut = waitForReply(reply);
	QString error;
	const QJsonObject response = timedOut ? QJsonObject() : readJsonReply(reply, error);
	// Deleting an unfinished reply cancels its request.
	reply->deleteLater();
	if (timedOut)
		return errorObject(QStringLiteral("Timed out refreshing the Vorn account."), "ACCOUNT_REFRESH_TIMEOUT");
	if (!error.isEmpty())
		return errorObject(error, "ACCOUNT_REFRESH_FAILED");
	applyTokenResponse(response);
	return accountStatus();
}

bool AuthController::waitForReply(QNetworkReply *reply)
{
	QEventLoop loop;
	QTimer timer;
	timer.setSingleShot(true);
	bool timedOut = false;
	connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
	connect(&timer, &QTimer::timeout, &loop, [&] {
		timedOut = true;
		loop.quit();
	});
	timer.start(options.requestTimeoutMs);
	loop.exec();
	timer.stop();
	return timedOut;
}

QJsonObject AuthController::logoutAccount()
{
	resetAccountLogin();
	idToken.clear();
	accessToken.clear();
	refreshToken.clear();
	subject.clear();
	email.clear();
	displayName.clear();
	expiresAt = QDateTime();
	saveAuthState();
	stopListenerIfIdle();
	Q_EMIT statusChanged();

	QUrl url(options.endpoints.accountBaseUrl + QStringLiteral("/logout"));
	QUrlQuery query;
	query.addQueryItem(QStringLiteral("redirect"),
			   QString::fromUtf8(QUrl::toPercentEncoding(options.endpoints.accountPostLogoutUrl)));
	url.setQuery(query);
	return QJsonObject{{QStringLiteral("logoutUrl"), url.toString()}};
}
