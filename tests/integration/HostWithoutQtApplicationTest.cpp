// A libobs host with no Qt 6 application: an OBS built with Qt 5, whose
// objects the module cannot touch, or a host without the OBS front end. The
// module must refuse to load with one line saying why, and leave the host
// running: no object made, no front-end call, nothing done at post-load or
// unload, which libobs calls after a failed load too.

#include "FrontendStandin.h"
#include "LogCapture.h"
#include "StandinHost.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <obs.h>

#include <gtest/gtest.h>

TEST(HostWithoutQtApplication, TheModuleRefusesToLoadWithOneLine)
{
	ASSERT_NE(QCoreApplication::instance(), nullptr);
	QTemporaryDir scratch;
	ASSERT_TRUE(scratch.isValid());
	LogCapture::instance().install();
	StandinHost host;
	ASSERT_TRUE(host.startup(scratch.filePath(QStringLiteral("plugin_config"))));

	EXPECT_FALSE(host.loadModule(QStringLiteral(ZORVA_MODULE_FILE), QStringLiteral(ZORVA_DATA_DIR)));
	host.postLoad();
	FrontendStandin::instance().fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	host.shutdown();

	const std::vector<LogCapture::Line> ours = LogCapture::instance().matching("[vorn-zorva] ");
	ASSERT_EQ(ours.size(), 1u);
	EXPECT_EQ(ours[0].level, LOG_ERROR);
	EXPECT_EQ(ours[0].text, "[vorn-zorva] Not loading: the module needs OBS Studio 30 or later with its Qt 6 user "
				"interface, and this process has no Qt 6 application (an OBS built with Qt 5, or a "
				"host without the OBS front end).");
	EXPECT_EQ(FrontendStandin::instance().addEventCallbackCalls, 0);
	EXPECT_TRUE(FrontendStandin::instance().addedDocks.empty());
}

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	QCoreApplication app(argc, argv);
	return RUN_ALL_TESTS();
}
