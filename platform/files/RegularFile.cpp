#include "platform/files/RegularFile.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {
namespace {

Status failed(int number, int* error) {
    if (error) *error = number;
    return Status::unreadable;
}

struct Closer {
    int fd = -1;
    ~Closer() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens the file for reading into closer->fd when it is a regular file of
// at most maximumSize bytes; *size gets its size then.
Status openChecked(const QString& path, qint64 maximumSize, Closer* closer, qint64* size,
                   int* error) {
    // Non-blocking, so that a FIFO put in the file's place fails the check
    // below instead of holding the open until a writer comes.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? Status::missing : failed(errno, error);
    closer->fd = fd;
    struct stat info;
    if (::fstat(fd, &info) != 0) return failed(errno, error);
    if (!S_ISREG(info.st_mode)) return Status::notAFile;
    if (info.st_size > maximumSize) return Status::tooLarge;
    *size = info.st_size;
    return Status::ok;
}

QString tr(const char* text) {
    return QCoreApplication::translate("RegularFile", text);
}

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return tr("a folder");
    if (S_ISFIFO(mode)) return tr("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return tr("a device");
    if (S_ISSOCK(mode)) return tr("a socket");
    return tr("something other than a file");
}

} // namespace

std::optional<QString> writeRefusal(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat link;
    if (::lstat(name.constData(), &link) != 0) {
        if (errno == ENOENT) return std::nullopt; // made anew by the write
        return tr("Quillet cannot write %1: %2.").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    const bool isLink = S_ISLNK(link.st_mode);
    const QString target = isLink ? QFile::symLinkTarget(path) : QString();
    struct stat info;
    if (::stat(name.constData(), &info) != 0) {
        const int number = errno;
        if (number == ENOENT)
            return tr("Quillet does not write %1: it is a symbolic link to %2, which does not exist.")
                .arg(path, target);
        return tr("Quillet does not write %1: it is a symbolic link that cannot be followed (%2).")
            .arg(path, QString::fromLocal8Bit(std::strerror(number)));
    }
    // What stands at the path itself is replaced by the writers' rename, or
    // refused by the appending writer's own check, never written into.
    if (S_ISREG(info.st_mode) || !isLink) return std::nullopt;
    return tr("Quillet does not write %1: it is a symbolic link to %2, which is %3, not a "
              "regular file.")
        .arg(path, target, kindOf(info.st_mode));
}

Status check(const QString& path, qint64 maximumSize, int* error) {
    Closer closer;
    qint64 size = 0;
    return openChecked(path, maximumSize, &closer, &size, error);
}

Status read(const QString& path, qint64 maximumSize, QByteArray* bytes, int* error) {
    bytes->clear();
    Closer closer;
    qint64 size = 0;
    if (const Status opened = openChecked(path, maximumSize, &closer, &size, error);
        opened != Status::ok)
        return opened;
    const int fd = closer.fd;
    bytes->reserve(qsizetype(size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int number = errno;
            bytes->clear();
            return failed(number, error);
        }
        if (got == 0) return Status::ok;
        // Grown since the check (another writer appends): still bounded.
        if (bytes->size() + got > maximumSize) {
            bytes->clear();
            return Status::tooLarge;
        }
        bytes->append(buffer, got);
    }
}

} // namespace RegularFile
