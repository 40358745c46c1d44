#pragma once

#include "platform/files/CredentialIdentityStore.h"
#include "platform/keychain/Keychain.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <exception>
#include <optional>

// One stored passkey. The credential provider creates, replaces and deletes
// them; the program only reads them, to register their AutoFill identities.
struct PasskeyRecord {
    QByteArray credentialID; // 32 random bytes for the passkeys we create
    QString rpId;            // the relying party: the site's domain
    QString userName;        // may be empty
    QByteArray userHandle;   // the relying party's opaque handle of the user
    QByteArray privateKey;   // the raw 32-byte P-256 scalar
    QDateTime createdAt;

    // The form shared by both sides: the six keys, byte strings in standard
    // Base64, createdAt as seconds since 2001-01-01 UTC.
    QByteArray toJson() const;
    // Nothing unless all six keys are present with the right types; other
    // keys are ignored.
    static std::optional<PasskeyRecord> fromJson(const QByteArray& json);

    // The keychain item's account name: the credential ID in standard Base64.
    QString itemAccount() const;
    // The AutoFill identity under which the record is offered.
    CredentialIdentityStore::PasskeyIdentity identity() const;

    friend bool operator==(const PasskeyRecord&, const PasskeyRecord&) = default;
};

// The keychain items holding passkey records: one per record, named by the
// credential ID in Base64, holding the record's JSON.
namespace PasskeyStore {

inline const QString service = QStringLiteral("com.tarnwick.Quillet.passkeys.v1");

// A keychain failure, carrying the keychain's status (0 when the keychain
// answered success without the items asked for).
class Error : public std::exception {
public:
    explicit Error(qint32 status) : m_status(status) {}
    qint32 status() const { return m_status; }
    const char* what() const noexcept override;

private:
    qint32 m_status;
    mutable QByteArray m_what;
};

// The query every passkey operation starts from: the service in the
// data-protection keychain, synchronised and device-only items alike, in
// every access group this process may read.
Keychain::Query baseQuery();

// Every record, newest first; records created at the same moment keep the
// keychain's order. Items that do not decode are left out. No items is an
// empty list; any other keychain failure throws Error, so that a keychain
// that cannot be read is never taken for one without passkeys.
QList<PasskeyRecord> loadAll();

} // namespace PasskeyStore
