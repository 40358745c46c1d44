#include "core/Limits.h"

#include "core/OTP.h"

#include <algorithm>

namespace Limits {

QString secretTooLong() { return QStringLiteral("A secret is longer than 1,024 bytes."); }

QString textTooLarge() { return QStringLiteral("The text is larger than 16 MiB."); }

QString fileTooLarge(const QString& fileName, qsizetype bound) {
    return QStringLiteral("The file “%1” is larger than %2 MiB.").arg(fileName).arg(bound >> 20);
}

std::optional<QString> check(const Account& account) {
    if (account.secret.size() > maxSecretBytes)
        return secretTooLong();
    if (account.name.size() > maxNameCharacters)
        return QStringLiteral("An account name is longer than 1,000 characters.");
    if (account.issuer.size() > maxNameCharacters)
        return QStringLiteral("An issuer name is longer than 1,000 characters.");
    return std::nullopt;
}

std::optional<QString> refusal(const Account& account) {
    if (account.secret.isEmpty())
        return QStringLiteral("An account has no secret.");
    if (account.digits < OTP::minDigits || account.digits > OTP::maxDigits)
        return QStringLiteral("An account has a code length other than 1 to 9 digits.");
    if (account.period < 1)
        return QStringLiteral("An account has a period shorter than one second.");
    if (account.counter > maxImportedCounter)
        return QStringLiteral("An account has a counter beyond 2^63-1.");
    return check(account);
}

namespace {

bool isNeverKept(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || // C0, DEL, C1
           (c >= 0x202A && c <= 0x202E) ||          // embeddings and overrides
           c == 0x2028 || c == 0x2029 ||            // line and paragraph separators
           (c >= 0x2066 && c <= 0x2069);            // isolates
}

bool becomesSpace(char16_t c) {
    return c == u'\t' || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

} // namespace

QString cleanedName(const QString& text) {
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return isNeverKept(c.unicode()); }))
        return text;
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        if (becomesSpace(c.unicode()))
            kept.append(QLatin1Char(' '));
        else if (!isNeverKept(c.unicode()))
            kept.append(c);
    }
    return kept;
}

Account cleaned(Account account) {
    account.name = cleanedName(account.name);
    account.issuer = cleanedName(account.issuer);
    return account;
}

Admission admit(const QList<Account>& accounts) {
    Admission admission;
    admission.accepted.reserve(accounts.size());
    for (const Account& account : accounts) {
        Account kept = cleaned(account);
        if (const auto why = refusal(kept)) {
            ++admission.refused;
            if (!admission.firstRefusal)
                admission.firstRefusal = why;
            continue;
        }
        admission.accepted.append(std::move(kept));
    }
    return admission;
}

std::optional<QString> checkFolderName(const QString& name) {
    if (name.size() > maxNameCharacters)
        return QStringLiteral("A folder name is longer than 1,000 characters.");
    return std::nullopt;
}

std::optional<QString> checkText(QStringView text) {
    // Most texts are far below the limit in any encoding.
    if (text.size() * 3 <= maxTextBytes)
        return std::nullopt;
    qsizetype bytes = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        // A surrogate pair (two units) is four bytes.
        bytes += unit < 0x80 ? 1 : unit < 0x800 || QChar::isSurrogate(unit) ? 2 : 3;
        if (bytes > maxTextBytes)
            return textTooLarge();
    }
    return std::nullopt;
}

std::optional<QString> checkBase32Secret(const QString& text) {
    // Five bits per character: 1,639 characters hold 1,024 bytes. Spaces,
    // hyphens and padding, which the decoder skips, do not count.
    constexpr qsizetype maxCharacters = (maxSecretBytes * 8 + 4) / 5;
    qsizetype characters = 0;
    for (const QChar c : text)
        if (c != QLatin1Char(' ') && c != QLatin1Char('-') && c != QLatin1Char('='))
            ++characters;
    if (characters > maxCharacters)
        return secretTooLong();
    return std::nullopt;
}

} // namespace Limits
