#include "platform/files/RegularFile.h"

#include <QFile>

#include <cerrno>
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

} // namespace

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
