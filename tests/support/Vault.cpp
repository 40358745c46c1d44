#include "tests/support/Vault.h"

#include "core/KeychainStore.h"

#include <QThread>

namespace TestSupport {

Account makeAccount(const QString& issuer, const QString& name, const QByteArray& secret) {
    Account a;
    a.issuer = issuer;
    a.name = name;
    a.secret = secret.isEmpty() ? (issuer + name).toUtf8() : secret;
    return a;
}

QStringList labels(const QList<Account>& accounts) {
    QStringList out;
    for (const Account& a : accounts)
        out << a.displayLabel();
    return out;
}

std::shared_ptr<Keychain::MemoryBackend> useMemoryKeychain() {
    auto memory = std::make_shared<Keychain::MemoryBackend>();
    Keychain::setBackend(memory);
    KeychainStore::resetMigrationFlagForTesting();
    return memory;
}

Keychain::Status ItemByItemKeychain::add(const Keychain::Item& item) {
    QThread::msleep(15);
    return MemoryBackend::add(item);
}

QList<Keychain::Status> ItemByItemKeychain::upsert(const QList<Keychain::Upsert>& writes,
                                                   const Keychain::Progress& progress) {
    return Backend::upsert(writes, progress); // item by item, telling its progress
}

void seedVault(const QList<Account>& accounts) {
    QList<QUuid> ids;
    for (const Account& a : accounts) {
        KeychainStore::saveAccount(a);
        if (!a.deletedAt) ids << a.id;
    }
    KeychainStore::saveOrder(ids);
}

const Account& accountWithID(const AccountStore& store, const QUuid& id) {
    for (const Account& a : store.accounts())
        if (a.id == id) return a;
    qFatal("account gone");
}

void VaultFixture::openStore(std::function<QDateTime()> clock, AccountStore::Opening opening) {
    store = std::make_unique<AccountStore>(*defaults, *log, std::move(clock), nullptr, opening);
}

void VaultFixture::openVault() {
    folder = std::make_unique<QTemporaryDir>();
    memory = useMemoryKeychain();
    defaults = std::make_unique<UserDefaults>(folder->filePath(QStringLiteral("settings.conf")));
    log = std::make_unique<SecurityLog>(folder->filePath(QStringLiteral("timeline.jsonl")));
}

} // namespace TestSupport
