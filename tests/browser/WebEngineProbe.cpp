#include "WebEngineProbe.h"

#include "BrowserTestHost.h"
#include "docks/BrowserPanel.h"

#include <memory>

#include <QApplication>
#include <QWebEnginePage>
#include <QWebEngineView>

QWebEngineView *panelView(const QCefWidget *panel)
{
	return panel ? panel->findChild<QWebEngineView *>() : nullptr;
}

QVariant readPage(const QCefWidget *panel, const QString &expression)
{
	QWebEngineView *view = panelView(panel);
	if (!view)
		return {};
	// Shared with the callback, which may still come after a timed-out wait.
	struct Answer {
		bool arrived = false;
		QVariant value;
	};
	auto answer = std::make_shared<Answer>();
	view->page()->runJavaScript(expression, [answer](const QVariant &value) {
		answer->value = value;
		answer->arrived = true;
	});
	if (!waitUntil([&] { return answer->arrived; }, kLoad))
		return {};
	return answer->value;
}

std::vector<QWebEngineView *> popupWindows()
{
	std::vector<QWebEngineView *> windows;
	for (QWidget *widget : QApplication::topLevelWidgets()) {
		auto *view = qobject_cast<QWebEngineView *>(widget);
		if (view && view->isVisible())
			windows.push_back(view);
	}
	return windows;
}
