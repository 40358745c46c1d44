#include "platform/files/UserDefaults.h"

#include "platform/files/PrivateFolder.h"
#include "platform/files/RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

UserDefaults& UserDefaults::standard() {
    static UserDefaults* defaults = new UserDefaults(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/tarnwick/Quillet.conf"));
    return *defaults;
}

namespace {

// The settings say which accounts the user has and how they use them: only
// the user may read them. The file exists, private, before QSettings first
// writes it, and QSettings keeps the permissions of the file it replaces.
void makePrivate(const QString& path) {
    PrivateFolder::ensure(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking: a FIFO put there since it was looked at fails the open
    // instead of waiting for a reader.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd >= 0) {
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0077) != 0)
            ::fchmod(fd, info.st_mode & 0700);
        ::close(fd);
    }
}

QString notAFile() {
    return QCoreApplication::translate("UserDefaults", "it is not a regular file");
}

QString tooLarge() {
    return QCoreApplication::translate("UserDefaults", "it is larger than %1 MB")
        .arg(UserDefaults::maximumFileSize >> 20);
}

// Why what stands at `path` may not be written over (a FIFO, a device or a
// folder, or a file too large to have been read whole), or nothing. A path
// with nothing at it may be.
std::optional<QString> writeRefusal(const QString& path) {
    // A link to nothing, which stat() cannot tell from no file.
    if (RegularFile::writeRefusal(path)) return notAFile();
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT ? std::nullopt : std::optional(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(info.st_mode)) return notAFile();
    if (info.st_size > UserDefaults::maximumFileSize) return tooLarge();
    return std::nullopt;
}

