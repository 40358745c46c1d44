#pragma once

#include "core/Account.h"
#include "core/AccountStore.h"
#include "core/SecurityLog.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// What the tests of the vault and its views set up again and again: a vault
// of their own that never touches the user's keychain or settings.
namespace TestSupport {

// An account with these texts; without a secret, the issuer and name are it.
Account makeAccount(const QString& issuer, const QString& name, const QByteArray& secret = {});

// Each account's display label, in order.
QStringList labels(const QList<Account>& accounts);

// An empty keychain in memory in place of the user's, as at a first start
// (the move of the old single-item vault not yet tried).
std::shared_ptr<Keychain::MemoryBackend> useMemoryKeychain();

// A keychain in memory that stores a batch item by item, 15 ms each, and
// reports its progress after each, as the Secret Service does: a long import.
struct ItemByItemKeychain : Keychain::MemoryBackend {
    Keychain::Status add(const Keychain::Item& item) override;
    QList<Keychain::Status> upsert(const QList<Keychain::Upsert>& writes,
                                   const Keychain::Progress& progress) override;
};

// Accounts as an earlier run left them in the keychain: each saved, and the
// ones not deleted in the saved order.
void seedVault(const QList<Account>& accounts);

// The account with that id in the store; the test stops if there is none.
const Account& accountWithID(const AccountStore& store, const QUuid& id);

// A throwaway vault for a test class, which derives from it beside QObject
// and calls openVault() in init(): a temporary folder holding the settings
// file and the security timeline, and an empty keychain in memory.
class VaultFixture {
protected:
    std::unique_ptr<QTemporaryDir> folder;
    std::shared_ptr<Keychain::MemoryBackend> memory;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<SecurityLog> log;
    // Built by openStore(), over whatever keychain is in place by then.
    std::unique_ptr<AccountStore> store;

    void openVault();
    // The vault's store over the fixture's settings and timeline, reading
    // the keychain as the app does at start; `clock` replaces the current time.
    void openStore(std::function<QDateTime()> clock = {},
                   AccountStore::Opening opening = AccountStore::Opening::now);
};

} // namespace TestSupport
