// Pages in the docks open links and sign-in windows as popups: allowed, each
// becomes a window of its own; blocked, nothing opens.

#include "BrowserTestHost.h"
#include "WebEngineProbe.h"
#include "docks/BrowserPanel.h"

#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

const QString kOpenWindow =
	QStringLiteral("document.title = 'opened:' + (window.open('popup.html?via=open') !== null);");

bool showsPage(QWebEngineView *window, const QString &address, const QString &title)
{
	return window->url().toString(QUrl::FullyEncoded) == address && window->title() == title;
}

} // namespace

class PopupTest : public BrowserHostTest {
protected:
	void SetUp() override
	{
		BrowserHostTest::SetUp();
		popup = writeScriptPage(QStringLiteral("popup.html"), QStringLiteral("document.title = 'popup page';"));
		// The link fills the top left corner, where clickLink clicks; it
		// reports clicks that come from the user's pointer.
		opener = writePage(
			QStringLiteral("opener.html"),
			QStringLiteral(
				"<!doctype html><html><head><title>opener</title></head><body>"
				"<a id=\"link\" href=\"popup.html?via=link\" target=\"_blank\""
				" style=\"position:absolute;left:0;top:0;width:300px;height:200px;display:block\""
				" onclick=\"if (event.isTrusted) document.title = 'clicked ' + (++window.clicks);\">"
				"link</a><script>window.clicks = 0;</script></body></html>"));
	}

	Panel *openerPanel()
	{
		Panel *panel = createPanel(opener);
		if (panel && !panel->waitForTitle(QStringLiteral("opener"), kFirstLoad))
			ADD_FAILURE() << "opener page did not load";
		return panel;
	}

	// Clicks the link with the mouse, as a person does: Chromium lets such
	// clicks open windows even where scripts may not. Clicks until the page
	// has seen one, since the first may come before the page can be hit.
	bool clickLink(const Panel &panel)
	{
		const QString clicked = QStringLiteral("clicked 1");
		for (int attempt = 0; attempt < 20 && !panel.recorder->titles.contains(clicked); ++attempt) {
			QWebEngineView *view = panelView(panel.widget);
			if (QWidget *target = view ? view->focusProxy() : nullptr)
				QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
			panel.waitForTitle(clicked, std::chrono::seconds(2));
		}
		return panel.recorder->titles.contains(clicked);
	}

	QString popup;
	QString opener;
};

TEST_F(PopupTest, AllowedPopupsOpenTheirOwnWindows)
{
	Panel *panel = openerPanel();
	ASSERT_NE(panel, nullptr);
	panel->widget->allowAllPopups(true);

	panel->widget->executeJavaScript(kOpenWindow.toStdString());
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("opened:true")));
	ASSERT_TRUE(waitUntil([&] { return popupWindows().size() == 1; }, kLoad));
	QWebEngineView *byScript = popupWindows().front();
	EXPECT_TRUE(waitUntil([&] { return showsPage(byScript, popup + QStringLiteral("?via=open"), "popup page"); }))
		<< byScript->url().toString().toStdString();
	// The window takes the page's title when the page reports it.
	EXPECT_TRUE(waitUntil([&] { return byScript->windowTitle() == QStringLiteral("popup page"); }))
		<< byScript->windowTitle().toStdString();

	ASSERT_TRUE(clickLink(*panel));
	QWebEngineView *byLink = nullptr;
	EXPECT_TRUE(waitUntil(
		[&] {
			for (QWebEngineView *window : popupWindows()) {
				if (showsPage(window, popup + QStringLiteral("?via=link"), "popup page"))
					byLink = window;
			}
			return byLink != nullptr;
		},
		kLoad));
	ASSERT_NE(byLink, nullptr);
	const size_t open = popupWindows().size();
	// The panel itself stays where it was.
	EXPECT_EQ(panel->recorder->urls.last(), opener);

	// A popup that closes itself goes away; the rest close with their panel.
	byLink->page()->runJavaScript(QStringLiteral("window.close();"));
	EXPECT_TRUE(waitUntil([&] { return popupWindows().size() == open - 1; }, kLoad));
	destroyPanels();
	EXPECT_TRUE(popupWindows().empty());
}

TEST_F(PopupTest, BlockedPopupsOpenNothing)
{
	Panel *panel = openerPanel();
	ASSERT_NE(panel, nullptr);
	panel->widget->allowAllPopups(true);
	panel->widget->allowAllPopups(false);

	panel->widget->executeJavaScript(kOpenWindow.toStdString());
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("opened:false")));
	// Neither a script's link click nor the user's.
	panel->widget->executeJavaScript("document.getElementById('link').click();");
	ASSERT_TRUE(clickLink(*panel));
	pumpEvents(std::chrono::milliseconds(1500));
	EXPECT_TRUE(popupWindows().empty());
	EXPECT_EQ(panel->recorder->urls.last(), opener);
	EXPECT_FALSE(panel->recorder->titles.contains(QStringLiteral("popup page")));
}

TEST_F(PopupTest, OnlyThePanelsPageOpensWindowsAndAFewAtATime)
{
	writeScriptPage(QStringLiteral("chain.html"),
			QStringLiteral("document.title = 'chained:' + (window.open('popup.html') !== null);"));
	Panel *panel = openerPanel();
	ASSERT_NE(panel, nullptr);
	panel->widget->allowAllPopups(true);

	// The page asks for six at once; the windows past the fourth are
	// refused as Chromium hands them over, after window.open has returned.
	panel->widget->executeJavaScript("for (let i = 0; i < 6; ++i) window.open('chain.html?' + i);"
					 " document.title = 'asked';");
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("asked")));
	ASSERT_TRUE(waitUntil([&] { return popupWindows().size() == 4; }, kLoad));
	// A popup's page opens none of its own.
	for (QWebEngineView *window : popupWindows())
		EXPECT_TRUE(waitUntil([&] { return window->title() == QStringLiteral("chained:false"); }, kLoad))
			<< window->title().toStdString();
	EXPECT_EQ(popupWindows().size(), 4u);
}
