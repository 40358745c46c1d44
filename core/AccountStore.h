#pragma once

#include "core/Account.h"
#include "core/KeychainStore.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class SecurityLog;
class SerialQueue;
class UserDefaults;

// The one in-memory owner of the vault while the program runs. Every change
// goes through an operation here, which writes the keychain first and then
// changes the lists, so the lists always show what the keychain holds: a
// write that fails changes nothing on screen, sets lastError and records no
// timeline event. Each list announces its changes through its signal, once
// per operation.
//
// Reading the keychain (opening it, which may wait for the keyring's unlock
// prompt, and every reload) and the writes of an import run on a thread of
// the store's own; their results are applied on the thread that owns the
// store, in the order the work was asked for. Other writes are made on the
// calling thread: they never wait for the user, as a locked keyring makes
// them fail at once.
//
// Operations take accounts by value where they change the lists: a caller
// may well pass an element of those very lists.
class AccountStore : public QObject {
    Q_OBJECT

public:
    static constexpr int reloadDelayMs = 250;
    static constexpr int widgetRefreshDelayMs = 1000;
    static constexpr qint64 recentlyDeletedSeconds = 30 * 86400;
    // How often a long import (one item at a time, as into the Secret
    // Service) lists what it has stored so far.
    static constexpr int importProgressMs = 250;

    struct Usage {
        qint64 count = 0;
        QDateTime lastAt;
        friend bool operator==(const Usage&, const Usage&) = default;
    };

    // Whether the vault could be read. Until it could, the lists are empty
    // because nothing is known, not because the vault is empty.
    enum class VaultState {
        opening,    // the first read is under way (the keyring may be prompting)
        open,       // read at least once; the lists are the vault
        locked,     // the keyring is locked and stayed so
        unreadable, // the keyring refused or failed; failureReason() says why
    };

    enum class Opening {
        now,          // the constructor opens and reads the vault before it returns
        inBackground, // the constructor returns at once, in state opening
    };

    struct ImportResult {
        int added = 0;     // accounts stored and now listed (new and restored)
        int notAdded = 0;  // accepted accounts whose write failed
        // Why not everything was added, as a sentence for the user; nothing
        // when every accepted account was stored.
        std::optional<QString> error;
        int refused = 0; // accounts that break the account rules (Limits::refusal), never stored
    };

    // Reads the usage statistics, then opens the vault: through the keyring's
    // own prompt if it is locked. `clock` gives the current time (tests pass
    // their own).
    AccountStore(UserDefaults& defaults, SecurityLog& log, std::function<QDateTime()> clock = {},
                 QObject* parent = nullptr, Opening opening = Opening::now);
    // Finishes the keychain work under way (see finish()).
    ~AccountStore() override;

    const QList<Account>& accounts() const { return m_accounts; }
    const QList<Account>& deletedAccounts() const { return m_deletedAccounts; }
    const QList<Folder>& folders() const { return m_folders; }
    const std::optional<QString>& lastError() const { return m_lastError; }
    void setAccounts(const QList<Account>& accounts);
    void setDeletedAccounts(const QList<Account>& accounts);
    void setFolders(const QList<Folder>& folders);
    void setLastError(const std::optional<QString>& error);

    VaultState vaultState() const { return m_vaultState; }
    // An import is being written (its accounts are listed as they are stored).
    bool importing() const { return m_importRunning; }
    // Account items in the keychain that could not be read; they are kept.
    int unreadableItemCount() const { return int(m_unreadableIDs.size()); }
    // The last failure as a sentence for the user ("Your keyring is
    // locked." ...), with lastError's text where that adds something.
    // Empty while lastError is none.
    QString failureReason() const { return m_lastError ? m_failureReason : QString(); }
    // How many operations have failed so far: a caller compares it before
    // and after an operation to learn whether that one failed.
    quint64 failureCount() const { return m_failureCount; }

    // Reads the vault again, and waits for it.
    void reload();
    // A reload 0.25 s from now, off this thread; a newer request replaces a
    // pending one. It never prompts.
    void scheduleReload();
    // Call when the application becomes active: picks up what the
    // credential provider or another device changed meanwhile. A read under
    // way already does (the start's first read, when the window's first
    // activation comes). A reload reads only when the keychain may have
    // changed since the last read, where the keychain can tell.
    void applicationBecameActive();
    // Call when the keychain's items may have changed outside this store
    // (KeychainWatch): the credential provider's host advanced a counter.
    // Reads them 0.25 s later, whatever the keychain's change stamp says,
    // and again after a read that was under way meanwhile.
    void keychainChanged();
    // Opens the keyring again, through its own unlock prompt, and reads the
    // vault; off this thread. For a vault that could not be read.
    void tryAgain();
    // Applies the results of the keychain work under way, waiting for it.
    void waitForPendingWork();
    // Dismisses an unlock prompt the store is waiting on, then waits for the
    // work under way. Call before the program exits.
    void finish();

