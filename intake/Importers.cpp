#include "intake/Importers.h"

#include "core/Base32.h"
#include "core/Limits.h"
#include "core/OTP.h"
#include "core/Text.h"
#include "intake/OTPAuth.h"
#include "platform/crypto/Crypto.h"

#include <QJsonDocument>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace Importers {

namespace {

const QString twoFAS = QStringLiteral("2FAS");
const QString aegis = QStringLiteral("Aegis");
constexpr int twoFASRounds = 10000;
constexpr qsizetype gcmTagLength = Crypto::aesGcmTagLength;

QString describe(ImportError::Kind kind, const QString& app) {
    switch (kind) {
    case ImportError::needsPassword:
        return QStringLiteral("This ") + app +
               QStringLiteral(" backup is password-protected. Enter its password to import.");
    case ImportError::wrongPassword:
        return QStringLiteral("Couldn't decrypt the ") + app +
               QStringLiteral(" backup \u2014 check the password and try again.");
    case ImportError::encrypted:
        return QStringLiteral("This ") + app +
               QStringLiteral(" backup is password-encrypted. Decrypt/export it without a "
                              "password and try again.");
    case ImportError::unrecognized:
        break;
    }
    return QStringLiteral("Couldn't recognize this backup. Supported: otpauth links, Google "
                          "Authenticator, 2FAS, Aegis, Bitwarden, and Proton Authenticator.");
}

// Exports are read with Qt's parser directly rather than Json::parse: no
// reader needs integers beyond the signed range (those count as absent), and
// Json::parse would hand such a number back as a string, which a name or
// issuer field would then take as text.
std::optional<QJsonDocument> parseJson(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) return std::nullopt;
    return document;
}

std::optional<QString> text(const QJsonValue& value) {
    if (!value.isString()) return std::nullopt;
    return value.toString();
}

QString textOrEmpty(const QJsonValue& value) {
    return text(value).value_or(QString());
}

bool isArrayOfObjects(const QJsonValue& value) {
    if (!value.isArray()) return false;
    const QJsonArray array = value.toArray();
    return std::all_of(array.begin(), array.end(),
                       [](const QJsonValue& element) { return element.isObject(); });
}

qint64 integerOr(const QJsonValue& value, qint64 fallback) {
    return Json::toInt64(value).value_or(fallback);
}

// The secret as Base32 text; nothing when absent, undecodable or empty.
std::optional<QByteArray> secretFrom(const QJsonValue& value) {
    const auto secretText = text(value);
    if (!secretText) return std::nullopt;
    auto secret = Base32::decode(*secretText);
    if (!secret || secret->isEmpty()) return std::nullopt;
    return secret;
}

bool isLineBreak(char16_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85;
}

