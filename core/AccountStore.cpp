#include "core/AccountStore.h"

#include "core/CorrectedClock.h"
#include "core/HotpCounter.h"
#include "core/Limits.h"
#include "core/SecurityLog.h"
#include "core/SerialQueue.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "platform/files/RegularFile.h"
#include "platform/files/UserDefaults.h"
#include "platform/system/FreedMemory.h"
#include "platform/system/Widgets.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

using KeychainStore::KeychainError;

// Marks the extent of one operation, so that its steps report together and
// its changes are announced once, when it ends.
class AccountStore::Operation {
public:
    explicit Operation(AccountStore& store) : m_store(store) {
        if (m_store.m_operationDepth++ == 0)
            m_store.m_operationFailed = false;
    }
    ~Operation() {
        if (--m_store.m_operationDepth == 0)
            m_store.emitChanges();
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

private:
    AccountStore& m_store;
};

// What one read of the keychain found.
struct AccountStore::Loaded {
    bool unchanged = false; // the keychain's stamp says nothing changed: nothing was read
    std::optional<QByteArray> stamp;
    std::optional<KeychainStore::Vault> vault;
    std::optional<KeychainError> error;
    std::optional<FolderCatalog> catalog;
};

// The accounts an import will write: new ones and Recently Deleted entries
// coming back, in the order accepted.
struct AccountStore::ImportPlan {
    QList<Account> accounts;
    QList<bool> restored;
};

namespace {

// The identity of the merge: secret, name and issuer, with canonically
// equivalent texts made equal.
struct Identity {
    QByteArray secret;
    QString name;
    QString issuer;
    friend bool operator==(const Identity&, const Identity&) = default;
};

size_t qHash(const Identity& identity, size_t seed = 0) {
    return qHashMulti(seed, identity.secret, identity.name, identity.issuer);
}

Identity identityOf(const Account& account) {
    return {account.secret, account.name.normalized(QString::NormalizationForm_C),
            account.issuer.normalized(QString::NormalizationForm_C)};
}

} // namespace

AccountStore::AccountStore(UserDefaults& defaults, SecurityLog& log,
                           std::function<QDateTime()> clock, QObject* parent, Opening opening)
    : QObject(parent), m_defaults(defaults), m_log(log), m_now(std::move(clock)),
      m_queue(std::make_unique<SerialQueue>()) {
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(reloadDelayMs);
    connect(&m_reloadTimer, &QTimer::timeout, this, &AccountStore::reloadInBackground);
    m_widgetTimer.setSingleShot(true);
    m_widgetTimer.setInterval(widgetRefreshDelayMs);
    connect(&m_widgetTimer, &QTimer::timeout, this, [] { Widgets::reloadAll(); });
    loadUsage();
    startLoad(true);
    if (opening == Opening::now)
        waitForPendingWork();
}

AccountStore::~AccountStore() { finish(); }

// MARK: - Published values

void AccountStore::emitChanges() {
    const unsigned changes = std::exchange(m_changes, 0);
    if (changes & accountsChange)
        emit accountsChanged();
    if (changes & usageChange)
        emit usageChanged();
    if (changes & deletedChange)
        emit deletedAccountsChanged();
    if (changes & foldersChange)
        emit foldersChanged();
    if (changes & stateChange)
        emit vaultStateChanged();
    if (changes & lastErrorChange)
        emit lastErrorChanged();
    if (changes & (accountsChange | foldersChange | stateChange))
        emit listsChanged();
}

void AccountStore::setAccounts(const QList<Account>& accounts) {
    Operation operation(*this);
    m_accounts = accounts;
    changed(accountsChange);
}

void AccountStore::setDeletedAccounts(const QList<Account>& accounts) {
    Operation operation(*this);
    m_deletedAccounts = accounts;
    changed(deletedChange);
}

void AccountStore::setFolders(const QList<Folder>& folders) {
    Operation operation(*this);
    m_folders = folders;
    changed(foldersChange);
}

void AccountStore::setLastError(const std::optional<QString>& error) {
    publishError(error, error.value_or(QString()));
}

void AccountStore::publishError(const std::optional<QString>& error, const QString& reason) {
    Operation operation(*this);
    if (error == m_lastError && reason == m_failureReason)
        return;
    m_lastError = error;
    m_failureReason = reason;
    changed(lastErrorChange);
}

void AccountStore::setVaultState(VaultState state) {
    if (state == m_vaultState)
        return;
    m_vaultState = state;
    changed(stateChange);
}

void AccountStore::succeeded() {
    if (!m_operationFailed)
        publishError(std::nullopt, QString());
}

void AccountStore::failed(const KeychainError& error) { failed(error.message(), explain(error)); }

void AccountStore::failed(const QString& message, const QString& reason) {
    if (m_operationFailed)
        return;
    m_operationFailed = true;
    ++m_failureCount;
    publishError(message, reason);
}

QString AccountStore::explain(const KeychainError& error) {
    // Already a sentence, with the status after it.
    return error.message();
}

qsizetype AccountStore::indexOf(const QUuid& id) const {
    for (qsizetype i = 0; i < m_accounts.size(); ++i)
        if (m_accounts[i].id == id)
            return i;
    return -1;
}

QList<QUuid> AccountStore::activeIDs() const {
    QList<QUuid> ids;
    ids.reserve(m_accounts.size());
    for (const Account& account : m_accounts)
        ids.append(account.id);
    return ids;
}

// MARK: - Background work

void AccountStore::deliver(std::function<void()> completion) {
    QMutexLocker lock(&m_completionsMutex);
    m_completions.push_back(std::move(completion));
    if (!m_drainPosted) {
        m_drainPosted = true;
        QMetaObject::invokeMethod(this, &AccountStore::drain, Qt::QueuedConnection);
    }
}

bool AccountStore::drain() {
    std::deque<std::function<void()>> ready;
    {
        QMutexLocker lock(&m_completionsMutex);
        ready.swap(m_completions);
        m_drainPosted = false;
    }
    for (const auto& completion : ready)
        completion();
    return !ready.empty();
}

void AccountStore::waitForPendingWork() {
    // A result applied may start more work (an import waiting for the vault).
    do
        m_queue->waitForIdle();
    while (drain());
}

void AccountStore::finish() {
    m_closing = true;
    if (m_loading)
        Keychain::cancelInteraction();
    waitForPendingWork();
}

void AccountStore::startLoad(bool openFirst, const std::optional<QByteArray>& sinceStamp) {
    m_loading = true;
    const quint64 generation = m_writeGeneration;
    m_queue->enqueue([this, openFirst, sinceStamp, generation] {
        Loaded loaded;
        // Opening is the one step that may wait for the user, through the
        // keyring's own prompt; never when the program is quitting.
        const Keychain::Status opened =
            !openFirst ? Keychain::success
                       : m_closing ? Keychain::interactionNotAllowed : Keychain::open();
        if (opened != Keychain::success) {
            loaded.error = KeychainError::fromStatus(opened);
        } else {
            // Taken before the read: a change during the read makes the
            // next stamp differ, never the other way round.
            loaded.stamp = Keychain::changeStamp();
            if (sinceStamp && loaded.stamp == sinceStamp) {
                loaded.unchanged = true;
                deliver([this, loaded, generation] { applyLoad(loaded, generation); });
                return;
            }
            try {
                loaded.vault = KeychainStore::loadAll();
                // The clock's state and the folders live in the same items.
                CorrectedClock::load(loaded.vault->clockState);
                loaded.catalog = loaded.vault->folders;
            } catch (const KeychainError& error) {
                loaded.error = error;
            }
        }
        if (!loaded.vault)
            loaded.catalog = KeychainStore::readFolders();
        const bool large = loaded.vault && loaded.vault->active.size() >= Limits::largeVault;
        deliver([this, loaded, generation] { applyLoad(loaded, generation); });
        // What reading a large vault took besides the vault itself (the
        // file's text and items, or the service's answers) is free now.
        if (large)
            FreedMemory::giveBack();
    });
}

void AccountStore::applyLoad(const Loaded& loaded, quint64 generation) {
    m_loading = false;
    // A change heard while this read ran may not be in it.
    if (m_keychainChanged)
        scheduleReload();
    if (loaded.unchanged) {
        emit reloaded();
        startNextImport();
        return;
    }
    m_readStamp.reset();
    if (m_vaultState == VaultState::open && generation != m_writeGeneration) {
        // Something was written while the keychain was read: what was read
        // may predate it. Read again.
        scheduleReload();
        startNextImport();
        return;
    }
    {
        Operation operation(*this);
        if (loaded.vault) {
            // A read that found what is shown changes nothing on screen.
            if (QList<Account> active = applyUsage(loaded.vault->active); active != m_accounts) {
                m_accounts = std::move(active);
                changed(accountsChange);
            }
            if (loaded.vault->deleted != m_deletedAccounts) {
                m_deletedAccounts = loaded.vault->deleted;
                changed(deletedChange);
            }
            if (m_unreadableIDs != loaded.vault->unreadable) {
                m_unreadableIDs = loaded.vault->unreadable;
                changed(stateChange);
            }
            setVaultState(VaultState::open);
            m_readStamp = loaded.stamp;
            succeeded();
            purgeExpired();
            recoverImportEntry();
            // The list read replaced the one shown, which goes once the
            // result is applied: its memory goes back then.
            if (loaded.vault->active.size() >= Limits::largeVault)
                QTimer::singleShot(0, this, [] { FreedMemory::giveBack(); });
        } else {
            // The lists stay as they were: an unreadable keychain is no empty
            // vault, and one that was read keeps showing what it held.
            failed(*loaded.error);
            if (m_vaultState != VaultState::open)
                setVaultState(loaded.error->status() == Keychain::interactionNotAllowed
                                  ? VaultState::locked
                                  : VaultState::unreadable);
        }
        reconcileFolders(loaded.catalog);
    }
    emit reloaded();
    startNextImport();
}

void AccountStore::reload() {
    m_reloadTimer.stop();
    startLoad(false);
    waitForPendingWork();
}

void AccountStore::scheduleReload() { m_reloadTimer.start(); }

void AccountStore::applicationBecameActive() {
    if (m_loading)
        return; // the read under way will do
    scheduleReload();
}

void AccountStore::keychainChanged() {
    m_keychainChanged = true;
    scheduleReload();
}

void AccountStore::reloadInBackground() {
    if (m_loading)
        return; // the read under way will do, or is followed by another
    // The service's own change count may not have heard yet what the
    // watch did: read regardless.
    const bool changed = std::exchange(m_keychainChanged, false);
    startLoad(false, changed ? std::nullopt : m_readStamp);
}

void AccountStore::tryAgain() {
    if (m_loading)
        return;
    m_reloadTimer.stop();
    {
        Operation operation(*this);
        if (m_vaultState != VaultState::open)
            setVaultState(VaultState::opening);
    }
    startLoad(true);
}

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
    // keychain item catches up when the account is next saved. A use
    // changes nothing a view of the accounts shows but that order, so it is
    // announced apart: views that rebuild on every account change (the
    // checkup) must not do so on every copy.
    if (const qsizetype i = indexOf(id); i >= 0) {
        Operation operation(*this);
        merge(m_accounts[i], entry);
        changed(usageChange);
    }
}

