#include "auth/AccountOAuthClient.h"

#include "auth/JsonReply.h"
#include "auth/Pkce.h"
#include "obs/Log.h"
#include "values/ErrorCodes.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QUrlQuery>

namespace {

const char *const kScope = "openid profile email offline";
const char *const kAccountStatePrefix = "vorn.";
const char *const kFormContentType = "application/x-www-form-urlencoded; charset=UTF-8";

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

} // namespace

AccountOAuthClient::AccountOAuthClient(QNetworkAccessManager &manager, const ServiceEndpoints &serviceEndpoints,
				       std::chrono::milliseconds timeout)
	: network(manager), endpoints(serviceEndpoints), requestTimeout(timeout)
{
}

QString AccountOAuthClient::startLogin()
{
	login = AccountLoginAttempt();
	login.state = makeState(QString::fromLatin1(kAccountStatePrefix));
	login.codeVerifier = makeCodeVerifier();
	login.redirectUri = endpoints.accountRedirectUrl;
	login.id = nextLoginId++;

	QUrlQuery query;
	const QList<std::pair<QString, QString>> items = {
		{QStringLiteral("redirect"), QStringLiteral("vorn")},
		{QStringLiteral("response_type"), QStringLiteral("code")},
		{QStringLiteral("force_verify"), QStringLiteral("true")},
		{QStringLiteral("client_id"), QString::fromLatin1(clientId)},
		{QStringLiteral("redirect_uri"), login.redirectUri},
		{QStringLiteral("scope"), QString::fromLatin1(kScope)},
		{QStringLiteral("state"), login.state},
		{QStringLiteral("code_challenge"), makeCodeChallenge(login.codeVerifier)},
		{QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
		{QStringLiteral("start_page"), QStringLiteral("registration")},
	};
	for (const auto &[key, value] : items)
		query.addQueryItem(key, QString::fromUtf8(QUrl::toPercentEncoding(value)));
	QUrl url(endpoints.accountLoginUrl);
	url.setQuery(query);
	return url.toString();
}

QNetworkReply *AccountOAuthClient::postForm(const QList<std::pair<QString, QString>> &items)
{
	QNetworkRequest request{QUrl(endpoints.accountBaseUrl + QStringLiteral("/oauth2/token"))};
	request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(kFormContentType));
	return network.post(request, formBody(items));
}

bool AccountOAuthClient::exchangeCode(const QString &code, const QString &state, QObject *context, ExchangeDone done)
{
	if (state != login.state || login.codeVerifier.isEmpty() || login.exchanging)
		return false;
	login.exchanging = true;
	const quint64 loginId = login.id;
	QNetworkReply *reply = postForm({{QStringLiteral("client_id"), QString::fromLatin1(clientId)},
					 {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
					 {QStringLiteral("redirect_uri"), login.redirectUri},
					 {QStringLiteral("code"), code},
					 {QStringLiteral("code_verifier"), login.codeVerifier}});
	QObject::connect(reply, &QNetworkReply::finished, context, [this, reply, loginId, done = std::move(done)] {
		QString error;
		const QJsonObject response = readJsonReply(reply, error);
		reply->deleteLater();
		// Only the login that is still current may change the tokens.
		if (login.id == 0 || login.id != loginId)
			return;
		done(response, error);
	});
	return true;
}

Result<QJsonObject> AccountOAuthClient::refresh(const QString &refreshToken)
{
	QNetworkReply *reply = postForm({{QStringLiteral("client_id"), QString::fromLatin1(clientId)},
					 {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
					 {QStringLiteral("refresh_token"), refreshToken}});
	const ReplyWait wait = waitForReply(reply, requestTimeout);
	QString error;
	const QJsonObject response = wait == ReplyWait::Finished ? readJsonReply(reply, error) : QJsonObject();
	// Deleting an unfinished reply cancels its request.
	reply->deleteLater();
	if (wait == ReplyWait::Interrupted) {
		logInfo("Vorn account refresh abandoned: OBS is quitting.");
		return Failure{QStringLiteral("OBS is shutting down; the refresh was abandoned."),
			       ErrorCodes::hostShuttingDown};
	}
	if (wait == ReplyWait::TimedOut)
		return Failure{QStringLiteral("Timed out refreshing the Vorn account."),
			       ErrorCodes::accountRefreshTimeout};
	if (!error.isEmpty())
		return Failure{error, ErrorCodes::accountRefreshFailed};
	return response;
}

QString AccountOAuthClient::logoutUrl() const
{
	QUrl url(endpoints.accountBaseUrl + QStringLiteral("/logout"));
	QUrlQuery query;
	query.addQueryItem(QStringLiteral("redirect"),
			   QString::fromUtf8(QUrl::toPercentEncoding(endpoints.accountPostLogoutUrl)));
	url.setQuery(query);
	return url.toString();
}
