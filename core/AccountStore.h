#pragma once

#include "core/Account.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

class SecurityLog;
class UserDefaults;

// The one in-memory owner of the vault while the program runs. Every change
// goes through an operation here, which changes the lists first, then writes
// the keychain, then records the timeline event. Each list announces its
// changes through its signal.
//
// Operations take accounts by value where they change the lists: a caller
// may well pass an element of those very lists.
class AccountStore : public QObject {
    Q_OBJECT

public:
    static constexpr int reloadDelayMs = 250;
    static constexpr int widgetRefreshDelayMs = 1000;
    static constexpr qint64 recentlyDeletedSeconds = 30 * 86400;

    struct Usage {
        qint64 count = 0;
        QDateTime lastAt;
        friend bool operator==(const Usage&, const Usage&) = default;
    };

    // Reads the usage statistics and the whole vault before it returns.
    // `clock` gives the current time (tests pass their own).
    AccountStore(UserDefaults& defaults, SecurityLog& log, std::function<QDateTime()> clock = {},
                 QObject* parent = nullptr);

    const QList<Account>& accounts() const { return m_accounts; }
    const QList<Account>& deletedAccounts() const { return m_deletedAccounts; }
    const QList<Folder>& folders() const { return m_folders; }
    const std::optional<QString>& lastError() const { return m_lastError; }
    void setAccounts(const QList<Account>& accounts);
    void setDeletedAccounts(const QList<Account>& accounts);
    void setFolders(const QList<Folder>& folders);
    void setLastError(const std::optional<QString>& error);

    void reload();
    // A reload 0.25 s from now; a newer request replaces a pending one.
    void scheduleReload();
    // Call when the application becomes active: picks up what the
    // credential provider or another device changed meanwhile.
    void applicationBecameActive() { scheduleReload(); }

    void save(const Account& account);
    void saveOrder();
    void scheduleWidgetRefresh();

    void markUsed(const Account& account);
    void advanceCounter(Account account);
    void toggleFavorite(const QUuid& id);
    void moveAccountToIndex(const QUuid& id, qsizetype index);
    void setFolder(const std::optional<QUuid>& folderID, const QUuid& accountID);
    void update(Account account);
    void move(const QUuid& movedID, const QUuid& targetID);
    int accountsInFolder(const QUuid& folderID) const;
    void deleteAccount(const QUuid& id);
    void restore(const QUuid& id);
    void erase(Account account);
    void emptyRecentlyDeleted();
    void purgeExpired();

    // Merges accounts from outside: duplicates are dropped, matches in
    // Recently Deleted come back, clashing ids get fresh ones. Returns how
    // many were accepted (added plus restored).
    int importAccounts(QList<Account> incoming);
    std::optional<Account> prepareIncoming(const Account& incoming);
    // Same secret, name and issuer (canonically equivalent texts are equal).
    static bool sameAccount(const Account& a, const Account& b);

    // Folders, kept in the keychain and in a local copy.
    void syncFolders();
    void saveFolders();
    void storeLocalFolders(const QList<Folder>& folders, const QDateTime& date);
    Folder addFolder(const QString& name, const QString& symbol = QStringLiteral("folder"));
    void renameFolder(const QUuid& id, const QString& name);
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

signals:
    void accountsChanged();
    void deletedAccountsChanged();
    void foldersChanged();
    void lastErrorChanged();
    // A reload has finished (successful or not).
    void reloaded();

private:
    class Operation;
    QDateTime now() const { return m_now ? m_now() : QDateTime::currentDateTimeUtc(); }
    void loadUsage();
    void saveUsage();
    void forgetUsage();
    void succeeded();
    void failed(const QString& message);
    qsizetype indexOf(const QUuid& id) const;

    UserDefaults& m_defaults;
    SecurityLog& m_log;
    QList<Account> m_accounts;
    QList<Account> m_deletedAccounts;
    QList<Folder> m_folders;
    std::optional<QString> m_lastError;
    QHash<QUuid, Usage> m_usage;
    QTimer m_reloadTimer;
    QTimer m_widgetTimer;
    std::function<QDateTime()> m_now;
    // The steps of one operation keep its first error: a later successful
    // step must not make a failed operation look successful.
    int m_operationDepth = 0;
    bool m_operationFailed = false;
};
