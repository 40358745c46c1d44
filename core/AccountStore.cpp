#include "core/AccountStore.h"

#include "core/CorrectedClock.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "platform/UserDefaults.h"
#include "platform/Widgets.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

// Marks the extent of one operation, so that its steps report together.
class AccountStore::Operation {
public:
    explicit Operation(AccountStore& store) : m_store(store) {
        if (m_store.m_operationDepth++ == 0)
            m_store.m_operationFailed = false;
    }
    ~Operation() { --m_store.m_operationDepth; }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

private:
    AccountStore& m_store;
};

AccountStore::AccountStore(UserDefaults& defaults, SecurityLog& log,
                           std::function<QDateTime()> clock, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_log(log), m_now(std::move(clock)) {
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(reloadDelayMs);
    connect(&m_reloadTimer, &QTimer::timeout, this, &AccountStore::reload);
    m_widgetTimer.setSingleShot(true);
    m_widgetTimer.setInterval(widgetRefreshDelayMs);
    connect(&m_widgetTimer, &QTimer::timeout, this, [] { Widgets::reloadAll(); });
    loadUsage();
    reload();
}

// MARK: - Published values

void AccountStore::setAccounts(const QList<Account>& accounts) {
    m_accounts = accounts;
    emit accountsChanged();
}

void AccountStore::setDeletedAccounts(const QList<Account>& accounts) {
    m_deletedAccounts = accounts;
    emit deletedAccountsChanged();
}

void AccountStore::setFolders(const QList<Folder>& folders) {
    m_folders = folders;
    emit foldersChanged();
}

void AccountStore::setLastError(const std::optional<QString>& error) {
    m_lastError = error;
    emit lastErrorChanged();
}

void AccountStore::succeeded() {
    if (!m_operationFailed)
        setLastError(std::nullopt);
}

void AccountStore::failed(const QString& message) {
    if (m_operationFailed)
        return;
    m_operationFailed = true;
    setLastError(message);
}

qsizetype AccountStore::indexOf(const QUuid& id) const {
    for (qsizetype i = 0; i < m_accounts.size(); ++i)
        if (m_accounts[i].id == id)
            return i;
    return -1;
}

// MARK: - Loading

void AccountStore::reload() {
    Operation operation(*this);
    m_reloadTimer.stop();
    try {
        const KeychainStore::Vault vault = KeychainStore::loadAll();
        setAccounts(applyUsage(vault.active));
        setDeletedAccounts(vault.deleted);
        succeeded();
        purgeExpired();
    } catch (const KeychainStore::KeychainError& error) {
        // The lists stay as they were: an unreadable keychain is no empty vault.
        failed(error.message());
    }
    syncFolders();
    emit reloaded();
}

void AccountStore::scheduleReload() { m_reloadTimer.start(); }

void AccountStore::scheduleWidgetRefresh() { m_widgetTimer.start(); }

namespace {

// The larger count and the later date of the two.
void merge(Account& account, const AccountStore::Usage& usage) {
    account.useCount = std::max(usage.count, account.useCount);
    if (account.lastUsedAt.value_or(CorrectedClock::State::distantPast()) < usage.lastAt)
        account.lastUsedAt = usage.lastAt;
}

} // namespace

QList<Account> AccountStore::applyUsage(const QList<Account>& accounts) const {
    if (m_usage.isEmpty())
        return accounts;
    QList<Account> merged = accounts;
    for (Account& account : merged) {
        const auto entry = m_usage.constFind(account.id);
        if (entry != m_usage.constEnd())
            merge(account, *entry);
    }
    return merged;
}

// MARK: - Usage statistics

QByteArray AccountStore::encodeUsage(const QHash<QUuid, Usage>& usage) {
    QJsonArray list;
    for (auto it = usage.constBegin(); it != usage.constEnd(); ++it) {
        list.append(Json::uuidText(it.key()));
        list.append(QJsonObject{
            {QLatin1String("count"), it->count},
            {QLatin1String("lastAt"), Json::fromDate(it->lastAt, Json::DateForm::referenceDate)},
        });
    }
    return Json::serialize(QJsonDocument(list));
}

std::optional<QHash<QUuid, AccountStore::Usage>> AccountStore::decodeUsage(const QByteArray& data) {
    const auto document = Json::parse(data);
    if (!document || !document->isArray())
        return std::nullopt;
    const QJsonArray list = document->array();
    if (list.size() % 2 != 0)
        return std::nullopt;
    QHash<QUuid, Usage> usage;
    for (qsizetype i = 0; i < list.size(); i += 2) {
        const auto id = Json::toUuid(list[i]);
        const QJsonObject entry = list[i + 1].toObject();
        const auto count = Json::toInt64(entry.value(QLatin1String("count")));
        const auto lastAt =
            Json::toDate(entry.value(QLatin1String("lastAt")), Json::DateForm::referenceDate);
        if (!id || !list[i + 1].isObject() || !count || !lastAt)
            return std::nullopt;
        usage.insert(*id, Usage{*count, *lastAt});
    }
    return usage;
}

void AccountStore::loadUsage() {
    if (const auto data = m_defaults.data(Settings::usageStats.key))
        if (auto usage = decodeUsage(*data))
            m_usage = *usage;
}

void AccountStore::saveUsage() {
    m_defaults.setValue(Settings::usageStats.key, encodeUsage(m_usage));
}

void AccountStore::forgetUsage() {
    QSet<QUuid> known;
    for (const Account& account : std::as_const(m_accounts))
        known.insert(account.id);
    for (const Account& account : std::as_const(m_deletedAccounts))
        known.insert(account.id);
    const auto dropped = m_usage.removeIf([&](const auto& entry) { return !known.contains(entry.key()); });
    if (dropped > 0)
        saveUsage();
}

void AccountStore::markUsed(const Account& account) {
    auto entry = m_usage.value(
        account.id, Usage{std::max<qint64>(account.useCount, 0),
                          account.lastUsedAt.value_or(CorrectedClock::State::distantPast())});
    entry.count += 1;
    entry.lastAt = now();
    const QUuid id = account.id; // `account` may be an element of the list
    m_usage.insert(id, entry);
    saveUsage();
    // The list shows the new figures at once, so that an order by use
    // follows each copy rather than the next reload. Memory only: the
    // keychain item catches up when the account is next saved.
    if (const qsizetype i = indexOf(id); i >= 0) {
        merge(m_accounts[i], entry);
        emit accountsChanged();
    }
}

// MARK: - Saving

void AccountStore::save(const Account& account) {
    Operation operation(*this);
    try {
        KeychainStore::saveAccount(account);
        succeeded();
    } catch (const KeychainStore::KeychainError& error) {
        failed(error.message());
    }
    scheduleWidgetRefresh();
}

void AccountStore::saveOrder() {
    Operation operation(*this);
    QList<QUuid> ids;
    for (const Account& account : std::as_const(m_accounts))
        ids.append(account.id);
    try {
        KeychainStore::saveOrder(ids);
        succeeded();
    } catch (const KeychainStore::KeychainError& error) {
        failed(error.message());
    }
    scheduleWidgetRefresh();
}

// MARK: - Account operations

void AccountStore::advanceCounter(Account account) {
    if (account.type != OTPType::hotp)
        return;
    const qsizetype i = indexOf(account.id);
    if (i < 0)
        return;
    Operation operation(*this);
    m_accounts[i].counter += 1; // the largest value wraps to 0
    emit accountsChanged();
    save(m_accounts[i]);
}

void AccountStore::toggleFavorite(const QUuid& id) {
    const qsizetype i = indexOf(id);
    if (i < 0)
        return;
    Operation operation(*this);
    m_accounts[i].isFavorite = !m_accounts[i].isFavorite;
    emit accountsChanged();
    const bool nowFavorite = m_accounts[i].isFavorite;
    save(m_accounts[i]);
    if (nowFavorite)
        moveAccountToIndex(id, 0);
}

void AccountStore::moveAccountToIndex(const QUuid& id, qsizetype index) {
    const qsizetype from = indexOf(id);
    if (from < 0)
        return;
    const qsizetype target = std::max<qsizetype>(std::min(index, m_accounts.size() - 1), 0);
    if (target == from)
        return;
    Operation operation(*this);
    m_accounts.move(from, target);
    emit accountsChanged();
    saveOrder();
}

void AccountStore::setFolder(const std::optional<QUuid>& folderID, const QUuid& accountID) {
    const qsizetype i = indexOf(accountID);
    if (i < 0)
        return;
    Operation operation(*this);
    m_accounts[i].folderID = folderID;
    emit accountsChanged();
    save(m_accounts[i]);
}

void AccountStore::update(Account account) {
    const qsizetype i = indexOf(account.id);
    if (i < 0)
        return;
    Operation operation(*this);
    m_accounts[i] = account;
    emit accountsChanged();
    save(account);
    m_log.record(SecurityEvent::edited(account.displayLabel()));
}

void AccountStore::move(const QUuid& movedID, const QUuid& targetID) {
    if (movedID == targetID)
        return;
    const qsizetype from = indexOf(movedID);
    const qsizetype to = indexOf(targetID);
    if (from < 0 || to < 0)
        return;
    Operation operation(*this);
    const Account moved = m_accounts.takeAt(from);
    m_accounts.insert(from < to ? to - 1 : to, moved);
    emit accountsChanged();
    saveOrder();
}

int AccountStore::accountsInFolder(const QUuid& folderID) const {
    return int(std::count_if(m_accounts.begin(), m_accounts.end(),
                             [&](const Account& a) { return a.folderID == folderID; }));
}

void AccountStore::deleteAccount(const QUuid& id) {
    const qsizetype i = indexOf(id);
    if (i < 0)
        return;
    Operation operation(*this);
    Account account = m_accounts.takeAt(i);
    emit accountsChanged();
    account.deletedAt = now();
    m_deletedAccounts.prepend(account);
    emit deletedAccountsChanged();
    save(account);
    saveOrder();
    m_log.record(SecurityEvent::deleted(account.displayLabel()));
}

void AccountStore::restore(const QUuid& id) {
    const auto it = std::find_if(m_deletedAccounts.begin(), m_deletedAccounts.end(),
                                 [&](const Account& a) { return a.id == id; });
    if (it == m_deletedAccounts.end())
        return;
    Operation operation(*this);
    Account account = *it;
    m_deletedAccounts.erase(it);
    emit deletedAccountsChanged();
    account.deletedAt.reset();
    m_accounts.append(account);
    emit accountsChanged();
    save(account);
    saveOrder();
    m_log.record(SecurityEvent::restored(account.displayLabel()));
}

void AccountStore::erase(Account account) {
    Operation operation(*this);
    if (m_deletedAccounts.removeIf([&](const Account& a) { return a.id == account.id; }) > 0)
        emit deletedAccountsChanged();
    m_log.record(SecurityEvent::erased(account.displayLabel()));
    // An active account with the same id shares the keychain item.
    if (indexOf(account.id) >= 0)
        return;
    const Keychain::Status status =
        Keychain::remove(KeychainStore::baseQuery(Json::uuidText(account.id)));
    if (status == Keychain::success || status == Keychain::itemNotFound)
        succeeded();
    else
        failed(KeychainStore::KeychainError::fromStatus(status).message());
    forgetUsage();
    scheduleWidgetRefresh();
}

void AccountStore::emptyRecentlyDeleted() {
    const QList<Account> taken = m_deletedAccounts;
    setDeletedAccounts({});
    for (const Account& account : taken)
        if (indexOf(account.id) < 0)
            Keychain::remove(KeychainStore::baseQuery(Json::uuidText(account.id)));
    forgetUsage();
    scheduleWidgetRefresh();
}

void AccountStore::purgeExpired() {
    const QDateTime current = now();
    const QDateTime cutoff = current.addSecs(-recentlyDeletedSeconds);
    QSet<QUuid> expired;
    for (const Account& account : std::as_const(m_deletedAccounts))
        if (account.deletedAt.value_or(current) < cutoff)
            expired.insert(account.id);
    if (expired.isEmpty())
        return;
    for (const Account& account : std::as_const(m_deletedAccounts))
        if (expired.contains(account.id))
            Keychain::remove(KeychainStore::baseQuery(Json::uuidText(account.id)));
    m_deletedAccounts.removeIf([&](const Account& a) { return expired.contains(a.id); });
    emit deletedAccountsChanged();
}

// MARK: - Import merge

bool AccountStore::sameAccount(const Account& a, const Account& b) {
    const auto equal = [](const QString& x, const QString& y) {
        return x == y || x.normalized(QString::NormalizationForm_C) ==
                             y.normalized(QString::NormalizationForm_C);
    };
    return a.secret == b.secret && equal(a.name, b.name) && equal(a.issuer, b.issuer);
}

std::optional<Account> AccountStore::prepareIncoming(const Account& incoming) {
    for (const Account& account : std::as_const(m_accounts))
        if (sameAccount(account, incoming))
            return std::nullopt;
    for (qsizetype i = 0; i < m_deletedAccounts.size(); ++i) {
        if (!sameAccount(m_deletedAccounts[i], incoming))
            continue;
        Account restored = m_deletedAccounts.takeAt(i);
        emit deletedAccountsChanged();
        restored.deletedAt.reset();
        m_log.record(SecurityEvent::restored(restored.displayLabel()));
        return restored;
    }
    const auto hasId = [&](const QList<Account>& list) {
        return std::any_of(list.begin(), list.end(),
                           [&](const Account& a) { return a.id == incoming.id; });
    };
    if (hasId(m_accounts) || hasId(m_deletedAccounts)) {
        Account fresh = incoming;
        fresh.id = QUuid::createUuid();
        return fresh;
    }
    return incoming;
}

int AccountStore::importAccounts(QList<Account> incoming) {
    Operation operation(*this);
    QList<Account> accepted;
    for (const Account& account : incoming) {
        const auto candidate = prepareIncoming(account);
        if (!candidate)
            continue;
        if (std::any_of(accepted.begin(), accepted.end(),
                        [&](const Account& a) { return sameAccount(a, *candidate); }))
            continue;
        m_accounts.append(*candidate);
        emit accountsChanged();
        accepted.append(*candidate);
    }
    if (accepted.isEmpty())
        return 0;
    for (const Account& account : std::as_const(accepted))
        save(account);
    saveOrder();
    if (accepted.size() == 1)
        m_log.record(SecurityEvent::added(accepted.first().displayLabel()));
    else
        m_log.record(SecurityEvent::imported(accepted.size()));
    return int(accepted.size());
}

// MARK: - Folders

namespace {

QByteArray encodeFolders(const QList<Folder>& folders) {
    QJsonArray list;
    for (const Folder& folder : folders)
        list.append(folder.toJson());
    return Json::serialize(QJsonDocument(list));
}

std::optional<QList<Folder>> decodeFolders(const QByteArray& data) {
    const auto document = Json::parse(data);
    if (!document || !document->isArray())
        return std::nullopt;
    QList<Folder> folders;
    for (const QJsonValue& value : document->array()) {
        const auto folder = value.isObject() ? Folder::fromJson(value.toObject()) : std::nullopt;
        if (!folder)
            return std::nullopt;
        folders.append(*folder);
    }
    return folders;
}

void writeCatalog(const QList<Folder>& folders, const QDateTime& date) {
    const FolderCatalog catalog{folders, date};
    try {
        KeychainStore::upsert(KeychainStore::foldersAccount,
                              Json::serialize(QJsonDocument(catalog.toJson(Json::DateForm::iso8601))));
    } catch (const KeychainStore::KeychainError&) {
        // The local copy is newer now and wins at the next reconciliation.
    }
}

} // namespace

void AccountStore::syncFolders() {
    const QDateTime distantPast = CorrectedClock::State::distantPast();
    const QDateTime localDate =
        m_defaults.date(Settings::accountFoldersUpdatedAt.key).value_or(distantPast);
    QList<Folder> localList;
    if (const auto data = m_defaults.data(Settings::accountFolders.key))
        localList = decodeFolders(*data).value_or(QList<Folder>());
    const auto catalog = KeychainStore::readFolders();

    if (!catalog) {
        setFolders(localList);
        if (!localList.isEmpty())
            writeCatalog(localList, localDate == distantPast ? now() : localDate);
        return;
    }
    const bool keychainWins = catalog->updatedAt >= localDate;
    const QList<Folder>& winner = keychainWins ? catalog->folders : localList;
    const QList<Folder>& loser = keychainWins ? localList : catalog->folders;
    QSet<QUuid> used;
    for (const Account& account : std::as_const(m_accounts))
        if (account.folderID)
            used.insert(*account.folderID);
    QList<Folder> merged = winner;
    for (const Folder& folder : loser) {
        const bool present = std::any_of(merged.begin(), merged.end(),
                                         [&](const Folder& f) { return f.id == folder.id; });
        if (!present && used.contains(folder.id))
            merged.append(folder);
    }
    setFolders(merged);
    const QDateTime newDate = std::max(localDate, catalog->updatedAt);
    storeLocalFolders(merged, newDate);
    const bool newToKeychain = std::any_of(merged.begin(), merged.end(), [&](const Folder& f) {
        return std::none_of(catalog->folders.begin(), catalog->folders.end(),
                            [&](const Folder& k) { return k.id == f.id; });
    });
    if (newToKeychain)
        writeCatalog(merged, newDate);
}

void AccountStore::storeLocalFolders(const QList<Folder>& folders, const QDateTime& date) {
    m_defaults.setValue(Settings::accountFolders.key, encodeFolders(folders));
    m_defaults.setValue(Settings::accountFoldersUpdatedAt.key, date);
}

void AccountStore::saveFolders() {
    const QDateTime current = now();
    storeLocalFolders(m_folders, current);
    writeCatalog(m_folders, current);
}

Folder AccountStore::addFolder(const QString& name, const QString& symbol) {
    const QString trimmed = Text::trimmedBlanksAndTabs(name);
    for (const Folder& folder : std::as_const(m_folders))
        if (folder.name.compare(trimmed, Qt::CaseInsensitive) == 0)
            return folder;
    Folder folder;
    folder.name = trimmed.isEmpty() ? QStringLiteral("Folder") : trimmed;
    folder.symbol = symbol;
    m_folders.append(folder);
    emit foldersChanged();
    saveFolders();
    return folder;
}

void AccountStore::renameFolder(const QUuid& id, const QString& name) {
    for (Folder& folder : m_folders) {
        if (folder.id != id)
            continue;
        folder.name = Text::trimmedBlanksAndTabs(name);
        emit foldersChanged();
        saveFolders();
        return;
    }
}

void AccountStore::deleteFolder(const QUuid& id) {
    if (m_folders.removeIf([&](const Folder& f) { return f.id == id; }) > 0)
        emit foldersChanged();
    saveFolders();
    const QList<Account> snapshot = m_accounts;
    for (const Account& account : snapshot) {
        if (account.folderID != id)
            continue;
        Account moved = account;
        moved.folderID.reset();
        update(moved);
    }
}
