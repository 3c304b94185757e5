#include "panelhost/WebEnginePanel.h"

#include "obs/Log.h"
#include "panelhost/SharedProfile.h"

#include <algorithm>
#include <array>

#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

const QString kStartupScriptName = QStringLiteral("vorn-zorva-startup");
// A closed panel's blank page runs no start-up script. The script is excluded
// there rather than removed at closing: WebEngine 6.11 crashes when a page's
// scripts change while a frame of that page is still being made.
const QString kStartupScriptHeader = QStringLiteral("// ==UserScript==\n"
						    "// @exclude about:blank\n"
						    "// ==/UserScript==\n");

// The zoom steps a desktop browser offers, so a panel zooms the way people expect.
constexpr std::array<double, 17> kZoomLevels = {0.25, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
						1.25, 1.5,  1.75, 2.0,  2.5,  3.0, 4.0, 5.0};
constexpr double kZoomSlack = 0.001;

double nextZoom(double current, int direction)
{
	if (direction == 0)
		return 1.0;
	if (direction > 0) {
		for (double level : kZoomLevels) {
			if (level > current + kZoomSlack)
				return level;
		}
		return kZoomLevels.back();
	}
	for (auto level = kZoomLevels.rbegin(); level != kZoomLevels.rend(); ++level) {
		if (*level < current - kZoomSlack)
			return *level;
	}
	return kZoomLevels.front();
}

// Console lines of a page longer than this are cut in the log.
constexpr int kConsoleLineLength = 300;

// Hands the windows a page wants to open to the panel that opened it (none for
// a popup's own page), and the page's console to the debug log: a page's
// console is its own business, and no page may fill OBS's log.
class PanelPage : public QWebEnginePage {
public:
	PanelPage(QWebEngineProfile *profile, WebEnginePanel *opener, QObject *parent)
		: QWebEnginePage(profile, parent), panel(opener)
	{
	}

protected:
	QWebEnginePage *createWindow(WebWindowType) override { return panel ? panel->openPopup() : nullptr; }

	void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message, int line,
				      const QString &source) override
	{
		logDebug("Page console: %s (%s:%d)", message.left(kConsoleLineLength).toUtf8().constData(),
			 source.left(kConsoleLineLength).toUtf8().constData(), line);
	}

private:
	QPointer<WebEnginePanel> panel;
};

} // namespace

WebEnginePanel::WebEnginePanel(QWidget *parent) : QCefWidget(parent), view(new QWebEngineView(this))
{
	page = makePage(view, this);
	view->setPage(page);
	connect(page, &QWebEnginePage::urlChanged, this,
		[this](const QUrl &url) { Q_EMIT urlChanged(url.toString(QUrl::FullyEncoded)); });
	connect(page, &QWebEnginePage::titleChanged, this,
		[this](const QString &title) { Q_EMIT titleChanged(title); });
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->addWidget(view);
	allowAllPopups(false);
}

WebEnginePanel::~WebEnginePanel()
{
	for (const QPointer<QWebEngineView> &popup : popups)
		delete popup.data();
	// The page goes while the panel is still whole, and says nothing more.
	page->disconnect(this);
	delete view;
}

QWebEnginePage *WebEnginePanel::makePage(QObject *parent, WebEnginePanel *opener)
{
	auto *made = new PanelPage(SharedProfile::profile(), opener, parent);
	// The profile may go only after the page has let go of it, which is done
	// by the time QObject announces the destruction.
	SharedProfile::addPage();
	connect(made, &QObject::destroyed, [] { SharedProfile::removePage(); });
	return made;
}

void WebEnginePanel::setURL(const std::string &url)
{
	if (closed)
		return;
	page->load(QUrl(QString::fromStdString(url)));
}

void WebEnginePanel::setStartupScript(const std::string &script)
{
	if (closed)
		return;
	QWebEngineScriptCollection &scripts = page->scripts();
	for (const QWebEngineScript &previous : scripts.find(kStartupScriptName))
		scripts.remove(previous);
	if (script.empty())
		return;
	QWebEngineScript startup;
	startup.setName(kStartupScriptName);
	startup.setSourceCode(kStartupScriptHeader + QString::fromStdString(script));
	startup.setInjectionPoint(QWebEngineScript::DocumentCreation);
	startup.setWorldId(QWebEngineScript::MainWorld);
	startup.setRunsOnSubFrames(false);
	scripts.insert(startup);
}

void WebEnginePanel::allowAllPopups(bool allow)
{
	popupsAllowed = allow;
	// Without this Chromium's own blocker stops popups not opened by a click.
	page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, allow);
}

void WebEnginePanel::closeBrowser()
{
	if (closed)
		return;
	closed = true;
	page->triggerAction(QWebEnginePage::Stop);
	page->load(QUrl(QStringLiteral("about:blank")));
}

void WebEnginePanel::reloadPage()
{
	if (!closed)
		page->triggerAction(QWebEnginePage::Reload);
}

bool WebEnginePanel::zoomPage(int direction)
{
	page->setZoomFactor(nextZoom(page->zoomFactor(), direction));
	return true;
}

void WebEnginePanel::executeJavaScript(const std::string &script)
{
	if (!closed)
		page->runJavaScript(QString::fromStdString(script), QWebEngineScript::MainWorld);
}

QWebEnginePage *WebEnginePanel::openPopup()
{
	if (!popupsAllowed || closed)
		return nullptr;
	popups.erase(std::remove_if(popups.begin(), popups.end(),
				    [](const QPointer<QWebEngineView> &popup) { return popup.isNull(); }),
		     popups.end());
	if (popups.size() >= kMaxOpenPopups)
		return nullptr;
	auto *window = new QWebEngineView();
	window->setAttribute(Qt::WA_DeleteOnClose);
	QWebEnginePage *popupPage = makePage(window, nullptr);
	// Its own window.open fails at once, rather than seeming to succeed.
	popupPage->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
	window->setPage(popupPage);
	connect(popupPage, &QWebEnginePage::windowCloseRequested, window, &QWidget::close);
	connect(popupPage, &QWebEnginePage::titleChanged, window, &QWidget::setWindowTitle);
	window->resize(900, 700);
	window->show();
	popups.emplace_back(window);
	return popupPage;
}
