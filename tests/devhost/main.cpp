#include <memory>

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	// Qt WebEngine, loaded with the obs-browser module, shares OpenGL contexts.
	QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
	std::unique_ptr<QApplication> app;
	if (!GTEST_FLAG_GET(list_tests))
		app = std::make_unique<QApplication>(argc, argv);
	return RUN_ALL_TESTS();
}