// MARK: - Saving

bool AccountStore::save(Account& account) {
    QList<Account> one{account};
    const bool stored = saveAll(one).first();
    account = one.first();
    return stored;
}

QList<bool> AccountStore::saveAll(QList<Account>& accounts) {
    Operation operation(*this);
    ++m_writeGeneration;
    // A HOTP counter goes out as it is stored, or higher: never back.
    const QList<bool> stored = HotpCounter::writeNotBehind(accounts, [this](const QList<Account>& raised) {
        QList<bool> written;
        for (const auto& error : KeychainStore::saveAll(raised)) {
            if (error)
                failed(*error);
            written.append(!error);
        }
        return written;
    });
    if (!stored.contains(false))
        succeeded();
    scheduleWidgetRefresh();
    return stored;
}

bool AccountStore::saveOrder() { return saveOrder(activeIDs()); }

bool AccountStore::saveOrder(const QList<QUuid>& ids) {
    Operation operation(*this);
    ++m_writeGeneration;
    bool stored = false;
    try {
        KeychainStore::saveOrder(ids);
        succeeded();
        stored = true;
    } catch (const KeychainError& error) {
        failed(error);
    }
    scheduleWidgetRefresh();
    return stored;
}

// MARK: - Account operations

void AccountStore::advanceCounter(const Account& account, Advanced done) {
    const qsizetype i = account.type == OTPType::hotp ? indexOf(account.id) : -1;
    if (i < 0) {
        if (done)
            done(std::nullopt);
        return;
    }
    // A read of the keychain under way predates this write.
    ++m_writeGeneration;
    takeCounter(m_accounts[i], true, std::move(done));
}

