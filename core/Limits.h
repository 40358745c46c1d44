#pragma once

#include "core/Account.h"

#include <QString>
#include <optional>

// How large the things users bring in may be. Far above anything real, low
// enough that a hostile or broken file cannot make the window freeze or the
// program take gigabytes.
namespace Limits {

inline constexpr qsizetype maxSecretBytes = 1024;
inline constexpr qsizetype maxNameCharacters = 1000; // account name, issuer, folder name
inline constexpr qsizetype maxTextBytes = 16 * 1024 * 1024; // an opened or pasted text

// What of the account is too large, as a sentence; nothing when it fits.
std::optional<QString> check(const Account& account);
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
QString fileTooLarge(const QString& fileName);

} // namespace Limits
