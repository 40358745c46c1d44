#include "intake/OTPAuth.h"

#include "core/Base32.h"
#include "core/Limits.h"
#include "core/OTP.h"
#include "core/Text.h"

#include <QHash>
#include <QStringDecoder>
#include <QUrl>

namespace OTPAuth {

QString ParseError::message() const { return QString::fromUtf8(what()); }

const char* ParseError::what() const noexcept {
    switch (m_kind) {
    case invalidURL:
        return "Invalid otpauth URL.";
    case unsupportedScheme:
        return "Unsupported URL scheme.";
    case missingSecret:
        return "Missing secret in URL.";
    case invalidSecret:
        return "Could not decode secret (Base32).";
    case unsupportedType:
        return "Unsupported OTP type.";
    case migrationDecodeFailed:
        return "Could not decode Google Authenticator export.";
    }
    return "Invalid otpauth URL.";
}

namespace {

struct QueryItem {
    QString name;
    std::optional<QString> value; // none for a bare name without "="
};

QString percentDecoded(QStringView text) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

// The query's items in order, names and values percent-decoded once; "+"
// stays "+".
QList<QueryItem> queryItems(const QUrl& url) {
    QList<QueryItem> items;
    if (!url.hasQuery())
        return items;
    const QString query = url.query(QUrl::FullyEncoded);
    for (const QStringView part : QStringView(query).split(QLatin1Char('&'))) {
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        if (equals < 0)
            items.append({percentDecoded(part), std::nullopt});
        else
            items.append({percentDecoded(part.left(equals)), percentDecoded(part.mid(equals + 1))});
    }
    return items;
}

std::optional<QUrl> strictUrl(const QString& text) {
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

// An optional sign, then ASCII digits only, without overflow.
std::optional<qint64> signedInteger(const QString& text) {
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(QStringLiteral("[+-]?[0-9]+")));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<quint64> unsignedInteger(const QString& text) {
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(QStringLiteral("[+]?[0-9]+")));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const quint64 value = QString(text).remove(QLatin1Char('+')).toULongLong(&ok);
    return ok ? std::optional<quint64>(value) : std::nullopt;
}


} // namespace

Account parse(const QString& link) {
    const auto url = strictUrl(link);
    if (!url || url->scheme().isEmpty())
        throw ParseError(ParseError::invalidURL);
    if (url->scheme().toLower() != QLatin1String("otpauth"))
        throw ParseError(ParseError::unsupportedScheme);
    const QString host = url->host().toLower();
    if (host.isEmpty())
        throw ParseError(ParseError::invalidURL);
    OTPType type;
    // Aegis, Ente and other authenticators export Steam Guard accounts as
    // otpauth://steam/ links; dropping them would lose accounts silently.
    const bool steam = host == QLatin1String("steam");
    if (host == QLatin1String("totp") || steam)
        type = OTPType::totp;
    else if (host == QLatin1String("hotp"))
        type = OTPType::hotp;
    else
        throw ParseError(ParseError::unsupportedType);

    // The label's escapes are decoded exactly once, so that a name holding a
    // literal "%41" survives a round trip through the link writer.
    QString label = url->path(QUrl::FullyDecoded);
    if (label.startsWith(QLatin1Char('/')))
        label.remove(0, 1);
    QString issuer;
    QString name;
    const qsizetype colon = label.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        issuer = Text::trimmedBlanksAndTabs(label.left(colon));
        name = Text::trimmedBlanksAndTabs(label.mid(colon + 1));
    } else {
        name = label;
    }

    QHash<QString, QString> parameters;
    for (const QueryItem& item : queryItems(*url)) {
        const QString key = item.name.toLower();
        if (item.value)
            parameters.insert(key, *item.value);
        else
            parameters.remove(key);
    }

    const QString secretText = parameters.value(QStringLiteral("secret"));
    if (secretText.isEmpty())
        throw ParseError(ParseError::missingSecret);
    const auto secret = Base32::decode(secretText);
    if (!secret || secret->isEmpty())
        throw ParseError(ParseError::invalidSecret);

