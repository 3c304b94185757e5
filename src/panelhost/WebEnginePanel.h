#pragma once

#include "docks/BrowserPanel.h"

#include <vector>

#include <QPointer>

class QWebEnginePage;
class QWebEngineView;

// A browser panel that renders its page with Qt WebEngine. Popups, when
// allowed, open as top-level windows that close with the panel: a few at a
// time, and only from the panel's own page, never from a popup. A closed
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

	// Popup windows of one panel open at once, at most.
	static constexpr size_t kMaxOpenPopups = 4;

	// The page for a window the panel's page wants to open; null while
	// popups are blocked or kMaxOpenPopups are open.
	QWebEnginePage *openPopup();

private:
	// A page of the shared profile; `opener` is the panel that takes the
	// windows it opens (null: it opens none).
	QWebEnginePage *makePage(QObject *parent, WebEnginePanel *opener);

	QWebEngineView *view;
	QWebEnginePage *page;
	std::vector<QPointer<QWebEngineView>> popups;
	bool popupsAllowed = false;
	bool closed = false;
};
