// Where a panel's page is, as the module learns it from urlChanged: the full
// address, because sign-in redirects carry their answer in query and fragment.

#include "BrowserTestHost.h"
#include "docks/BrowserPanel.h"

using NavigationTest = BrowserHostTest;

TEST_F(NavigationTest, ReportsFullAddressesWithQueryAndFragment)
{
	const QString first =
		writeScriptPage(QStringLiteral("first.html"), QStringLiteral("document.title = 'first page';"));
	const QString second =
		writeScriptPage(QStringLiteral("second.html"), QStringLiteral("document.title = 'second page';"));
	const QString firstAddress = first + QStringLiteral("?code=abc%2Fdef&state=x%20y#frag-1");
	const QString secondAddress = second + QStringLiteral("?step=2&next=%3Fq#part");

	Panel *panel = createPanel(firstAddress);
	ASSERT_NE(panel, nullptr);
	ASSERT_TRUE(panel->waitForUrl(firstAddress, kFirstLoad)) << panel->recorder->urls.join(' ').toStdString();
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("first page")));

	panel->widget->setURL(secondAddress.toStdString());
	ASSERT_TRUE(panel->waitForUrl(secondAddress)) << panel->recorder->urls.join(' ').toStdString();
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("second page")));
	EXPECT_EQ(panel->recorder->urls.last(), secondAddress);
}

TEST_F(NavigationTest, ReportsChangesMadeWithinTheDocument)
{
	const QString page = writeScriptPage(QStringLiteral("page.html"), QStringLiteral("document.title = 'loaded';"));
	Panel *panel = createPanel(page);
	ASSERT_NE(panel, nullptr);
	ASSERT_TRUE(panel->waitForTitle(QStringLiteral("loaded"), kFirstLoad));

	panel->widget->executeJavaScript("location.hash = 'x';");
	EXPECT_TRUE(panel->waitForUrl(page + QStringLiteral("#x"))) << panel->recorder->urls.join(' ').toStdString();

	panel->widget->executeJavaScript("history.pushState(null, '', '?pushed=1&token=a%2Bb#y');");
	EXPECT_TRUE(panel->waitForUrl(page + QStringLiteral("?pushed=1&token=a%2Bb#y")))
		<< panel->recorder->urls.join(' ').toStdString();

	// Same-document changes must not have reloaded the page.
	EXPECT_EQ(panel->recorder->titles.count(QStringLiteral("loaded")), 1);
}
