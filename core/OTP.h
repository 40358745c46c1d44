#pragma once

#include "core/Account.h"

#include <QByteArray>
#include <QString>

// HOTP (RFC 4226), TOTP (RFC 6238) and Steam Guard codes. Pure functions: the
// caller passes the time, nothing here reads a clock or keeps state.
namespace OTP {

inline constexpr qint64 minDigits = 1;
inline constexpr qint64 maxDigits = 9;
inline constexpr int steamPeriod = 30;

QByteArray hmac(const QByteArray& secret, const QByteArray& message, HashAlgorithm algorithm);

// The decimal code of exactly `digits` characters. A digit count outside
// 1 to 9 has no code of that length: the result is then empty, which every
// caller treats as "no code" (nothing to show, copy or type).
QString hotp(const QByteArray& secret, quint64 counter, qint64 digits, HashAlgorithm algorithm);

// The TOTP time-step number of a time: floor(unix seconds / max(period, 1)).
// Times before 1970 give step 0 and times beyond the 64-bit range the last
// step, so that no time leads to an undefined conversion.
quint64 timeStep(double unixSeconds, qint64 period);

QString totp(const QByteArray& secret, double unixSeconds, qint64 period, qint64 digits,
             HashAlgorithm algorithm);

// Five characters of the Steam alphabet, on a 30-second step with HMAC-SHA-1.
QString steam(const QByteArray& secret, double unixSeconds);

// A code of four or more characters split after its first floor(n / 2).
QString grouped(const QString& code);

double unixSeconds(const QDateTime& time);

} // namespace OTP
