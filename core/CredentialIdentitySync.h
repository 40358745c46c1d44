#pragma once

#include "core/Account.h"
#include "platform/files/CredentialIdentityStore.h"

#include <QHash>
#include <QList>
#include <QString>

// Registers the program's AutoFill identities: one one-time-code identity per
// active account and one passkey identity per stored passkey, replacing every
// identity registered before.
namespace CredentialIdentitySync {

// The domain of an issuer (or account name) with nothing better to go by: one
// reserved for documentation, which no site can own.
inline const QString placeholderDomain = QStringLiteral("example.com");

// The web domain of an issuer: its service's main domain
// (core/IssuerDomains.h) when the issuer, or its first word, names a known
// service; otherwise the issuer without spaces
// followed by ".com"; the placeholder when that leaves nothing. Never empty.
QString domainForIssuer(const QString& issuer);

// The identities of the accounts followed by those of the passkeys, in
// order. Throws PasskeyStore::Error when the passkeys cannot be read.
QList<CredentialIdentityStore::Identity> identities(const QList<Account>& accounts);

// Builds the identities and replaces the store's with them. When the passkeys
// cannot be read the store keeps what it had; nothing is reported either way.
// Reads the keychain: never call it on the GUI thread.
void sync(const QList<Account>& accounts, CredentialIdentityStore& store);

// Makes the store rebuild an identity file it cannot read from the
// keychain's accounts and passkeys, instead of failing every change to it.
void rebuildFromKeychain(CredentialIdentityStore& store);

// Runs sync() on a background thread of low priority when the state says
// AutoFill is enabled, and does nothing otherwise. The accounts are copied;
// the store must outlive the run.
void schedule(const CredentialIdentityStore::State& state, const QList<Account>& accounts,
              CredentialIdentityStore& store);

// Waits until every scheduled run has finished (tests, and orderly exits).
void waitForIdle();

} // namespace CredentialIdentitySync
