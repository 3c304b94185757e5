#include <memory>

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	// Listing the tests needs no display; running them does (libobs and the
	// docks need an X server: run under xvfb-run).
	std::unique_ptr<QApplication> app;
	if (!GTEST_FLAG_GET(list_tests))
		app = std::make_unique<QApplication>(argc, argv);
	return RUN_ALL_TESTS();
}