void AccountStore::currentCounter(const Account& account, Advanced done) {
    if (account.type != OTPType::hotp) {
        done(account);
        return;
    }
    const qsizetype i = indexOf(account.id);
    if (i < 0) {
        done(std::nullopt);
        return;
    }
    takeCounter(m_accounts[i], false, std::move(done));
}

void AccountStore::takeCounter(const Account& listed, bool advance, Advanced done) {
    m_queue->enqueue([this, listed, advance, done = std::move(done)] {
        std::optional<Account> taken;
        std::optional<KeychainError> error;
        try {
            taken = advance ? HotpCounter::advance(listed) : HotpCounter::current(listed);
        } catch (const KeychainError& thrown) {
            error = thrown;
        }
        deliver([this, taken, error, advance, done] {
            {
                Operation operation(*this);
                if (taken) {
                    succeeded();
                    // The row shows the code that goes out next.
                    const quint64 next = advance ? taken->counter + 1 : taken->counter;
                    if (const qsizetype at = indexOf(taken->id);
                        at >= 0 && m_accounts[at].counter != next) {
                        m_accounts[at].counter = next;
                        changed(accountsChange);
                    }
                    if (advance)
                        scheduleWidgetRefresh();
                } else {
                    failed(*error);
                }
            }
            if (done)
                done(taken);
        });
    });
}