bool isSeparatorCategory(QChar c) {
    const auto category = c.category();
    return category == QChar::Separator_Space || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

// Blanks and line breaks; a tab is neither, so it stays.
QString trimmedForDispatch(const QString& text) {
    return Text::trimmedWhere(text,
                        [](QChar c) { return isSeparatorCategory(c) || isLineBreak(c.unicode()); });
}

// The text's start, lower-cased: enough to tell a link's scheme, without a
// lower-cased copy of a whole export. Each character is lower-cased on its
// own, so this is the start of the whole text lower-cased.
QString lowerStart(const QString& text) {
    return text.left(32).toLower();
}

bool startsWithOtpauth(const QString& text) {
    return lowerStart(text).startsWith(QLatin1String("otpauth://"));
}

bool startsWithMigration(const QString& text) {
    return lowerStart(text).startsWith(QLatin1String("otpauth-migration://"));
}

bool isLink(const QString& text) {
    return startsWithOtpauth(text) || startsWithMigration(text);
}

// The text cut at every blank U+0020 and line break, empty pieces dropped.
// Characters are user-perceived ones, so a blank that carries a combining
// mark is part of a piece rather than a separator; a tab does not separate.
QStringList pieces(const QString& text) {
    const auto isSeparator = [](QStringView cluster) {
        if (cluster == u" ") return true;
        const char16_t first = cluster.front().unicode();
        return isLineBreak(first) || first == 0x2028 || first == 0x2029;
    };
    QStringList found;
    const auto take = [&](qsizetype from, qsizetype to) {
        if (to > from) found.append(text.mid(from, to - from));
    };
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype pieceStart = 0;
    qsizetype clusterStart = 0;
    for (qsizetype end = finder.toNextBoundary(); end > clusterStart;
         end = finder.toNextBoundary()) {
        if (isSeparator(QStringView(text).sliced(clusterStart, end - clusterStart))) {
            take(pieceStart, clusterStart);
            pieceStart = end;
        }
        clusterStart = end;
    }
    take(pieceStart, text.size());
    return found;
}

std::optional<Account> parseLink(const QString& link) {
    try {
        return OTPAuth::parse(link);
    } catch (const OTPAuth::ParseError&) {
        return std::nullopt;
    }
}

// A HOTP counter as exports write it: a whole JSON number from 0 to 2^63-1,
// or none (0). Anything else (-1, 1.5, "7", 1e19) is no counter at all, and
// the account is refused rather than started at 0, where its codes would no
// longer match the server's.
std::optional<quint64> counterFrom(const QJsonValue& value) {
    if (value.isUndefined() || value.isNull()) return 0;
    const qint64 whole = value.toInteger(-1); // -1 as well for a fraction or beyond 64 bits
    if (!value.isDouble() || whole < 0) return std::nullopt;
    return quint64(whole);
}

Import readAll(const QString& input, const std::optional<QString>& password);

// Every account the readers build passes through here. A digit count with no
// code (outside 1 to 9) or a counter that is not one cannot be a working
// account, so such an entry is left out and counted like any other
// unreadable one, as the link parser refuses such a link.
struct Fields {
    QByteArray secret;
    QString name;
    QString issuer;
    OTPType type = OTPType::totp;
    bool isSteam = false;
    HashAlgorithm algorithm = HashAlgorithm::sha1;
    qint64 digits = 6;
    qint64 period = 30;
    std::optional<quint64> counter = 0;
};

std::optional<Account> makeAccount(const Fields& fields) {
    if (fields.digits < OTP::minDigits || fields.digits > OTP::maxDigits || !fields.counter)
        return std::nullopt;
    Account account;
    account.name = fields.name;
    account.issuer = fields.issuer;
    account.secret = fields.secret;
    account.type = fields.type;
    account.isSteam = fields.isSteam;
    account.algorithm = fields.algorithm;
    account.digits = fields.digits;
    account.period = fields.period;
    account.counter = *fields.counter;
    return account;
}

// A reader's result: nothing when it found no entry at all, so that the next
// reader gets its turn; an entry it could not read counts as found.
std::optional<QList<Account>> resultOf(const QList<Account>& accounts, int left, int* unreadable) {
    if (unreadable) *unreadable += left;
    if (accounts.isEmpty() && left == 0) return std::nullopt;
    return accounts;
}

// Adds the account the fields make, or counts the entry as left out.
void take(const Fields& fields, QList<Account>& accounts, int& left) {
    if (auto account = makeAccount(fields))
        accounts.append(*account);
    else
        ++left;
}

// What every way of reading hands on: the accounts that meet the account
// rule, with their names cleaned; the others are counted.
Import admitted(Import found) {
    Limits::Admission admission = Limits::admit(found.accounts);
    found.accounts = std::move(admission.accepted);
    found.unreadable += admission.refused;
    if (!found.refusal) found.refusal = admission.firstRefusal;
    return found;
}

} // namespace

ImportError::ImportError(Kind kind, const QString& app)
    : m_kind(kind), m_app(app), m_what(describe(kind, app).toUtf8()) {
}

QString ImportError::message() const {
    return describe(m_kind, m_app);
}

// MARK: - Value rules

std::optional<QString> nonEmptyString(const QJsonValue& value) {
    auto result = text(value);
    if (!result || result->isEmpty()) return std::nullopt;
    return result;
}

HashAlgorithm hashAlgorithm(const QJsonValue& value) {
    const QString name = text(value).value_or(QStringLiteral("SHA1")).toUpper();
    if (name == QLatin1String("SHA256")) return HashAlgorithm::sha256;
    if (name == QLatin1String("SHA512")) return HashAlgorithm::sha512;
    return HashAlgorithm::sha1;
}

// MARK: - Dispatch

QList<Account> parse(const QString& input, const std::optional<QString>& password) {
    return read(input, password).accounts;
}

Import read(const QString& input, const std::optional<QString>& password) {
    return admitted(readAll(input, password));
}

