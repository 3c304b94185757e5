#include "ObsWebSocketSettings.h"

#include "host/ObsWebSocketConfig.h"
#include "host/ObsWebSocketNames.h"
#include "obs/ObsString.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <nlohmann/json.hpp>
#include <util/base.h>
#include <util/platform.h>

namespace {

constexpr char kPasswordAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kPasswordLength = 16;

QString randomPassword()
{
	QString password;
	const int alphabetSize = int(sizeof(kPasswordAlphabet) - 1);
	for (int i = 0; i < kPasswordLength; ++i)
		password.append(QLatin1Char(kPasswordAlphabet[QRandomGenerator::system()->bounded(alphabetSize)]));
	return password;
}

} // namespace

QString ObsWebSocketSettings::path()
{
	return takeObsString(os_get_config_path_ptr(ObsWebSocketNames::configRelativePath));
}

ObsWebSocketSettings ObsWebSocketSettings::read(const QString &path)
{
	// The module's own reading of the file: the stand-in serves what the
	// module expects to find, and a mistyped key keeps its default in both.
	QFile file(path);
	const ObsWebSocketConfig read =
		parseObsWebSocketConfig(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
	ObsWebSocketSettings settings;
	// A port the module reads as none is not served.
	settings.enabled = read.enabled && read.port != 0;
	settings.port = read.port;
	settings.authRequired = read.authRequired;
	settings.password = read.password;
	return settings;
}

bool ObsWebSocketSettings::ensureDefaults(const QString &path)
{
	if (path.isEmpty())
		return false;
	if (QFileInfo::exists(path))
		return true;
	if (!QDir().mkpath(QFileInfo(path).absolutePath()))
		return false;
	const nlohmann::json defaults = {{"server_enabled", true},
					 {"server_port", 4455},
					 {"auth_required", true},
					 {"server_password", randomPassword().toStdString()}};
	QSaveFile file(path);
	if (!file.open(QIODevice::WriteOnly))
		return false;
	file.write(QByteArray::fromStdString(defaults.dump(4)));
	if (!file.commit())
		return false;
	blog(LOG_INFO, "[obs-websocket stand-in] wrote a default config to %s", path.toUtf8().constData());
	return true;
}
