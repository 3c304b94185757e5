#pragma once

// A stand-in OBS process for one test: real libobs, the plugin's own panel
// host loaded as the module loads it, a shown host window for its panels,
// and test pages written to a temporary folder. Reaches the panels only
// through the panel interface, so that a host without WebEngine of its own
// can use it too.

#include "EventLoopWait.h"
#include "FakeHttpServer.h"

#include <chrono>
#include <memory>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

class QCefWidget;
class QWidget;
struct QCef;

// Folders WebEngine may still write into until the application is gone:
// main removes them then.
void removeScratchFolders();

// Everything a panel reported, connected by signature text as the module does.
class PanelRecorder : public QObject {
	Q_OBJECT

public:
	explicit PanelRecorder(QCefWidget *panel);

	bool connected = false;
	QStringList titles;
	QStringList urls;

public Q_SLOTS:
	void recordTitle(const QString &title) { titles << title; }
	void recordUrl(const QString &url) { urls << url; }
};

// The first WebEngine start of a process takes long on a small machine.
constexpr std::chrono::milliseconds kFirstLoad = std::chrono::seconds(30);
constexpr std::chrono::milliseconds kLoad = std::chrono::seconds(20);

class BrowserHostTest : public ::testing::Test {
protected:
	struct Panel {
		QCefWidget *widget = nullptr;
		std::unique_ptr<PanelRecorder> recorder;

		bool waitForTitle(const QString &title, std::chrono::milliseconds timeout = kLoad) const;
		bool waitForUrl(const QString &url, std::chrono::milliseconds timeout = kLoad) const;
	};

	void SetUp() override;
	void TearDown() override;

	// A panel made by the module's QCef inside the host window, loading url;
	// null when the module made none.
	Panel *createPanel(const QString &url);
	void destroyPanels();

	// Writes a page into the page folder and serves it on loopback, as the
	// docks' pages are served; its http address.
	QString writePage(const QString &name, const QString &html);
	// A page whose head script runs before anything else of it.
	QString writeScriptPage(const QString &name, const QString &headScript);
	// A written page's file:// address.
	QString localFileUrl(const QString &name) const;

	QTemporaryDir scratch;
	FakeHttpServer pageServer;
	QString moduleConfigDir;
	QString profileDir; // where the panels' pages keep their storage
	QCef *cef = nullptr;
	QPointer<QWidget> hostWindow;
	std::vector<std::unique_ptr<Panel>> panels;

private:
	bool loaded = false;
};