namespace {

Import readAll(const QString& input, const std::optional<QString>& password) {
    const QString trimmed = trimmedForDispatch(input);
    if (trimmed.isEmpty()) throw ImportError(ImportError::unrecognized);
    const QString lower = lowerStart(trimmed);
    if (lower.startsWith(QLatin1String("otpauth-migration://"))) {
        // Several links, one per line as a multi-page export is pasted, give
        // every link's accounts; when none gives any, the first failing
        // link's error says why. A text that is not links alone (a link
        // broken across lines) is read as the one link it starts with, so
        // that half a link is refused rather than read.
        const QStringList links = pieces(trimmed);
        if (links.size() > 1 && std::all_of(links.begin(), links.end(), isLink)) {
            LinkScan scan = scanLinks(trimmed);
            if (scan.accounts.isEmpty() && scan.failure) throw *scan.failure;
            return scan;
        }
        return {OTPAuth::parseMigration(trimmed), 0, {}};
    }
    if (lower.startsWith(QLatin1String("otpauth://"))) {
        LinkScan scan = scanLinks(trimmed);
        if (!scan.accounts.isEmpty()) return scan;
    }

    // The UTF-8 text only for as long as the parser reads it; the document
    // holds its own copy of what it needs.
    std::optional<QJsonDocument> document;
    {
        QByteArray utf8 = trimmed.toUtf8();
        utf8.squeeze(); // made for the longest encoding of every character
        document = parseJson(utf8);
    }
    if (document && document->isObject()) {
        const QJsonObject object = document->object();
        int unreadable = 0;
        if (auto accounts = parse2FAS(object, password, &unreadable)) return {*accounts, unreadable, {}};
        if (auto accounts = parseAegis(object, &unreadable)) return {*accounts, unreadable, {}};
        if (auto accounts = parseBitwarden(object, &unreadable)) return {*accounts, unreadable, {}};
        if (auto accounts = parseProton(object, &unreadable)) return {*accounts, unreadable, {}};
        Import found;
        for (const QString& link : collectOtpauthStrings(object)) {
            if (auto account = parseLink(link))
                found.accounts.append(*account);
            else
                ++found.unreadable;
        }
        if (!found.accounts.isEmpty()) return found;
    }

    LinkScan scan = scanLinks(trimmed);
    if (!scan.accounts.isEmpty()) return scan;
    throw ImportError(ImportError::unrecognized);
}

} // namespace

QList<Account> scanOtpauthTokens(const QString& text) {
    return scanLinks(text).accounts;
}

LinkScan scanLinks(const QString& text) {
    LinkScan scan;
    for (const QString& piece : pieces(text)) {
        if (startsWithOtpauth(piece)) {
            if (auto account = parseLink(piece))
                scan.accounts.append(*account);
            else
                ++scan.unreadable;
        } else if (startsWithMigration(piece)) {
            try {
                scan.accounts += OTPAuth::parseMigration(piece);
            } catch (const OTPAuth::ParseError& error) {
                ++scan.unreadable;
                if (!scan.failure) scan.failure = error;
            }
        }
    }
    return scan;
}

QStringList collectOtpauthStrings(const QJsonValue& value) {
    QStringList found;
    if (value.isString()) {
        if (startsWithOtpauth(value.toString())) found.append(value.toString());
    } else if (value.isArray()) {
        for (const QJsonValue& element : value.toArray())
            found += collectOtpauthStrings(element);
    } else if (value.isObject()) {
        // Qt keeps members sorted by name; that is the fixed visiting order.
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            found += collectOtpauthStrings(it.value());
    }
    return found;
}

// MARK: - 2FAS

std::optional<QList<Account>> parse2FAS(const QJsonObject& object,
                                        const std::optional<QString>& password, int* unreadable) {
    const QJsonValue services = object.value(QLatin1String("services"));
    const bool hasServices = isArrayOfObjects(services) && !services.toArray().isEmpty();
    const auto sealed = text(object.value(QLatin1String("servicesEncrypted")));
    if (sealed && !hasServices) {
        if (!password || password->isEmpty()) throw ImportError(ImportError::needsPassword, twoFAS);
        const auto plaintext = decrypt2FAS(*sealed, *password);
        if (!plaintext) throw ImportError(ImportError::wrongPassword, twoFAS);
        const auto document = parseJson(*plaintext);
        if (document && document->isArray() && isArrayOfObjects(document->array()))
            return parse2FASServices(document->array(), unreadable);
        return std::nullopt;
    }
    if (isArrayOfObjects(services)) return parse2FASServices(services.toArray(), unreadable);
    return std::nullopt;
}

