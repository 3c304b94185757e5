#include "auth/CallbackPage.h"

#include <QUrl>

namespace {

const char kPageTemplate[] =
	"<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">"
	"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
	"<meta name=\"robots\" content=\"noindex\"><title>%1</title><style>"
	":root{color-scheme:dark}"
	"body{margin:0;min-height:100vh;background:#09090b;color:#fff;font-family:Inter,ui-sans-serif,system-ui,"
	"-apple-system,BlinkMacSystemFont,'Segoe UI',sans-serif}"
	".wrap{margin:0 auto;padding:32px 24px;max-width:36rem;min-height:100vh;display:flex;align-items:flex-start;"
	"justify-content:center;box-sizing:border-box}"
	".card{margin-top:30vh;text-align:center}"
	".icon{width:128px;height:128px;display:block;margin:0 auto;pointer-events:none}"
	"h1{margin:32px 0 16px;font-size:1.25rem;line-height:1.75rem;font-weight:600;color:#fff}"
	"p{margin:0;color:#d4d4d8;font-size:1rem;line-height:1.6}"
	"a{color:#0083cb}a:hover{color:#77b9ff}"
	"</style></head><body><div class=\"wrap\"><div class=\"card\">"
	"<img class=\"icon\" src=\"%4\" alt=\"Vorn Studio Icon\"><h1>%2</h1><p>%3</p>"
	"</div></div></body></html>";

// Replaces %1 to %4 in one pass: replacement texts are never scanned again.
QString fillPlaceholders(const QString &pattern, const QString (&values)[4])
{
	QString result;
	result.reserve(pattern.size() + 256);
	for (qsizetype i = 0; i < pattern.size(); ++i) {
		const QChar c = pattern[i];
		if (c == QLatin1Char('%') && i + 1 < pattern.size() && pattern[i + 1] >= QLatin1Char('1') &&
		    pattern[i + 1] <= QLatin1Char('4')) {
			result += values[pattern[i + 1].unicode() - '1'];
			++i;
		} else {
			result += c;
		}
	}
	return result;
}

} // namespace

CallbackRequest parseCallbackRequest(const QByteArray &bytes)
{
	CallbackRequest request;
	if (!bytes.contains("\r\n\r\n"))
		return request;

	const qsizetype lineEnd = bytes.indexOf('\n');
	const QByteArray firstLine = bytes.left(lineEnd).trimmed();
	const QList<QByteArray> parts = firstLine.split(' ');
	if (parts.size() < 2) {
		request.outcome = CallbackRequest::Outcome::Invalid;
		return request;
	}
	const QUrl url(QStringLiteral("http://localhost") + QString::fromLatin1(parts[1]));
	if (url.path(QUrl::FullyDecoded) != QStringLiteral("/callback")) {
		request.outcome = CallbackRequest::Outcome::UnknownPath;
		return request;
	}
	request.outcome = CallbackRequest::Outcome::Callback;
	request.query = QUrlQuery(url.query(QUrl::FullyEncoded));
	return request;
}

QString decodedQueryItem(const QUrlQuery &query, const char *name)
{
	return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
}

QByteArray callbackPageResponse(bool success, const QString &message, const QString &iconUrl)
{
	const QString title =
		success ? QStringLiteral("Sending you back to Vorn Studio's Zorva plugin to finalize your login")
			: QStringLiteral("Vorn Studio's Zorva plugin login failed");
	const QString heading = success ? QStringLiteral("Login info sent to the Vorn Studio's Zorva plugin.")
					: QStringLiteral("Something went wrong...");
	const QString paragraph =
		success ? QStringLiteral("Return to OBS to use Vorn Studio's Zorva plugin.") : message.toHtmlEscaped();
	const QString values[4] = {title, heading, paragraph, iconUrl.toHtmlEscaped()};
	const QByteArray body = fillPlaceholders(QString::fromUtf8(kPageTemplate), values).toUtf8();

	QByteArray response;
	response.reserve(body.size() + 160);
	response += "HTTP/1.1 200 OK\r\n"
		    "Content-Type: text/html; charset=utf-8\r\n"
		    "Cache-Control: no-store\r\n"
		    "Content-Length: ";
	response += QByteArray::number(body.size());
	response += "\r\nConnection: close\r\n\r\n";
	response += body;
	return response;
}
