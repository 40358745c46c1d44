#include "platform/files/PrivateFolder.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFolder {

namespace {

constexpr mode_t privateMode = 0700;

// Missing folders only; an existing one is reported, not changed.
bool makeMissing(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    struct stat info;
    if (::stat(name.constData(), &info) == 0)
        return S_ISDIR(info.st_mode);
    if (errno != ENOENT)
        return false;
    const QString parent = QFileInfo(folder).path();
    if (parent != folder && !makeMissing(parent))
        return false;
    if (::mkdir(name.constData(), privateMode) != 0)
        return errno == EEXIST; // made by another process meanwhile
    // mkdir() applies the umask, which may take bits away but never adds any.
    return ::chmod(name.constData(), privateMode) == 0;
}

} // namespace

bool ensure(const QString& folder) {
    const QString clean = QFileInfo(folder).absoluteFilePath();
    if (!makeMissing(clean))
        return false;
    const QByteArray name = QFile::encodeName(clean);
    struct stat info;
    if (::stat(name.constData(), &info) != 0)
        return false;
    // Only a folder of ours is tightened: one owned by somebody else (a
    // shared mount) is used as it is.
    if ((info.st_mode & 0077) != 0 && info.st_uid == ::geteuid())
        ::chmod(name.constData(), info.st_mode & 07700);
    return true;
}

} // namespace PrivateFolder
