#include <memory>

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	// As OBS, no shared OpenGL context is asked for: the obs-browser panels
	// draw in software.
	std::unique_ptr<QApplication> app;
	if (!GTEST_FLAG_GET(list_tests))
		app = std::make_unique<QApplication>(argc, argv);
	return RUN_ALL_TESTS();
}
