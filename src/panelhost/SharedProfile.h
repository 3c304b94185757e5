#pragma once

#include <QString>

class QWebEngineProfile;

// The one WebEngine profile behind every panel and popup of the module.
//
// WebEngine must never see a profile deleted while one of its pages lives, and
// pages may outlive both the QCef that made them and the module's unload (a
// host deletes its docks after obs_shutdown). So the profile counts the pages
// that use it and is deleted only once the module is unloading and the last
// page is gone; a host that never unloads leaves it to WebEngine's own exit.
namespace SharedProfile {

// Where cookies, local storage and the cache are kept; empty keeps everything
// in memory. Takes effect when the profile is made, at its first use.
void setStoragePath(const QString &path);
QString storagePath();

// Makes the profile if there is none yet.
QWebEngineProfile *profile();

// A page of the profile was made or has been destroyed.
void addPage();
void removePage();

// obs_module_load: the profile stays while the module is loaded.
void moduleLoaded();
// obs_module_unload: the profile goes now, or with its last page.
void moduleUnloading();

} // namespace SharedProfile
