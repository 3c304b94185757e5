#include "auth/OwnerOnlyFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Created with the owner-only mode from the start: there is no moment in which
// another user could open the file.
void prepareOwnerOnlyFile(const QString &path)
{
	const QByteArray native = QFile::encodeName(path);
	const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
	if (fd >= 0) {
		::fchmod(fd, S_IRUSR | S_IWUSR);
		::close(fd);
	}
}

void restrictToOwner(const QString &path)
{
	::chmod(QFile::encodeName(path).constData(), S_IRUSR | S_IWUSR);
}
