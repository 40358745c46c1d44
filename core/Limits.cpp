#include "core/Limits.h"

namespace Limits {

QString secretTooLong() { return QStringLiteral("A secret is longer than 1,024 bytes."); }

QString textTooLarge() { return QStringLiteral("The text is larger than 16 MiB."); }

QString fileTooLarge(const QString& fileName) {
    return QStringLiteral("The file “%1” is larger than 16 MiB.").arg(fileName);
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
