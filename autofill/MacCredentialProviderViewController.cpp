#include "autofill/MacCredentialProviderViewController.h"

#include "autofill/Authenticator.h"
#include "autofill/DomainShieldWarningView.h"
#include "autofill/MacAutoFillListView.h"
#include "autofill/PasskeyPickerView.h"
#include "autofill/PasskeyStore.h"
#include "core/CorrectedClock.h"
#include "core/KeychainStore.h"
#include "platform/CredentialIdentityStore.h"
#include "platform/Crypto.h"
#include "platform/OwnerAuth.h"
#include "platform/Style.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QSet>
#include <QUrl>
#include <QUuid>
#include <QVBoxLayout>

using namespace CredentialProvider;

namespace {

// What shows while nothing else does: a busy bar and the program's name.
QWidget* makePlaceholder() {
    auto* placeholder = new QWidget;
    auto* stack = new QVBoxLayout(placeholder);
    stack->setSpacing(12);
    stack->addStretch(1);
    auto* busy = new QProgressBar;
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedWidth(120);
    busy->setAccessibleName(QCoreApplication::translate("MacCredentialProviderViewController",
                                                        "Quillet"));
    stack->addWidget(busy, 0, Qt::AlignHCenter);
    auto* name = Style::label(
        QCoreApplication::translate("MacCredentialProviderViewController", "Quillet"),
        Style::TextStyle::headline, Style::SemanticColor::secondary);
    name->setAlignment(Qt::AlignCenter);
    stack->addWidget(name);
    stack->addStretch(1);
    return placeholder;
}

} // namespace

MacCredentialProviderViewController::MacCredentialProviderViewController(
    ExtensionContext& context)
    : ViewController(context) {}

MacCredentialProviderViewController::~MacCredentialProviderViewController() {
    delete m_view.data();
}

// --- The view ---------------------------------------------------------------

QWidget* MacCredentialProviderViewController::view() {
    if (!m_view) {
        m_view = new QWidget;
        m_view->setGeometry(0, 0, placeholderSize.width(), placeholderSize.height());
        auto* layout = new QVBoxLayout(m_view);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        viewDidLoad();
    }
    return m_view;
}

void MacCredentialProviderViewController::viewDidLoad() {
    host(makePlaceholder(), placeholderSize);
}

void MacCredentialProviderViewController::viewDidAppear() {
    m_isVisible = true;
    if (m_pendingPasskeyWork) {
        const std::function<void()> work = std::move(m_pendingPasskeyWork);
        m_pendingPasskeyWork = nullptr;
        work();
    }
}

// Replaces what the view shows. The old screen goes later: this may run
// inside one of its own button handlers.
void MacCredentialProviderViewController::host(QWidget* screen, QSize size) {
    QWidget* into = view();
    if (m_screen && m_screen != screen) {
        m_screen->hide();
        m_screen->deleteLater();
    }
    setPreferredContentSize(size);
    into->layout()->addWidget(screen);
    m_screen = screen;
    if (screen->isHidden()) screen->show();
}

// --- Entry points -------------------------------------------------------------

void MacCredentialProviderViewController::provideCredentialWithoutUserInteraction(
    const CredentialRequest& request) {
    if (request.type == CredentialRequest::Type::passkey) {
        cancel(ExtensionError::userInteractionRequired);
        return;
    }
    const auto* identity = std::get_if<OneTimeCodeCredentialIdentity>(&request.credentialIdentity);
    const std::optional<Account> account =
        identity ? findAccount(identity->recordIdentifier) : std::nullopt;
    if (account)
        fillOneTimeCode(*account);
    else
        cancel(ExtensionError::credentialIdentityNotFound);
}

void MacCredentialProviderViewController::prepareInterfaceToProvideCredential(
    const CredentialRequest& request) {
    if (request.type == CredentialRequest::Type::passkey) {
        preparePasskeyAssertion(request);
        return;
    }
    const auto* identity = std::get_if<OneTimeCodeCredentialIdentity>(&request.credentialIdentity);
    if (identity) {
        if (const std::optional<Account> account = findAccount(identity->recordIdentifier)) {
            // The identity names the account: no list and no domain check.
            fillOneTimeCode(*account);
            return;
        }
    }
    // The request named no site of its own here, so no warning follows a pick.
    showAccountList(loadActiveAccounts());
}

