#pragma once

#include "platform/keychain/Keychain.h"

#include <functional>
#include <optional>

namespace Keychain {

// Every item in one JSON file (mode 0600, in a folder only the user may
// enter) for machines without a Secret Service. The program and the
// credential-provider host write the same file, so every operation holds an
// exclusive lock on a companion lock file, and every write goes to a
// temporary file that is flushed and renamed over the old one: a reader sees
// the old file or the new one, never a torn one. A batch of writes is one
// such write. When the path is a symbolic link, the file it points to is the
// one read and written.
class FileBackend : public Backend {
public:
    explicit FileBackend(QString path);

    // $XDG_DATA_HOME/Quillet/keychain.json
    static QString defaultPath();

    QString name() const override { return QStringLiteral("file"); }
    QString path() const { return m_path; }
    // The file the items live in: the path itself, or the file a symbolic
    // link there points to. Writes go to that file (a temporary beside it
    // renamed over it), so a link the user made keeps pointing where they
    // want it. Nothing for a link that points nowhere: it is refused rather
    // than replaced by a file of our own, which would silently part the user
    // from their items.
    static std::optional<QString> target(const QString& path);
    // Removes the temporary files a writer killed mid-write left behind.
    Status open() override;
    Status add(const Item& item) override;
    Status update(const Query& query, const QByteArray& data) override;
    Status copyMatching(const Query& query, Results* results) override;
    Status remove(const Query& query) override;
    QList<Status> upsert(const QList<Upsert>& writes, const Progress& progress = {}) override;

    // The file's contents and back. decode() gives nothing for anything but
    // a whole file of this version, whose items encode() writes back as read.
    static QByteArray encode(const QList<Item>& items);
    static std::optional<QList<Item>> decode(const QByteArray& bytes);
    // The same check of the whole file, keeping only the items `keep`
    // accepts: a lookup of a few items then holds no copy of the others.
    static std::optional<QList<Item>> decode(const QByteArray& bytes,
                                             const std::function<bool(const Item&)>& keep);

private:
    QString m_path;
};

} // namespace Keychain
