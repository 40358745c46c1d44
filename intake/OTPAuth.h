#pragma once

#include "core/Account.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <exception>
#include <optional>

// Reading of otpauth:// links and of Google Authenticator's
// otpauth-migration:// export links.
namespace OTPAuth {

class ParseError : public std::exception {
public:
    enum Kind {
        invalidURL,
        unsupportedScheme,
        missingSecret,
        invalidSecret,
        unsupportedType,
        migrationDecodeFailed,
    };

    explicit ParseError(Kind kind) : m_kind(kind) {}
    Kind kind() const { return m_kind; }
    // The sentence shown to the user.
    QString message() const;
    const char* what() const noexcept override;

    friend bool operator==(const ParseError& a, const ParseError& b) { return a.m_kind == b.m_kind; }

private:
    Kind m_kind;
};

// One otpauth:// link to a new account. Throws ParseError.
Account parse(const QString& link);

// An otpauth-migration:// link to its accounts (possibly none). Throws
// ParseError for a bad link or Base64; damaged payload bytes never throw.
QList<Account> parseMigration(const QString& link);

// Protocol Buffers wire-format reading over one byte string.
struct Reader {
    QByteArray bytes;
    qint64 position = 0;
    bool atEnd() const { return position >= bytes.size(); }
};

std::optional<quint64> readVarint(Reader& reader);
std::optional<QByteArray> readLengthDelimited(Reader& reader);

QList<Account> decodeMigrationPayload(const QByteArray& payload);
std::optional<Account> decodeOtpParameters(const QByteArray& message);

} // namespace OTPAuth
