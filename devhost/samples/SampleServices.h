#pragma once

#include <QString>

#include <memory>

class SampleAccountService;
class SampleVekService;
class SampleWebApp;

// The three sample services the development flavour of the module points
// at, on fixed loopback ports: the web application and dock pages, the Vorn
// account service and Vek.
class SampleServices {
public:
	static constexpr quint16 webAppPort = ZORVA_DEV_WEB_PORT;
	static constexpr quint16 accountPort = ZORVA_DEV_ACCOUNT_PORT;
	static constexpr quint16 vekPort = ZORVA_DEV_VEK_PORT;

	// Pages live in this folder.
	explicit SampleServices(const QString &pagesDir);
	~SampleServices();

	// Starts all three; false when one cannot listen.
	bool start();

	// A linked sample platform account in the module's auth file, unless the
	// file exists already, so the chat shows live events on a first run.
	static void seedLinkedAccount(const QString &authFile);

private:
	std::unique_ptr<SampleWebApp> webApp;
	std::unique_ptr<SampleAccountService> account;
	std::unique_ptr<SampleVekService> vek;
};
