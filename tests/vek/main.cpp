#include "TlsTcpServer.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	QCoreApplication app(argc, argv);
	// The fake Vek's certificate is signed by the throwaway test CA; the code
	// under test keeps using the platform default configuration.
	ThrowawayTls::trustAuthority();
	return RUN_ALL_TESTS();
}
