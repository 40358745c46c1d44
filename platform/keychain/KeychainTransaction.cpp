#include "platform/files/PrivateFolder.h"
#include "platform/keychain/Keychain.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Keychain {

namespace {

// How deep this thread is in transactions: only the outermost one locks, so
// that a step calling another step does not wait on itself.
thread_local int depth = 0;

} // namespace

QString Transaction::lockPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillet/keychain.transaction.lock");
}

Transaction::Transaction() {
    if (depth++ > 0) return;
    m_outermost = true;
    const QString path = lockPath();
    // Without a folder for the lock file the step goes on unlocked: the
    // writes themselves still fail or succeed one by one as they did.
    if (!PrivateFolder::ensure(QFileInfo(path).path())) return;
    // Non-blocking open: whatever stands at the path (a FIFO, a device) is
    // only locked, never read, and must not hold the open. Separate opens
    // are separate locks, so threads of one process exclude each other too.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                  0600);
    while (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        ::close(m_fd);
        m_fd = -1;
    }
}

Transaction::~Transaction() {
    --depth;
    if (m_outermost && m_fd >= 0) ::close(m_fd); // closing releases the lock
}

} // namespace Keychain
