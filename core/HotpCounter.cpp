#include "core/HotpCounter.h"

#include "core/Json.h"
#include "core/KeychainStore.h"

#include <algorithm>

namespace HotpCounter {

namespace {

// The account as the keychain holds it now, or the status that kept it back.
std::optional<Account> storedAccount(const QUuid& id, Keychain::Status* status) {
    Keychain::Query query = KeychainStore::baseQuery(Json::uuidText(id));
    query.returnData = true;
    Keychain::Results results;
    *status = Keychain::copyMatching(query, &results);
    if (*status != Keychain::success || results.isEmpty())
        return std::nullopt;
    return KeychainStore::decodeAccount(results.first().data);
}

// The account at the counter it is next handed out at: the higher of the
// stored counter and its own, read while the caller holds the lock. Throws
// when no code of it may go out.
Account atStoredCounter(const Account& account) {
    using KeychainStore::KeychainError;
    Keychain::Status status = Keychain::success;
    const std::optional<Account> stored = storedAccount(account.id, &status);
    if (status != Keychain::success)
        throw KeychainError::fromStatus(status);
    if (!stored)
        throw KeychainError(KeychainError::decodingFailed);
    // Deleted meanwhile (or moved to Recently Deleted): writing it back
    // would bring it back, and its code is no longer wanted.
    if (stored->deletedAt)
        throw KeychainError::fromStatus(Keychain::itemNotFound);
    Account current = account;
    current.counter = std::max(stored->counter, account.counter);
    return current;
}

} // namespace

Account advance(const Account& account) {
    const Keychain::Transaction step;
    const Account used = atStoredCounter(account);
    Account next = used;
    next.counter += 1; // the largest value wraps to 0
    KeychainStore::saveAccount(next);
    return used;
}

Account current(const Account& account) {
    const Keychain::Transaction step;
    return atStoredCounter(account);
}

QList<bool> writeNotBehind(QList<Account>& accounts,
                           const std::function<QList<bool>(const QList<Account>&)>& write) {
    const auto hotp = [](const Account& a) { return a.type == OTPType::hotp; };
    if (std::none_of(accounts.cbegin(), accounts.cend(), hotp))
        return write(accounts);
    const Keychain::Transaction step;
    for (Account& account : accounts) {
        if (!hotp(account))
            continue;
        Keychain::Status status = Keychain::success;
        if (const auto stored = storedAccount(account.id, &status);
            stored && stored->type == OTPType::hotp && stored->counter > account.counter)
            account.counter = stored->counter;
    }
    return write(accounts);
}

} // namespace HotpCounter
