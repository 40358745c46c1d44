#pragma once

#include "core/Account.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class UserDefaults;

// "Get Authenticator Code": any account's current code for scripts and
// desktop shortcuts, offered on the session bus (system/CodesBusAdaptor).
// It reads the accounts as the keychain holds them, independently of the
// program's in-memory store, computes the code at the corrected time and
// copies it with the usual markers and timed clear. It neither records the
// use nor advances an HOTP counter, so asking twice gives the same code, the
// one of the counter the keychain holds when asked. The accounts are read
// after the call arrives, and the AutoFill host stores a counter's advance
// before it fills that counter's code: no code it filled before the call
// goes out again.

// An account as the action names it.
struct AccountEntity {
    QString id;    // the account's UUID, upper case, without braces
    QString title; // the issuer, or the name when there is no issuer

    static AccountEntity from(const Account& account);
    friend bool operator==(const AccountEntity&, const AccountEntity&) = default;
};

// Which accounts the action offers, from the active accounts in their stored
// order (AccountQuery::loadActive).
namespace AccountQuery {

// The active accounts as the keychain holds them. Blocks on the keychain:
// call it off the GUI thread. Throws KeychainStore::KeychainError.
QList<Account> loadActive();

// Every active account.
QList<AccountEntity> suggestedEntities(const QList<Account>& active);
// Those named by `ids` (exact text), in the stored order, each once.
QList<AccountEntity> entities(const QList<Account>& active, const QStringList& ids);
// The first account; nothing without accounts.
std::optional<AccountEntity> defaultResult(const QList<Account>& active);

} // namespace AccountQuery

namespace GetCodeIntentMac {

inline const QString title = QStringLiteral("Get Authenticator Code");

struct Result {
    QString code;   // as typed, without grouping
    QString dialog; // "GitHub: 123456 — copied."
};

// "Which account?": what the action asks when it cannot tell.
QString needsValueDialog();

// The account with the UUID `identifier` among `active`: its code at the
// corrected time, copied to the clipboard. Nothing, and nothing copied, when
// the identifier names no active account. An account whose stored values
// make no code gives an empty code and a dialog that says so, and nothing is
// copied. GUI thread (the clipboard).
std::optional<Result> perform(const QList<Account>& active, const QString& identifier,
                              UserDefaults& defaults);

} // namespace GetCodeIntentMac