bool AccountStore::toggleFavorite(const QUuid& id) {
    const qsizetype i = indexOf(id);
    if (i < 0)
        return false;
    Operation operation(*this);
    Account toggled = m_accounts[i];
    toggled.isFavorite = !toggled.isFavorite;
    if (!save(toggled))
        return false;
    m_accounts[i] = toggled;
    changed(accountsChange);
    // A new favourite goes to the top of the manual order.
    return !toggled.isFavorite || moveAccountToIndex(id, 0) || indexOf(id) == 0;
}

bool AccountStore::moveAccountToIndex(const QUuid& id, qsizetype index) {
    const qsizetype from = indexOf(id);
    if (from < 0)
        return false;
    const qsizetype target = std::max<qsizetype>(std::min(index, m_accounts.size() - 1), 0);
    if (target == from)
        return false;
    QList<QUuid> ids = activeIDs();
    ids.move(from, target);
    return setOrder(ids);
}

bool AccountStore::setFolder(const std::optional<QUuid>& folderID, const QUuid& accountID) {
    const qsizetype i = indexOf(accountID);
    if (i < 0)
        return false;
    Operation operation(*this);
    Account moved = m_accounts[i];
    moved.folderID = folderID;
    if (!save(moved))
        return false;
    m_accounts[i] = moved;
    changed(accountsChange);
    return true;
}

bool AccountStore::update(Account account) {
    const qsizetype i = indexOf(account.id);
    if (i < 0)
        return false;
    Operation operation(*this);
    if (const auto tooLarge = Limits::check(account)) {
        failed(*tooLarge, *tooLarge);
        return false;
    }
    // Typed or pasted names keep no controls or direction overrides either.
    account = Limits::cleaned(std::move(account));
    if (!save(account))
        return false;
    m_accounts[i] = account;
    changed(accountsChange);
    m_log.record(SecurityEvent::edited(account.displayLabel()));
    return true;
}

bool AccountStore::move(const QUuid& movedID, const QUuid& targetID) {
    if (movedID == targetID)
        return false;
    const qsizetype from = indexOf(movedID);
    const qsizetype to = indexOf(targetID);
    if (from < 0 || to < 0)
        return false;
    QList<QUuid> ids = activeIDs();
    ids.removeAt(from);
    ids.insert(from < to ? to - 1 : to, movedID);
    return setOrder(ids);
}

bool AccountStore::setOrder(const QList<QUuid>& ids) {
    QHash<QUuid, qsizetype> position;
    for (qsizetype i = 0; i < m_accounts.size(); ++i)
        position.insert(m_accounts[i].id, i);
    if (ids.size() != m_accounts.size() || QSet<QUuid>(ids.begin(), ids.end()).size() != ids.size())
        return false;
    QList<Account> reordered;
    reordered.reserve(ids.size());
    for (const QUuid& id : ids) {
        const auto found = position.constFind(id);
        if (found == position.constEnd())
            return false;
        reordered.append(m_accounts[*found]);
    }
    Operation operation(*this);
    if (!saveOrder(ids))
        return false;
    m_accounts = reordered;
    changed(accountsChange);
    return true;
}

int AccountStore::accountsInFolder(const QUuid& folderID) const {
    return int(std::count_if(m_accounts.begin(), m_accounts.end(),
                             [&](const Account& a) { return a.folderID == folderID; }));
}

bool AccountStore::deleteAccount(const QUuid& id) {
    const qsizetype i = indexOf(id);
    if (i < 0)
        return false;
    Operation operation(*this);
    Account account = m_accounts[i];
    account.deletedAt = now();
    // The item carrying deletedAt is the deletion: a reload puts it in
    // Recently Deleted whatever the order says.
    if (!save(account))
        return false;
    m_accounts.removeAt(i);
    m_deletedAccounts.prepend(account);
    changed(accountsChange | deletedChange);
    saveOrder();
    m_log.record(SecurityEvent::deleted(account.displayLabel()));
    return true;
}

