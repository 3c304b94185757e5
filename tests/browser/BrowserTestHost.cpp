#include "BrowserTestHost.h"

#include "LogCapture.h"
#include "StandinHost.h"
#include "docks/BrowserPanel.h"

#include <QDir>
#include <QFile>
#include <QVBoxLayout>

#include <obs-module.h>
#include <util/platform.h>

namespace {

StandinHost host;
// Chromium writes the profile's network state when the profile is closed, on
// threads that are joined only when the application goes away.
QStringList scratchFolders;

QCef *makeCef()
{
	obs_module_t *browser = obs_get_module("obs-browser");
	void *library = browser ? obs_get_module_lib(browser) : nullptr;
	auto factory = library ? reinterpret_cast<QCefFactory>(os_dlsym(library, "obs_browser_create_qcef")) : nullptr;
	return factory ? factory() : nullptr;
}

} // namespace

void removeScratchFolders()
{
	for (const QString &folder : scratchFolders)
		QDir(folder).removeRecursively();
	scratchFolders.clear();
}

PanelRecorder::PanelRecorder(QCefWidget *panel)
{
	connected = connect(panel, SIGNAL(titleChanged(QString)), this, SLOT(recordTitle(QString))) &&
		    connect(panel, SIGNAL(urlChanged(QString)), this, SLOT(recordUrl(QString)));
}

bool BrowserHostTest::Panel::waitForTitle(const QString &title, std::chrono::milliseconds timeout) const
{
	return waitUntil([&] { return recorder->titles.contains(title); }, timeout);
}

bool BrowserHostTest::Panel::waitForUrl(const QString &url, std::chrono::milliseconds timeout) const
{
	return waitUntil([&] { return recorder->urls.contains(url); }, timeout);
}

void BrowserHostTest::SetUp()
{
	ASSERT_TRUE(scratch.isValid());
	scratch.setAutoRemove(false);
	scratchFolders << scratch.path();
	QDir().mkpath(scratch.filePath(QStringLiteral("pages")));
	moduleConfigDir = scratch.filePath(QStringLiteral("plugin_config"));
	QDir().mkpath(moduleConfigDir);
	LogCapture::instance().install();
	ASSERT_TRUE(host.startup(moduleConfigDir));
	loaded = true;
	const QString dataDir = scratch.filePath(QStringLiteral("obs-browser-data"));
	QDir().mkpath(dataDir);
	ASSERT_TRUE(host.loadModule(QStringLiteral(ZORVA_WEBENGINE_BROWSER_FILE), dataDir));
	cef = makeCef();
	ASSERT_NE(cef, nullptr);

	hostWindow = new QWidget();
	new QVBoxLayout(hostWindow);
	hostWindow->resize(800, 600);
	hostWindow->show();
}

void BrowserHostTest::TearDown()
{
	destroyPanels();
	delete hostWindow.data();
	delete cef;
	cef = nullptr;
	if (loaded)
		host.shutdown();
	loaded = false;
}

BrowserHostTest::Panel *BrowserHostTest::createPanel(const QString &url)
{
	auto panel = std::make_unique<Panel>();
	panel->widget = cef->create_widget(hostWindow, url.toStdString(), nullptr);
	if (!panel->widget)
		return nullptr;
	hostWindow->layout()->addWidget(panel->widget);
	panel->recorder = std::make_unique<PanelRecorder>(panel->widget);
	EXPECT_TRUE(panel->recorder->connected);
	panels.push_back(std::move(panel));
	return panels.back().get();
}

void BrowserHostTest::destroyPanels()
{
	for (const auto &panel : panels)
		delete panel->widget;
	panels.clear();
	// WebEngine finishes tearing pages down in queued work.
	pumpEvents(std::chrono::milliseconds(100));
}

QString BrowserHostTest::writePage(const QString &name, const QString &html) const
{
	const QString path = scratch.filePath(QStringLiteral("pages/") + name);
	QFile file(path);
	if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
		ADD_FAILURE() << "cannot write " << path.toStdString();
	file.write(html.toUtf8());
	return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

QString BrowserHostTest::writeScriptPage(const QString &name, const QString &headScript) const
{
	return writePage(name, QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><script>%1</script>"
					      "</head><body><p>%2</p></body></html>")
				       .arg(headScript, name));
}