void MacCredentialProviderViewController::prepareCredentialList(
    const QList<ServiceIdentifier>& serviceIdentifiers) {
    m_requestHosts = hostsOf(serviceIdentifiers);
    showAccountList(loadActiveAccounts());
}

void MacCredentialProviderViewController::prepareInterfaceForPasskeyRegistration(
    const CredentialRequest& request) {
    preparePasskeyRegistration(request);
}

// --- One-time codes ---------------------------------------------------------------

std::optional<Account>
MacCredentialProviderViewController::findAccount(const std::optional<QString>& recordIdentifier) {
    if (!recordIdentifier) return std::nullopt;
    // The plain 36-character form only, without braces.
    const QString& text = *recordIdentifier;
    const QUuid id = text.size() == 36 ? QUuid::fromString(text) : QUuid();
    if (id.isNull()) return std::nullopt;
    for (const Account& account : loadActiveAccounts())
        if (account.id == id) return account;
    return std::nullopt;
}

QList<QString>
MacCredentialProviderViewController::hostsOf(const QList<ServiceIdentifier>& serviceIdentifiers) {
    QList<QString> hosts;
    for (const ServiceIdentifier& service : serviceIdentifiers) {
        if (service.type == ServiceIdentifier::Type::url) {
            const QUrl url(service.identifier, QUrl::StrictMode);
            const QString host = url.isValid() ? url.host(QUrl::FullyDecoded) : QString();
            hosts.append(host.isEmpty() ? service.identifier : host);
        } else {
            hosts.append(service.identifier);
        }
    }
    return hosts;
}

// A keychain that cannot be read offers no accounts.
QList<Account> MacCredentialProviderViewController::loadActiveAccounts() {
    try {
        return KeychainStore::loadAll().active;
    } catch (const std::exception&) {
        return {};
    }
}

void MacCredentialProviderViewController::showAccountList(const QList<Account>& accounts) {
    QPointer<MacCredentialProviderViewController> weak(this);
    host(new MacAutoFillListView(
             accounts,
             [weak](const Account& account) {
                 if (weak) weak->didPick(account);
             },
             [weak] {
                 if (weak) weak->cancel(ExtensionError::userCanceled);
             }),
         MacAutoFillListView::preferredSize);
}

void MacCredentialProviderViewController::didPick(const Account& account) {
    // A second click on a row, after the code went out, must neither fill
    // again nor advance the counter again.
    if (m_ended) return;
    if (const std::optional<DomainShieldWarning> warning =
            DomainShieldWarning::evaluate(account, m_requestHosts))
        showDomainWarning(account, *warning);
    else
        fillOneTimeCode(account);
}

void MacCredentialProviderViewController::showDomainWarning(const Account& account,
                                                            const DomainShieldWarning& warning) {
    QPointer<MacCredentialProviderViewController> weak(this);
    host(new DomainShieldWarningView(
             warning, account.displayLabel(),
             [weak, account] {
                 if (weak) weak->fillOneTimeCode(account);
             },
             [weak] {
                 if (weak) weak->cancel(ExtensionError::userCanceled);
             }),
         DomainShieldWarningView::preferredSize);
}

void MacCredentialProviderViewController::fillOneTimeCode(const Account& account) {
    if (m_ended) return;
    QString code = account.code(CorrectedClock::now());
    code.remove(QLatin1Char(' '));
    if (code.isEmpty()) {
        // Digits the code cannot be formed with: filling nothing into the
        // site would only look like success.
        cancel(ExtensionError::failed);
        return;
    }
    if (account.type == OTPType::hotp) {
        // The code of the stored counter goes out; the next one is stored.
        // A failed save is dropped: the next fill repeats this code.
        Account advanced = account;
        advanced.counter += 1; // wraps to 0 past the largest value
        try {
            KeychainStore::saveAccount(advanced);
        } catch (const std::exception&) {
        }
    }
    if (!end()) return;
    extensionContext().completeOneTimeCodeRequest(code);
}

// --- Ending ---------------------------------------------------------------------

bool MacCredentialProviderViewController::end() {
    if (m_ended) return false;
    m_ended = true;
    m_pendingPasskeyWork = nullptr;
    return true;
}

