#pragma once

// A fresh OBS setup in temporary folders, removed afterwards: the user's
// configuration folder in one, and in a scratch folder, which a test may use
// for files of its own, the modules' configuration folder (plugin_config/)
// and obs-browser's data. Built on the development host's ObsSetup, with
// folders of its own.

#include "ObsSetup.h"

#include <QTemporaryDir>

struct TemporaryObsSetup {
	QTemporaryDir xdgConfigHome;
	QTemporaryDir scratch;
	ObsSetup obs{
		{xdgConfigHome.path(), defaultModuleConfigDir(), scratch.filePath(QStringLiteral("obs-browser-data"))}};

	bool valid() const { return xdgConfigHome.isValid() && scratch.isValid(); }
	QString defaultModuleConfigDir() const { return scratch.filePath(QStringLiteral("plugin_config")); }
};
