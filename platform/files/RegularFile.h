#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Reading a whole file that another program, or a user, may have replaced
// with something else: a link to /dev/zero, a FIFO, a device, a folder, or a
// file too large to hold in memory.
namespace RegularFile {

// The most a file the program keeps for itself (the keychain file, the
// credential identities, the security timeline) may hold: far above any
// vault (a thousand accounts take about half a megabyte), far below what
// would exhaust memory. A larger one is damaged, not read.
constexpr qint64 maximumStoredSize = qint64(64) << 20;

enum class Status {
    ok,
    missing,    // nothing at the path
    notAFile,   // a folder, a FIFO, a device, a socket (a link is followed)
    tooLarge,   // more than the bound, or grew past it while being read
    unreadable, // opening or reading failed; the error number says why
};

// Reads the file at path whole into *bytes, when it is a regular file of at
// most maximumSize bytes. Never waits for a writer, as opening a FIFO for
// reading would. On unreadable, *error (when given) holds the errno.
Status read(const QString& path, qint64 maximumSize, QByteArray* bytes, int* error = nullptr);

// The same checks without the read, for a file another reader (QSettings)
// then reads itself: ok when the file at path can be opened and is a
// regular file of at most maximumSize bytes.
Status check(const QString& path, qint64 maximumSize, int* error = nullptr);

// Why a writer must not write the file at path, as a sentence; nothing when
// the path is not a symbolic link, or is one that ends at a regular file.
// Every writer asks first: a write replaces, or appends to, what a link
// names, so a link to a device, a FIFO, a folder or nothing at all would put
// the file where no read of it looks (read() refuses all of them), or
// replace the device itself. Anything else at the path itself is replaced
// whole by the writer's rename, or refused by its own check.
std::optional<QString> writeRefusal(const QString& path);

} // namespace RegularFile
