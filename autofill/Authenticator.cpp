#include "autofill/Authenticator.h"

#include "autofill/CBOR.h"
#include "platform/crypto/Crypto.h"

namespace {

void appendBigEndian(QByteArray& out, quint64 value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

// Presence, backup eligibility and backup state always; verification when it
// happened.
quint8 flags(bool verified, quint8 extra = 0) {
    using namespace AuthenticatorData::Flags;
    return quint8(userPresent | backupEligible | backedUp | extra | (verified ? userVerified : 0));
}

} // namespace

namespace AuthenticatorData {

QByteArray make(const QByteArray& rpIdHash, quint8 flags, quint32 signCount,
                const QByteArray& aaguid, const QByteArray& credentialID,
                const QByteArray& cosePublicKey) {
    QByteArray out = rpIdHash;
    out.append(char(flags));
    appendBigEndian(out, signCount, 4);
    out += aaguid;
    appendBigEndian(out, quint64(credentialID.size()), 2);
    out += credentialID;
    out += cosePublicKey;
    return out;
}

} // namespace AuthenticatorData

namespace AttestationObject {

QByteArray rpIdHash(const QString& rpId) { return Crypto::sha256(rpId.toUtf8()); }

QByteArray none(const QByteArray& authData) {
    return CBOR::map({
        {CBOR::textString(QStringLiteral("fmt")), CBOR::textString(QStringLiteral("none"))},
        {CBOR::textString(QStringLiteral("attStmt")), CBOR::map({})},
        {CBOR::textString(QStringLiteral("authData")), CBOR::byteString(authData)},
    });
}

} // namespace AttestationObject

namespace Passkey {

const QByteArray& anonymousAAGUID() {
    static const QByteArray zeros(16, '\0');
    return zeros;
}

QByteArray registrationAttestationObject(const QString& rpId, const QByteArray& credentialID,
                                         const QByteArray& publicKeyX,
                                         const QByteArray& publicKeyY, bool userVerified) {
    const QByteArray authData = AuthenticatorData::make(
        AttestationObject::rpIdHash(rpId),
        flags(userVerified, AuthenticatorData::Flags::attestedData), 0, anonymousAAGUID(),
        credentialID, COSEKey::es256(publicKeyX, publicKeyY));
    return AttestationObject::none(authData);
}

QByteArray assertionAuthenticatorData(const QString& rpId, quint32 signCount, bool userVerified) {
    QByteArray out = AttestationObject::rpIdHash(rpId);
    out.append(char(flags(userVerified)));
    appendBigEndian(out, signCount, 4);
    return out;
}

} // namespace Passkey