    const QString issuerParameter = parameters.value(QStringLiteral("issuer"));
    if (!issuerParameter.isEmpty()) {
        // Links carry the issuer twice; when the label starts with the issuer
        // parameter, that whole prefix is the issuer, so an issuer holding a
        // colon does not spill into the name.
        const QString prefix = issuerParameter + QLatin1Char(':');
        if (colon >= 0 && label.startsWith(prefix))
            name = Text::trimmedBlanksAndTabs(label.mid(prefix.size()));
        issuer = issuerParameter;
    }

    const QString algorithmText =
        parameters.value(QStringLiteral("algorithm"), QStringLiteral("SHA1")).toUpper();
    const HashAlgorithm algorithm =
        hashAlgorithmFromText(algorithmText).value_or(HashAlgorithm::sha1);

    const qint64 digits = signedInteger(parameters.value(QStringLiteral("digits"))).value_or(6);
    // Codes exist only for 1 to 9 digits; anything else cannot be a real
    // account, so such a link is refused rather than stored code-less.
    if (digits < OTP::minDigits || digits > OTP::maxDigits)
        throw ParseError(ParseError::invalidURL);
    const qint64 period = signedInteger(parameters.value(QStringLiteral("period"))).value_or(30);
    // A counter that is given must be one (0 to 2^63-1): started at 0
    // instead, the account's codes would not match the server's.
    const QString counterText = parameters.value(QStringLiteral("counter"));
    const auto counter = counterText.isEmpty() ? std::optional<quint64>(0)
                                               : unsignedInteger(counterText);
    if (!counter || *counter > Limits::maxImportedCounter)
        throw ParseError(ParseError::invalidURL);

    Account account;
    account.name = name;
    account.issuer = issuer;
    account.secret = *secret;
    account.type = type;
    account.algorithm = algorithm;
    account.digits = digits;
    account.period = period;
    account.counter = *counter;
    if (steam) {
        // Steam Guard codes are always these, whatever the link says.
        account.isSteam = true;
        account.algorithm = HashAlgorithm::sha1;
        account.digits = 5;
        account.period = 30;
        account.counter = 0;
    }
    return account;
}

QList<Account> parseMigration(const QString& link) {
    const auto url = strictUrl(link);
    if (!url)
        throw ParseError(ParseError::invalidURL);
    if (url->scheme().toLower() != QLatin1String("otpauth-migration"))
        throw ParseError(ParseError::unsupportedScheme);
    const QList<QueryItem> items = queryItems(*url);
    if (items.isEmpty())
        throw ParseError(ParseError::invalidURL);
    const auto data = std::find_if(items.begin(), items.end(), [](const QueryItem& item) {
        return item.name.toLower() == QLatin1String("data");
    });
    if (data == items.end() || !data->value || data->value->isEmpty())
        throw ParseError(ParseError::invalidURL);

    QString base64 = *data->value;
    base64.replace(QLatin1Char('-'), QLatin1Char('+')).replace(QLatin1Char('_'), QLatin1Char('/'));
    if (base64.size() % 4 != 0)
        base64.append(QString(4 - base64.size() % 4, QLatin1Char('=')));
    const auto payload = Json::strictBase64(base64);
    if (!payload)
        throw ParseError(ParseError::migrationDecodeFailed);
    return decodeMigrationPayload(*payload);
}

std::optional<quint64> readVarint(Reader& reader) {
    quint64 value = 0;
    for (int shift = 0;; shift += 7) {
        if (reader.atEnd())
            return std::nullopt;
        const quint8 byte = quint8(reader.bytes[reader.position]);
        ++reader.position;
        value |= quint64(byte & 0x7F) << shift; // bits above 63 fall off
        if (!(byte & 0x80))
            return value;
        if (shift == 63)
            return std::nullopt;
    }
}

