#pragma once

#include <QByteArray>
#include <optional>

// The one place the program reaches the cryptographic library. Every other
// folder calls these functions, never OpenSSL itself.
namespace Crypto {

enum class Digest { sha1, sha256, sha512 };

// HMAC (RFC 2104) over the given digest. Any key length works, including an
// empty key. Gives an empty byte string only if the library itself fails.
QByteArray hmac(Digest digest, const QByteArray& key, const QByteArray& message);

QByteArray sha256(const QByteArray& data);

// Bytes from the operating system's secure random source; nothing when the
// source fails, so that no caller ever uses predictable bytes.
std::optional<QByteArray> randomBytes(qsizetype count);

// PBKDF2 with HMAC-SHA256; nothing when the library refuses the parameters.
std::optional<QByteArray> pbkdf2Sha256(const QByteArray& password, const QByteArray& salt,
                                       int iterations, int keyLength);

// AES-256-GCM with a 12-byte nonce and a 16-byte tag.
inline constexpr int aesGcmKeyLength = 32;
inline constexpr int aesGcmNonceLength = 12;
inline constexpr int aesGcmTagLength = 16;

// Seals with a fresh random nonce and gives nonce || ciphertext || tag (the
// "combined" form). Nothing when the key has the wrong length or the random
// source fails.
std::optional<QByteArray> aesGcmSeal(const QByteArray& key, const QByteArray& plaintext);
// Seals with the given nonce (12 bytes).
std::optional<QByteArray> aesGcmSeal(const QByteArray& key, const QByteArray& nonce,
                                     const QByteArray& plaintext);

// Opens nonce || ciphertext || tag; nothing when anything does not
// authenticate or the sizes are wrong.
std::optional<QByteArray> aesGcmOpen(const QByteArray& key, const QByteArray& combined);
std::optional<QByteArray> aesGcmOpen(const QByteArray& key, const QByteArray& nonce,
                                     const QByteArray& ciphertext, const QByteArray& tag);

// ECDSA on the NIST P-256 curve, the ES256 algorithm of WebAuthn. A private
// key travels as its raw 32-byte scalar, a public key as the 64 bytes of its
// x and y coordinates (32 bytes each, x first).
inline constexpr int p256PrivateKeyLength = 32;
inline constexpr int p256PublicKeyLength = 64;

// A fresh private key; nothing when the library or the random source fails.
std::optional<QByteArray> p256GeneratePrivateKey();
// The public key of a private key; nothing when the bytes are not a private
// key of the curve (wrong length, zero, or not below the group order).
std::optional<QByteArray> p256PublicKey(const QByteArray& privateKey);
// The signature of SHA-256(message) in the DER form that WebAuthn expects
// (an ASN.1 sequence of the two integers r and s); nothing when the key is
// not valid or the library fails.
std::optional<QByteArray> p256Sign(const QByteArray& privateKey, const QByteArray& message);

} // namespace Crypto
