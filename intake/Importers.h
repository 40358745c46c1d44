#pragma once

#include "core/Account.h"
#include "intake/OTPAuth.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <exception>
#include <optional>

// Reading of other authenticators' exports: pasted text or an opened file
// becomes a list of new accounts. Pure functions: nothing is stored, merged
// or de-duplicated here.
namespace Importers {

class ImportError : public std::exception {
public:
    enum Kind {
        needsPassword, // app: the application whose backup is locked
        wrongPassword, // app
        encrypted,     // app
        unrecognized,
    };

    explicit ImportError(Kind kind, const QString& app = {});
    Kind kind() const { return m_kind; }
    QString app() const { return m_app; }
    // The sentence shown to the user.
    QString message() const;
    const char* what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const ImportError& a, const ImportError& b) {
        return a.m_kind == b.m_kind && a.m_app == b.m_app;
    }

private:
    Kind m_kind;
    QString m_app;
    QByteArray m_what;
};

// What an intake found: the accounts, and how many links or entries in it
// could not be read or break the account rule (Limits::refusal) and were left
// out, with the first such account's reason.
struct Import {
    QList<Account> accounts;
    int unreadable = 0;
    std::optional<QString> refusal;
};

// The whole intake: migration links (one, or one per line as a multi-page
// export gives), otpauth:// links in free text, the JSON exports of 2FAS,
// Aegis, Bitwarden and Proton Authenticator, or any otpauth:// string inside
// a JSON object. Throws ImportError, or passes on OTPAuth::ParseError from a
// migration link. Only the migration path may return no account; everywhere
// else finding nothing is `unrecognized`. The password (none on a first
// attempt) is used by the 2FAS reader only. Every account it gives meets the
// account rule, its names cleaned (Limits::admit); an export whose entries
// were all left out gives no account and their count.
Import read(const QString& text, const std::optional<QString>& password = std::nullopt);
// The accounts of read().
QList<Account> parse(const QString& text, const std::optional<QString>& password = std::nullopt);

// The links of a text cut at blanks and line breaks: every otpauth:// piece
// that OTPAuth::parse accepts and the accounts of every otpauth-migration://
// piece, in order. `failure` keeps the first migration link's error.
struct LinkScan : Import {
    std::optional<OTPAuth::ParseError> failure;
};
LinkScan scanLinks(const QString& text);
// The accounts of scanLinks().
QList<Account> scanOtpauthTokens(const QString& text);

// Every string inside the value that starts with otpauth:// (any case).
QStringList collectOtpauthStrings(const QJsonValue& value);

// The readers get the top-level object. No result (rather than an empty list)
// when they found no entry, so that the next reader gets its turn.
// `unreadable`, when given, counts the entries left out: no usable secret, a
// digit count no code has, a counter that is not a whole number from 0 to
// 2^63-1, an otpauth:// link that fails.
std::optional<QList<Account>> parse2FAS(const QJsonObject& object,
                                        const std::optional<QString>& password,
                                        int* unreadable = nullptr);
std::optional<QList<Account>> parseAegis(const QJsonObject& object, int* unreadable = nullptr);
std::optional<QList<Account>> parseBitwarden(const QJsonObject& object, int* unreadable = nullptr);
std::optional<QList<Account>> parseProton(const QJsonObject& object, int* unreadable = nullptr);

// 2FAS service objects to accounts.
std::optional<QList<Account>> parse2FASServices(const QJsonArray& services,
                                                int* unreadable = nullptr);

// The plaintext of a 2FAS "servicesEncrypted" text; nothing on any failure.
std::optional<QByteArray> decrypt2FAS(const QString& text, const QString& password);

std::optional<QByteArray> pbkdf2SHA256(const QByteArray& password, const QByteArray& salt,
                                       int iterations, int keyLength);

// The value rules shared by the readers.
std::optional<QString> nonEmptyString(const QJsonValue& value);
HashAlgorithm hashAlgorithm(const QJsonValue& value);

} // namespace Importers
