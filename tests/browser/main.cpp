#include "BrowserTestHost.h"

#include <memory>

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	// Listing the tests needs no display; running them does (libobs and
	// WebEngine need an X server: run under xvfb-run).
	std::unique_ptr<QApplication> app;
	if (!GTEST_FLAG_GET(list_tests)) {
#ifndef ZORVA_TEST_WITHOUT_SHARED_GL
		// WebEngine loaded from a plugin renders with the application's
		// shared OpenGL context, which only exists when asked for up front.
		QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
		app = std::make_unique<QApplication>(argc, argv);
	}
	const int result = RUN_ALL_TESTS();
	app.reset();
	removeScratchFolders();
	return result;
}
