#include "core/CredentialIdentitySync.h"

#include "core/IssuerDomains.h"
#include "core/Json.h"
#include "core/KeychainStore.h"
#include "core/Limits.h"
#include "core/PasskeyRecord.h"
#include "core/Text.h"
#include "platform/system/FreedMemory.h"

#include <QThread>
#include <QThreadPool>

namespace CredentialIdentitySync {

namespace {

// The syncs' own threads, at low priority: a sync is background upkeep that
// must not compete with the window. Never destroyed, so a run still going at
// exit does not hold up static destruction (the identity file is replaced
// atomically, so a run cut short leaves the old list).
QThreadPool& pool() {
    static QThreadPool* const threads = [] {
        auto* p = new QThreadPool;
        p->setThreadPriority(QThread::LowPriority);
        // One run at a time, in the order asked: a run with an older account
        // list never finishes after a newer one and leaves its list behind.
        p->setMaxThreadCount(1);
        return p;
    }();
    return *threads;
}

} // namespace

QString domainForIssuer(const QString& issuer) {
    const QString key = Text::trimmedBlanksAndTabs(Text::lowercased(issuer));
    if (const auto found = IssuerDomains::domain(key)) return *found;
    const QStringList words = key.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!words.isEmpty())
        if (const auto found = IssuerDomains::domain(words.first())) return *found;
    const QString squashed = QString(key).remove(QLatin1Char(' '));
    return squashed.isEmpty() ? placeholderDomain : squashed + QStringLiteral(".com");
}

namespace {

// The accounts' identities: no keychain read, so no lock is needed for them.
QList<CredentialIdentityStore::Identity> codeIdentities(const QList<Account>& accounts) {
    QList<CredentialIdentityStore::Identity> list;
    list.reserve(accounts.size());
    for (const Account& account : accounts) {
        // The issuer as it stands, or the name when there is no issuer at all
        // (an issuer of blanks is kept: it is what the user typed).
        const QString service = account.issuer.isEmpty() ? account.name : account.issuer;
        CredentialIdentityStore::OneTimeCodeIdentity code;
        code.serviceIdentifier = {domainForIssuer(service),
                                  CredentialIdentityStore::ServiceIdentifier::Type::domain};
        code.label = service;
        code.recordIdentifier = Json::uuidText(account.id);
        list.append(code);
    }
    return list;
}

void appendPasskeys(QList<CredentialIdentityStore::Identity>& list) {
    for (const PasskeyRecord& record : PasskeyStore::loadAll())
        list.append(record.identity());
}

} // namespace

QList<CredentialIdentityStore::Identity> identities(const QList<Account>& accounts) {
    QList<CredentialIdentityStore::Identity> list = codeIdentities(accounts);
    appendPasskeys(list);
    return list;
}

void sync(const QList<Account>& accounts, CredentialIdentityStore& store) {
    // Made before the locks below: the host's registrations wait on them.
    QList<CredentialIdentityStore::Identity> list = codeIdentities(accounts);
    try {
        // After a read of the whole vault (a reload after an import), not
        // at the same time: each holds the vault's size several times over.
        // Taken before the keyring's step, as the store's loads take them.
        QMutexLocker wholeRead(&KeychainStore::wholeVaultReads());
        // The passkeys read and the list written in one step: a registration
        // in the credential provider's host meanwhile would otherwise see
        // its identity replaced by that of the passkey it just superseded.
        const Keychain::Transaction step;
        appendPasskeys(list);
        wholeRead.unlock();
        store.replaceCredentialIdentityEntries(list);
    } catch (const PasskeyStore::Error&) {
        // The next trigger tries again; until then the old identities stay.
    }
    // The list and the keychain's read of a large vault are free now: their
    // memory goes back rather than staying with the process.
    list = {};
    if (accounts.size() >= Limits::largeVault)
        FreedMemory::giveBack();
}

void rebuildFromKeychain(CredentialIdentityStore& store) {
    store.setRebuild([]() -> std::optional<QList<CredentialIdentityStore::Identity>> {
        try {
            return identities(KeychainStore::loadAll().active);
        } catch (const KeychainStore::KeychainError&) {
        } catch (const PasskeyStore::Error&) {
        }
        // The keychain cannot be read now: the change fails, and is tried
        // again with the next one.
        return std::nullopt;
    });
}

void schedule(const CredentialIdentityStore::State& state, const QList<Account>& accounts,
              CredentialIdentityStore& store) {
    if (!state.isEnabled)
        return;
    pool().start([accounts, &store] { sync(accounts, store); });
}

void waitForIdle() { pool().waitForDone(); }

} // namespace CredentialIdentitySync
