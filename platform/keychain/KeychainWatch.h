#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

// Tells when the keychain's items may have changed, by this process or
// another (the credential provider's host advancing a counter): for the
// file backend, a change of its file, which every write replaces by a
// rename, so its folder is watched and the file's stamp tells whether the
// event there was the file's; for the Secret Service, the collections' item
// signals on the session bus. It may tell more often than the items change,
// never less; the memory backend tells nothing.
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
    // Who the keychain file is and what it holds, as far as its inode tells:
    // a write gives a new file (the renamed temporary), an edit in place a
    // new time or size.
    struct Stamp {
        quint64 device;
        quint64 inode;
        qint64 modifiedNs;
        qint64 size;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };

    // Watches the file and its folder as they are now, and the file a link
    // in its place points to with that one's folder: a folder that does not
    // exist yet is watched through the nearest one above it. Returns the
    // stamp of the file the items live in; nothing while there is none.
    std::optional<Stamp> watchFile();

    QString m_file;
    std::unique_ptr<QFileSystemWatcher> m_files;
    std::optional<Stamp> m_seen;
};
