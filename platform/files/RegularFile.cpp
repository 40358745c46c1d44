#include "platform/files/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {

Status read(const QString& path, qint64 maximumSize, QByteArray* bytes, int* error) {
    bytes->clear();
    const auto failed = [error](int number) {
        if (error) *error = number;
        return Status::unreadable;
    };
    // Non-blocking, so that a FIFO put in the file's place fails the check
    // below instead of holding the open until a writer comes.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? Status::missing : failed(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info;
    if (::fstat(fd, &info) != 0) return failed(errno);
    if (!S_ISREG(info.st_mode)) return Status::notAFile;
    if (info.st_size > maximumSize) return Status::tooLarge;
    bytes->reserve(qsizetype(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int number = errno;
            bytes->clear();
            return failed(number);
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
