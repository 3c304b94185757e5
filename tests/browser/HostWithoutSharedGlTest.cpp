// A host that made its application without a shared OpenGL context and does
// not link WebEngine itself, as OBS. WebEngine crashes on its first page
// there unless the panel host makes the context. And the module file is safe
// to open where it is never loaded (some libobs builds open every module file
// in a forked copy of the host): WebEngine comes in only with the panel host.

#include "BrowserTestHost.h"
#include "LogCapture.h"
#include "docks/BrowserPanel.h"

#include <dlfcn.h>

#include <QOpenGLContext>

namespace {

bool webEngineInProcess()
{
	void *core = dlopen("libQt6WebEngineCore.so.6", RTLD_NOW | RTLD_NOLOAD);
	if (core)
		dlclose(core);
	return core != nullptr;
}

} // namespace

TEST(ModuleFile, OpensWithoutWebEngine)
{
	ASSERT_FALSE(webEngineInProcess());
	void *module = dlopen(ZORVA_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
	ASSERT_NE(module, nullptr) << dlerror();
	EXPECT_NE(dlsym(module, "obs_module_load"), nullptr);
	EXPECT_FALSE(webEngineInProcess());
	dlclose(module);
}

class HostWithoutSharedGlTest : public BrowserHostTest {
protected:
	void SetUp() override
	{
		ASSERT_EQ(QOpenGLContext::globalShareContext(), nullptr) << "the host already has a shared context";
		BrowserHostTest::SetUp();
	}
};

TEST_F(HostWithoutSharedGlTest, GetsOneFromThePanelHost)
{
	EXPECT_TRUE(webEngineInProcess());
	EXPECT_NE(QOpenGLContext::globalShareContext(), nullptr);
	EXPECT_EQ(LogCapture::instance().count(
			  "[vorn-zorva] The host has no shared OpenGL context; made one for the browser panels."),
		  1u);

	const QString page = writeScriptPage(QStringLiteral("page.html"), QStringLiteral("document.title = 'shown';"));
	Panel *panel = createPanel(page);
	ASSERT_NE(panel, nullptr);
	EXPECT_TRUE(panel->waitForTitle(QStringLiteral("shown"), kFirstLoad));
}
