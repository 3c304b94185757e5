#include "BrowserTestHost.h"

#include "LogCapture.h"
#include "StandinHost.h"
#include "docks/BrowserPanel.h"
#include "docks/PanelHostLibrary.h"

#include <QDir>
#include <QFile>
#include <QVBoxLayout>

namespace {

StandinHost host;
// Chromium writes the profile's network state when the profile is closed, on
// threads that are joined only when the application goes away.
QStringList scratchFolders;

// The panel host as the module loads it, from beside the module file.
PanelHostLibrary panelHost(PanelHostLibrary::besideModule(QStringLiteral(ZORVA_MODULE_FILE)));

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
	ASSERT_TRUE(pageServer.listen());
	scratch.setAutoRemove(false);
	scratchFolders << scratch.path();
	QDir().mkpath(scratch.filePath(QStringLiteral("pages")));
	moduleConfigDir = scratch.filePath(QStringLiteral("plugin_config"));
	QDir().mkpath(moduleConfigDir);
	LogCapture::instance().install();
	ASSERT_TRUE(host.startup(moduleConfigDir));
	loaded = true;
	profileDir = QDir(moduleConfigDir).filePath(QStringLiteral("vorn-zorva/browser-profile"));
	cef = panelHost.create(profileDir);
	ASSERT_NE(cef, nullptr) << panelHost.error().toStdString();

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
	panelHost.release();
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

QString BrowserHostTest::writePage(const QString &name, const QString &html)
{
	const QString path = scratch.filePath(QStringLiteral("pages/") + name);
	QFile file(path);
	if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
		ADD_FAILURE() << "cannot write " << path.toStdString();
	file.write(html.toUtf8());
	FakeHttpServer::Response page;
	page.body = html.toUtf8();
	page.contentType = name.endsWith(QStringLiteral(".html")) ? "text/html; charset=utf-8" : "text/plain";
	pageServer.route("GET", QStringLiteral("/") + name, page);
	return pageServer.baseUrl() + QStringLiteral("/") + name;
}

QString BrowserHostTest::localFileUrl(const QString &name) const
{
	return QUrl::fromLocalFile(scratch.filePath(QStringLiteral("pages/") + name)).toString(QUrl::FullyEncoded);
}

QString BrowserHostTest::writeScriptPage(const QString &name, const QString &headScript)
{
	return writePage(name, QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><script>%1</script>"
					      "</head><body><p>%2</p></body></html>")
				       .arg(headScript, name));
}
