#include "auth/VekLoginClient.h"

#include "auth/JsonReply.h"
#include "integration/VekService.h"
#include "obs/Log.h"
#include "values/ErrorCodes.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace {

bool hasErrors(const QJsonObject &reply)
{
	const QJsonValue errors = reply.value(QStringLiteral("errors"));
	return errors.isArray() && !errors.toArray().isEmpty();
}

} // namespace

VekLoginClient::VekLoginClient(QNetworkAccessManager &manager, const ServiceEndpoints &serviceEndpoints,
			       std::chrono::milliseconds timeout)
	: network(manager), endpoints(serviceEndpoints), requestTimeout(timeout)
{
}

QNetworkReply *VekLoginClient::get(const QString &encodedPath, const QUrlQuery &query, const QByteArray &authorization)
{
	QUrl url(endpoints.vekApiBaseUrl + encodedPath);
	url.setQuery(query);
	QNetworkRequest request(url);
	request.setRawHeader("Client-ID", VekService::clientId);
	if (!authorization.isEmpty())
		request.setRawHeader("Authorization", authorization);
	return network.get(request);
}

Result<QByteArray> VekLoginClient::pathSegment(const QString &platform)
{
	// Percent-encoded, '/', '?', '#' and '%' stay inside the segment. Dots are
	// not encoded (Qt and servers alike decode "%2E"), so a segment of dots
	// only would step within the path: no platform has such a name.
	const QByteArray segment = QUrl::toPercentEncoding(platform);
	if (segment == "." || segment == "..")
		return Failure{QStringLiteral("Invalid platform."), ErrorCodes::invalidPlatform};
	return segment;
}

Result<VekLoginUrl> VekLoginClient::fetchLoginUrl(const QString &platform, const QString &requestState)
{
	const Result<QByteArray> segment = pathSegment(platform);
	if (!segment.ok())
		return segment.failure();
	QUrlQuery query;
	query.addQueryItem(QStringLiteral("state"), requestState);
	QNetworkReply *reply =
		get(QStringLiteral("/auth/%1/redirect").arg(QString::fromLatin1(segment.value())), query);
	const ReplyWait wait = waitForReply(reply, requestTimeout);
	QString error;
	const QJsonObject response = wait == ReplyWait::Finished ? readJsonReply(reply, error) : QJsonObject();
	reply->deleteLater();

	const QByteArray platformText = platform.toUtf8();
	// Nothing is opened in a browser while OBS shuts down.
	if (wait == ReplyWait::Interrupted) {
		logInfo("Vek login for %s abandoned: OBS is quitting.", platformText.constData());
		return Failure{QStringLiteral("OBS is shutting down; the integration login was abandoned."),
			       ErrorCodes::hostShuttingDown};
	}
	if (wait == ReplyWait::TimedOut) {
		logWarning("Timed out fetching %s login URL from Vek.", platformText.constData());
		return Failure{QStringLiteral("Timed out preparing the integration login."),
			       ErrorCodes::vekLoginUrlTimeout};
	}
	if (!error.isEmpty()) {
		logWarning("Failed to fetch %s login URL: %s", platformText.constData(),
			   redactTokens(error).toUtf8().constData());
		return Failure{error, ErrorCodes::vekLoginUrlFailed};
	}
	if (hasErrors(response)) {
		const QJsonValue first = response.value(QStringLiteral("errors")).toArray().first();
		const QString message = first.isString() ? first.toString() : QStringLiteral("Vek login failed.");
		logWarning("Vek returned %s login error: %s", platformText.constData(), message.toUtf8().constData());
		return Failure{message, ErrorCodes::vekLoginUrlFailed};
	}
	const QJsonObject data = response.value(QStringLiteral("data")).toObject();
	if (data.value(QStringLiteral("action")).toString() != QStringLiteral("OPEN_LINK"))
		return Failure{QStringLiteral("Vek returned an unsupported login action."),
			       ErrorCodes::unsupportedAction};
	VekLoginUrl result;
	result.url = QUrl(data.value(QStringLiteral("next")).toString());
	QUrlQuery nextQuery(result.url);
	result.loginState = nextQuery.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
	if (!result.url.isValid() || result.loginState.isEmpty())
		return Failure{QStringLiteral("Vek returned an invalid login URL."), ErrorCodes::invalidLoginUrl};

	nextQuery.removeAllQueryItems(QStringLiteral("redirect_uri"));
	nextQuery.addQueryItem(QStringLiteral("redirect_uri"),
			       QString::fromUtf8(QUrl::toPercentEncoding(endpoints.accountRedirectUrl)));
	result.url.setQuery(nextQuery);
	return result;
}

void VekLoginClient::whenAnswered(QNetworkReply *reply, QObject *context, AnswerDone done)
{
	QObject::connect(reply, &QNetworkReply::finished, context, [reply, done = std::move(done)] {
		VekAnswer answer;
		const QJsonObject response = readJsonReply(reply, answer.error);
		reply->deleteLater();
		if (!hasErrors(response))
			answer.data = response.value(QStringLiteral("data")).toObject();
		done(answer);
	});
}

void VekLoginClient::exchangeCode(const QString &code, const QString &loginState, QObject *context, AnswerDone done)
{
	QUrlQuery query;
	query.addQueryItem(QStringLiteral("code"), QString::fromUtf8(QUrl::toPercentEncoding(code)));
	query.addQueryItem(QStringLiteral("state"), QString::fromUtf8(QUrl::toPercentEncoding(loginState)));
	whenAnswered(get(QStringLiteral("/auth/exchange"), query), context, std::move(done));
}

void VekLoginClient::inspect(const QString &token, QObject *context, AnswerDone done)
{
	whenAnswered(get(QStringLiteral("/auth/inspect"), QUrlQuery(), QByteArrayLiteral("Vek ") + token.toUtf8()),
		     context, std::move(done));
}
