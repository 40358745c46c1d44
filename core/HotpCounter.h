#pragma once

#include "core/Account.h"

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

} // namespace HotpCounter