std::optional<QByteArray> readLengthDelimited(Reader& reader) {
    const auto length = readVarint(reader);
    if (!length)
        return std::nullopt;
    const quint64 remaining = quint64(reader.bytes.size() - reader.position);
    if (*length > remaining)
        return std::nullopt;
    const QByteArray value = reader.bytes.mid(reader.position, qsizetype(*length));
    reader.position += qint64(*length);
    return value;
}

namespace {

enum WireType : quint64 { varint = 0, i64 = 1, len = 2, startGroup = 3, endGroup = 4, i32 = 5 };

// Advances over a fixed-size value; false when it runs past the end.
bool skipFixed(Reader& reader, qint64 size) {
    if (reader.bytes.size() - reader.position < size)
        return false;
    reader.position += size;
    return true;
}

QString utf8OrEmpty(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return decoder.hasError() ? QString() : text;
}

} // namespace

QList<Account> decodeMigrationPayload(const QByteArray& payload) {
    QList<Account> accounts;
    Reader reader{payload, 0};
    while (!reader.atEnd()) {
        const auto tag = readVarint(reader);
        if (!tag)
            break;
        const quint64 wireType = *tag % 8;
        const quint64 field = *tag / 8;
        if (field == 1 && wireType == len) {
            const auto entry = readLengthDelimited(reader);
            if (!entry)
                break;
            if (auto account = decodeOtpParameters(*entry))
                accounts.append(*account);
            continue;
        }
        bool skipped = false;
        switch (wireType) {
        case varint:
            skipped = readVarint(reader).has_value();
            break;
        case i64:
            skipped = skipFixed(reader, 8);
            break;
        case i32:
            skipped = skipFixed(reader, 4);
            break;
        case len:
            skipped = readLengthDelimited(reader).has_value();
            break;
        default: // groups and the invalid wire types 6 and 7
            break;
        }
        if (!skipped)
            break;
    }
    return accounts;
}

std::optional<Account> decodeOtpParameters(const QByteArray& message) {
    Reader reader{message, 0};
    QByteArray secret;
    QString name;
    QString issuer;
    HashAlgorithm algorithm = HashAlgorithm::sha1;
    qint64 digits = 6;
    OTPType type = OTPType::totp;
    quint64 counter = 0;

    while (!reader.atEnd()) {
        const auto tag = readVarint(reader);
        if (!tag)
            break;
        const quint64 wireType = *tag % 8;
        const quint64 field = *tag / 8;
        if (wireType == varint) {
            const auto value = readVarint(reader);
            if (field < 4 || field > 7) {
                if (!value)
                    return std::nullopt;
                continue;
            }
            if (!value)
                continue;
            if (field == 4)
                algorithm = *value == 2   ? HashAlgorithm::sha256
                            : *value == 3 ? HashAlgorithm::sha512
                                          : HashAlgorithm::sha1;
            else if (field == 5)
                digits = *value == 2 ? 8 : 6;
            else if (field == 6)
                type = *value == 1 ? OTPType::hotp : OTPType::totp;
            else
                counter = *value;
        } else if (wireType == len) {
            const auto value = readLengthDelimited(reader);
            if (field < 1 || field > 3) {
                if (!value)
                    return std::nullopt;
                continue;
            }
            if (!value)
                continue;
            if (field == 1)
                secret = *value;
            else if (field == 2)
                name = utf8OrEmpty(*value);
            else
                issuer = utf8OrEmpty(*value);
        } else if (wireType == i64 || wireType == i32) {
            if (!skipFixed(reader, wireType == i64 ? 8 : 4))
                return std::nullopt;
        } else if (wireType == startGroup || wireType == endGroup) {
            return std::nullopt;
        } else {
            break; // wire types 6 and 7 end the message
        }
    }
    if (secret.isEmpty())
        return std::nullopt;

    Account account;
    account.name = name;
    account.issuer = issuer;
    account.secret = secret;
    account.type = type;
    account.algorithm = algorithm;
    account.digits = digits;
    account.counter = counter;
    return account;
}

} // namespace OTPAuth