// The same for reading, through the bounded read's checks, which never wait
// on a FIFO; QSettings then reads the file itself.
std::optional<QString> readRefusal(const QString& path) {
    int error = 0;
    switch (RegularFile::check(path, UserDefaults::maximumFileSize, &error)) {
    case RegularFile::Status::ok:
    case RegularFile::Status::missing:
        return std::nullopt;
    case RegularFile::Status::notAFile:
        return notAFile();
    case RegularFile::Status::tooLarge:
        return tooLarge();
    case RegularFile::Status::unreadable:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

// QSettings takes a lock file beside the settings before each write and
// reads it when it is there: one that is not a regular file would hold the
// write for ever.
std::optional<QString> lockRefusal(const QString& path) {
    const QString lock = path + QStringLiteral(".lock");
    struct stat info;
    if (::stat(QFile::encodeName(lock).constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return QCoreApplication::translate("UserDefaults", "its lock file %1 is not a regular file")
            .arg(lock);
    return std::nullopt;
}

} // namespace

UserDefaults::UserDefaults(const QString& path, QObject* parent) : QObject(parent), m_path(path) {
    std::optional<QString> refused = readRefusal(path);
    // A link to nothing reads as no settings, but the first write would
    // make the file wherever it points.
    if (!refused) refused = writeRefusal(path);
    if (!refused) refused = lockRefusal(path);
    if (refused) {
        keepInMemory(*refused);
        return;
    }
    makePrivate(path);
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

void UserDefaults::keepInMemory(const QString& reason) {
    if (m_settings) {
        // What this run has read and set so far goes on from memory.
        for (const QString& key : m_settings->allKeys())
            m_memory.insert(key, m_settings->value(key));
        m_settings.reset();
    }
    m_problem = QCoreApplication::translate(
                    "UserDefaults",
                    "Quillet could not use its settings file %1 (%2): it uses the default "
                    "settings and keeps your changes only until it quits.")
                    .arg(m_path, reason);
    emit problemChanged();
}

bool UserDefaults::fileUsable() {
    if (!m_settings) return false;
    // A settings object keeps its first error for good: after a failed
    // write a fresh one tells whether the next write reaches the file. It
    // takes over the values (the file's, and keys put back) of the old one.
    if (m_settings->status() != QSettings::NoError) {
        m_settings.reset();
        m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    }
    // QSettings reads the file again before it writes when another program
    // has changed it, and then renames its new file over the path.
    std::optional<QString> refused = writeRefusal(m_path);
    if (!refused) refused = lockRefusal(m_path);
    if (!refused) return true;
    keepInMemory(*refused);
    return false;
}

bool UserDefaults::contains(const QString& key) const {
    return m_settings ? m_settings->contains(key) : m_memory.contains(key);
}

QVariant UserDefaults::value(const QString& key) const {
    return m_settings ? m_settings->value(key) : m_memory.value(key);
}

bool UserDefaults::setValue(const QString& key, const QVariant& value) {
    bool stored = true;
    if (fileUsable()) {
        const std::optional<QVariant> before =
            m_settings->contains(key) ? std::optional(m_settings->value(key)) : std::nullopt;
        m_settings->setValue(key, value);
        stored = syncOrRestore(key, before);
    } else {
        m_memory.insert(key, value);
    }
    emit changed(key);
    return stored;
}

bool UserDefaults::remove(const QString& key) {
    bool stored = true;
    if (fileUsable()) {
        const std::optional<QVariant> before =
            m_settings->contains(key) ? std::optional(m_settings->value(key)) : std::nullopt;
        m_settings->remove(key);
        stored = syncOrRestore(key, before);
    } else {
        m_memory.remove(key);
    }
    emit changed(key);
    return stored;
}

namespace {

// Why a file the size of the settings cannot be written beside them: the
// system's own words for what stopped the settings' write (no space left, a
// read-only file system, no permission).
QString whyNotWritten(const QString& path) {
    const QFileInfo info(path);
    QByteArray name = QFile::encodeName(info.absolutePath() + QStringLiteral("/.Quillet-probe-XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
    const QByteArray bytes(qMax<qint64>(info.size(), 1) + 4096, '\n');
    int number = 0;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            number = written < 0 ? errno : ENOSPC;
            break;
        }
        done += written;
    }
    if (number == 0 && ::fsync(fd) != 0) number = errno;
    ::close(fd);
    ::unlink(name.constData());
    return number ? QString::fromLocal8Bit(std::strerror(number))
                  : QCoreApplication::translate("UserDefaults", "the write failed");
}

} // namespace

bool UserDefaults::syncOrRestore(const QString& key, const std::optional<QVariant>& before) {
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError) {
        setWriteFailure(std::nullopt);
        return true;
    }
    // The window must not show a change the file does not hold.
    if (before)
        m_settings->setValue(key, *before);
    else
        m_settings->remove(key);
    const QString reason = whyNotWritten(m_path);
    setWriteFailure(QCoreApplication::translate(
                        "UserDefaults",
                        "Your change to the settings was not saved: Quillet could not write %1 (%2).")
                        .arg(m_path, reason));
    return false;
}

void UserDefaults::setWriteFailure(const std::optional<QString>& failure) {
    if (failure == m_writeFailure) return;
    m_writeFailure = failure;
    if (!m_problem) emit problemChanged();
}

namespace {

template <typename T>
std::optional<T> typed(const QVariant& value, QMetaType::Type type) {
    if (value.typeId() != type)
        return std::nullopt;
    return value.value<T>();
}

} // namespace

std::optional<QByteArray> UserDefaults::data(const QString& key) const {
    return typed<QByteArray>(value(key), QMetaType::QByteArray);
}

std::optional<QDateTime> UserDefaults::date(const QString& key) const {
    return typed<QDateTime>(value(key), QMetaType::QDateTime);
}

std::optional<bool> UserDefaults::boolean(const QString& key) const {
    const QVariant v = value(key);
    // The INI file keeps booleans as text.
    if (v.typeId() == QMetaType::QString &&
        (v.toString() == QLatin1String("true") || v.toString() == QLatin1String("false")))
        return v.toString() == QLatin1String("true");
    return typed<bool>(v, QMetaType::Bool);
}

std::optional<QString> UserDefaults::string(const QString& key) const {
    return typed<QString>(value(key), QMetaType::QString);
}

std::optional<qint64> UserDefaults::integer(const QString& key) const {
    const QVariant v = value(key);
    bool ok = false;
    const qint64 number = v.toLongLong(&ok);
    if (!ok || (v.typeId() != QMetaType::QString && v.typeId() != QMetaType::Int &&
                v.typeId() != QMetaType::LongLong))
        return std::nullopt;
    return number;
}

bool UserDefaults::flag(const QString& key, bool absent) const {
    if (!contains(key))
        return absent;
    if (const std::optional<bool> value = boolean(key))
        return *value;
    const QString text = value(key).toString().trimmed();
    if (text.isEmpty())
        return false;
    const QChar first = text.front().toLower();
    if (first == QLatin1Char('y') || first == QLatin1Char('t'))
        return true;
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok && number != 0;
}

QString UserDefaults::fileName() const {
    return m_settings ? m_settings->fileName() : QFileInfo(m_path).absoluteFilePath();
}
