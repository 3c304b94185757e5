// The start-up script the module hands a panel (the page's access token) must
// be in place before any script of any page the panel loads.

#include "BrowserTestHost.h"
#include "docks/BrowserPanel.h"

namespace {

// Start-up scripts append their mark; pages put the marks they find into their title.
const QString kReportMarks = QStringLiteral("document.title = '%1:' + (window.marks || []).join(',');");

std::string markScript(const char *mark)
{
	return std::string("window.marks = (window.marks || []).concat('") + mark + "');";
}

} // namespace

class StartupScriptTest : public BrowserHostTest {
protected:
	QString pageReporting(const QString &name)
	{
		return writeScriptPage(name + QStringLiteral(".html"), kReportMarks.arg(name));
	}
};

TEST_F(StartupScriptTest, RunsBeforeThePageOnEveryLoad)
{
	const QString first = pageReporting(QStringLiteral("first"));
	const QString second = pageReporting(QStringLiteral("second"));

	// As the module does it: the script comes right after the panel is made.
	Panel *panel = createPanel(first);
	ASSERT_NE(panel, nullptr);
	panel->widget->setStartupScript(markScript("A"));
	ASSERT_TRUE(panel->waitForTitle(QStringLiteral("first:A"), kFirstLoad))
		<< panel->recorder->titles.join(' ').toStdString();

	panel->widget->setURL(second.toStdString());
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("second:A"))) << panel->recorder->titles.join(' ').toStdString();

	panel->widget->executeJavaScript("document.title = 'before reload';");
	ASSERT_TRUE(panel->waitForTitle(QStringLiteral("before reload")));
	const qsizetype before = panel->recorder->titles.size();
	panel->widget->reloadPage();
	EXPECT_TRUE(waitUntil([&] { return panel->recorder->titles.indexOf(QStringLiteral("second:A"), before) >= 0; },
			      kLoad))
		<< panel->recorder->titles.join(' ').toStdString();
}

TEST_F(StartupScriptTest, ReplacementTakesOverAtTheNextLoad)
{
	const QString page = pageReporting(QStringLiteral("page"));
	Panel *panel = createPanel(page);
	ASSERT_NE(panel, nullptr);
	panel->widget->setStartupScript(markScript("A"));
	ASSERT_TRUE(panel->waitForTitle(QStringLiteral("page:A"), kFirstLoad))
		<< panel->recorder->titles.join(' ').toStdString();

	panel->widget->setStartupScript(markScript("B"));
	// The document already loaded keeps what it ran.
	panel->widget->executeJavaScript("document.title = 'now:' + window.marks.join(',');");
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("now:A")));

	panel->widget->reloadPage();
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("page:B"))) << panel->recorder->titles.join(' ').toStdString();

	// An empty script removes it.
	panel->widget->setStartupScript("");
	panel->widget->reloadPage();
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("page:"))) << panel->recorder->titles.join(' ').toStdString();
}

TEST_F(StartupScriptTest, StaysOutOfFrames)
{
	writeScriptPage(QStringLiteral("frame.html"),
			QStringLiteral("parent.postMessage('frame:' + (window.marks || []).join(','), '*');"));
	const QString page =
		writePage(QStringLiteral("framed.html"),
			  QStringLiteral("<!doctype html><html><head><script>"
					 "window.addEventListener('message', function (event) {"
					 "  document.title = event.data + ' top:' + window.marks.join(','); });"
					 "</script></head><body><iframe src=\"frame.html\"></iframe></body></html>"));

	Panel *panel = createPanel(page);
	ASSERT_NE(panel, nullptr);
	panel->widget->setStartupScript(markScript("A"));
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("frame: top:A"), kFirstLoad))
		<< panel->recorder->titles.join(' ').toStdString();
}
