#include "SampleServices.h"

#include "SampleAccountService.h"
#include "SampleVekService.h"
#include "SampleWebApp.h"

#include "auth/AuthStateFile.h"

#include <QFileInfo>

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
	// Written as the module writes it, readable by its owner only.
	const IntegrationRecord account{QStringLiteral("TWITCH"), QStringLiteral("vek-sample.TWITCH.twitch-demo"),
					QStringLiteral("twitch-demo"), QStringLiteral("twitch_streamer")};
	AuthStateFile(authFile).save(AccountTokens(), {{account.upid, account}});
}