void MacCredentialProviderViewController::cancel(ExtensionError code) {
    if (!end()) return;
    extensionContext().cancelRequest(code);
}

// --- Passkeys -------------------------------------------------------------------

// The work waits until the view is on screen: a password dialog needs a
// window to belong to. Newer work replaces older.
void MacCredentialProviderViewController::parkPasskeyWork(std::function<void()> work) {
    if (m_ended) return;
    m_pendingPasskeyWork = std::move(work);
    if (m_isVisible) {
        const std::function<void()> now = std::move(m_pendingPasskeyWork);
        m_pendingPasskeyWork = nullptr;
        now();
    }
}

void MacCredentialProviderViewController::preparePasskeyAssertion(
    const CredentialRequest& request) {
    const auto* identity = std::get_if<PasskeyCredentialIdentity>(&request.credentialIdentity);
    if (!identity) {
        cancel(ExtensionError::credentialIdentityNotFound);
        return;
    }
    const std::optional<PasskeyRecord> record = PasskeyStore::find(identity->credentialID);
    if (!record) {
        cancel(ExtensionError::credentialIdentityNotFound);
        return;
    }
    // The record's relying party is the one signed for, whatever the
    // identity says.
    parkAssertion(*record, request.clientDataHash);
}

void MacCredentialProviderViewController::parkAssertion(const PasskeyRecord& record,
                                                        const QByteArray& clientDataHash) {
    QPointer<MacCredentialProviderViewController> weak(this);
    parkPasskeyWork([weak, record, clientDataHash] {
        if (!weak) return;
        weak->verifyUser([weak, record, clientDataHash](UserVerification outcome) {
            if (weak) weak->assertPasskey(outcome, record, clientDataHash);
        });
    });
}

void MacCredentialProviderViewController::prepareCredentialList(
    const QList<ServiceIdentifier>&, const PasskeyRequestParameters& parameters) {
    const QSet<QByteArray> allowed(parameters.allowedCredentials.begin(),
                                   parameters.allowedCredentials.end());
    QList<PasskeyRecord> records;
    try {
        records = PasskeyStore::loadAll();
    } catch (const std::exception&) {
    }
    records.removeIf([&](const PasskeyRecord& record) {
        return record.rpId != parameters.relyingPartyIdentifier ||
               (!allowed.isEmpty() && !allowed.contains(record.credentialID));
    });
    if (records.isEmpty()) {
        cancel(ExtensionError::credentialIdentityNotFound);
        return;
    }
    QPointer<MacCredentialProviderViewController> weak(this);
    const QByteArray hash = parameters.clientDataHash;
    // Parked as well: it runs at once, the view being on screen by the time
    // anything can be picked.
    const auto signIn = [weak, hash](const PasskeyRecord& record) {
        if (weak) weak->parkAssertion(record, hash);
    };
    if (records.size() == 1) {
        signIn(records.first());
        return;
    }
    host(new PasskeyPickerView(parameters.relyingPartyIdentifier, records, signIn,
                               [weak] {
                                   if (weak) weak->cancel(ExtensionError::userCanceled);
                               }),
         PasskeyPickerView::preferredSize);
}

// Asks for the login password when this user can be authenticated at all;
// the answer comes back through the event loop, never inside the dialog's
// own handlers.
void MacCredentialProviderViewController::verifyUser(
    std::function<void(UserVerification)> continuation) {
    // One verification per request: its every outcome ends the request, so
    // a second pick meanwhile has nothing left to ask for.
    if (m_ended || m_verifying) return;
    m_verifying = true;
    if (!OwnerAuth::canEvaluate()) {
        continuation(UserVerification::unavailable);
        return;
    }
    QPointer<MacCredentialProviderViewController> weak(this);
    QWidget* over = m_view ? m_view->window() : nullptr;
    OwnerAuth::evaluate(tr("confirm it's you to use a passkey"), over,
                        [weak, continuation](OwnerAuth::Result result) {
                            const UserVerification outcome = result == OwnerAuth::Result::success
                                                                 ? UserVerification::verified
                                                                 : UserVerification::denied;
                            QMetaObject::invokeMethod(
                                qApp,
                                [weak, continuation, outcome] {
                                    if (weak) continuation(outcome);
                                },
                                Qt::QueuedConnection);
                        });
}

