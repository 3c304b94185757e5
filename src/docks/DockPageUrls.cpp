#include "docks/DockPageUrls.h"

#include "BuildConfig.h"
#include "values/Json.h"

#include <QUrl>
#include <QUrlQuery>

#include <obs.h>

namespace {

const char kStartupScriptTemplate[] = "\n"
				      "(() => {\n"
				      "  const config = %1;\n"
				      "  function setVornAccessToken(token) {\n"
				      "    const value = typeof token === \"string\" ? token : \"\";\n"
				      "    window.__vornAccessToken = value;\n"
				      "    window._vornAccessToken = value;\n"
				      "    window.dispatchEvent(new CustomEvent(\"vornAccessTokenChanged\"));\n"
				      "  }\n"
				      "\n"
				      "  setVornAccessToken(config.accessToken || \"\");\n"
				      "})();\n";

const char kTokenUpdateScriptTemplate[] =
	"\n"
	"(() => {\n"
	"  const payload = %1;\n"
	"  const value = typeof payload.accessToken === \"string\" ? payload.accessToken : \"\";\n"
	"  window.__vornAccessToken = value;\n"
	"  window._vornAccessToken = value;\n"
	"  window.dispatchEvent(new CustomEvent(\"vornAccessTokenChanged\"));\n"
	"})();\n";

// Query values are handed over percent-encoded, so that "+", "&" and "="
// inside them survive any reader.
QString encodedValue(const QString &value)
{
	return QString::fromUtf8(QUrl::toPercentEncoding(value));
}

void replaceQueryItem(QUrlQuery &query, const QString &key, const QString &value)
{
	query.removeAllQueryItems(key);
	query.addQueryItem(key, encodedValue(value));
}

QString tokenScript(const char *scriptTemplate, const QString &token)
{
	const json config = {{"accessToken", token.toStdString()}};
	return QString::fromUtf8(scriptTemplate).arg(QString::fromStdString(compactJson(config)));
}

} // namespace

QString shimUrl(const QString &base, const QString &target)
{
	QUrl url(base);
	url.setPath(QStringLiteral("/shim.html"));
	QUrlQuery query;
	query.addQueryItem(QStringLiteral("url"), encodedValue(target));
	url.setQuery(query);
	return url.toString(QUrl::FullyEncoded);
}

QString defaultPageUrl(DockKind kind, const ServiceEndpoints &endpoints)
{
	switch (kind) {
	case DockKind::Main:
		return shimUrl(endpoints.webAppBaseUrl, endpoints.webAppBaseUrl);
	case DockKind::Accounts:
		return shimUrl(endpoints.webAppBaseUrl, endpoints.dockPagesBaseUrl + QStringLiteral("/accounts"));
	case DockKind::Chat:
		return endpoints.dockPagesBaseUrl + QStringLiteral("/chat");
	case DockKind::StreamManager:
		return endpoints.dockPagesBaseUrl + QStringLiteral("/stream-info");
	}
	return {};
}

QString hostDecoratedUrl(const QString &text, const ObsWebSocketBootstrap &b)
{
	QUrl url(text);
	if (!url.isValid() || url.path(QUrl::FullyDecoded) != QStringLiteral("/shim.html"))
		return text;

	json ow = {{"h", b.host.toStdString()},
		   {"p", b.port},
		   {"pw", b.password.toStdString()},
		   {"s", b.ssl},
		   {"v", b.version.toStdString()},
		   {"r", b.rpcVersion},
		   {"vn", b.vendorName.toStdString()},
		   {"vr", b.vendorRequestType.toStdString()},
		   {"ve", b.vendorEventType.toStdString()},
		   {"en", b.enabled}};
	if (!b.error.isEmpty())
		ow["e"] = b.error.toStdString();

	QUrlQuery query(url);
	replaceQueryItem(query, QStringLiteral("ov"), QString::fromUtf8(obs_get_version_string()));
	replaceQueryItem(query, QStringLiteral("pv"), QStringLiteral(ZORVA_VERSION));
	replaceQueryItem(query, QStringLiteral("ow"), QString::fromStdString(compactJson(ow)));
	url.setQuery(query);
	return url.toString(QUrl::FullyEncoded);
}

QString eventProxyDecoratedUrl(const QString &text, const QString &proxyUrl)
{
	const QString proxy = proxyUrl.trimmed();
	if (proxy.isEmpty())
		return text;
	static const QString marker = QStringLiteral("vornurl=");
	const qsizetype at = text.indexOf(marker);
	if (at < 0)
		return text + (text.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?")) + marker +
		       proxy;
	const qsizetype valueStart = at + marker.size();
	qsizetype valueEnd = text.indexOf(QLatin1Char('&'), valueStart);
	if (valueEnd < 0)
		valueEnd = text.size();
	QString result = text;
	result.replace(valueStart, valueEnd - valueStart, proxy);
	return result;
}

QString accessTokenStartupScript(const QString &token)
{
	return tokenScript(kStartupScriptTemplate, token);
}

QString accessTokenUpdateScript(const QString &token)
{
	return tokenScript(kTokenUpdateScriptTemplate, token);
}
