#pragma once

#include "autofill/DomainShield.h"
#include "core/Account.h"
#include "core/PasskeyRecord.h"
#include "platform/extension/CredentialProviderExtension.h"
#include "platform/keychain/Keychain.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QThread;
class QWidget;

// The credential provider's controller: one per request. It fills one-time
// codes (at once for a known identity, else from the account list, with the
// look-alike-domain warning for requests that named sites), and signs in
// with and registers passkeys, verifying the user first. It reads accounts
// and passkeys from the keychain, writes back only advanced HOTP counters
// and passkey records, and ends every request exactly once: whatever
// arrives after the end (a second click, a late password reply, parked work)
// does nothing.
//
// A locked keyring is never taken for an empty one. Without interface the
// request is refused as needing the user (100); with interface the keyring
// is opened on a thread of its own (its unlock prompt may take as long as
// the user does) while the placeholder shows, and a keyring that stays
// locked refuses the request as cancelled (1), one that cannot be read as
// failed (0).
class MacCredentialProviderViewController : public QObject,
                                            public CredentialProvider::ViewController {
    Q_OBJECT

public:
    using ExtensionError = CredentialProvider::ExtensionError;

    enum class UserVerification { verified, unavailable, denied };

    // Screen sizes.
    static constexpr QSize placeholderSize{360, 160};

    explicit MacCredentialProviderViewController(CredentialProvider::ExtensionContext& context);
    ~MacCredentialProviderViewController() override;

    QWidget* view() override;
    void viewDidAppear() override;

    void provideCredentialWithoutUserInteraction(
        const CredentialProvider::CredentialRequest& request) override;
    void prepareInterfaceToProvideCredential(
        const CredentialProvider::CredentialRequest& request) override;
    void prepareCredentialList(
        const QList<CredentialProvider::ServiceIdentifier>& serviceIdentifiers) override;
    void prepareCredentialList(
        const QList<CredentialProvider::ServiceIdentifier>& serviceIdentifiers,
        const CredentialProvider::PasskeyRequestParameters& parameters) override;
    void prepareInterfaceForPasskeyRegistration(
        const CredentialProvider::CredentialRequest& request) override;

    // Refuses the request (the first end only).
    void cancel(ExtensionError code);

    bool hasEnded() const { return m_ended; }
    bool isVisible() const { return m_isVisible; }
    const QList<RequestHost>& requestHosts() const { return m_requestHosts; }

    // The account id a one-time-code identity's record identifier names:
    // the plain 36-character UUID text; nothing for anything else.
    static std::optional<QUuid> accountID(const std::optional<QString>& recordIdentifier);
    // The active account a one-time-code identity names by its record
    // identifier, among `accounts`; nothing when it names none.
    static std::optional<Account> findAccount(const std::optional<QString>& recordIdentifier,
                                              const QList<Account>& accounts);

    // The hosts of a request's service identifiers, one entry each, in
    // order: a URL's host as a browser takes it, or the identifier as given
    // (a URL without a host is marked as no host).
    static QList<RequestHost>
    hostsOf(const QList<CredentialProvider::ServiceIdentifier>& serviceIdentifiers);

private:
    // What a request reads of the keychain, and how that went.
    struct KeychainContents {
        Keychain::Status status = Keychain::success;
        QList<Account> accounts; // the active ones
        QList<PasskeyRecord> passkeys;
    };
    enum class Wanted { accounts, passkeys };

    void viewDidLoad();
    void host(QWidget* screen, QSize size);

    // Reads without asking the user: a locked keyring is
    // interactionNotAllowed at once.
    static KeychainContents read(Wanted wanted);
    // Reads, and when the keyring is locked (or `openFirst`), opens it on a
    // worker thread first and continues here once it is open or stays shut.
    // `then` runs only while the request has not ended.
    void withKeychain(Wanted wanted, bool openFirst,
                      std::function<void(const KeychainContents&)> then);
    // Ends the request for a keychain that could not be opened or read.
    void refuseUnreadable(Keychain::Status status);

    void showAccountList(const QList<Account>& accounts);
    void didPick(const Account& account);
    void showDomainWarning(const Account& account, const DomainShieldWarning& warning);
    void fillOneTimeCode(const Account& account);

    void parkPasskeyWork(std::function<void()> work);
    void preparePasskeyAssertion(const CredentialProvider::CredentialRequest& request);
    // The stored passkeys a list request fits: signs in with the one, or
    // offers the picker for several.
    void offerPasskeys(QList<PasskeyRecord> records,
                       const CredentialProvider::PasskeyRequestParameters& parameters);
    // Verifying the user, then signing with the record, once the view is up.
    void parkAssertion(const PasskeyRecord& record, const QByteArray& clientDataHash);
    // `site` and `user` are named in the prompt and in the view behind it.
    void verifyUser(const QString& site, const QString& user,
                    std::function<void(UserVerification)> continuation);
    void assertPasskey(UserVerification outcome, const PasskeyRecord& record,
                       const QByteArray& clientDataHash);
    void preparePasskeyRegistration(const CredentialProvider::CredentialRequest& request);
    void beginPasskeyRegistration(const CredentialProvider::CredentialRequest& request,
                                  const CredentialProvider::PasskeyCredentialIdentity& identity,
                                  const QList<PasskeyRecord>& stored);
    void registerPasskey(UserVerification outcome,
                         const CredentialProvider::PasskeyCredentialIdentity& identity,
                         const CredentialProvider::CredentialRequest& request);

    // Marks the request ended; false when it had ended already.
    bool end();

    bool m_isVisible = false;
    std::function<void()> m_pendingPasskeyWork;
    QList<RequestHost> m_requestHosts;
    bool m_ended = false;
    bool m_verifying = false;
    QPointer<QWidget> m_view;
    QPointer<QWidget> m_screen; // what the view shows now
    // Keychain openings under way or done; joined before the controller goes.
    std::vector<std::unique_ptr<QThread>> m_openings;
    // Openings still waiting in Keychain::open(), perhaps on its prompt.
    std::shared_ptr<std::atomic<int>> m_waitingToOpen = std::make_shared<std::atomic<int>>(0);
};
