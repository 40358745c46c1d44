#include "core/Account.h"

#include "core/Base32.h"
#include "core/OTP.h"

#include <QCollator>
#include <QHashFunctions>
#include <QJsonArray>
#include <QUrl>
#include <algorithm>

QString toText(OTPType type) {
    return type == OTPType::hotp ? QStringLiteral("hotp") : QStringLiteral("totp");
}

QString toText(HashAlgorithm algorithm) {
    switch (algorithm) {
    case HashAlgorithm::sha1:
        return QStringLiteral("SHA1");
    case HashAlgorithm::sha256:
        return QStringLiteral("SHA256");
    case HashAlgorithm::sha512:
        return QStringLiteral("SHA512");
    }
    return QStringLiteral("SHA1");
}

std::optional<OTPType> otpTypeFromText(const QString& text) {
    if (text == QLatin1String("totp"))
        return OTPType::totp;
    if (text == QLatin1String("hotp"))
        return OTPType::hotp;
    return std::nullopt;
}

std::optional<HashAlgorithm> hashAlgorithmFromText(const QString& text) {
    for (const HashAlgorithm algorithm : allHashAlgorithms)
        if (text == toText(algorithm))
            return algorithm;
    return std::nullopt;
}

QString toText(AccountSort sort) {
    switch (sort) {
    case AccountSort::manual:
        return QStringLiteral("manual");
    case AccountSort::name:
        return QStringLiteral("name");
    case AccountSort::issuer:
        return QStringLiteral("issuer");
    case AccountSort::mostUsed:
        return QStringLiteral("mostUsed");
    }
    return QStringLiteral("manual");
}

std::optional<AccountSort> accountSortFromText(const QString& text) {
    for (const AccountSort sort :
         {AccountSort::manual, AccountSort::name, AccountSort::issuer, AccountSort::mostUsed})
        if (text == toText(sort))
            return sort;
    return std::nullopt;
}

// MARK: - Labels and links

QString Account::displayLabel() const {
    return issuer.isEmpty() ? name : issuer + QStringLiteral(": ") + name;
}

namespace {

// Keeps A-Z a-z 0-9 - . _ ~ and ":", writes everything else as %XX of its
// UTF-8 bytes.
QString linkEncoded(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(":"));
}

} // namespace

QString Account::otpauthURL() const {
    const QString label = issuer.isEmpty() ? name : issuer + QLatin1Char(':') + name;
    QStringList parameters;
    parameters << QStringLiteral("secret=") + Base32::encode(secret).remove(QLatin1Char('='));
    if (!issuer.isEmpty())
        parameters << QStringLiteral("issuer=") + linkEncoded(issuer);
    parameters << QStringLiteral("algorithm=") + toText(algorithm);
    parameters << QStringLiteral("digits=") + QString::number(digits);
    if (type == OTPType::totp)
        parameters << QStringLiteral("period=") + QString::number(period);
    else
        parameters << QStringLiteral("counter=") + QString::number(counter);
    return QStringLiteral("otpauth://") + toText(type) + QLatin1Char('/') + linkEncoded(label) +
           QLatin1Char('?') + parameters.join(QLatin1Char('&'));
}

// MARK: - Codes

QString Account::code(const QDateTime& time) const {
    // Without a key every server refuses whatever would be computed.
    if (secret.isEmpty())
        return {};
    const double seconds = OTP::unixSeconds(time);
    if (isSteam)
        return OTP::steam(secret, seconds);
    if (type == OTPType::hotp)
        return OTP::hotp(secret, counter, digits, algorithm);
    return OTP::totp(secret, seconds, period, digits, algorithm);
}

QString Account::groupedCode(const QDateTime& time) const {
    const QString current = code(time);
    return isSteam ? current : OTP::grouped(current);
}

QString Account::nextGroupedCode(const QDateTime& time) const {
    if (type == OTPType::hotp || secret.isEmpty())
        return {};
    // Steam codes always step every 30 seconds, whatever the stored period.
    const qint64 step = isSteam ? OTP::steamPeriod : std::max<qint64>(period, 1);
    const double next = OTP::unixSeconds(time) + double(step);
    if (isSteam)
        return OTP::steam(secret, next);
    return OTP::grouped(OTP::totp(secret, next, period, digits, algorithm));
}

// MARK: - JSON

namespace {

using Json::DateForm;

// Reading helpers: a missing or null key gives `fallback`; a key of the wrong
// form makes the record fail (nullopt).
template <typename T, typename Read>
std::optional<T> optionalKey(const QJsonObject& object, const char* key, T fallback, Read read) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return fallback;
    return read(value);
}

std::optional<QString> readString(const QJsonValue& value) { return Json::toString(value); }

