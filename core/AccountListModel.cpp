#include "core/AccountListModel.h"

#include "core/AccountStore.h"
#include "core/Settings.h"
#include "platform/files/UserDefaults.h"

#include <algorithm>

namespace AccountList {

bool inFolder(const Account& account, const FolderFilter& filter, const QList<Folder>& folders) {
    switch (filter.kind) {
    case FolderFilter::Kind::all:
        return true;
    case FolderFilter::Kind::folder:
        return account.folderID == filter.folderID;
    case FolderFilter::Kind::ungrouped:
        // An account left pointing at a removed folder counts as ungrouped.
        return !account.folderID ||
               std::none_of(folders.begin(), folders.end(),
                            [&](const Folder& f) { return f.id == *account.folderID; });
    }
    return true;
}

QList<Account> inFolder(const QList<Account>& accounts, const FolderFilter& filter,
                        const QList<Folder>& folders) {
    if (filter.kind == FolderFilter::Kind::all)
        return accounts;
    QList<Account> kept;
    for (const Account& account : accounts)
        if (inFolder(account, filter, folders))
            kept.append(account);
    return kept;
}

QList<Account> withoutHidden(const QList<Account>& accounts, const QSet<QUuid>& hidden) {
    if (hidden.isEmpty())
        return accounts;
    QList<Account> kept;
    for (const Account& account : accounts)
        if (!hidden.contains(account.id))
            kept.append(account);
    return kept;
}

namespace {

bool matchesLowered(const Account& account, const QString& query) {
    return account.name.toLower().contains(query) || account.issuer.toLower().contains(query);
}

} // namespace

bool matches(const Account& account, const QString& searchText) {
    return searchText.isEmpty() || matchesLowered(account, searchText.toLower());
}

QList<Account> matching(const QList<Account>& accounts, const QString& searchText) {
    if (searchText.isEmpty())
        return accounts;
    const QString query = searchText.toLower();
    QList<Account> kept;
    for (const Account& account : accounts)
        if (matchesLowered(account, query))
            kept.append(account);
    return kept;
}

AccountSort sortFromText(const std::optional<QString>& stored) {
    return accountSortFromText(stored.value_or(Settings::accountSortOrder.defaultValue))
        .value_or(AccountSort::manual);
}

AccountSort storedSort(const UserDefaults& defaults) {
    return sortFromText(defaults.string(Settings::accountSortOrder.key));
}

QList<Account> visible(const QList<Account>& accounts, const QList<Folder>& folders,
                       const FolderFilter& filter, const QSet<QUuid>& hidden,
                       const QString& searchText, AccountSort sort) {
    return Account::sorted(matching(withoutHidden(inFolder(accounts, filter, folders), hidden),
                                    searchText),
                           sort);
}

bool canReorder(const QString& searchText, const FolderFilter& filter, bool hidesAccounts,
                AccountSort sort) {
    return searchText.isEmpty() && filter == FolderFilter::all() && !hidesAccounts &&
           sort == AccountSort::manual;
}

namespace {

qsizetype indexOf(const QList<Account>& list, const QUuid& id) {
    for (qsizetype i = 0; i < list.size(); ++i)
        if (list[i].id == id)
            return i;
    return -1;
}

} // namespace

std::optional<Move> moveUp(const QList<Account>& list, const QUuid& id) {
    const qsizetype i = indexOf(list, id);
    if (i <= 0)
        return std::nullopt;
    return Move{id, list[i - 1].id};
}

std::optional<Move> moveDown(const QList<Account>& list, const QUuid& id) {
    const qsizetype i = indexOf(list, id);
    if (i < 0 || i + 1 >= list.size())
        return std::nullopt;
    // The next account goes before this one.
    return Move{list[i + 1].id, id};
}

std::optional<QList<Account>> movedByOffsets(QList<Account> list, const QList<int>& fromOffsets,
                                             int toOffset) {
    QList<int> sources = fromOffsets;
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    QList<Account> moving;
    int destination = toOffset;
    for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
        if (*it < 0 || *it >= list.size())
            return std::nullopt;
        moving.prepend(list.takeAt(*it));
        if (*it < toOffset)
            --destination;
    }
    destination = std::clamp(destination, 0, int(list.size()));
    for (qsizetype i = 0; i < moving.size(); ++i)
        list.insert(destination + i, moving[i]);
    return list;
}

} // namespace AccountList

