#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

// The few CBOR items (RFC 8949) a passkey authenticator writes. Each function
// returns one complete encoded item; arrays and maps take items that are
// already encoded, so structures are built from the inside out.
namespace CBOR {

// The initial byte (major type in the top three bits) and the argument in its
// shortest form, most significant byte first.
QByteArray head(quint8 majorType, quint64 argument);

QByteArray uint(quint64 value);
// `value` must be negative.
QByteArray negInt(qint64 value);
QByteArray byteString(const QByteArray& bytes);
// Counted and written as UTF-8.
QByteArray textString(const QString& text);
QByteArray array(const QList<QByteArray>& items);
// The pairs in CTAP2's canonical order: a shorter encoded key first, keys of
// one length by their bytes; pairs with identical keys keep their order.
QByteArray map(QList<std::pair<QByteArray, QByteArray>> pairs);

} // namespace CBOR

// COSE keys (RFC 8152).
namespace COSEKey {

// An ES256 (ECDSA P-256 with SHA-256) public key from its 32-byte x and y
// coordinates: always 77 bytes.
QByteArray es256(const QByteArray& x, const QByteArray& y);

} // namespace COSEKey