std::optional<bool> readBool(const QJsonValue& value) {
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

// Wraps a reader of T so that it yields optional<optional<T>> for keys whose
// absence is itself a value.
template <typename Read> auto presentValue(Read read) {
    return [read](const QJsonValue& value) {
        const auto result = read(value);
        using Inner = typename decltype(result)::value_type;
        return result ? std::optional<std::optional<Inner>>(*result) : std::nullopt;
    };
}

} // namespace

QJsonObject Account::toJson(DateForm form) const {
    QJsonObject object;
    object.insert(QLatin1String("id"), Json::uuidText(id));
    object.insert(QLatin1String("name"), name);
    object.insert(QLatin1String("issuer"), issuer);
    object.insert(QLatin1String("secret"), QString::fromLatin1(secret.toBase64()));
    object.insert(QLatin1String("type"), toText(type));
    object.insert(QLatin1String("algorithm"), toText(algorithm));
    object.insert(QLatin1String("digits"), digits);
    object.insert(QLatin1String("period"), period);
    object.insert(QLatin1String("counter"), Json::fromUInt64(counter));
    object.insert(QLatin1String("createdAt"), Json::fromDate(createdAt, form));
    object.insert(QLatin1String("isFavorite"), isFavorite);
    object.insert(QLatin1String("note"), note);
    if (folderID)
        object.insert(QLatin1String("folderID"), Json::uuidText(*folderID));
    object.insert(QLatin1String("isSteam"), isSteam);
    object.insert(QLatin1String("recoveryCodes"), recoveryCodes);
    if (deletedAt)
        object.insert(QLatin1String("deletedAt"), Json::fromDate(*deletedAt, form));
    object.insert(QLatin1String("useCount"), useCount);
    if (lastUsedAt)
        object.insert(QLatin1String("lastUsedAt"), Json::fromDate(*lastUsedAt, form));
    return object;
}

std::optional<Account> Account::fromJson(const QJsonObject& object, DateForm form) {
    const auto id = Json::toUuid(object.value(QLatin1String("id")));
    const auto name = readString(object.value(QLatin1String("name")));
    const auto issuer = readString(object.value(QLatin1String("issuer")));
    const auto secretText = readString(object.value(QLatin1String("secret")));
    if (!id || !name || !issuer || !secretText)
        return std::nullopt;
    const auto secret = Json::strictBase64(*secretText);
    if (!secret)
        return std::nullopt;

    const auto readDate = [form](const QJsonValue& v) { return Json::toDate(v, form); };
    const auto readType = [](const QJsonValue& v) {
        return v.isString() ? otpTypeFromText(v.toString()) : std::nullopt;
    };
    const auto readAlgorithm = [](const QJsonValue& v) {
        return v.isString() ? hashAlgorithmFromText(v.toString()) : std::nullopt;
    };

    const auto type = optionalKey(object, "type", OTPType::totp, readType);
    const auto algorithm = optionalKey(object, "algorithm", HashAlgorithm::sha1, readAlgorithm);
    const auto digits = optionalKey<qint64>(object, "digits", 6, Json::toInt64);
    const auto period = optionalKey<qint64>(object, "period", 30, Json::toInt64);
    const auto counter = optionalKey<quint64>(object, "counter", 0, Json::toUInt64);
    const auto createdAt =
        optionalKey(object, "createdAt", QDateTime::currentDateTimeUtc(), readDate);
    const auto isFavorite = optionalKey(object, "isFavorite", false, readBool);
    const auto note = optionalKey(object, "note", QString(), readString);
    const auto folderID = optionalKey(object, "folderID", std::optional<QUuid>(),
                                      presentValue(Json::toUuid));
    const auto isSteam = optionalKey(object, "isSteam", false, readBool);
    const auto recoveryCodes = optionalKey(object, "recoveryCodes", QString(), readString);
    const auto deletedAt =
        optionalKey(object, "deletedAt", std::optional<QDateTime>(), presentValue(readDate));
    const auto useCount = optionalKey<qint64>(object, "useCount", 0, Json::toInt64);
    const auto lastUsedAt =
        optionalKey(object, "lastUsedAt", std::optional<QDateTime>(), presentValue(readDate));
    if (!type || !algorithm || !digits || !period || !counter || !createdAt || !isFavorite ||
        !note || !folderID || !isSteam || !recoveryCodes || !deletedAt || !useCount ||
        !lastUsedAt)
        return std::nullopt;

    Account account;
    account.id = *id;
    account.name = *name;
    account.issuer = *issuer;
    account.secret = *secret;
    account.type = *type;
    account.algorithm = *algorithm;
    account.digits = *digits;
    account.period = *period;
    account.counter = *counter;
    account.createdAt = *createdAt;
    account.isFavorite = *isFavorite;
    account.note = *note;
    account.folderID = *folderID;
    account.isSteam = *isSteam;
    account.recoveryCodes = *recoveryCodes;
    account.deletedAt = *deletedAt;
    account.useCount = *useCount;
    account.lastUsedAt = *lastUsedAt;
    return account;
}

