#pragma once

#include <QString>

// One platform account linked through Vek.
struct IntegrationRecord {
	QString platform; // upper-case platform name as given at login
	QString token;    // Vek access token of the account
	QString upid;     // Vek's identifier of the account (the map key)
	QString username; // account name on the platform
};
