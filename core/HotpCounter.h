#pragma once

#include "core/Account.h"

#include <QList>
#include <functional>

// Hands out HOTP codes. The program and the AutoFill plugin's host both
// advance counters in the keychain, each in its own process, so the one a
// process holds in memory may be behind the stored one. Every advance
// starts from the higher of the two, under a lock that every process takes,
// so that a counter never goes back and no counter's code goes out twice.
namespace HotpCounter {

// Takes the next counter of the HOTP account: the higher of the stored
// counter and `account.counter`, and stores the one after it (wrapping to 0
// past the largest value) with the rest of `account`. Returns `account` at
// the counter taken: its code is the one to hand out. Reads and writes the
// keychain: never on a GUI thread. Throws KeychainStore::KeychainError when
// the advance cannot be stored, or when the account is no longer active in
// the keychain (itemNotFound): then no code may go out.
Account advance(const Account& account);

// The HOTP account at the counter it is next handed out at, for a copy that
// takes no counter (the window's and the tray's): the
// higher of the stored counter and `account.counter`, read under the same
// lock, so that no code an advance has taken goes out again. Stores
// nothing. Reads the keychain: never on a GUI thread. Throws as advance()
// does when the keychain cannot tell or the account is no longer active.
Account current(const Account& account);

// Runs `write` (a store of `accounts` as a window holds them: an edit, a
// favourite, a move, a deletion, a folder's removal) under the same lock,
// after raising each HOTP account's counter to the stored counter where that
// one is higher: the other process may have advanced it since this one last
// read the vault, and writing the older counter back would hand out a used
// code again. Reads the keychain for each HOTP account only; a read that
// fails leaves that account as it is (the write then reports the keychain's
// state). Returns what `write` returns.
QList<bool> writeNotBehind(QList<Account>& accounts,
                           const std::function<QList<bool>(const QList<Account>&)>& write);

} // namespace HotpCounter