// MARK: - Display order

QList<Account> Account::sorted(const QList<Account>& accounts, AccountSort sort) {
    QList<Account> result = accounts;
    if (sort == AccountSort::manual)
        return result;
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const auto before = [&](const Account& a, const Account& b) {
        if (a.isFavorite != b.isFavorite)
            return a.isFavorite;
        switch (sort) {
        case AccountSort::manual:
            return false;
        case AccountSort::name:
            return collator.compare(a.name, b.name) < 0;
        case AccountSort::issuer: {
            const int byIssuer = collator.compare(a.issuer, b.issuer);
            return byIssuer != 0 ? byIssuer < 0 : collator.compare(a.name, b.name) < 0;
        }
        case AccountSort::mostUsed:
            if (a.useCount != b.useCount)
                return a.useCount > b.useCount;
            if (a.lastUsedAt != b.lastUsedAt)
                return a.lastUsedAt.has_value() &&
                       (!b.lastUsedAt.has_value() || *a.lastUsedAt > *b.lastUsedAt);
            return false;
        }
        return false;
    };
    std::stable_sort(result.begin(), result.end(), before);
    return result;
}

// MARK: - Hashing

size_t qHash(const Account& a, size_t seed) noexcept {
    QtPrivate::QHashCombine combine;
    const auto optionalDate = [](const std::optional<QDateTime>& d) {
        return d ? d->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    };
    size_t h = seed;
    h = combine(h, a.id);
    h = combine(h, a.name);
    h = combine(h, a.issuer);
    h = combine(h, a.secret);
    h = combine(h, toText(a.type));
    h = combine(h, toText(a.algorithm));
    h = combine(h, a.digits);
    h = combine(h, a.period);
    h = combine(h, a.counter);
    h = combine(h, a.createdAt.toMSecsSinceEpoch());
    h = combine(h, a.isFavorite);
    h = combine(h, a.note);
    h = combine(h, a.folderID.has_value());
    h = combine(h, a.folderID.value_or(QUuid()));
    h = combine(h, a.isSteam);
    h = combine(h, a.recoveryCodes);
    h = combine(h, a.deletedAt.has_value());
    h = combine(h, optionalDate(a.deletedAt));
    h = combine(h, a.useCount);
    h = combine(h, a.lastUsedAt.has_value());
    h = combine(h, optionalDate(a.lastUsedAt));
    return h;
}

// MARK: - Folders

QJsonObject Folder::toJson() const {
    return QJsonObject{{QLatin1String("id"), Json::uuidText(id)},
                       {QLatin1String("name"), name},
                       {QLatin1String("symbol"), symbol}};
}

std::optional<Folder> Folder::fromJson(const QJsonObject& object) {
    const auto name = readString(object.value(QLatin1String("name")));
    const auto id = optionalKey(object, "id", QUuid::createUuid(), Json::toUuid);
    const auto symbol = optionalKey(object, "symbol", QStringLiteral("folder"), readString);
    if (!name || !id || !symbol)
        return std::nullopt;
    return Folder{*id, *name, *symbol};
}

size_t qHash(const Folder& folder, size_t seed) noexcept {
    return qHashMulti(seed, folder.id, folder.name, folder.symbol);
}

QJsonObject FolderCatalog::toJson(DateForm form) const {
    QJsonArray list;
    for (const Folder& folder : folders)
        list.append(folder.toJson());
    return QJsonObject{{QLatin1String("folders"), list},
                       {QLatin1String("updatedAt"), Json::fromDate(updatedAt, form)}};
}

std::optional<FolderCatalog> FolderCatalog::fromJson(const QJsonObject& object, DateForm form) {
    const QJsonValue list = object.value(QLatin1String("folders"));
    const auto updatedAt = Json::toDate(object.value(QLatin1String("updatedAt")), form);
    if (!list.isArray() || !updatedAt)
        return std::nullopt;
    FolderCatalog catalog;
    catalog.updatedAt = *updatedAt;
    for (const QJsonValue& entry : list.toArray()) {
        const auto folder = entry.isObject() ? Folder::fromJson(entry.toObject()) : std::nullopt;
        if (!folder)
            return std::nullopt;
        catalog.folders.append(*folder);
    }
    return catalog;
}

size_t qHash(const FolderFilter& filter, size_t seed) noexcept {
    return filter.kind == FolderFilter::Kind::folder
               ? qHashMulti(seed, int(filter.kind), filter.folderID)
               : qHashMulti(seed, int(filter.kind));
}
