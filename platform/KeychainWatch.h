#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <memory>

// Tells when the keychain's items may have changed, by this process or
// another (the credential provider's host advancing a counter): for the
// file backend, a change of its file, which every write replaces by a
// rename, so its folder is watched; for the Secret Service, the collections'
// item signals on the session bus. It may tell more often than the items
// change, never less; the memory backend tells nothing.
//
// It only listens: no keychain call is made, and changed() comes on the
// thread the watch lives on, so a window may follow it without waiting on
// the keyring.
class KeychainWatch : public QObject {
    Q_OBJECT

public:
    // Watches the backend this process uses (Keychain::backend()).
    explicit KeychainWatch(QObject* parent = nullptr);

signals:
    void changed();

private slots:
    void heard();

private:
    // Watches the file and its folder as they are now: a folder that does
    // not exist yet is watched through the nearest one above it.
    void watchFile();

    QString m_file;
    std::unique_ptr<QFileSystemWatcher> m_files;
};
