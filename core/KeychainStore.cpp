#include "core/KeychainStore.h"

#include "core/Limits.h"

#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <algorithm>
#include <atomic>

namespace KeychainStore {

using Keychain::Query;
using Keychain::Status;

QString describe(qint32 status) {
    QString sentence;
    switch (status) {
    case Keychain::interactionNotAllowed:
        sentence = QStringLiteral("Your keyring is locked.");
        break;
    case Keychain::notAvailable:
        sentence = QStringLiteral("Quillet could not reach your keyring.");
        break;
    case Keychain::decodeFailed:
        sentence = QStringLiteral("The keychain file is damaged.");
        break;
    case Keychain::ioError:
        sentence = QStringLiteral("The disk is full or cannot be written.");
        break;
    case Keychain::writeRefused:
        sentence = QStringLiteral("Your keyring refused the change.");
        break;
    case Keychain::duplicateItem:
        sentence = QStringLiteral("The item is already in your keyring.");
        break;
    case Keychain::itemNotFound:
        sentence = QStringLiteral("The item is not in your keyring.");
        break;
    case Keychain::userCanceled:
        sentence = QStringLiteral("The keyring write was stopped.");
        break;
    default:
        sentence = QStringLiteral("Your keyring reported an unexpected error.");
        break;
    }
    // The platform's status number means nothing to a reader on this
    // system; the sentence names the cause.
    return sentence;
}

QString KeychainError::message() const {
    switch (m_kind) {
    case unhandled:
        return describe(m_status);
    case decodingFailed:
        return QStringLiteral("Failed to decode accounts.");
    case encodingFailed:
        return QStringLiteral("Failed to encode accounts.");
    }
    return {};
}

const char* KeychainError::what() const noexcept {
    m_what = message().toUtf8();
    return m_what.constData();
}

namespace {

std::atomic<bool> didMigrateAccessGroup = false;

const QByteArray markerData("\x01", 1);

Query storeQuery(const std::optional<QString>& account, Keychain::Synchronizable sync) {
    Query query;
    query.service = service;
    query.account = account;
    query.accessGroup = sharedAccessGroup;
    query.synchronizable = sync;
    query.useDataProtection = true;
    return query;
}

Query clockStateQuery() { return storeQuery(clockStateAccount, Keychain::Synchronizable::deviceLocal); }

Keychain::Item itemToAdd(const Query& query, const QByteArray& data, bool synchronizable) {
    Keychain::Item item;
    item.service = query.service.value_or(QString());
    item.account = query.account.value_or(QString());
    item.accessGroup = query.accessGroup.value_or(QString());
    item.synchronizable = synchronizable;
    item.accessible = Keychain::Accessibility::afterFirstUnlock;
    item.dataProtection = query.useDataProtection;
    item.data = data;
    return item;
}

std::optional<QByteArray> readOneData(Query query) {
    query.returnData = true;
    query.matchLimit = Query::MatchLimit::one;
    Keychain::Results results;
    if (Keychain::copyMatching(query, &results) != Keychain::success || results.isEmpty())
        return std::nullopt;
    return results.first().data;
}

// Adds the item only when no item of that name exists; an existing one,
// possibly newer, is kept. Success when the item exists afterwards.
Status addIfMissing(const QString& account, const QByteArray& data) {
    const Status found = Keychain::copyMatching(baseQuery(account), nullptr);
    if (found != Keychain::itemNotFound)
        return found;
    const Status added = Keychain::add(itemToAdd(baseQuery(account), data, true));
    // Another process may have added it in between: it exists either way.
    return added == Keychain::duplicateItem ? Keychain::success : added;
}

std::optional<QList<QUuid>> decodeOrder(const QByteArray& data) {
    const auto document = Json::parse(data);
    if (!document || !document->isArray())
        return std::nullopt;
    QList<QUuid> ids;
    for (const QJsonValue& value : document->array()) {
        const auto id = Json::toUuid(value);
        if (!id)
            return std::nullopt;
        ids.append(*id);
    }
    return ids;
}

std::optional<QUuid> uuidFromName(const QString& name) { return Json::toUuid(QJsonValue(name)); }

} // namespace

QByteArray encode(const Account& account) {
    return Json::serialize(QJsonDocument(account.toJson(Json::DateForm::iso8601)));
}

std::optional<Account> decodeAccount(const QByteArray& data) {
    const auto document = Json::parse(data);
    if (!document || !document->isObject())
        return std::nullopt;
    // Names kept by an earlier version may hold controls or direction
    // overrides; they are shown without them. The rest is read as stored:
    // an account kept once never becomes unreadable.
    auto account = Account::fromJson(document->object(), Json::DateForm::iso8601);
    if (account)
        *account = Limits::cleaned(std::move(*account));
    return account;
}

Query baseQuery(const QString& account) {
    return storeQuery(account, Keychain::Synchronizable::any);
}

namespace {

QList<std::optional<KeychainError>> errorsOf(const QList<Status>& statuses) {
    QList<std::optional<KeychainError>> errors;
    errors.reserve(statuses.size());
    for (const Status status : statuses)
        errors.append(status == Keychain::success ? std::nullopt
                                                  : std::optional(KeychainError::fromStatus(status)));
    return errors;
}

} // namespace

QList<std::optional<KeychainError>> upsertAll(const QList<Write>& writes,
                                              const Keychain::Progress& progress) {
    // The data of an existing item changes; a missing one is added as a
    // synchronizable item. An update never changes an item's other attributes.
    QList<Keychain::Upsert> batch;
    batch.reserve(writes.size());
    for (const Write& write : writes) {
        const Query query = baseQuery(write.account);
        batch.append({query, itemToAdd(query, write.data, true)});
    }
    QList<Status> statuses = Keychain::upsert(batch, progress);
    statuses.resize(writes.size(), Keychain::paramError);
    return errorsOf(statuses);
}

void upsert(const QString& account, const QByteArray& data) {
    if (const auto error = upsertAll({{account, data}}).first())
        throw *error;
}

namespace {

QByteArray encodeOrder(const QList<QUuid>& ids) {
    QJsonArray list;
    for (const QUuid& id : ids)
        list.append(Json::uuidText(id));
    return Json::serialize(QJsonDocument(list));
}

} // namespace

void saveAccount(const Account& account) {
    if (const auto error = saveAll({account}).first())
        throw *error;
}

void saveOrder(const QList<QUuid>& ids) { upsert(orderAccount, encodeOrder(ids)); }

QList<std::optional<KeychainError>> saveAll(const QList<Account>& accounts,
                                            const std::optional<QList<QUuid>>& order,
                                            const SaveProgress& progress) {
    QList<Write> writes;
    writes.reserve(accounts.size() + 1);
    QList<qsizetype> unencoded; // positions of the accounts that could not be encoded
    for (qsizetype i = 0; i < accounts.size(); ++i) {
        QByteArray data = encode(accounts[i]);
        // The encoder's text keeps the room it grew into: held for a whole
        // batch, that is as much again as the texts themselves.
        data.squeeze();
        if (data.isEmpty())
            unencoded.append(i);
        else
            writes.append({Json::uuidText(accounts[i].id), data});
    }
    if (order)
        writes.append({orderAccount, encodeOrder(*order)});
    // Back in the accounts' order, with the ones that were never written.
    const auto inAccountOrder = [&](QList<std::optional<KeychainError>> written) {
        for (const qsizetype i : std::as_const(unencoded))
            if (i <= written.size())
                written.insert(i, KeychainError(KeychainError::encodingFailed));
        return written;
    };
    Keychain::Progress told;
    if (progress)
        told = [&](const QList<Status>& done) { return progress(inAccountOrder(errorsOf(done))); };
    return inAccountOrder(upsertAll(writes, told));
}

namespace {

std::optional<QJsonObject> objectIn(const std::optional<QByteArray>& data) {
    const auto document = data ? Json::parse(*data) : std::nullopt;
    if (!document || !document->isObject())
        return std::nullopt;
    return document->object();
}

std::optional<FolderCatalog> foldersIn(const std::optional<QByteArray>& data) {
    const auto object = objectIn(data);
    return object ? FolderCatalog::fromJson(*object, Json::DateForm::iso8601) : std::nullopt;
}

std::optional<CorrectedClock::State> clockStateIn(const std::optional<QByteArray>& data) {
    const auto object = objectIn(data);
    return object ? CorrectedClock::State::fromJson(*object) : std::nullopt;
}

} // namespace

std::optional<FolderCatalog> readFolders() { return foldersIn(readOneData(baseQuery(foldersAccount))); }

std::optional<CorrectedClock::State> readClockState() {
    std::optional<CorrectedClock::State> state;
    readClockState(state);
    return state;
}

bool readClockState(std::optional<CorrectedClock::State>& state) {
    state.reset();
    Query query = clockStateQuery();
    query.returnData = true;
    query.matchLimit = Query::MatchLimit::one;
    Keychain::Results results;
    const Status status = Keychain::copyMatching(query, &results);
    if (status == Keychain::itemNotFound)
        return true;
    if (status != Keychain::success)
        return false;
    if (!results.isEmpty())
        state = clockStateIn(results.first().data);
    return true;
}

bool saveClockState(const CorrectedClock::State& state) {
    const QByteArray data = Json::serialize(QJsonDocument(state.toJson()));
    const Query query = clockStateQuery();
    Status status = Keychain::update(query, data);
    if (status == Keychain::itemNotFound)
        status = Keychain::add(itemToAdd(query, data, false));
    return status == Keychain::success;
}

QList<Keychain::Item> readAll() {
    Query query = storeQuery(std::nullopt, Keychain::Synchronizable::any);
    query.matchLimit = Query::MatchLimit::all;
    query.returnAttributes = true;
    query.returnData = true;
    Keychain::Results results;
    const Status status = Keychain::copyMatching(query, &results);
    if (status == Keychain::itemNotFound)
        return {};
    if (status != Keychain::success)
        throw KeychainError::fromStatus(status);
    return results;
}

Query markerQuery() { return storeQuery(markerAccount, Keychain::Synchronizable::deviceLocal); }

bool markerExists() { return Keychain::copyMatching(markerQuery(), nullptr) == Keychain::success; }

void writeMarker() { Keychain::add(itemToAdd(markerQuery(), markerData, false)); }

bool legacyItemExists() {
    Query query;
    query.service = legacyService;
    query.account = legacyAccount;
    return Keychain::copyMatching(query, nullptr) != Keychain::itemNotFound;
}

void migrateLegacy() {
    Query query;
    query.service = legacyService;
    query.account = legacyAccount;
    query.returnData = true;
    Keychain::Results results;
    const Status status = Keychain::copyMatching(query, &results);
    if (status == Keychain::itemNotFound)
        return;
    if (status != Keychain::success)
        throw KeychainError::fromStatus(status);
    if (results.isEmpty() || results.first().data.isNull())
        return;
    const auto document = Json::parse(results.first().data);
    if (!document || !document->isArray())
        return;
    QList<Account> accounts;
    for (const QJsonValue& value : document->array()) {
        const auto account = value.isObject()
                                 ? Account::fromJson(value.toObject(), Json::DateForm::iso8601)
                                 : std::nullopt;
        if (!account)
            return; // one bad record fails the whole array; the item stays
        accounts.append(*account);
    }

    QList<QUuid> ids;
    for (const Account& account : std::as_const(accounts)) {
        const QByteArray data = encode(account);
        if (data.isEmpty())
            throw KeychainError(KeychainError::encodingFailed);
        // An item with this id written since (here or on another device) is
        // newer than the legacy copy and is kept.
        if (const Status status = addIfMissing(Json::uuidText(account.id), data);
            status != Keychain::success)
            throw KeychainError::fromStatus(status);
        ids.append(account.id);
    }
    // A stored order is the user's; legacy accounts missing from it are
    // listed after the ordered ones.
    const Status orderStatus = Keychain::copyMatching(baseQuery(orderAccount), nullptr);
    if (orderStatus == Keychain::itemNotFound)
        saveOrder(ids);
    else if (orderStatus != Keychain::success)
        throw KeychainError::fromStatus(orderStatus);

    Query remove;
    remove.service = legacyService;
    remove.account = legacyAccount;
    Keychain::remove(remove);
}

void migrateAccessGroup() {
    if (didMigrateAccessGroup)
        return;
    if (markerExists()) {
        didMigrateAccessGroup = true;
        return;
    }
    Query older;
    older.service = service;
    older.accessGroup = olderAccessGroup;
    older.synchronizable = Keychain::Synchronizable::any;
    older.useDataProtection = true;
    older.matchLimit = Query::MatchLimit::all;
    older.returnAttributes = true;
    older.returnData = true;
    Keychain::Results olderItems;
    const Status status = Keychain::copyMatching(older, &olderItems);
    if (status == Keychain::itemNotFound || (status == Keychain::success && olderItems.isEmpty())) {
        didMigrateAccessGroup = true;
        writeMarker();
        return;
    }
    if (status != Keychain::success)
        return;

    const auto decodeItem = [](const Keychain::Item& item) -> std::optional<Account> {
        if (!uuidFromName(item.account) || item.data.isNull())
            return std::nullopt;
        return decodeAccount(item.data);
    };

    QSet<QString> keys;
    try {
        for (const Keychain::Item& item : readAll())
            if (const auto account = decodeItem(item))
                keys.insert(accountIdentityKey(*account));
    } catch (const KeychainError&) {
        // Copy everything decodable; addIfMissing still keeps existing items.
    }

    bool allCopied = true;
    for (const Keychain::Item& item : std::as_const(olderItems)) {
        const auto account = decodeItem(item);
        if (!account)
            continue;
        const QString key = accountIdentityKey(*account);
        if (keys.contains(key))
            continue;
        if (addIfMissing(Json::uuidText(account->id), item.data) == Keychain::success)
            keys.insert(key);
        else
            allCopied = false;
    }
    if (allCopied) {
        didMigrateAccessGroup = true;
        writeMarker();
    }
}

QMutex& wholeVaultReads() {
    static QMutex mutex;
    return mutex;
}

Vault loadAll() {
    // Before the keyring's step below, in the order the identity sync takes
    // the two.
    const QMutexLocker wholeRead(&wholeVaultReads());
    // Copies that check what is stored and then add: one step, so that an
    // account the program removes meanwhile is not copied back. Once the
    // access-group copy is done and no legacy item is left, there is nothing
    // to copy: one look, and no lock.
    if (!didMigrateAccessGroup || legacyItemExists()) {
        const Keychain::Transaction step;
        migrateLegacy();
        migrateAccessGroup();
    }
    const QList<Keychain::Item> items = readAll();

    QList<QUuid> order;
    QList<QUuid> unreadable;
    QList<QUuid> mapOrder; // the map's iteration order: first appearance
    QHash<QUuid, Account> byID;
    Vault vault;
    for (const Keychain::Item& item : items) {
        if (item.data.isNull())
            continue;
        // The first match, as their own reads take it.
        if (item.account == foldersAccount && !vault.folders) {
            vault.folders = foldersIn(item.data);
            continue;
        }
        if (item.account == clockStateAccount && !item.synchronizable && !vault.clockState) {
            vault.clockState = clockStateIn(item.data);
            continue;
        }
        if (item.account == orderAccount) {
            if (const auto ids = decodeOrder(item.data))
                order = *ids;
            continue;
        }
        const auto id = uuidFromName(item.account);
        if (!id)
            continue;
        const auto account = decodeAccount(item.data);
        if (!account) {
            unreadable.append(*id);
            continue;
        }
        if (!byID.contains(*id))
            mapOrder.append(*id);
        byID.insert(*id, *account);
    }

    QSet<QUuid> listed;
    QSet<QString> seen;
    const auto consider = [&](const Account& account) {
        const QString key = accountIdentityKey(account);
        if (seen.contains(key))
            return;
        seen.insert(key);
        vault.active.append(account);
    };
    for (const QUuid& id : std::as_const(order)) {
        const auto found = byID.constFind(id);
        if (found == byID.constEnd() || found->deletedAt || listed.contains(id))
            continue;
        listed.insert(id);
        consider(*found);
    }
    for (const QUuid& id : std::as_const(mapOrder)) {
        const Account& account = byID[id];
        if (listed.contains(id) || account.deletedAt)
            continue;
        consider(account);
    }
    for (const QUuid& id : std::as_const(mapOrder))
        if (byID[id].deletedAt)
            vault.deleted.append(byID[id]);
    std::stable_sort(vault.deleted.begin(), vault.deleted.end(), newestDeletedFirst);
    // An id whose later item decoded is readable after all.
    for (const QUuid& id : std::as_const(unreadable))
        if (!byID.contains(id) && !vault.unreadable.contains(id))
            vault.unreadable.append(id);
    return vault;
}

QString accountIdentityKey(const Account& account) {
    const QChar separator(u'\0');
    // Canonically equivalent texts (composed or decomposed accents) are equal.
    return (account.issuer.toLower() + separator + account.name.toLower() + separator +
            QString::fromLatin1(account.secret.toBase64()))
        .normalized(QString::NormalizationForm_C);
}

bool newestDeletedFirst(const Account& a, const Account& b) {
    const QDateTime past = CorrectedClock::State::distantPast();
    return a.deletedAt.value_or(past) > b.deletedAt.value_or(past);
}

void resetMigrationFlagForTesting() { didMigrateAccessGroup = false; }

} // namespace KeychainStore
