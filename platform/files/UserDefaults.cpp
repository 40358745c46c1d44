#include "platform/files/UserDefaults.h"

#include "platform/files/PrivateFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0077) != 0)
            ::fchmod(fd, info.st_mode & 0700);
        ::close(fd);
    }
}

} // namespace

UserDefaults::UserDefaults(const QString& path, QObject* parent) : QObject(parent) {
    makePrivate(path);
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

bool UserDefaults::contains(const QString& key) const { return m_settings->contains(key); }

QVariant UserDefaults::value(const QString& key) const { return m_settings->value(key); }

void UserDefaults::setValue(const QString& key, const QVariant& value) {
    m_settings->setValue(key, value);
    m_settings->sync();
    emit changed(key);
}

void UserDefaults::remove(const QString& key) {
    m_settings->remove(key);
    m_settings->sync();
    emit changed(key);
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

QString UserDefaults::fileName() const { return m_settings->fileName(); }
