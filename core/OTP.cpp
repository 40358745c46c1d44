#include "core/OTP.h"

#include "platform/crypto/Crypto.h"

#include <cmath>

namespace OTP {
namespace {

constexpr char steamAlphabet[] = "23456789BCDFGHJKMNPQRTVWXY";

Crypto::Digest digestOf(HashAlgorithm algorithm) {
    switch (algorithm) {
    case HashAlgorithm::sha1:
        return Crypto::Digest::sha1;
    case HashAlgorithm::sha256:
        return Crypto::Digest::sha256;
    case HashAlgorithm::sha512:
        return Crypto::Digest::sha512;
    }
    return Crypto::Digest::sha1;
}

QByteArray counterMessage(quint64 counter) {
    QByteArray message(8, Qt::Uninitialized);
    for (int i = 7; i >= 0; --i) {
        message[i] = char(counter & 0xFF);
        counter >>= 8;
    }
    return message;
}

// RFC 4226 dynamic truncation: a 31-bit value; nothing if the MAC is too short
// to hold the four bytes an offset can point at.
std::optional<quint32> truncatedValue(const QByteArray& mac) {
    if (mac.size() < 20)
        return std::nullopt;
    const int offset = quint8(mac.back()) & 0x0F;
    const auto byte = [&](int i) { return quint32(quint8(mac[offset + i])); };
    return ((byte(0) & 0x7F) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
}

} // namespace

QByteArray hmac(const QByteArray& secret, const QByteArray& message, HashAlgorithm algorithm) {
    return Crypto::hmac(digestOf(algorithm), secret, message);
}

QString hotp(const QByteArray& secret, quint64 counter, qint64 digits, HashAlgorithm algorithm) {
    if (digits < minDigits || digits > maxDigits)
        return {};
    const auto value = truncatedValue(hmac(secret, counterMessage(counter), algorithm));
    if (!value)
        return {};
    quint32 modulus = 1;
    for (qint64 i = 0; i < digits; ++i)
        modulus *= 10;
    return QStringLiteral("%1").arg(*value % modulus, int(digits), 10, QLatin1Char('0'));
}

quint64 timeStep(double unixSeconds, qint64 period) {
    const double step = std::floor(unixSeconds / double(std::max<qint64>(period, 1)));
    if (!(step > 0)) // also NaN
        return 0;
    if (step >= 18446744073709551616.0)
        return std::numeric_limits<quint64>::max();
    return quint64(step);
}

QString totp(const QByteArray& secret, double unixSeconds, qint64 period, qint64 digits,
             HashAlgorithm algorithm) {
    return hotp(secret, timeStep(unixSeconds, period), digits, algorithm);
}

QString steam(const QByteArray& secret, double unixSeconds) {
    const auto value = truncatedValue(
        hmac(secret, counterMessage(timeStep(unixSeconds, steamPeriod)), HashAlgorithm::sha1));
    if (!value)
        return {};
    quint32 v = *value;
    QString code;
    for (int k = 0; k < 5; ++k) {
        code.append(QLatin1Char(steamAlphabet[v % 26]));
        v /= 26;
    }
    return code;
}

QString grouped(const QString& code) {
    if (code.size() < 4)
        return code;
    const qsizetype half = code.size() / 2;
    return code.left(half) + QLatin1Char(' ') + code.mid(half);
}

double unixSeconds(const QDateTime& time) { return double(time.toMSecsSinceEpoch()) / 1000.0; }

} // namespace OTP
