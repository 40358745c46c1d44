#pragma once

#include "core/Account.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>
#include <optional>

class AccountStore;
class UserDefaults;

// The steps that turn the store's accounts into a list on screen, each a
// pure function over values, kept in the order they apply: scope (folder
// filter, accounts hidden from a list), then search, then order.
namespace AccountList {

// `all` keeps every account; a folder keeps its accounts; `ungrouped` keeps
// those without a folder and those whose folder no longer exists.
bool inFolder(const Account& account, const FolderFilter& filter, const QList<Folder>& folders);
QList<Account> inFolder(const QList<Account>& accounts, const FolderFilter& filter,
                        const QList<Folder>& folders);

QList<Account> withoutHidden(const QList<Account>& accounts, const QSet<QUuid>& hidden);

// The lower-cased search text found in the lower-cased name or issuer. The
// text is not trimmed (a space finds names with a space); an empty text
// matches every account.
bool matches(const Account& account, const QString& searchText);
QList<Account> matching(const QList<Account>& accounts, const QString& searchText);

// The order stored under "accountSortOrder.v1": only the exact names count,
// anything else (or nothing) is the manual order.
AccountSort sortFromText(const std::optional<QString>& stored);
AccountSort storedSort(const UserDefaults& defaults);

// Whole list, in one call: scope, search, then Account::sorted.
QList<Account> visible(const QList<Account>& accounts, const QList<Folder>& folders,
                       const FolderFilter& filter, const QSet<QUuid>& hidden,
                       const QString& searchText, AccountSort sort);

// Dragging rows can change the stored order only while the list shows that
// order whole: no search, no folder, nothing hidden, the manual order.
bool canReorder(const QString& searchText, const FolderFilter& filter, bool hidesAccounts,
                AccountSort sort);

// A move among neighbours as AccountStore::move takes it: `moved` ends up
// immediately before `target`.
struct Move {
    QUuid moved;
    QUuid target;
    friend bool operator==(const Move&, const Move&) = default;
};
// One place up or down among `list`: nothing when the account is not in it
// or already at that end.
std::optional<Move> moveUp(const QList<Account>& list, const QUuid& id);
std::optional<Move> moveDown(const QList<Account>& list, const QUuid& id);

// The list after a drag of the rows at `fromOffsets` to `toOffset` (which
// counts positions before the move); nothing when an offset is out of range.
std::optional<QList<Account>> movedByOffsets(QList<Account> list, const QList<int>& fromOffsets,
                                             int toOffset);

} // namespace AccountList

// One list of accounts as a view shows it: the store's active accounts
// narrowed by a folder filter, hidden accounts and a search, and ordered by
// the user's sort setting (favourites first) or kept in the stored order. It
// follows the store, the sort setting and its own inputs, and announces each
// new list with accountsChanged(): once per store operation, whatever it
// changed. While the vault could not be read the list is empty for that
// reason, never as an empty vault. It reads the store and never changes it.
class AccountListModel : public QObject {
    Q_OBJECT

public:
    enum class Ordering {
        bySortSetting, // "accountSortOrder.v1", as the main window lists
        stored,        // the store's own order, never sorted (the tray's panel)
    };

    // Why the list is empty, in the order a view tells it.
    enum class Emptiness {
        notEmpty,
        vaultNotOpen, // opening, locked or unreadable: vaultNotice() says which
        noAccounts,  // the vault holds no active account
        noneInScope, // every account is in another folder or hidden
        noMatches,   // the search finds none of the accounts in scope
    };

    // What a view says instead of a list while the vault is not open.
    struct VaultNotice {
        QString title;
        QString message; // may be empty
        bool opening = false; // under way: a busy mark rather than Try Again
    };

    AccountListModel(AccountStore& store, UserDefaults& defaults,
                     Ordering ordering = Ordering::bySortSetting, QObject* parent = nullptr);

    AccountStore& store() const { return m_store; }
    Ordering ordering() const { return m_ordering; }

    // The list to show, in display order.
    const QList<Account>& accounts() const { return m_accounts; }
    // The accounts in scope (folder, hidden) before the search, in display
    // order: the neighbours that moving up and down works on.
    const QList<Account>& scopeAccounts() const { return m_scope; }
    Emptiness emptiness() const;
    // Nothing while the vault is open.
    std::optional<VaultNotice> vaultNotice() const;
    static std::optional<VaultNotice> vaultNotice(const AccountStore& store);
    // The order applied: the sort setting, or manual for the stored order.
    AccountSort sortOrder() const;
    bool canReorder() const;
    // The account with this id among the store's active accounts, as it is
    // now (row callbacks act on the current account, not a kept copy).
    std::optional<Account> account(const QUuid& id) const;

    FolderFilter folderFilter() const { return m_folderFilter; }
    void setFolderFilter(const FolderFilter& filter);
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString& text);
    const QSet<QUuid>& hiddenAccountIDs() const { return m_hidden; }
    void setHiddenAccountIDs(const QSet<QUuid>& ids);

    // One place up or down among scopeAccounts(), for AccountStore::move.
    std::optional<AccountList::Move> moveUp(const QUuid& id) const;
    std::optional<AccountList::Move> moveDown(const QUuid& id) const;

signals:
    // The list was worked out anew (the store, the folders, the sort setting
    // or one of this model's inputs changed).
    void accountsChanged();

private:
    void recompute();

    AccountStore& m_store;
    UserDefaults& m_defaults;
    Ordering m_ordering;
    FolderFilter m_folderFilter;
    QString m_searchText;
    QSet<QUuid> m_hidden;
    AccountSort m_sort = AccountSort::manual;
    QList<Account> m_scope;
    QList<Account> m_accounts;
};
