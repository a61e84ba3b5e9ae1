#include "privatefiles.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFiles {
namespace {

const QFileDevice::Permissions ownerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
    | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

} // namespace

bool makeFolder(const QString& path, bool tighten)
{
    const QFileInfo folder(path);
    if (!folder.exists()) {
        if (!QDir().mkpath(folder.absolutePath()))
            return false;
        // Made with its final permissions, so it is never open to others in between.
        if (::mkdir(QFile::encodeName(folder.absoluteFilePath()).constData(), 0700) != 0 && !folder.exists())
            return false;
        tighten = true;
    }
    return !tighten
        || QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool makeFile(const QString& path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor >= 0)
        ::close(descriptor);
    return QFileInfo::exists(path) && (isPrivate(path) || QFile::setPermissions(path, ownerReadWrite));
}

bool isPrivate(const QString& path)
{
    const QFileDevice::Permissions permissions = QFile::permissions(path);
    return QFileInfo::exists(path) && !(permissions & others);
}

} // namespace PrivateFiles
