#pragma once

#include <QObject>
#include <QUrl>

struct QCef;

// The development host's "system browser": URLs the module opens (sign-in
// pages, the login result) show in a window of the plugin's own browser
// panels, so the whole login works inside the host, with or without a desktop.
class BrowserWindows : public QObject {
	Q_OBJECT

public:
	explicit BrowserWindows(QObject *parent = nullptr);
	~BrowserWindows() override;

public Q_SLOTS:
	void openUrl(const QUrl &url);

private:
	QCef *panels();

	QCef *cef = nullptr;
};
