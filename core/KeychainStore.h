#pragma once

#include "core/Account.h"
#include "core/CorrectedClock.h"
#include "platform/keychain/Keychain.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QUuid>
#include <exception>
#include <functional>
#include <optional>

// The accounts and their companion records (order, folders, clock state and
// the migration marker) as keychain items. One item per account, named by
// its id; the credential-provider plugin reads and writes the same items by
// the same rules in its own process.
namespace KeychainStore {

inline const QString service = QStringLiteral("com.tarnwick.Quillet");
inline const QString sharedAccessGroup = QStringLiteral("Q4T7W2M9K3.com.tarnwick.Ossory");
inline const QString olderAccessGroup = QStringLiteral("Q4T7W2M9K3.com.tarnwick.Quillet");
inline const QString legacyService = QStringLiteral("com.tarnwick.Fennick");
inline const QString legacyAccount = QStringLiteral("accounts.v1");
inline const QString orderAccount = QStringLiteral("order.v1");
inline const QString foldersAccount = QStringLiteral("folders.v1");
inline const QString clockStateAccount = QStringLiteral("clockState.v1");
inline const QString markerAccount = QStringLiteral("legacyMigrated.v1");

// A keychain status as the user reads it: a sentence naming its cause
// ("Your keyring is locked."), never the status number.
QString describe(qint32 status);

class KeychainError : public std::exception {
public:
    enum Kind { unhandled, decodingFailed, encodingFailed };

    static KeychainError fromStatus(qint32 status) { return KeychainError(unhandled, status); }
    explicit KeychainError(Kind kind, qint32 status = 0) : m_kind(kind), m_status(status) {}

    Kind kind() const { return m_kind; }
    qint32 status() const { return m_status; }
    QString message() const;
    const char* what() const noexcept override;

private:
    Kind m_kind;
    qint32 m_status;
    mutable QByteArray m_what;
};

// The query naming one item of the store, whatever its synchronizability.
Keychain::Query baseQuery(const QString& account);

// Writes the item's data, creating the item (synchronizable) when missing.
// Throws KeychainError.
void upsert(const QString& account, const QByteArray& data);
void saveAccount(const Account& account);
void saveOrder(const QList<QUuid>& ids);

// Several items at once, written the way upsert() writes one: in one pass
// over the keychain (one flush of the file backend). A failed write does not
// stop the others. Returns each write's error, nothing where it succeeded.
struct Write {
    QString account;
    QByteArray data;
};
QList<std::optional<KeychainError>> upsertAll(const QList<Write>& writes,
                                              const Keychain::Progress& progress = {});
// The accounts, then the order when one is given, in one batch; the errors
// come back in that order. `progress` (see Keychain::Progress) hears the
// errors of the accounts written so far, in the same order.
using SaveProgress = std::function<bool(const QList<std::optional<KeychainError>>& done)>;
QList<std::optional<KeychainError>> saveAll(const QList<Account>& accounts,
                                            const std::optional<QList<QUuid>>& order = {},
                                            const SaveProgress& progress = {});

std::optional<FolderCatalog> readFolders();
std::optional<CorrectedClock::State> readClockState();
// False when the keyring could not be read (locked, refused); `state` is the
// stored state, or nothing when none is stored (or it cannot be decoded).
bool readClockState(std::optional<CorrectedClock::State>& state);
// False when the keyring did not take it.
bool saveClockState(const CorrectedClock::State& state);

// Every item of the store in the shared access group, attributes and data.
QList<Keychain::Item> readAll();

Keychain::Query markerQuery();
bool markerExists();
void writeMarker();

// One-time imports, run by every load until done. Both only add what is
// missing: an item that already exists is never overwritten.
void migrateLegacy();
void migrateAccessGroup();

struct Vault {
    QList<Account> active;  // in the user's order, without duplicates
    QList<Account> deleted; // Recently Deleted, newest first
    // Account items (named by an id) whose data is not an account record
    // this version can read. They stay in the keychain untouched; their ids
    // must not be given to another account, whose write would replace them.
    QList<QUuid> unreadable;
    // The store's other records, from the same read.
    std::optional<FolderCatalog> folders;
    std::optional<CorrectedClock::State> clockState;
};
// Throws KeychainError when the keychain cannot be read, so that an
// unreadable keychain is never mistaken for an empty vault.
Vault loadAll();

// Held by every read of the whole vault in this process (loadAll, the
// credential identities' rebuild): such a read holds the vault's size in
// memory several times over while it runs, so two of them run one after the
// other rather than side by side. Nothing else is waited for while it is held
// but the keychain itself.
QMutex& wholeVaultReads();

// The key by which duplicates are suppressed: issuer and name lower-cased,
// and the secret, so accounts that differ only in letter case are one.
QString accountIdentityKey(const Account& account);
bool newestDeletedFirst(const Account& a, const Account& b);

// The record encoding of every item of this store (ISO 8601 dates).
QByteArray encode(const Account& account);
std::optional<Account> decodeAccount(const QByteArray& data);

// Forgets that the access-group move finished in this process.
void resetMigrationFlagForTesting();

} // namespace KeychainStore