bool AccountStore::restore(const QUuid& id) {
    const auto it = std::find_if(m_deletedAccounts.begin(), m_deletedAccounts.end(),
                                 [&](const Account& a) { return a.id == id; });
    if (it == m_deletedAccounts.end())
        return false;
    Operation operation(*this);
    Account account = *it;
    account.deletedAt.reset();
    if (!save(account))
        return false;
    m_deletedAccounts.erase(it);
    m_accounts.append(account);
    changed(accountsChange | deletedChange);
    saveOrder();
    m_log.record(SecurityEvent::restored(account.displayLabel()));
    return true;
}

bool AccountStore::erase(Account account) {
    Operation operation(*this);
    const auto removeEntries = [&] {
        if (m_deletedAccounts.removeIf([&](const Account& a) { return a.id == account.id; }) > 0)
            changed(deletedChange);
        m_log.record(SecurityEvent::erased(account.displayLabel()));
    };
    // An active account with the same id shares the keychain item, which stays.
    if (indexOf(account.id) >= 0) {
        removeEntries();
        return true;
    }
    ++m_writeGeneration;
    const Keychain::Status status =
        Keychain::remove(KeychainStore::baseQuery(Json::uuidText(account.id)));
    if (status != Keychain::success && status != Keychain::itemNotFound) {
        failed(KeychainError::fromStatus(status));
        return false;
    }
    succeeded();
    removeEntries();
    forgetUsage();
    scheduleWidgetRefresh();
    return true;
}

void AccountStore::emptyRecentlyDeleted() {
    Operation operation(*this);
    ++m_writeGeneration;
    // An entry whose item could not be removed stays listed: it would come
    // back at the next reload anyway.
    // Each entry that leaves the list is erased for good, as one erase() is,
    // and the timeline says so for each.
    QList<Account> kept;
    for (const Account& account : std::as_const(m_deletedAccounts)) {
        if (indexOf(account.id) < 0) {
            const Keychain::Status status =
                Keychain::remove(KeychainStore::baseQuery(Json::uuidText(account.id)));
            if (status != Keychain::success && status != Keychain::itemNotFound) {
                failed(KeychainError::fromStatus(status));
                kept.append(account);
                continue;
            }
        }
        m_log.record(SecurityEvent::erased(account.displayLabel()));
    }
    if (kept.size() != m_deletedAccounts.size()) {
        m_deletedAccounts = kept;
        changed(deletedChange);
    }
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
    Operation operation(*this);
    ++m_writeGeneration;
    // Silent, as the purge has no one to tell; an item that could not be
    // removed stays listed and is purged at a later reload.
    QSet<QUuid> purged;
    for (const QUuid& id : std::as_const(expired)) {
        const Keychain::Status status = Keychain::remove(KeychainStore::baseQuery(Json::uuidText(id)));
        if (status == Keychain::success || status == Keychain::itemNotFound)
            purged.insert(id);
    }
    if (m_deletedAccounts.removeIf([&](const Account& a) { return purged.contains(a.id); }) > 0)
        changed(deletedChange);
}

// MARK: - Import merge

bool AccountStore::sameAccount(const Account& a, const Account& b) {
    return a.secret == b.secret && identityOf(a) == identityOf(b);
}

std::optional<Account> AccountStore::prepareIncoming(const Account& incoming) const {
    for (const Account& account : std::as_const(m_accounts))
        if (sameAccount(account, incoming))
            return std::nullopt;
    for (const Account& deleted : std::as_const(m_deletedAccounts))
        if (sameAccount(deleted, incoming)) {
            Account restored = deleted;
            restored.deletedAt.reset();
            return restored;
        }
    const auto hasId = [&](const QList<Account>& list) {
        return std::any_of(list.begin(), list.end(),
                           [&](const Account& a) { return a.id == incoming.id; });
    };
    if (hasId(m_accounts) || hasId(m_deletedAccounts) || m_unreadableIDs.contains(incoming.id)) {
        Account fresh = incoming;
        fresh.id = QUuid::createUuid();
        return fresh;
    }
    return incoming;
}

