#pragma once

#include <QString>

// Files that hold live tokens are readable and writable by their owner only.

// Creates the file empty and owner-only, or empties an existing one and makes
// it owner-only, so that what is written into it later keeps that mode.
void prepareOwnerOnlyFile(const QString &path);

// Makes an existing file owner-only; a missing one is left missing.
void restrictToOwner(const QString &path);
