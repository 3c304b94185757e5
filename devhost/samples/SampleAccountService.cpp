#include "SampleAccountService.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>

namespace {

QString randomText(int bytes)
{
	QByteArray raw(bytes, Qt::Uninitialized);
	for (char &c : raw)
		c = char(QRandomGenerator::global()->bounded(256));
	return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray base64Url(const QByteArray &bytes)
{
	return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// Unsigned: the module reads the claims and never checks a signature.
QString idToken(const QString &subject)
{
	const QJsonObject claims{{"sub", subject},
				 {"email", "streamer@vorn.sample"},
				 {"name", "Sample Streamer"},
				 {"preferred_username", "sample_streamer"}};
	return QString::fromLatin1(base64Url(R"({"alg":"none","typ":"JWT"})") + '.' +
				   base64Url(QJsonDocument(claims).toJson(QJsonDocument::Compact)) + ".sample");
}

QUrlQuery formOf(const QByteArray &body)
{
	QByteArray text = body;
	text.replace('+', ' ');
	return QUrlQuery(QString::fromUtf8(text));
}

QString item(const QUrlQuery &query, const char *key)
{
	return query.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
}

} // namespace

SampleHttpService::Response SampleAccountService::serve(const Request &request)
{
	const QString path = request.path();
	if (path == QStringLiteral("/login/") || path == QStringLiteral("/login"))
		return authorizePage(request.query());
	if (path == QStringLiteral("/login/approve"))
		return approve(request.query());
	if (path == QStringLiteral("/oauth2/token") && request.method == "POST")
		return token(request);
	if (path == QStringLiteral("/logout"))
		return sendHtml(page(QStringLiteral("Signed out"),
				     QStringLiteral("<p>You are signed out of the sample Vorn account.</p>")));
	return sendHtml(page(QStringLiteral("Not found"), QStringLiteral("<p>No such page.</p>")), NotFound);
}

SampleHttpService::Response SampleAccountService::authorizePage(const QUrlQuery &query)
{
	const QString redirectUri = item(query, "redirect_uri");
	const QString state = item(query, "state");
	const QString challenge = item(query, "code_challenge");
	if (redirectUri.isEmpty() || state.isEmpty() || challenge.isEmpty() ||
	    item(query, "code_challenge_method") != "S256") {
		return sendHtml(
			page(QStringLiteral("Bad sign-in request"),
			     QStringLiteral("<p>redirect_uri, state and an S256 code_challenge are required.</p>")),
			BadRequest);
	}
	QUrlQuery approveQuery;
	approveQuery.addQueryItem(QStringLiteral("redirect_uri"),
				  QString::fromUtf8(QUrl::toPercentEncoding(redirectUri)));
	approveQuery.addQueryItem(QStringLiteral("state"), QString::fromUtf8(QUrl::toPercentEncoding(state)));
	approveQuery.addQueryItem(QStringLiteral("code_challenge"),
				  QString::fromUtf8(QUrl::toPercentEncoding(challenge)));
	QUrl denied(redirectUri);
	denied.setQuery(QStringLiteral("error=access_denied&error_description=Sign-in%20was%20cancelled.&state=") +
			QString::fromUtf8(QUrl::toPercentEncoding(state)));
	return sendHtml(page(
		QStringLiteral("Sign in to Vorn (sample)"),
		QStringLiteral("<p>Zorva for OBS asks to use your Vorn account <code>streamer@vorn.sample</code>.</p>"
			       "<a class=\"button\" id=\"approve\" href=\"/login/approve?%1\">Approve</a>"
			       "<a class=\"button secondary\" href=\"%2\">Cancel</a>")
			.arg(approveQuery.toString(QUrl::FullyEncoded).toHtmlEscaped(),
			     denied.toString(QUrl::FullyEncoded).toHtmlEscaped())));
}

SampleHttpService::Response SampleAccountService::approve(const QUrlQuery &query)
{
	const QString code = randomText(18);
	challenges.insert(code, item(query, "code_challenge"));
	QUrl target(item(query, "redirect_uri"));
	QUrlQuery result(target);
	result.addQueryItem(QStringLiteral("code"), code);
	result.addQueryItem(QStringLiteral("state"), QString::fromUtf8(QUrl::toPercentEncoding(item(query, "state"))));
	target.setQuery(result);
	return redirect(target.toString(QUrl::FullyEncoded));
}

SampleHttpService::Response SampleAccountService::token(const Request &request)
{
	const QUrlQuery form = formOf(request.body);
	const QString grant = item(form, "grant_type");
	if (grant == QStringLiteral("authorization_code")) {
		const QString code = item(form, "code");
		const QString challenge = challenges.take(code);
		const QByteArray computed = base64Url(
			QCryptographicHash::hash(item(form, "code_verifier").toLatin1(), QCryptographicHash::Sha256));
		if (challenge.isEmpty())
			return tokenError("invalid_grant", "Unknown or used authorization code.");
		if (QString::fromLatin1(computed) != challenge)
			return tokenError("invalid_grant", "PKCE verification failed.");
		return sendJson(tokenResponse(QStringLiteral("sample-user-1")));
	}
	if (grant == QStringLiteral("refresh_token")) {
		// Any refresh token this service issued, including those of earlier runs.
		if (!item(form, "refresh_token").startsWith(QStringLiteral("sample-refresh-")))
			return tokenError("invalid_grant", "Unknown refresh token.");
		return sendJson(tokenResponse(QStringLiteral("sample-user-1")));
	}
	return tokenError("unsupported_grant_type", "Only authorization_code and refresh_token are supported.");
}

QByteArray SampleAccountService::tokenResponse(const QString &subject)
{
	return QJsonDocument(QJsonObject{{"token_type", "Bearer"},
					 {"access_token", QStringLiteral("sample-access-") + randomText(18)},
					 {"refresh_token", QStringLiteral("sample-refresh-") + randomText(18)},
					 {"id_token", idToken(subject)},
					 {"expires_in", 3600}})
		.toJson(QJsonDocument::Compact);
}

SampleHttpService::Response SampleAccountService::tokenError(const char *error, const char *description)
{
	return sendJson(QJsonDocument(QJsonObject{{"error", error}, {"error_description", description}})
				.toJson(QJsonDocument::Compact),
			BadRequest);
}
