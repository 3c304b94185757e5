#include "SampleWebApp.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

// Paths the module and the pages use, and the file behind each.
const QHash<QString, QString> &routes()
{
	static const QHash<QString, QString> table{
		{QStringLiteral("/"), QStringLiteral("shim.html")},
		{QStringLiteral("/shim.html"), QStringLiteral("shim.html")},
		{QStringLiteral("/docks/accounts"), QStringLiteral("shim.html")},
		{QStringLiteral("/docks/chat"), QStringLiteral("chat.html")},
		{QStringLiteral("/docks/stream-info"), QStringLiteral("stream-info.html")},
		{QStringLiteral("/auth/redirect"), QStringLiteral("redirect.html")},
		{QStringLiteral("/auth/logged-out"), QStringLiteral("logged-out.html")},
		{QStringLiteral("/platform-sign-in"), QStringLiteral("platform-sign-in.html")},
	};
	return table;
}

QByteArray contentType(const QString &file)
{
	const QString suffix = QFileInfo(file).suffix();
	if (suffix == QStringLiteral("html"))
		return "text/html; charset=utf-8";
	if (suffix == QStringLiteral("js") || suffix == QStringLiteral("mjs"))
		return "text/javascript; charset=utf-8";
	if (suffix == QStringLiteral("css"))
		return "text/css; charset=utf-8";
	if (suffix == QStringLiteral("svg"))
		return "image/svg+xml";
	if (suffix == QStringLiteral("png"))
		return "image/png";
	return "application/octet-stream";
}

} // namespace

SampleWebApp::SampleWebApp(QString pagesFolder, QObject *parent)
	: SampleHttpService(parent), pagesDir(std::move(pagesFolder))
{
}

SampleHttpService::Response SampleWebApp::serve(const Request &request)
{
	const QString path = request.path();
	QString name = routes().value(path);
	// Other files by plain name only: no folders, no way out of the pages.
	if (name.isEmpty() && path.count(QLatin1Char('/')) == 1 && !path.contains(QStringLiteral("..")))
		name = path.mid(1);
	QFile file(pagesDir + QLatin1Char('/') + name);
	if (name.isEmpty() || !file.open(QIODevice::ReadOnly))
		return sendHtml(page(QStringLiteral("Not found"), QStringLiteral("<p>No such page.</p>")), NotFound);
	return send(file.readAll(), contentType(name));
}
