#include "autofill/PasskeyStore.h"

#include "core/KeychainStore.h"

namespace PasskeyStore {

namespace {

Keychain::Query itemQuery(const QString& account) {
    Keychain::Query query = baseQuery();
    query.account = account;
    return query;
}

} // namespace

QString itemLabel(const PasskeyRecord& record) {
    return record.rpId + QStringLiteral(" \u2014 ") + record.userName;
}

std::optional<PasskeyRecord> find(const QByteArray& credentialID) {
    Keychain::Query query = itemQuery(QString::fromLatin1(credentialID.toBase64()));
    query.returnData = true;
    Keychain::Results results;
    if (Keychain::copyMatching(query, &results) != Keychain::success || results.isEmpty())
        return std::nullopt;
    return PasskeyRecord::fromJson(results.first().data);
}

void save(const PasskeyRecord& record) {
    const QByteArray json = record.toJson();
    Keychain::Item item;
    item.service = service;
    item.account = record.itemAccount();
    // Where the keychain puts an item that names no group: the first group
    // the credential provider may use, the one it shares with the program.
    item.accessGroup = KeychainStore::sharedAccessGroup;
    item.synchronizable = true;
    item.accessible = Keychain::Accessibility::whenUnlocked;
    item.dataProtection = true;
    item.label = itemLabel(record);
    item.data = json;
    const Keychain::Status added = Keychain::add(item);
    if (added == Keychain::success)
        return;
    if (added != Keychain::duplicateItem)
        throw Error(added);
    const Keychain::Status updated = Keychain::update(itemQuery(item.account), json);
    if (updated != Keychain::success)
        throw Error(updated);
}

QList<PasskeyRecord> findForUser(const QString& rpId, const QByteArray& userHandle) {
    QList<PasskeyRecord> records;
    try {
        records = loadAll();
    } catch (const Error&) {
        return {};
    }
    records.removeIf([&](const PasskeyRecord& record) {
        return record.rpId != rpId || record.userHandle != userHandle;
    });
    return records;
}

void remove(const PasskeyRecord& record, CredentialIdentityStore& identities) {
    Keychain::remove(itemQuery(record.itemAccount()));
    identities.removeCredentialIdentities({record.identity()});
}

} // namespace PasskeyStore
