#pragma once

#include "core/Account.h"

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

// The whole intake: a migration link, otpauth:// links in free text, the
// JSON exports of 2FAS, Aegis, Bitwarden and Proton Authenticator, or any
// otpauth:// string inside a JSON object. Throws ImportError, or passes on
// OTPAuth::ParseError from a migration link. Only the migration path may
// return an empty list; everywhere else finding nothing is `unrecognized`.
// The password (none on a first attempt) is used by the 2FAS reader only.
QList<Account> parse(const QString& text, const std::optional<QString>& password = std::nullopt);

// Every otpauth:// piece of the text that OTPAuth::parse accepts, in order.
QList<Account> scanOtpauthTokens(const QString& text);

// Every string inside the value that starts with otpauth:// (any case).
QStringList collectOtpauthStrings(const QJsonValue& value);

// The readers get the top-level object. No result (rather than an empty list)
// when they made no account, so that the next reader gets its turn.
std::optional<QList<Account>> parse2FAS(const QJsonObject& object,
                                        const std::optional<QString>& password);
std::optional<QList<Account>> parseAegis(const QJsonObject& object);
std::optional<QList<Account>> parseBitwarden(const QJsonObject& object);
std::optional<QList<Account>> parseProton(const QJsonObject& object);

// 2FAS service objects to accounts; no result when none could be read.
std::optional<QList<Account>> parse2FASServices(const QJsonArray& services);

// The plaintext of a 2FAS "servicesEncrypted" text; nothing on any failure.
std::optional<QByteArray> decrypt2FAS(const QString& text, const QString& password);

std::optional<QByteArray> pbkdf2SHA256(const QByteArray& password, const QByteArray& salt,
                                       int iterations, int keyLength);

// The value rules shared by the readers.
std::optional<QString> nonEmptyString(const QJsonValue& value);
HashAlgorithm hashAlgorithm(const QJsonValue& value);
quint64 positiveInt(const QJsonValue& value);

} // namespace Importers
