#pragma once

// Looks at the module's panels from the WebEngine side, past the panel
// interface: what a page holds, and which windows it opened.

#include <vector>

#include <QString>
#include <QVariant>

class QCefWidget;
class QWebEngineView;

QWebEngineView *panelView(const QCefWidget *panel);

// Evaluates an expression in the panel's page; an invalid QVariant when no
// answer came.
QVariant readPage(const QCefWidget *panel, const QString &expression);

// Visible top-level web views: the windows that popups opened.
std::vector<QWebEngineView *> popupWindows();
