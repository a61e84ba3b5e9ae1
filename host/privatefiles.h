#pragma once

#include "hostglobal.h"

#include <QtCore/QString>

// Files and folders that only the user who runs the host may read: its log and its settings keep the
// access token.
namespace PrivateFiles {

// Creates the folder and any missing parents; the folder itself, when made here or when tighten is
// set, is the owner's alone (0700). False when it cannot be made.
HOST_EXPORT bool makeFolder(const QString& path, bool tighten = false);
// Creates the file when missing, readable and writable by its owner only (0600), and takes every
// other permission from an existing one. False when neither works.
HOST_EXPORT bool makeFile(const QString& path);
// Whether the file is readable by nobody but its owner.
HOST_EXPORT bool isPrivate(const QString& path);

} // namespace PrivateFiles