AccountStore::ImportPlan AccountStore::planImport(const QList<Account>& incoming) const {
    // prepareIncoming() over hashed identities, and with the accounts this
    // import accepted counted as listed: a few thousand accounts merge in
    // milliseconds.
    QSet<Identity> listed;
    QHash<Identity, qsizetype> deleted; // the first Recently Deleted entry of each
    QSet<QUuid> takenIDs(m_unreadableIDs.begin(), m_unreadableIDs.end());
    for (const Account& account : std::as_const(m_accounts)) {
        listed.insert(identityOf(account));
        takenIDs.insert(account.id);
    }
    // Backwards, so that the first entry of an identity is the one kept.
    for (qsizetype i = m_deletedAccounts.size() - 1; i >= 0; --i) {
        deleted.insert(identityOf(m_deletedAccounts[i]), i);
        takenIDs.insert(m_deletedAccounts[i].id);
    }

    ImportPlan plan;
    // Sized once: a list grown by doubling holds half again its accounts
    // while it grows, and a large export is thousands of them.
    plan.accounts.reserve(incoming.size());
    plan.restored.reserve(incoming.size());
    for (const Account& account : incoming) {
        const Identity identity = identityOf(account);
        if (listed.contains(identity))
            continue;
        listed.insert(identity);
        if (const auto found = deleted.constFind(identity); found != deleted.constEnd()) {
            Account restored = m_deletedAccounts[*found];
            restored.deletedAt.reset();
            plan.accounts.append(restored);
            plan.restored.append(true);
            continue;
        }
        Account candidate = account;
        if (takenIDs.contains(candidate.id))
            candidate.id = QUuid::createUuid();
        takenIDs.insert(candidate.id);
        plan.accounts.append(candidate);
        plan.restored.append(false);
    }
    return plan;
}

int AccountStore::importAccounts(QList<Account> incoming) {
    std::optional<ImportResult> result;
    importAccounts(std::move(incoming), [&result](const ImportResult& r) { result = r; });
    waitForPendingWork();
    return result ? result->added : 0;
}

void AccountStore::importAccounts(QList<Account> incoming,
                                  std::function<void(const ImportResult&)> done,
                                  std::function<void(int stored, int total)> progress) {
    m_pendingImports.push_back({std::move(incoming), std::move(done), std::move(progress)});
    startNextImport();
}

