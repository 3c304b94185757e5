#include "SampleServices.h"

#include "SampleAccountService.h"
#include "SampleVekService.h"
#include "SampleWebApp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

SampleServices::SampleServices(const QString &pagesDir)
	: webApp(std::make_unique<SampleWebApp>(pagesDir)), account(std::make_unique<SampleAccountService>()),
	  vek(std::make_unique<SampleVekService>(
		  QStringLiteral("http://127.0.0.1:%1/platform-sign-in").arg(webAppPort)))
{
}

SampleServices::~SampleServices() = default;

bool SampleServices::start()
{
	return webApp->start(webAppPort, "sample web application") &&
	       account->start(accountPort, "sample Vorn account service") && vek->start(vekPort, "sample Vek (TLS)");
}

void SampleServices::seedLinkedAccount(const QString &authFile)
{
	if (QFileInfo::exists(authFile))
		return;
	QDir().mkpath(QFileInfo(authFile).absolutePath());
	QFile file(authFile);
	if (!file.open(QIODevice::WriteOnly))
		return;
	const QJsonObject account{{"platform", "TWITCH"},
				  {"token", "vek-sample.TWITCH.twitch-demo"},
				  {"upid", "twitch-demo"},
				  {"username", "twitch_streamer"}};
	file.write(QJsonDocument(QJsonObject{{"integrations", QJsonArray{account}}}).toJson());
	file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
