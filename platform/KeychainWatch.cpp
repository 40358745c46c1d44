#include "platform/KeychainWatch.h"

#include "platform/Keychain.h"
#include "platform/KeychainFile.h"
#include "platform/KeychainSecretService.h"

#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QSet>

KeychainWatch::KeychainWatch(QObject* parent) : QObject(parent) {
    Keychain::Backend& backend = Keychain::backend();
    if (auto* file = dynamic_cast<Keychain::FileBackend*>(&backend)) {
        m_file = file->path();
        m_files = std::make_unique<QFileSystemWatcher>();
        connect(m_files.get(), &QFileSystemWatcher::fileChanged, this, &KeychainWatch::heard);
        connect(m_files.get(), &QFileSystemWatcher::directoryChanged, this, &KeychainWatch::heard);
        watchFile();
    } else if (dynamic_cast<Keychain::SecretServiceBackend*>(&backend)) {
        // From any collection, since items are found by their attributes
        // wherever they are; from the service only. gnome-keyring announces
        // a changed secret only when its writer also sets a property, which
        // our writers do.
        QDBusConnection bus = QDBusConnection::sessionBus();
        for (const char* member : {"ItemCreated", "ItemDeleted", "ItemChanged"})
            bus.connect(QStringLiteral("org.freedesktop.secrets"), QString(),
                        QStringLiteral("org.freedesktop.Secret.Collection"),
                        QLatin1String(member), this, SLOT(heard()));
    }
}

void KeychainWatch::heard() {
    if (m_files)
        watchFile(); // a replaced file is no longer watched; a new folder may have come
    emit changed();
}

void KeychainWatch::watchFile() {
    QSet<QString> wanted;
    // A symbolic link in the file's place: the file it points to is the one
    // written, in its own folder.
    QStringList files{m_file};
    if (const QFileInfo link(m_file); link.isSymLink())
        files << link.symLinkTarget();
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
}
