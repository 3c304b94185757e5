#pragma once

// A controller wired to fake services on loopback, and a raw HTTP client for
// the login callback listener.

#include "EventLoopWait.h"
#include "FakeHttpServer.h"
#include "IdTokens.h"
#include "LogCapture.h"
#include "LoginCallbackClient.h"
#include "ResultChecks.h"
#include "UrlCapture.h"
#include "auth/AuthController.h"

#include <chrono>
#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <util/base.h>

QJsonObject parseObject(const QByteArray &json);

// Runs the application's own event loop, as OBS runs it, until a quit
// (QCoreApplication::exit, which ends every nested loop too) ends it. Should
// nothing quit, the guard does, so that a fault fails the test, not hangs it.
void runApplicationLoopUntilQuit(std::chrono::milliseconds guard = std::chrono::seconds(10));

class AuthControllerTest : public ::testing::Test {
protected:
	void SetUp() override;
	void TearDown() override;

	AuthController &controller();
	void createController();
	void writeStateFile(const QJsonObject &content, const QString &suffix = QString());
	QJsonObject readStateFile(const QString &suffix = QString()) const;
	QJsonObject tokenResponse(const QString &accessToken, const QString &email = QStringLiteral("ann@vorn.test"));
	// Runs an account login up to the browser; returns the authorize URL's query.
	QUrlQuery beginLogin();

	FakeHttpServer account;
	FakeHttpServer vek;
	QTemporaryDir folder;
	AuthController::Options options;
	std::unique_ptr<UrlCapture> browser;
	std::unique_ptr<AuthController> instance;
	int statusChanges = 0;
	int redirectsConsumed = 0;
};