    // The writes behind the operations. Each reports whether it was stored.
    // An HOTP account is written with no lower counter than the stored one,
    // and `account` takes that counter.
    bool save(Account& account);
    bool saveOrder();
    void scheduleWidgetRefresh();

    // Each operation returns whether its change was stored (and is shown).
    void markUsed(const Account& account);
    // Takes the next code of an HOTP account, off this thread: from the
    // higher of the stored counter (AutoFill may have moved it on) and the
    // listed one, and lists the counter after it. `done` runs on this
    // thread with the account at the counter taken, whose code is the one
    // to hand out; or with nothing when the advance was not stored (and
    // lastError says why), when nothing may go out.
    using Advanced = std::function<void(const std::optional<Account>& used)>;
    void advanceCounter(const Account& account, Advanced done = {});
    // The account as a copy that takes no counter hands it out (the
    // window's and the tray's Copy): an HOTP account at the higher of the
    // stored counter and the listed one, read under the counter lock off
    // this thread, so that a code AutoFill has filled meanwhile never goes
    // out again; the list takes that counter. `done` runs on this thread,
    // with nothing when the keychain could not tell (lastError says why) or
    // the account is gone: then no code may go out. Any other account is
    // handed back at once, unread.
    void currentCounter(const Account& account, Advanced done);
    bool toggleFavorite(const QUuid& id);
    bool moveAccountToIndex(const QUuid& id, qsizetype index);
    bool setFolder(const std::optional<QUuid>& folderID, const QUuid& accountID);
    bool update(Account account);
    bool move(const QUuid& movedID, const QUuid& targetID);
    // The manual order given whole, e.g. after a drag: `ids` must name every
    // active account once.
    bool setOrder(const QList<QUuid>& ids);
    int accountsInFolder(const QUuid& folderID) const;
    // True when the account's item now carries its deletion.
    bool deleteAccount(const QUuid& id);
    bool restore(const QUuid& id);
    bool erase(Account account);
    void emptyRecentlyDeleted();
    void purgeExpired();

    // Merges accounts from outside: duplicates are dropped, matches in
    // Recently Deleted come back, clashing ids get fresh ones. Each accepted
    // account is stored before it is listed; an account over the size limits
    // refuses the whole import, as does a vault that could not be read.
    // Waits for the keychain and returns how many were added.
    int importAccounts(QList<Account> incoming);
    // The same without waiting: `done` runs on this thread once the accounts
    // are stored and listed, or were refused. Imports run one at a time, in
    // the order asked for; one asked for while the vault is opening waits.
    // `progress`, when given, hears how many of how many accepted accounts
    // are stored so far, each time some are listed.
    void importAccounts(QList<Account> incoming, std::function<void(const ImportResult&)> done,
                        std::function<void(int stored, int total)> progress = {});
    // What the merge makes of one incoming account, given the lists as they
    // are: nothing for a duplicate, the Recently Deleted entry it brings back
    // (without deletedAt), a copy with a fresh id, or the account itself.
    std::optional<Account> prepareIncoming(const Account& incoming) const;
    // Same secret, name and issuer (canonically equivalent texts are equal).
    static bool sameAccount(const Account& a, const Account& b);

    // Folders, kept in the keychain and in a local copy.
    void syncFolders();
    void saveFolders();
    void storeLocalFolders(const QList<Folder>& folders, const QDateTime& date);
    // Nothing when the name is over the size limit (lastError says so).
    std::optional<Folder> addFolder(const QString& name,
                                    const QString& symbol = QStringLiteral("folder"));
    bool renameFolder(const QUuid& id, const QString& name);
    void deleteFolder(const QUuid& id);

    const QHash<QUuid, Usage>& usage() const { return m_usage; }
    QList<Account> applyUsage(const QList<Account>& accounts) const;

    // Tests shorten the delays and read the pending work.
    void setDelaysForTesting(int reloadMs, int widgetRefreshMs) {
        m_reloadTimer.setInterval(reloadMs);
        m_widgetTimer.setInterval(widgetRefreshMs);
    }
    bool widgetRefreshPending() const { return m_widgetTimer.isActive(); }

