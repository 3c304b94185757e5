#include "UrlCapture.h"

#include <QDesktopServices>

UrlCapture::UrlCapture(bool failing, QObject *parent) : QObject(parent)
{
	const char *method = failing ? "noSuchMethod" : "openUrl";
	QDesktopServices::setUrlHandler(QStringLiteral("http"), this, method);
	QDesktopServices::setUrlHandler(QStringLiteral("https"), this, method);
}

UrlCapture::~UrlCapture()
{
	QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
	QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void UrlCapture::openUrl(const QUrl &url)
{
	urls.append(url);
}
