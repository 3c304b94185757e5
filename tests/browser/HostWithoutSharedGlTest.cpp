// A host that made its application without a shared OpenGL context and does
// not link WebEngine itself (which would make the context when loaded before
// the application): WebEngine crashes on its first page there, unless the
// module makes the context when it loads.

#include "BrowserTestHost.h"
#include "LogCapture.h"
#include "docks/BrowserPanel.h"

#include <QOpenGLContext>

class HostWithoutSharedGlTest : public BrowserHostTest {
protected:
	void SetUp() override
	{
		ASSERT_EQ(QOpenGLContext::globalShareContext(), nullptr) << "the host already has a shared context";
		BrowserHostTest::SetUp();
	}
};

TEST_F(HostWithoutSharedGlTest, GetsOneFromTheModule)
{
	EXPECT_NE(QOpenGLContext::globalShareContext(), nullptr);
	EXPECT_EQ(LogCapture::instance().count("did not set Qt::AA_ShareOpenGLContexts"), 1u);

	const QString page = writeScriptPage(QStringLiteral("page.html"), QStringLiteral("document.title = 'shown';"));
	Panel *panel = createPanel(page);
	ASSERT_NE(panel, nullptr);
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("shown"), kFirstLoad));
}
