#include "platform/keychain/KeychainWatch.h"

#include "platform/keychain/Keychain.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/keychain/KeychainSecretService.h"

#include <QDBusConnection>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

KeychainWatch::KeychainWatch(QObject* parent) : QObject(parent) {
    Keychain::Backend& backend = Keychain::backend();
    if (auto* file = dynamic_cast<Keychain::FileBackend*>(&backend)) {
        m_file = file->path();
        m_files = std::make_unique<QFileSystemWatcher>();
        connect(m_files.get(), &QFileSystemWatcher::fileChanged, this, &KeychainWatch::heard);
        connect(m_files.get(), &QFileSystemWatcher::directoryChanged, this, &KeychainWatch::heard);
        m_seen = watchFile();
    } else if (dynamic_cast<Keychain::SecretServiceBackend*>(&backend)) {
        // From any collection, since items are found by their attributes
        // wherever they are; from the service only. gnome-keyring announces
        // a changed secret only when its writer also sets a property, which
        // our writers do. Every signal is told: the service's own change
        // count may not have heard of it yet, so no stamp here can tell; the
        // store reads once after a burst.
        QDBusConnection bus = QDBusConnection::sessionBus();
        for (const char* member : {"ItemCreated", "ItemDeleted", "ItemChanged"})
            bus.connect(QStringLiteral("org.freedesktop.secrets"), QString(),
                        QStringLiteral("org.freedesktop.Secret.Collection"),
                        QLatin1String(member), this, SLOT(heard()));
    }
}

void KeychainWatch::heard() {
    if (m_files) {
        // The folder also holds other files of the program, and a folder
        // still to be made is watched through one above it: only a change of
        // the keychain file counts. A replaced file is no longer watched,
        // and a new folder may have come.
        const std::optional<Stamp> stamp = watchFile();
        if (stamp == m_seen)
            return;
        m_seen = stamp;
    }
    emit changed();
}

std::optional<KeychainWatch::Stamp> KeychainWatch::watchFile() {
    const std::optional<QString> target = Keychain::FileBackend::target(m_file);
    QStringList files{m_file};
    if (target && *target != m_file)
        files << *target;
    QSet<QString> wanted;
    for (const QString& file : std::as_const(files)) {
        if (QFileInfo::exists(file))
            wanted.insert(file);
        QString folder = QFileInfo(file).absolutePath();
        while (!QFileInfo(folder).isDir() && QFileInfo(folder).absolutePath() != folder)
            folder = QFileInfo(folder).absolutePath();
        wanted.insert(folder);
    }
    const QStringList watched = m_files->files() + m_files->directories();
    for (const QString& path : watched)
        if (!wanted.contains(path))
            m_files->removePath(path);
    for (const QString& path : std::as_const(wanted))
        if (!watched.contains(path))
            m_files->addPath(path);

    struct stat info;
    if (!target || ::stat(QFile::encodeName(*target).constData(), &info) != 0)
        return std::nullopt;
    return Stamp{quint64(info.st_dev), quint64(info.st_ino),
                 qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                 qint64(info.st_size)};
}
