// What the host does to a panel besides navigating: zooming and closing.

#include "BrowserTestHost.h"
#include "WebEngineProbe.h"
#include "docks/BrowserPanel.h"

#include <cmath>

namespace {

// Zoom scales the page's CSS pixels: it shows in window.devicePixelRatio.
double pixelRatio(const QVariant &value)
{
	return value.isValid() ? value.toDouble() : -1;
}

} // namespace

class PanelControlTest : public BrowserHostTest {
protected:
	// Waits until the page's pixel ratio is `factor` times the unzoomed one.
	bool waitForZoom(const Panel &panel, double factor)
	{
		return waitUntil(
			[&] {
				last = pixelRatio(readPage(panel.widget, QStringLiteral("window.devicePixelRatio")));
				return std::abs(last - unzoomed * factor) < 0.02;
			},
			kLoad);
	}

	double unzoomed = 0;
	double last = 0;
};

TEST_F(PanelControlTest, ZoomStepsInOutAndBack)
{
	const QString page = writeScriptPage(QStringLiteral("page.html"), QStringLiteral("document.title = 'loaded';"));
	Panel *panel = createPanel(page);
	ASSERT_NE(panel, nullptr);
	ASSERT_TRUE(panel->waitForTitle(QStringLiteral("loaded"), kFirstLoad));
	unzoomed = pixelRatio(readPage(panel->widget, QStringLiteral("window.devicePixelRatio")));
	ASSERT_GT(unzoomed, 0);

	ASSERT_TRUE(panel->widget->zoomPage(1));
	ASSERT_TRUE(waitForZoom(*panel, 1.1)) << last;
	ASSERT_TRUE(panel->widget->zoomPage(1));
	ASSERT_TRUE(waitForZoom(*panel, 1.25)) << last;
	ASSERT_TRUE(panel->widget->zoomPage(0));
	ASSERT_TRUE(waitForZoom(*panel, 1.0)) << last;
	ASSERT_TRUE(panel->widget->zoomPage(-1));
	ASSERT_TRUE(waitForZoom(*panel, 0.9)) << last;
	ASSERT_TRUE(panel->widget->zoomPage(-1));
	ASSERT_TRUE(waitForZoom(*panel, 0.8)) << last;

	// Zoom stays with the panel across loads.
	panel->widget->reloadPage();
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("loaded")));
	EXPECT_TRUE(waitForZoom(*panel, 0.8)) << last;
}

TEST_F(PanelControlTest, ClosingStopsThePage)
{
	const QString ticker = writeScriptPage(
		QStringLiteral("ticker.html"),
		QStringLiteral(
			"var ticks = 0; setInterval(function () { document.title = 'tick:' + (++ticks); }, 50);"));
	Panel *panel = createPanel(ticker);
	ASSERT_NE(panel, nullptr);
	panel->widget->setStartupScript("window.started = true;");
	ASSERT_TRUE(panel->waitForTitle(QStringLiteral("tick:3"), kFirstLoad));

	panel->widget->closeBrowser();
	ASSERT_TRUE(panel->waitForUrl(QStringLiteral("about:blank")));
	const qsizetype closedAt = panel->recorder->titles.size();

	// Nothing the host does afterwards reaches a page.
	panel->widget->executeJavaScript("document.title = 'after close';");
	panel->widget->setURL(ticker.toStdString());
	panel->widget->reloadPage();
	pumpEvents(std::chrono::milliseconds(1500));

	const QStringList later = panel->recorder->titles.mid(closedAt);
	for (const QString &title : later) {
		EXPECT_FALSE(title.startsWith(QStringLiteral("tick:"))) << title.toStdString();
		EXPECT_NE(title, QStringLiteral("after close"));
	}
	EXPECT_EQ(panel->recorder->urls.last(), QStringLiteral("about:blank"));
	EXPECT_FALSE(readPage(panel->widget, QStringLiteral("window.started === true")).toBool());
}
