#include "TlsTcpServer.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	QCoreApplication app(argc, argv);
	// The fake Vek serves HTTPS with a certificate of the throwaway test CA.
	ThrowawayTls::trustAuthority();
	return RUN_ALL_TESTS();
}