std::optional<QList<Account>> parse2FASServices(const QJsonArray& services, int* unreadable) {
    QList<Account> accounts;
    accounts.reserve(services.size());
    int left = 0;
    for (const QJsonValue& entry : services) {
        const QJsonObject service = entry.toObject();
        const QJsonValue otpValue = service.value(QLatin1String("otp"));
        const QJsonObject otp = otpValue.isObject() ? otpValue.toObject() : QJsonObject();
        Fields fields;
        const auto secret = secretFrom(service.value(QLatin1String("secret")));
        if (!secret) {
            ++left;
            continue;
        }
        fields.secret = *secret;
        fields.issuer =
            nonEmptyString(otp.value(QLatin1String("issuer")))
                .value_or(nonEmptyString(service.value(QLatin1String("name"))).value_or(QString()));
        fields.name = textOrEmpty(otp.value(QLatin1String("account")));
        const QString tokenType =
            text(otp.value(QLatin1String("tokenType"))).value_or(QStringLiteral("TOTP")).toUpper();
        fields.type = tokenType == QLatin1String("HOTP") ? OTPType::hotp : OTPType::totp;
        fields.isSteam = tokenType == QLatin1String("STEAM");
        fields.algorithm = hashAlgorithm(otp.value(QLatin1String("algorithm")));
        fields.digits = integerOr(otp.value(QLatin1String("digits")), 6);
        fields.period = integerOr(otp.value(QLatin1String("period")), 30);
        fields.counter = counterFrom(otp.value(QLatin1String("counter")));
        take(fields, accounts, left);
    }
    return resultOf(accounts, left, unreadable);
}

std::optional<QByteArray> decrypt2FAS(const QString& sealedText, const QString& password) {
    const QStringList pieces = sealedText.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    if (pieces.size() != 3) return std::nullopt;
    const auto sealed = Json::strictBase64(pieces[0]);
    const auto salt = Json::strictBase64(pieces[1]);
    const auto nonce = Json::strictBase64(pieces[2]);
    if (!sealed || !salt || !nonce) return std::nullopt;
    if (sealed->size() <= gcmTagLength || nonce->size() != Crypto::aesGcmNonceLength ||
        salt->isEmpty())
        return std::nullopt;
    const auto key = pbkdf2SHA256(password.toUtf8(), *salt, twoFASRounds, Crypto::aesGcmKeyLength);
    if (!key) return std::nullopt;
    return Crypto::aesGcmOpen(*key, *nonce, sealed->first(sealed->size() - gcmTagLength),
                              sealed->last(gcmTagLength));
}

std::optional<QByteArray> pbkdf2SHA256(const QByteArray& password, const QByteArray& salt,
                                       int iterations, int keyLength) {
    return Crypto::pbkdf2Sha256(password, salt, iterations, keyLength);
}

// MARK: - Aegis

std::optional<QList<Account>> parseAegis(const QJsonObject& object, int* unreadable) {
    const QJsonValue db = object.value(QLatin1String("db"));
    if (db.isString()) throw ImportError(ImportError::encrypted, aegis);
    if (!db.isObject()) return std::nullopt;
    const QJsonValue entries = db.toObject().value(QLatin1String("entries"));
    if (!isArrayOfObjects(entries)) return std::nullopt;
    QList<Account> accounts;
    int left = 0;
    for (const QJsonValue& value : entries.toArray()) {
        const QJsonObject entry = value.toObject();
        const QJsonValue infoValue = entry.value(QLatin1String("info"));
        const QJsonObject info = infoValue.toObject();
        Fields fields;
        const auto secret = secretFrom(info.value(QLatin1String("secret")));
        if (!secret) {
            ++left;
            continue;
        }
        fields.secret = *secret;
        fields.name = textOrEmpty(entry.value(QLatin1String("name")));
        fields.issuer = textOrEmpty(entry.value(QLatin1String("issuer")));
        const QString type =
            text(entry.value(QLatin1String("type"))).value_or(QStringLiteral("totp")).toLower();
        fields.type = type == QLatin1String("hotp") ? OTPType::hotp : OTPType::totp;
        fields.isSteam = type == QLatin1String("steam");
        fields.algorithm = hashAlgorithm(info.value(QLatin1String("algo")));
        fields.digits = integerOr(info.value(QLatin1String("digits")), 6);
        fields.period = integerOr(info.value(QLatin1String("period")), 30);
        fields.counter = counterFrom(info.value(QLatin1String("counter")));
        take(fields, accounts, left);
    }
    return resultOf(accounts, left, unreadable);
}

