#pragma once

#include <QByteArray>
#include <QString>

// The byte strings a passkey authenticator hands back (WebAuthn Level 3,
// CTAP2). This one is anonymous: it attests with the "none" format and an
// all-zero AAGUID, keeps its signature counter at 0, and always reports its
// passkeys as backup-eligible and backed up, since the keyring may carry
// them to the user's other computers.
namespace AuthenticatorData {

namespace Flags {
inline constexpr quint8 userPresent = 0x01;
inline constexpr quint8 userVerified = 0x04;
inline constexpr quint8 backupEligible = 0x08;
inline constexpr quint8 backedUp = 0x10;
inline constexpr quint8 attestedData = 0x40;
inline constexpr quint8 syncedPasskeyRegistration =
    userPresent | userVerified | backupEligible | backedUp | attestedData;
} // namespace Flags

// rpIdHash (32 bytes), flags, the counter (4 bytes, most significant first),
// the AAGUID (16 bytes), the credential ID's length (2 bytes) and the
// credential ID, then the COSE public key.
QByteArray make(const QByteArray& rpIdHash, quint8 flags, quint32 signCount,
                const QByteArray& aaguid, const QByteArray& credentialID,
                const QByteArray& cosePublicKey);

} // namespace AuthenticatorData

namespace AttestationObject {

// SHA-256 of the identifier's UTF-8 bytes, exactly as given.
QByteArray rpIdHash(const QString& rpId);

// The map {"fmt": "none", "attStmt": {}, "authData": authData}.
QByteArray none(const QByteArray& authData);

} // namespace AttestationObject

namespace Passkey {

// Sixteen zero bytes.
const QByteArray& anonymousAAGUID();

// The attestation object of a new passkey. x and y are the 32-byte halves of
// the P-256 public key (Crypto::p256PublicKey).
QByteArray registrationAttestationObject(const QString& rpId, const QByteArray& credentialID,
                                         const QByteArray& publicKeyX,
                                         const QByteArray& publicKeyY, bool userVerified);

// The 37 bytes of authenticator data of an assertion, which are signed
// together with the client-data hash.
QByteArray assertionAuthenticatorData(const QString& rpId, quint32 signCount, bool userVerified);

} // namespace Passkey
