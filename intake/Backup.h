#pragma once

#include "core/Account.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <exception>
#include <optional>

// The password-encrypted backup file (".qvault"): the accounts as JSON,
// sealed with AES-256-GCM under a PBKDF2-HMAC-SHA256 key, inside a small JSON
// container {"v":1,"salt":"…","box":"…"}. Pure functions: the caller reads
// and writes the file.
namespace Backup {

class BackupError : public std::exception {
public:
    enum Kind {
        badPassword,
        badFormat,
        cryptoFailed,
        tooLarge, // more than the import reads back (Limits::maxBackupBytes)
    };

    explicit BackupError(Kind kind) : m_kind(kind) {}
    Kind kind() const { return m_kind; }
    // The sentence shown to the user.
    QString message() const;
    const char* what() const noexcept override;

    friend bool operator==(const BackupError& a, const BackupError& b) {
        return a.m_kind == b.m_kind;
    }

private:
    Kind m_kind;
};

inline constexpr qint64 formatVersion = 1;
inline constexpr int keyDerivationRounds = 150000;
inline constexpr int saltLength = 16;
inline constexpr int keyLength = 32;

// The file's record. `box` is nonce (12 bytes) || ciphertext || tag (16 bytes).
struct Container {
    qint64 v = formatVersion;
    QByteArray salt;
    QByteArray box;
};

// The file's bytes. Throws BackupError::cryptoFailed when no key can be
// derived or the secure random source gives no salt or nonce, and
// BackupError::tooLarge when the file would be more than a restore reads.
QByteArray encrypt(const QList<Account>& accounts, const QString& password);

// Every account of the file, in file order, or BackupError; never a part.
QList<Account> decrypt(const QByteArray& data, const QString& password);

// PBKDF2-HMAC-SHA256 over the password's UTF-8 bytes, 150,000 rounds,
// 32 bytes; nothing when the library refuses.
std::optional<QByteArray> deriveKey(const QByteArray& password, const QByteArray& salt);

// 16 bytes from the secure random source; nothing when the source fails.
std::optional<QByteArray> randomSalt();

// The container text: compact, members in the order v, salt, box, and "/"
// written as "\/".
QByteArray encodeContainer(const Container& container);
// Accepts the members in any order, either form of "/", extra members.
// Nothing when the bytes are not such a container. Does no cryptography.
std::optional<Container> parseContainer(const QByteArray& data);

// The plaintext inside the box: a JSON array of accounts, dates as seconds
// since 2001.
QByteArray encodeAccounts(const QList<Account>& accounts);
std::optional<QList<Account>> decodeAccounts(const QByteArray& plaintext);

} // namespace Backup

// Lets tests stand in for the operating system's random source, to prove that
// a failing source stops an export instead of sealing with predictable bytes.
namespace Backup::testing {

using RandomSource = std::optional<QByteArray> (*)(qsizetype count);

// Installs the source for salts and nonces (nullptr: the system source) and
// gives back the one it replaces.
RandomSource setRandomSource(RandomSource source);

} // namespace Backup::testing
