#pragma once

#include "docks/BrowserPanel.h"

#include <vector>

#include <QPointer>

class QWebEnginePage;
class QWebEngineView;

// A browser panel that renders its page with Qt WebEngine. Popups, when
// allowed, open as top-level windows that close with the panel. A closed
// panel shows about:blank and takes no more pages or scripts.
class WebEnginePanel : public QCefWidget {
public:
	explicit WebEnginePanel(QWidget *parent);
	~WebEnginePanel() override;

	void setURL(const std::string &url) override;
	void setStartupScript(const std::string &script) override;
	void allowAllPopups(bool allow) override;
	void closeBrowser() override;
	void reloadPage() override;
	bool zoomPage(int direction) override;
	void executeJavaScript(const std::string &script) override;

	// The page for a window the panel's pages want to open; null while
	// popups are blocked.
	QWebEnginePage *openPopup();

private:
	QWebEnginePage *makePage(QObject *parent);

	QWebEngineView *view;
	QWebEnginePage *page;
	std::vector<QPointer<QWebEngineView>> popups;
	bool popupsAllowed = false;
	bool closed = false;
};
