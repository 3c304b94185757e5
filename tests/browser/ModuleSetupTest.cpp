// What the module sets up around its panels: Chromium's start-up flags and
// the profile on disk.

#include "BrowserTestHost.h"
#include "docks/BrowserPanel.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>

#include <unistd.h>

using ModuleSetupTest = BrowserHostTest;

TEST_F(ModuleSetupTest, KeepsPageDataInItsConfigFolder)
{
	EXPECT_TRUE(cef->init_browser());
	EXPECT_TRUE(cef->initialized());
	EXPECT_TRUE(cef->wait_for_browser_init());

	const QString page =
		writeScriptPage(QStringLiteral("store.html"),
				QStringLiteral("localStorage.setItem('kept', 'yes'); document.title = 'stored';"));
	Panel *panel = createPanel(page);
	ASSERT_NE(panel, nullptr);
	ASSERT_TRUE(panel->waitForTitle(QStringLiteral("stored"), kFirstLoad));

	const QString storage = QDir(profileDir).filePath(QStringLiteral("Local Storage"));
	EXPECT_TRUE(waitUntil([&] { return QFileInfo(storage).isDir(); }, kLoad)) << storage.toStdString();
}

TEST_F(ModuleSetupTest, PagesReadNoLocalFiles)
{
	// Not even a page that was itself loaded from a file.
	writePage(QStringLiteral("secret.txt"), QStringLiteral("secret"));
	writeScriptPage(QStringLiteral("reader.html"),
			QStringLiteral("const request = new XMLHttpRequest();"
				       "request.onload = () => { document.title = 'read:' + request.responseText; };"
				       "request.onerror = () => { document.title = 'refused'; };"
				       "request.open('GET', 'secret.txt'); request.send();"));
	Panel *panel = createPanel(localFileUrl(QStringLiteral("reader.html")));
	ASSERT_NE(panel, nullptr);
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("refused"), kFirstLoad));
	EXPECT_FALSE(panel->recorder->titles.contains(QStringLiteral("read:secret")));
}

namespace {

qint64 parentOf(qint64 pid)
{
	QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
	if (!stat.open(QIODevice::ReadOnly))
		return 0;
	// "pid (name) state ppid ...": the name may hold spaces and parentheses.
	const QByteArray fields = stat.readAll();
	return fields.mid(fields.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

// Chromium's network service in a process that descends from this one.
bool networkServiceRunsApart()
{
	for (QDirIterator entries(QStringLiteral("/proc")); entries.hasNext();) {
		bool isPid = false;
		const qint64 pid = entries.next().section(QLatin1Char('/'), -1).toLongLong(&isPid);
		QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
		if (!isPid || !commandLine.open(QIODevice::ReadOnly) ||
		    !commandLine.readAll().contains("network.mojom.NetworkService"))
			continue;
		for (qint64 ancestor = parentOf(pid); ancestor > 1; ancestor = parentOf(ancestor)) {
			if (ancestor == getpid())
				return true;
		}
	}
	return false;
}

} // namespace

// Flags a host sets itself survive next to the ones the module adds, but
// for a debugger, which would hand the pages to any local process.
constexpr quint16 kDebuggingPort = 24497;

class ChromiumFlagsTest : public BrowserHostTest {
protected:
	void SetUp() override
	{
		qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
			"--disable-features=Translate --remote-debugging-port=24497 --no-sandbox");
		qputenv("QTWEBENGINE_REMOTE_DEBUGGING", "127.0.0.1:24497");
		qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
		BrowserHostTest::SetUp();
	}
};

TEST_F(ChromiumFlagsTest, AddsItsFlagsToTheHostsOwn)
{
	const QStringList flags = QString::fromUtf8(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")).split(QLatin1Char(' '));
	EXPECT_EQ(flags.value(0),
		  QStringLiteral("--disable-features=Translate,NetworkServiceInProcess,NetworkServiceInProcess2"));
	EXPECT_EQ(flags.count(QStringLiteral("--no-sandbox")), 1);
	for (const char *flag : {"--disable-gpu", "--disable-gpu-compositing", "--disable-background-networking",
				 "--disable-component-update", "--disable-sync", "--no-first-run"})
		EXPECT_EQ(flags.count(QString::fromLatin1(flag)), 1) << flag;
	EXPECT_EQ(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("1"));
	EXPECT_FALSE(flags.join(QLatin1Char(' ')).contains(QStringLiteral("remote-debugging")));
	EXPECT_FALSE(qEnvironmentVariableIsSet("QTWEBENGINE_REMOTE_DEBUGGING"));

	// And Chromium starts with them as root.
	const QString page = writeScriptPage(QStringLiteral("page.html"), QStringLiteral("document.title = 'up';"));
	Panel *panel = createPanel(page);
	ASSERT_NE(panel, nullptr);
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("up"), kFirstLoad));
	// A failed check in the network service ends that process, not the host.
	EXPECT_TRUE(networkServiceRunsApart());
	QTcpSocket debugger;
	debugger.connectToHost(QHostAddress::LocalHost, kDebuggingPort);
	EXPECT_FALSE(debugger.waitForConnected(5000)) << "a debugging port is open";
}
