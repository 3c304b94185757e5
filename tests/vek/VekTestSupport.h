#pragma once

#include "EventLoopWait.h"
#include "FakeHttpServer.h"
#include "FakeVekRealtime.h"
#include "LogCapture.h"
#include "integration/VekService.h"

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <util/base.h>

using namespace std::chrono_literals;

// A service description pointing at the fakes, with a short retry delay.
inline VekService testService(quint16 realtimePort, const QString &restBase, int retryDelayMs = 300)
{
	ServiceEndpoints endpoints;
	endpoints.vekApiBaseUrl = QStringLiteral("https://127.0.0.1:%1/v2/vek").arg(realtimePort);
	endpoints.webAppBaseUrl = QStringLiteral("https://zorva.vorn.test/");
	VekService service = VekService::fromEndpoints(endpoints);
	service.restBaseUrl = restBase + QStringLiteral("/v2/vek");
	service.retryDelay = std::chrono::milliseconds(retryDelayMs);
	return service;
}

inline void quietLogs()
{
	LogCapture::instance().install();
	LogCapture::instance().setEcho(false);
}
