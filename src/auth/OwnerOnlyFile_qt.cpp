#include "auth/OwnerOnlyFile.h"

#include <QFile>

// Where there is no POSIX mode, Qt maps the owner-only permissions to what the
// platform has. The file is created first and restricted after.
void prepareOwnerOnlyFile(const QString &path)
{
	QFile file(path);
	if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
		file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
		file.close();
	}
}

void restrictToOwner(const QString &path)
{
	if (QFile::exists(path))
		QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
