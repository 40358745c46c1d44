#pragma once

#include "platform/Keychain.h"

namespace Keychain {

// Every item in one JSON file (mode 0600) for machines without a Secret
// Service. The program and the credential-provider host write the same file,
// so every operation holds an exclusive lock on a companion lock file, and
// every write goes to a temporary file that is flushed and renamed over the
// old one: a reader sees the old file or the new one, never a torn one.
class FileBackend : public Backend {
public:
    explicit FileBackend(QString path);

    // $XDG_DATA_HOME/Quillet/keychain.json
    static QString defaultPath();

    QString name() const override { return QStringLiteral("file"); }
    QString path() const { return m_path; }
    Status add(const Item& item) override;
    Status update(const Query& query, const QByteArray& data) override;
    Status copyMatching(const Query& query, Results* results) override;
    Status remove(const Query& query) override;

private:
    QString m_path;
};

} // namespace Keychain