void MacCredentialProviderViewController::assertPasskey(UserVerification outcome,
                                                        const PasskeyRecord& record,
                                                        const QByteArray& clientDataHash) {
    if (m_ended) return;
    if (outcome == UserVerification::denied) {
        cancel(ExtensionError::userCanceled);
        return;
    }
    const QByteArray authenticatorData = Passkey::assertionAuthenticatorData(
        record.rpId, 0, outcome == UserVerification::verified);
    const std::optional<QByteArray> signature =
        Crypto::p256Sign(record.privateKey, authenticatorData + clientDataHash);
    if (!signature) {
        cancel(ExtensionError::failed);
        return;
    }
    if (!end()) return;
    extensionContext().completeAssertionRequest({record.userHandle, record.rpId, *signature,
                                                 clientDataHash, authenticatorData,
                                                 record.credentialID});
}

void MacCredentialProviderViewController::preparePasskeyRegistration(
    const CredentialRequest& request) {
    const auto* identity = std::get_if<PasskeyCredentialIdentity>(&request.credentialIdentity);
    if (request.type != CredentialRequest::Type::passkey || !identity ||
        !request.supportedAlgorithms.contains(es256)) {
        cancel(ExtensionError::failed);
        return;
    }
    QPointer<MacCredentialProviderViewController> weak(this);
    parkPasskeyWork([weak, request, identity = *identity] {
        if (weak) weak->beginPasskeyRegistration(request, identity);
    });
}

void MacCredentialProviderViewController::beginPasskeyRegistration(
    const CredentialRequest& request, const PasskeyCredentialIdentity& identity) {
    if (m_ended) return;
    if (!request.excludedCredentials.isEmpty()) {
        // Any relying party's: a credential ID is ours alone either way.
        QSet<QByteArray> stored;
        try {
            for (const PasskeyRecord& record : PasskeyStore::loadAll())
                stored.insert(record.credentialID);
        } catch (const std::exception&) {
        }
        for (const QByteArray& excluded : request.excludedCredentials) {
            if (stored.contains(excluded)) {
                cancel(ExtensionError::matchedExcludedCredential);
                return;
            }
        }
    }
    QPointer<MacCredentialProviderViewController> weak(this);
    verifyUser([weak, identity, request](UserVerification outcome) {
        if (weak) weak->registerPasskey(outcome, identity, request);
    });
}

void MacCredentialProviderViewController::registerPasskey(UserVerification outcome,
                                                          const PasskeyCredentialIdentity& identity,
                                                          const CredentialRequest& request) {
    if (m_ended) return;
    if (outcome == UserVerification::denied) {
        cancel(ExtensionError::userCanceled);
        return;
    }
    const std::optional<QByteArray> privateKey = Crypto::p256GeneratePrivateKey();
    const std::optional<QByteArray> publicKey =
        privateKey ? Crypto::p256PublicKey(*privateKey) : std::nullopt;
    const std::optional<QByteArray> credentialID = Crypto::randomBytes(32);
    if (!publicKey || !credentialID) {
        cancel(ExtensionError::failed);
        return;
    }
    PasskeyRecord record;
    record.credentialID = *credentialID;
    record.rpId = identity.relyingPartyIdentifier;
    record.userName =
        identity.userName.isEmpty() ? identity.relyingPartyIdentifier : identity.userName;
    record.userHandle = identity.userHandle;
    record.privateKey = *privateKey;
    record.createdAt = QDateTime::currentDateTimeUtc();
    try {
        PasskeyStore::save(record);
    } catch (const std::exception&) {
        cancel(ExtensionError::failed);
        return;
    }
    // The user's older passkeys at this site give way to the new one.
    CredentialIdentityStore& identities = CredentialIdentityStore::shared();
    for (const PasskeyRecord& older : PasskeyStore::findForUser(record.rpId, record.userHandle))
        if (older.credentialID != record.credentialID) PasskeyStore::remove(older, identities);
    identities.saveCredentialIdentities({record.identity()});

    const QByteArray attestationObject = Passkey::registrationAttestationObject(
        record.rpId, record.credentialID, publicKey->left(32), publicKey->mid(32),
        outcome == UserVerification::verified);
    if (!end()) return;
    extensionContext().completeRegistrationRequest(
        {record.rpId, request.clientDataHash, record.credentialID, attestationObject});
}