// MARK: - Bitwarden

std::optional<QList<Account>> parseBitwarden(const QJsonObject& object, int* unreadable) {
    const QJsonValue items = object.value(QLatin1String("items"));
    if (!isArrayOfObjects(items)) return std::nullopt;
    QList<Account> accounts;
    int left = 0;
    for (const QJsonValue& value : items.toArray()) {
        const QJsonObject item = value.toObject();
        const QJsonValue login = item.value(QLatin1String("login"));
        if (!login.isObject() || login.toObject().isEmpty()) continue;
        const auto totp = text(login.toObject().value(QLatin1String("totp")));
        if (!totp) continue;
        const QString code = Text::trimmedBlanksAndTabs(*totp);
        if (code.isEmpty()) continue;
        const QString itemName = textOrEmpty(item.value(QLatin1String("name")));
        const QString lower = code.toLower();

        if (lower.startsWith(QLatin1String("otpauth://"))) {
            if (auto account = parseLink(code))
                accounts.append(*account);
            else
                ++left;
            continue;
        }
        Fields fields;
        if (lower.startsWith(QLatin1String("steam://"))) {
            const auto secret = Base32::decode(code.mid(8));
            if (!secret || secret->isEmpty()) {
                ++left;
                continue;
            }
            fields.secret = *secret;
            fields.issuer = itemName;
            fields.isSteam = true;
            fields.digits = 5;
        } else {
            const auto secret = Base32::decode(QString(code).remove(QLatin1Char(' ')));
            if (!secret || secret->isEmpty()) {
                ++left;
                continue;
            }
            fields.secret = *secret;
            const qsizetype colon = itemName.indexOf(QLatin1Char(':'));
            if (colon >= 0) {
                fields.issuer = Text::trimmedBlanksAndTabs(itemName.left(colon));
                fields.name = Text::trimmedBlanksAndTabs(itemName.mid(colon + 1));
            } else {
                fields.issuer = itemName;
            }
        }
        take(fields, accounts, left);
    }
    return resultOf(accounts, left, unreadable);
}

// MARK: - Proton Authenticator

std::optional<QList<Account>> parseProton(const QJsonObject& object, int* unreadable) {
    const QJsonValue entries = object.value(QLatin1String("entries"));
    if (!isArrayOfObjects(entries)) return std::nullopt;
    QList<Account> accounts;
    int left = 0;
    for (const QJsonValue& value : entries.toArray()) {
        const QJsonObject entry = value.toObject();
        const QJsonValue content = entry.value(QLatin1String("content"));
        const QJsonObject c = content.isObject() ? content.toObject() : entry;

        auto link = text(c.value(QLatin1String("uri")));
        if (!link) link = text(c.value(QLatin1String("url")));
        if (link && startsWithOtpauth(*link)) {
            // A link that does not parse still leaves the entry's own fields.
            if (auto account = parseLink(*link)) {
                accounts.append(*account);
                continue;
            }
        }

        Fields fields;
        const auto secret = secretFrom(c.value(QLatin1String("secret")));
        if (!secret) {
            ++left;
            continue;
        }
        fields.secret = *secret;
        fields.name = textOrEmpty(c.value(QLatin1String("name")));
        fields.issuer = textOrEmpty(c.value(QLatin1String("issuer")));
        const QString type =
            text(c.value(QLatin1String("entry_type"))).value_or(QStringLiteral("totp")).toLower();
        fields.type = type.contains(QLatin1String("hotp")) ? OTPType::hotp : OTPType::totp;
        fields.isSteam = type.contains(QLatin1String("steam"));
        fields.algorithm = hashAlgorithm(c.value(QLatin1String("algorithm")));
        fields.digits = integerOr(c.value(QLatin1String("digits")), 6);
        fields.period = integerOr(c.value(QLatin1String("period")), 30);
        fields.counter = counterFrom(c.value(QLatin1String("counter")));
        take(fields, accounts, left);
    }
    return resultOf(accounts, left, unreadable);
}

} // namespace Importers