namespace {

// Beside the timeline: the accounts of an import under way, noted before
// they reach the keychain and forgotten once the import's timeline entry is
// on the disk. A program killed in between finds the note at its next start.
QString importNotePath(const SecurityLog& log) {
    return log.path() + QStringLiteral(".import");
}

void writeImportNote(const QString& path, qint64 startedAt, const QList<Account>& accounts) {
    if (RegularFile::writeRefusal(path)) return;
    QByteArray ids;
    ids.reserve(accounts.size() * 39);
    for (const Account& account : accounts) {
        if (!ids.isEmpty()) ids += ',';
        ids += '"' + Json::uuidText(account.id).toLatin1() + '"';
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write("{\"at\":" + QByteArray::number(startedAt) + ",\"ids\":[" + ids + "]}");
    file.commit(); // flushed to the disk before the keychain is written
}

// Forgets the note once every timeline entry recorded so far is on the disk
// (one still waiting for room is not: the note stands for it).
void forgetImportNote(SecurityLog& log, const QString& path) {
    log.waitForIdle();
    if (log.snapshot().unwritten == 0) QFile::remove(path);
}

} // namespace

void AccountStore::recoverImportEntry() {
    if (std::exchange(m_importEntryChecked, true)) return;
    const QString path = importNotePath(m_log);
    QByteArray bytes;
    if (RegularFile::read(path, RegularFile::maximumStoredSize, &bytes) != RegularFile::Status::ok)
        return;
    const auto document = Json::parse(bytes);
    const QJsonObject note = document ? document->object() : QJsonObject();
    const qint64 startedAt = Json::toInt64(note.value(QLatin1String("at"))).value_or(0);
    QSet<QString> ids;
    for (const QJsonValue& id : note.value(QLatin1String("ids")).toArray())
        ids.insert(id.toString());
    // What of the import the keychain holds.
    QList<Account> stored;
    for (const QList<Account>* list : {&m_accounts, &m_deletedAccounts})
        for (const Account& account : *list)
            if (ids.contains(Json::uuidText(account.id))) stored.append(account);
    SecurityLog* log = &m_log;
    m_queue->enqueue([log, path, startedAt, stored] {
        // Recorded before the kill, if the entry reached the file.
        const SecurityLog::Snapshot snapshot = log->snapshot();
        const bool recorded =
            std::any_of(snapshot.entries.begin(), snapshot.entries.end(), [&](const AuditEntry& e) {
                return e.unixMillis >= startedAt &&
                       (e.type == SecurityEvent::imported(0).type() ||
                        e.type == SecurityEvent::added(QString()).type());
            });
        if (!recorded && stored.size() == 1)
            log->record(SecurityEvent::added(stored.first().displayLabel()));
        else if (!recorded && stored.size() > 1)
            log->record(SecurityEvent::imported(stored.size()));
        forgetImportNote(*log, path);
    });
}

void AccountStore::startNextImport() {
    while (!m_importRunning && !m_loading && !m_pendingImports.empty()) {
        PendingImport next = std::move(m_pendingImports.front());
        m_pendingImports.pop_front();
        const auto finish = [this, done = next.done](const ImportResult& result) {
            // Through the queue of results, so that the caller hears of it
            // after it returned, like of a stored import.
            deliver([done, result] {
                if (done)
                    done(result);
            });
        };

        // Nothing may be added to a vault that could not be read: the
        // accounts would look added while the keychain holds nothing. The
        // vault's own failure stays in lastError.
        if (m_vaultState == VaultState::locked) {
            finish({0, 0, QStringLiteral("Your keyring is locked, so nothing was added.")});
            continue;
        }
        if (m_vaultState != VaultState::open) {
            finish({0, 0,
                    QStringLiteral("Quillet could not read your keyring, so nothing was added. ") +
                        failureReason()});
            continue;
        }
        // Every way in meets the same rule: an account that breaks it is
        // left out and counted, the others are stored. A folder this vault
        // does not have is no folder.
        Limits::Admission admission = Limits::admit(next.incoming);
        QList<Account>& accepted = admission.accepted;
        const int refused = admission.refused;
        const std::optional<QString>& firstRefusal = admission.firstRefusal;
        QSet<QUuid> folderIDs;
        for (const Folder& folder : std::as_const(m_folders))
            folderIDs.insert(folder.id);
        for (Account& account : accepted)
            if (account.folderID && !folderIDs.contains(*account.folderID))
                account.folderID.reset();
        if (accepted.isEmpty() && firstRefusal) {
            const QString refusal = *firstRefusal + QStringLiteral(" Nothing was added.");
            Operation operation(*this);
            failed(refusal, refusal);
            finish({0, 0, refusal, refused});
            continue;
        }

        const ImportPlan plan = planImport(accepted);
        if (plan.accounts.isEmpty()) {
            // Everything was already there: nothing to write, nothing to record.
            finish({0, 0, std::nullopt, refused});
            continue;
        }
        m_importRunning = true;
        m_import = {};
        m_import.progress = next.progress;
        QList<QUuid> order = activeIDs();
        for (const Account& account : plan.accounts)
            order.append(account.id);
        const quint64 generation = m_writeGeneration;
        const QString note = importNotePath(m_log);
        m_queue->enqueue([this, plan, order, generation, refused, note, done = next.done] {
            writeImportNote(note, QDateTime::currentMSecsSinceEpoch(), plan.accounts);
            // A backend that writes item by item tells how far it got: what
            // is stored is listed every so often, and a program that quits
            // stops the import after the item under way.
            qsizetype listed = 0;
            QElapsedTimer sinceListed;
            sinceListed.start();
            const auto listStored = [&](const QList<std::optional<KeychainError>>& done) {
                const qsizetype upTo = std::min(done.size(), plan.accounts.size());
                if (upTo > listed) {
                    deliver([this, plan, first = listed, part = done.mid(listed, upTo - listed)] {
                        applyImported(plan, first, part);
                    });
                    listed = upTo;
                }
            };
            const auto errors = KeychainStore::saveAll(
                plan.accounts, order, [&](const QList<std::optional<KeychainError>>& done) {
                    if (sinceListed.elapsed() >= importProgressMs) {
                        listStored(done);
                        sinceListed.restart();
                    }
                    return !m_closing;
                });
            listStored(errors);
            // The batch and the file's items built for it are gone.
            FreedMemory::giveBack();
            deliver([this, plan, orderError = errors.value(plan.accounts.size()), generation,
                     refused, done] { finishImport(plan, orderError, generation, refused, done); });
        });
    }
}

void AccountStore::applyImported(const ImportPlan& plan, qsizetype first,
                                 const QList<std::optional<KeychainError>>& errors) {
    Operation operation(*this);
    ++m_writeGeneration;
    ++m_import.parts;
    QList<Account> added;
    for (qsizetype i = 0; i < errors.size(); ++i) {
        if (const auto& error = errors[i]) {
            m_import.firstError = m_import.firstError.value_or(*error);
            ++m_import.notAdded;
            continue;
        }
        const Account& account = plan.accounts[first + i];
        if (plan.restored[first + i]) {
            if (m_deletedAccounts.removeIf([&](const Account& a) { return a.id == account.id; }) > 0)
                changed(deletedChange);
            m_log.record(SecurityEvent::restored(account.displayLabel()));
        }
        added.append(account);
    }
    if (!added.isEmpty()) {
        m_accounts.append(added);
        m_import.added.append(added);
        changed(accountsChange);
    }
    if (m_import.progress)
        m_import.progress(int(m_import.added.size()), int(plan.accounts.size()));
}

void AccountStore::finishImport(const ImportPlan& plan,
                                const std::optional<KeychainError>& orderError,
                                quint64 generation, int refused,
                                const std::function<void(const ImportResult&)>& done) {
    m_importRunning = false;
    ImportResult result;
    {
        Operation operation(*this);
        const ImportTally tally = std::exchange(m_import, {});
        // Writes made on this thread while the import ran, besides its own
        // parts, may have written another order.
        const bool sawWrites = m_writeGeneration - generation > tally.parts;
        const std::optional<KeychainError> firstError =
            tally.firstError ? tally.firstError : orderError;
        if (firstError)
            failed(*firstError);
        else
            succeeded();
        // The order written with the batch names accounts that were not
        // stored, or predates a change made meanwhile: write the one shown.
        if (!tally.added.isEmpty() && (sawWrites || tally.notAdded > 0 || orderError))
            saveOrder();
        result.added = int(tally.added.size());
        result.notAdded = tally.notAdded;
        result.refused = refused;
        if (result.added == 1)
            m_log.record(SecurityEvent::added(tally.added.first().displayLabel()));
        else if (result.added > 1)
            m_log.record(SecurityEvent::imported(result.added));
        m_queue->enqueue([log = &m_log, note = importNotePath(m_log)] { forgetImportNote(*log, note); });
        if (result.notAdded > 0)
            result.error =
                (result.added == 0
                     ? QStringLiteral("Nothing was added. ")
                     : QStringLiteral("%1 of %2 accounts were not added. ")
                           .arg(result.notAdded)
                           .arg(plan.accounts.size())) +
                explain(*tally.firstError);
        scheduleWidgetRefresh();
    }
    // What the import's copies and the keychain's writing took is free now.
    FreedMemory::giveBack();
    emit importEnded();
    if (done)
        done(result);
    startNextImport();
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

void AccountStore::syncFolders() { reconcileFolders(KeychainStore::readFolders()); }

void AccountStore::reconcileFolders(const std::optional<FolderCatalog>& catalog) {
    const QDateTime distantPast = CorrectedClock::State::distantPast();
    const QDateTime localDate =
        m_defaults.date(Settings::accountFoldersUpdatedAt.key).value_or(distantPast);
    QList<Folder> localList;
    if (const auto data = m_defaults.data(Settings::accountFolders.key))
        localList = decodeFolders(*data).value_or(QList<Folder>());

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

std::optional<Folder> AccountStore::addFolder(const QString& name, const QString& symbol) {
    Operation operation(*this);
    const QString trimmed = Text::trimmedBlanksAndTabs(name);
    if (const auto tooLarge = Limits::checkFolderName(trimmed)) {
        failed(*tooLarge, *tooLarge);
        return std::nullopt;
    }
    for (const Folder& folder : std::as_const(m_folders))
        if (folder.name.compare(trimmed, Qt::CaseInsensitive) == 0)
            return folder;
    Folder folder;
    folder.name = trimmed.isEmpty() ? QStringLiteral("Folder") : trimmed;
    folder.symbol = symbol;
    m_folders.append(folder);
    changed(foldersChange);
    saveFolders();
    return folder;
}

bool AccountStore::renameFolder(const QUuid& id, const QString& name) {
    Operation operation(*this);
    const QString trimmed = Text::trimmedBlanksAndTabs(name);
    if (const auto tooLarge = Limits::checkFolderName(trimmed)) {
        failed(*tooLarge, *tooLarge);
        return false;
    }
    for (Folder& folder : m_folders) {
        if (folder.id != id)
            continue;
        folder.name = trimmed;
        changed(foldersChange);
        saveFolders();
        return true;
    }
    return false;
}

void AccountStore::deleteFolder(const QUuid& id) {
    Operation operation(*this);
    if (m_folders.removeIf([&](const Folder& f) { return f.id == id; }) > 0)
        changed(foldersChange);
    saveFolders();
    // Its accounts leave it in one write; each one stored counts as edited.
    QList<Account> moved;
    for (const Account& account : std::as_const(m_accounts))
        if (account.folderID == id) {
            moved.append(account);
            moved.last().folderID.reset();
        }
    if (moved.isEmpty())
        return;
    const QList<bool> stored = saveAll(moved);
    for (qsizetype i = 0; i < moved.size(); ++i) {
        if (!stored[i])
            continue;
        m_accounts[indexOf(moved[i].id)] = moved[i];
        m_log.record(SecurityEvent::edited(moved[i].displayLabel()));
    }
    if (stored.contains(true))
        changed(accountsChange);
}
