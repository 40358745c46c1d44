#pragma once

#include "core/Account.h"

#include <QString>
#include <limits>
#include <optional>

// How large the things users bring in may be. Far above anything real, low
// enough that a hostile or broken file cannot make the window freeze or the
// program take gigabytes.
namespace Limits {

inline constexpr qsizetype maxSecretBytes = 1024;
inline constexpr qsizetype maxNameCharacters = 1000; // account name, issuer, folder name
inline constexpr qsizetype maxTextBytes = 16 * 1024 * 1024; // an opened or pasted text
// An encrypted backup, written and read back: one bound for both, so that
// every backup the export writes can be restored. About 75,000 accounts of
// ordinary size, with room for notes; restoring one holds a few times this.
inline constexpr qsizetype maxBackupBytes = 32 * 1024 * 1024;
// A vault of this many accounts takes tens of megabytes to read: what the C
// library keeps of that once it is freed is handed back.
inline constexpr qsizetype largeVault = 1000;

// What of the account is too large, as a sentence; nothing when it fits.
std::optional<QString> check(const Account& account);

// The one rule for an account that is brought in (a restore, an import, a
// link, a scan, the add sheet): why it cannot be kept, as a sentence, or
// nothing when it may. A code needs 1 to 9 digits, a period of at least one
// second, a secret of 1 to 1,024 bytes and, for HOTP, a counter from 0 to
// 2^63-1 (what every other authenticator can hold); names and issuers stay
// within their limits. Stored accounts are read without it, so that no
// account already kept becomes unreadable.
std::optional<QString> refusal(const Account& account);
inline constexpr quint64 maxImportedCounter = quint64(std::numeric_limits<qint64>::max());

// A name or issuer without the characters that are never kept: controls
// (C0, DEL, C1) and the bidirectional embeddings, overrides and isolates,
// which could reorder the text shown around the name. Tabs and line breaks
// become spaces.
QString cleanedName(const QString& text);
// The account with its name and issuer cleaned.
Account cleaned(Account account);

// The accounts brought in at once, cleaned, less those that refusal() turns
// away: how many, and the first one's reason.
struct Admission {
    QList<Account> accepted;
    int refused = 0;
    std::optional<QString> firstRefusal;
};
Admission admit(const QList<Account>& accounts);
std::optional<QString> checkFolderName(const QString& name);
// A typed Base32 secret too long to decode to at most maxSecretBytes, told
// before it is decoded.
std::optional<QString> checkBase32Secret(const QString& text);
// A text (pasted, or read from a file) over maxTextBytes in UTF-8; counted
// without converting it.
std::optional<QString> checkText(QStringView text);
// The texts of the limits, for callers that check sizes themselves.
QString secretTooLong();
QString textTooLarge();
QString fileTooLarge(const QString& fileName, qsizetype bound = maxTextBytes);

} // namespace Limits