    static QByteArray encodeUsage(const QHash<QUuid, Usage>& usage);
    static std::optional<QHash<QUuid, Usage>> decodeUsage(const QByteArray& data);
    // The user's sentence for a keychain failure.
    static QString explain(const KeychainStore::KeychainError& error);

signals:
    void accountsChanged();
    // A use was counted (markUsed): the accounts show new use figures, and
    // nothing else of them changed. Not an accountsChanged().
    void usageChanged();
    void deletedAccountsChanged();
    void foldersChanged();
    void lastErrorChanged();
    // vaultState() or unreadableItemCount() changed.
    void vaultStateChanged();
    // A reload has finished (successful or not).
    void reloaded();
    // An import was written, whole or in part, after its last accounts were
    // listed: work that follows the list once per import goes here.
    void importEnded();
    // The accounts, the folders or the vault state changed: once per
    // operation, after their own signals, for views that show all three.
    void listsChanged();

private:
    class Operation;
    struct Loaded;
    struct ImportPlan;
    struct PendingImport {
        QList<Account> incoming;
        std::function<void(const ImportResult&)> done;
        std::function<void(int stored, int total)> progress;
    };
    enum Change : unsigned {
        accountsChange = 1,
        deletedChange = 2,
        foldersChange = 4,
        lastErrorChange = 8,
        stateChange = 16,
        usageChange = 32,
    };

    QDateTime now() const { return m_now ? m_now() : QDateTime::currentDateTimeUtc(); }
    void changed(unsigned changes) { m_changes |= changes; }
    void emitChanges();
    void loadUsage();
    void saveUsage();
    void forgetUsage();
    void succeeded();
    void failed(const KeychainStore::KeychainError& error);
    void failed(const QString& message, const QString& reason);
    void publishError(const std::optional<QString>& error, const QString& reason);
    qsizetype indexOf(const QUuid& id) const;
    QList<QUuid> activeIDs() const;
    bool saveOrder(const QList<QUuid>& ids);
    // Writes the accounts in one batch; true for each one stored. HOTP
    // accounts take the stored counter where it is higher, as save() does.
    QList<bool> saveAll(QList<Account>& accounts);
    void setVaultState(VaultState state);
    // Advances the listed HOTP account's counter, or reads the one it goes
    // out at, off this thread; the list and `done` hear of it here.
    void takeCounter(const Account& listed, bool advance, Advanced done);
    void reconcileFolders(const std::optional<FolderCatalog>& catalog);

    // Background work and the hand-over of its results.
    // `sinceStamp`: the keychain's change stamp at the last read; when it
    // is still the same, nothing is read.
    void startLoad(bool openFirst, const std::optional<QByteArray>& sinceStamp = {});
    void applyLoad(const Loaded& loaded, quint64 generation);
    void reloadInBackground();
    void startNextImport();
    // An import's timeline entry that a killed program may not have written:
    // recorded at the next start from the note left before the import.
    void recoverImportEntry();
    bool m_importEntryChecked = false;
    ImportPlan planImport(const QList<Account>& incoming) const;
    // Lists the accounts of the plan from `first` on whose writes are told
    // in `errors`: those stored.
    void applyImported(const ImportPlan& plan, qsizetype first,
                       const QList<std::optional<KeychainStore::KeychainError>>& errors);
    void finishImport(const ImportPlan& plan,
                      const std::optional<KeychainStore::KeychainError>& orderError,
                      quint64 generation, int refused,
                      const std::function<void(const ImportResult&)>& done);
    void deliver(std::function<void()> completion);
    bool drain();

    UserDefaults& m_defaults;
    SecurityLog& m_log;
    QList<Account> m_accounts;
    QList<Account> m_deletedAccounts;
    QList<Folder> m_folders;
    std::optional<QString> m_lastError;
    QString m_failureReason;
    VaultState m_vaultState = VaultState::opening;
    QList<QUuid> m_unreadableIDs;
    QHash<QUuid, Usage> m_usage;
    QTimer m_reloadTimer;
    QTimer m_widgetTimer;
    std::function<QDateTime()> m_now;
    // The steps of one operation keep its first error (a later successful
    // step must not make a failed operation look successful), and announce
    // their changes together when the outermost one ends.
    int m_operationDepth = 0;
    bool m_operationFailed = false;
    quint64 m_failureCount = 0;
    unsigned m_changes = 0;
    // Counts the keychain writes made on this thread: a reload that read the
    // keychain before one of them is out of date.
    quint64 m_writeGeneration = 0;
    bool m_loading = false;
    // The keychain told of a change not read since: the next reload reads
    // whatever the change stamp says.
    bool m_keychainChanged = false;
    // The keychain's change stamp taken before the read now shown.
    std::optional<QByteArray> m_readStamp;
    bool m_importRunning = false;
    // The import under way, as its parts are listed.
    struct ImportTally {
        QList<Account> added;
        int notAdded = 0;
        std::optional<KeychainStore::KeychainError> firstError;
        quint64 parts = 0;
        std::function<void(int stored, int total)> progress;
    } m_import;
    std::deque<PendingImport> m_pendingImports;

    // Results of the background work, waiting to be applied on this thread.
    QMutex m_completionsMutex;
    std::deque<std::function<void()>> m_completions;
    bool m_drainPosted = false;
    std::atomic<bool> m_closing = false;
    // Last: its thread stops (finishing its tasks) before anything above goes.
    std::unique_ptr<SerialQueue> m_queue;
};
