#pragma once

#include "core/Json.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

enum class OTPType { totp, hotp };
enum class HashAlgorithm { sha1, sha256, sha512 };

QString toText(OTPType type);                       // "totp", "hotp"
QString toText(HashAlgorithm algorithm);            // "SHA1", "SHA256", "SHA512"
std::optional<OTPType> otpTypeFromText(const QString& text);             // exact forms only
std::optional<HashAlgorithm> hashAlgorithmFromText(const QString& text); // exact forms only
inline constexpr HashAlgorithm allHashAlgorithms[] = {HashAlgorithm::sha1, HashAlgorithm::sha256,
                                                      HashAlgorithm::sha512};

enum class AccountSort { manual, name, issuer, mostUsed };
QString toText(AccountSort sort);
std::optional<AccountSort> accountSortFromText(const QString& text);

// One authenticator entry. A plain value: identified by `id`, equal only when
// every field is equal.
struct Account {
    QUuid id = QUuid::createUuid();
    QString name;
    QString issuer;
    QByteArray secret; // raw key bytes
    OTPType type = OTPType::totp;
    HashAlgorithm algorithm = HashAlgorithm::sha1;
    qint64 digits = 6;
    qint64 period = 30; // seconds; below 1 counts as 1
    quint64 counter = 0;
    QDateTime createdAt = QDateTime::currentDateTimeUtc();
    bool isFavorite = false;
    QString note;
    std::optional<QUuid> folderID;
    bool isSteam = false;
    QString recoveryCodes;
    std::optional<QDateTime> deletedAt;
    qint64 useCount = 0;
    std::optional<QDateTime> lastUsedAt;

    // "Issuer: name", or the name alone when there is no issuer.
    QString displayLabel() const;

    // The account as an otpauth:// link (the key-URI form of QR codes).
    QString otpauthURL() const;

    // The code at the given (corrected) time: Steam, HOTP at the stored
    // counter, or TOTP. Empty when the stored digits cannot form a code or
    // there is no secret.
    QString code(const QDateTime& time) const;
    // The code split into two halves with one space; Steam codes stay whole.
    QString groupedCode(const QDateTime& time) const;
    // The grouped code of the following time step; empty for HOTP.
    QString nextGroupedCode(const QDateTime& time) const;

    QJsonObject toJson(Json::DateForm form) const;
    // Nothing when a required key is missing or any key has the wrong form.
    static std::optional<Account> fromJson(const QJsonObject& object, Json::DateForm form);

    // A new list in display order; the input is not changed.
    static QList<Account> sorted(const QList<Account>& accounts, AccountSort sort);

    friend bool operator==(const Account&, const Account&) = default;
};

size_t qHash(const Account& account, size_t seed = 0) noexcept;

struct Folder {
    QUuid id = QUuid::createUuid();
    QString name;
    QString symbol = QStringLiteral("folder");

    QJsonObject toJson() const;
    static std::optional<Folder> fromJson(const QJsonObject& object);

    friend bool operator==(const Folder&, const Folder&) = default;
};

size_t qHash(const Folder& folder, size_t seed = 0) noexcept;

// The persisted folder list, in display order, with the date of its last change.
struct FolderCatalog {
    QList<Folder> folders;
    QDateTime updatedAt;

    QJsonObject toJson(Json::DateForm form) const;
    static std::optional<FolderCatalog> fromJson(const QJsonObject& object, Json::DateForm form);

    friend bool operator==(const FolderCatalog&, const FolderCatalog&) = default;
};

// The main window's choice of which accounts to list.
struct FolderFilter {
    enum class Kind { all, ungrouped, folder };
    Kind kind = Kind::all;
    QUuid folderID; // used only by Kind::folder

    static FolderFilter all() { return {}; }
    static FolderFilter ungrouped() { return {Kind::ungrouped, {}}; }
    static FolderFilter folder(const QUuid& id) { return {Kind::folder, id}; }

    friend bool operator==(const FolderFilter& a, const FolderFilter& b) {
        return a.kind == b.kind && (a.kind != Kind::folder || a.folderID == b.folderID);
    }
};

size_t qHash(const FolderFilter& filter, size_t seed = 0) noexcept;