AccountListModel::AccountListModel(AccountStore& store, UserDefaults& defaults, Ordering ordering,
                                   QObject* parent)
    : QObject(parent), m_store(store), m_defaults(defaults), m_ordering(ordering) {
    connect(&m_store, &AccountStore::listsChanged, this, &AccountListModel::recompute);
    // Only an order by use follows the use figures.
    connect(&m_store, &AccountStore::usageChanged, this, [this] {
        if (m_sort == AccountSort::mostUsed)
            recompute();
    });
    if (m_ordering == Ordering::bySortSetting)
        connect(&m_defaults, &UserDefaults::changed, this, [this](const QString& key) {
            if (key == Settings::accountSortOrder.key)
                recompute();
        });
    recompute();
}

void AccountListModel::recompute() {
    // A folder deleted while the list shows it: its accounts are ungrouped
    // now, and the list shows all of them again, as the header says.
    if (m_folderFilter.kind == FolderFilter::Kind::folder) {
        const QList<Folder>& folders = m_store.folders();
        if (std::none_of(folders.begin(), folders.end(),
                         [&](const Folder& f) { return f.id == m_folderFilter.folderID; }))
            m_folderFilter = FolderFilter::all();
    }
    m_sort = m_ordering == Ordering::bySortSetting ? AccountList::storedSort(m_defaults)
                                                   : AccountSort::manual;
    m_scope = Account::sorted(
        AccountList::withoutHidden(
            AccountList::inFolder(m_store.accounts(), m_folderFilter, m_store.folders()), m_hidden),
        m_sort);
    // Sorting is stable and the search keeps the order, so searching the
    // sorted scope gives the same list as sorting the search's result.
    m_accounts = AccountList::matching(m_scope, m_searchText);
    emit accountsChanged();
}

AccountListModel::Emptiness AccountListModel::emptiness() const {
    if (m_store.vaultState() != AccountStore::VaultState::open)
        return Emptiness::vaultNotOpen;
    if (m_store.accounts().isEmpty())
        return Emptiness::noAccounts;
    if (m_scope.isEmpty())
        return Emptiness::noneInScope;
    if (m_accounts.isEmpty())
        return Emptiness::noMatches;
    return Emptiness::notEmpty;
}

std::optional<AccountListModel::VaultNotice> AccountListModel::vaultNotice() const {
    return vaultNotice(m_store);
}

std::optional<AccountListModel::VaultNotice>
AccountListModel::vaultNotice(const AccountStore& store) {
    switch (store.vaultState()) {
    case AccountStore::VaultState::open:
        return std::nullopt;
    case AccountStore::VaultState::opening:
        return VaultNotice{tr("Opening your keyring…"), QString(), true};
    case AccountStore::VaultState::locked:
        return VaultNotice{tr("Your keyring is locked."),
                           tr("Quillet shows your accounts once it is unlocked. Try Again asks "
                              "your keyring to unlock."),
                           false};
    case AccountStore::VaultState::unreadable:
        return VaultNotice{tr("Quillet could not read your keyring."), store.failureReason(),
                           false};
    }
    return std::nullopt;
}

AccountSort AccountListModel::sortOrder() const { return m_sort; }

bool AccountListModel::canReorder() const {
    return AccountList::canReorder(m_searchText, m_folderFilter, !m_hidden.isEmpty(), m_sort);
}

std::optional<Account> AccountListModel::account(const QUuid& id) const {
    for (const Account& a : m_store.accounts())
        if (a.id == id)
            return a;
    return std::nullopt;
}

void AccountListModel::setFolderFilter(const FolderFilter& filter) {
    if (filter == m_folderFilter)
        return;
    m_folderFilter = filter;
    recompute();
}

void AccountListModel::setSearchText(const QString& text) {
    if (text == m_searchText)
        return;
    m_searchText = text;
    recompute();
}

void AccountListModel::setHiddenAccountIDs(const QSet<QUuid>& ids) {
    if (ids == m_hidden)
        return;
    m_hidden = ids;
    recompute();
}

std::optional<AccountList::Move> AccountListModel::moveUp(const QUuid& id) const {
    return AccountList::moveUp(m_scope, id);
}

std::optional<AccountList::Move> AccountListModel::moveDown(const QUuid& id) const {
    return AccountList::moveDown(m_scope, id);
}
