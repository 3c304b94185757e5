#pragma once

#include "docks/PanelHostEntryPoints.h"

#include <QString>

struct QCef;

// The plugin's own browser panel host, a Qt WebEngine library that the module
// loads only when it needs it, from its own install folder: never a module
// file that OBS scans (WebEngine started inside libobs's forked module scan
// hangs OBS). Once loaded it stays: WebEngine's threads and exit handlers
// outlive any unload. UI thread only.
class PanelHostLibrary {
public:
	// Where the library lies beside the module file `moduleFile`, in either
	// install layout: a folder of the module's own name next to it.
	static QString besideModule(const QString &moduleFile);

	explicit PanelHostLibrary(QString file);

	// A new panel host whose pages keep their storage in profilePath; null,
	// with error() saying why, when the library cannot be loaded.
	QCef *create(const QString &profilePath);
	// Its panels are gone: the profile may go with the last page.
	void release();

	const QString &error() const { return failure; }

private:
	bool load();

	QString file;
	QString failure;
	PanelHostCreate createHost = nullptr;
	PanelHostRelease releaseHost = nullptr;
};
