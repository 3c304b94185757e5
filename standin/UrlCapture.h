#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Captures the URLs the module asks the desktop to open in the system
// browser, for "http" and "https". In failing mode the handler names a method
// that does not exist, so opening fails as it does without a browser.
class UrlCapture : public QObject {
	Q_OBJECT

public:
	explicit UrlCapture(bool failing = false, QObject *parent = nullptr);
	~UrlCapture() override;

	const QList<QUrl> &openedUrls() const { return urls; }

public Q_SLOTS:
	void openUrl(const QUrl &url);

private:
	QList<QUrl> urls;
};
