#include "BrowserWindows.h"

#include "docks/BrowserPanel.h"
#include "docks/PanelHostEntryPoints.h"

#include <QDesktopServices>

#include <util/base.h>

BrowserWindows::BrowserWindows(QObject *parent) : QObject(parent)
{
	QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
	QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
}

BrowserWindows::~BrowserWindows()
{
	QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
	QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
	delete cef;
}

QCef *BrowserWindows::panels()
{
	if (cef)
		return cef;
#ifdef ZORVA_HAVE_PANEL_HOST
	// The same panel host as the module's docks, with a profile kept in
	// memory, as a browser of its own would keep a profile apart.
	cef = vorn_zorva_panel_host_create(nullptr);
#endif
	return cef;
}

void BrowserWindows::openUrl(const QUrl &url)
{
	const std::string text = url.toString(QUrl::FullyEncoded).toStdString();
	// Without the query: sign-in addresses carry states and codes.
	const std::string page = url.toString(QUrl::RemoveQuery | QUrl::RemoveFragment).toStdString();
	QCef *host = panels();
	QCefWidget *window = host ? host->create_widget(nullptr, text, nullptr) : nullptr;
	if (!window) {
		blog(LOG_WARNING, "[devhost] no browser panel for %s", page.c_str());
		return;
	}
	window->setAttribute(Qt::WA_DeleteOnClose);
	window->setWindowTitle(QStringLiteral("Browser (development host)"));
	window->resize(720, 640);
	window->show();
	blog(LOG_INFO, "[devhost] opened %s", page.c_str());
}
