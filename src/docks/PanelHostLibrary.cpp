#include "docks/PanelHostLibrary.h"

#include <dlfcn.h>

#include <QFile>
#include <QFileInfo>

namespace {

constexpr char kFolder[] = "vorn-zorva";
constexpr char kFileName[] = "vorn-zorva-panels.so";

template<typename Function> Function resolve(void *library, const char *name)
{
	return reinterpret_cast<Function>(dlsym(library, name));
}

} // namespace

QString PanelHostLibrary::besideModule(const QString &moduleFile)
{
	if (moduleFile.isEmpty())
		return {};
	return QFileInfo(moduleFile).absolutePath() + QLatin1Char('/') + QLatin1String(kFolder) + QLatin1Char('/') +
	       QLatin1String(kFileName);
}

PanelHostLibrary::PanelHostLibrary(QString libraryFile) : file(std::move(libraryFile)) {}

QCef *PanelHostLibrary::create(const QString &profilePath)
{
	if (!load())
		return nullptr;
	QCef *host = createHost(profilePath.isEmpty() ? nullptr : profilePath.toUtf8().constData());
	if (!host)
		failure = QStringLiteral("%1 made no panel host").arg(file);
	return host;
}

void PanelHostLibrary::release()
{
	if (releaseHost)
		releaseHost();
}

bool PanelHostLibrary::load()
{
	if (createHost)
		return true;
	if (file.isEmpty()) {
		failure = QStringLiteral("no library file");
		return false;
	}
	void *library = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
	if (!library) {
		const char *reason = dlerror();
		failure = QString::fromLocal8Bit(reason ? reason : "dlopen failed");
		return false;
	}
	auto create = resolve<PanelHostCreate>(library, kPanelHostCreateName);
	auto release = resolve<PanelHostRelease>(library, kPanelHostReleaseName);
	if (!create || !release) {
		failure = QStringLiteral("%1 lacks the panel host's entry points").arg(file);
		return false;
	}
	createHost = create;
	releaseHost = release;
	return true;
}
