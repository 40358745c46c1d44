#pragma once

#include "core/PasskeyRecord.h"
#include "platform/files/CredentialIdentityStore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The credential provider's side of the passkey items: it is their only
// writer. The base query and the full listing are shared with the program
// (core/PasskeyRecord.h).
namespace PasskeyStore {

// The record stored under the credential ID; nothing when there is none, the
// keyring cannot be read or the item does not decode.
std::optional<PasskeyRecord> find(const QByteArray& credentialID);

// Stores the record: a new item (synchronised, readable while unlocked,
// labelled "rpId — userName"), or, when the credential ID is stored already,
// new data for that item (its label and other attributes stay). Throws Error
// with the keychain's status when the keychain refuses.
void save(const PasskeyRecord& record);

// The records of one user at one relying party, newest first; compared
// exactly. A keyring that cannot be listed gives none, so that nothing is
// taken for superseded when it cannot be seen.
QList<PasskeyRecord> findForUser(const QString& rpId, const QByteArray& userHandle);

// Deletes the record's items and then its AutoFill identity. Failures are
// dropped: a passkey left behind is superseded again by the next
// registration.
void remove(const PasskeyRecord& record, CredentialIdentityStore& identities);

// The item label of a record.
QString itemLabel(const PasskeyRecord& record);

} // namespace PasskeyStore
