#include "autofill/MacCredentialProviderViewController.h"

#include "autofill/Authenticator.h"
#include "autofill/DomainShield.h"
#include "autofill/DomainShieldWarningView.h"
#include "autofill/MacAutoFillListView.h"
#include "autofill/PasskeyPickerView.h"
#include "autofill/PasskeyStore.h"
#include "core/CorrectedClock.h"
#include "core/HotpCounter.h"
#include "core/KeychainStore.h"
#include "core/Limits.h"
#include "core/Text.h"
#include "platform/crypto/Crypto.h"
#include "platform/files/CredentialIdentityStore.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/system/OwnerAuth.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QSet>
#include <QThread>
#include <QUuid>
#include <QVBoxLayout>

using namespace CredentialProvider;

namespace {

// A relying-party id a passkey may be kept for: a domain as WebAuthn takes
// it, lowercase, of labels of letters, digits and inner hyphens, at most 253
// characters. Anything else (controls, escapes, direction overrides, spaces)
// would be stored and later shown as if it were a site's name.
bool isRelyingPartyDomain(const QString& id) {
    if (id.isEmpty() || id.size() > 253) return false;
    for (const QStringView label : QStringView(id).split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
            return false;
        for (const QChar c : label)
            if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-')) return false;
    }
    return true;
}

// A user name of at most 1,000 characters without controls or direction
// overrides, which could make one name read as another.
bool isAcceptableUserName(const QString& name) {
    return name.size() <= 1000 && Limits::cleanedName(name) == name;
}

// What shows while nothing else does: a busy bar and the program's name,
// and below them what is being waited for, when there is something to say.
QWidget* makePlaceholder(const QString& detail = {}) {
    auto* placeholder = new QWidget;
    placeholder->setObjectName(QStringLiteral("placeholder"));
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
    if (!detail.isEmpty()) {
        auto* line = Style::label(detail, Style::TextStyle::body, Style::SemanticColor::primary);
        line->setTextFormat(Qt::PlainText);
        line->setAccessibleName(ScreenReader::spoken(detail));
        line->setWordWrap(true);
        line->setAlignment(Qt::AlignCenter);
        stack->addWidget(line);
    }
    stack->addStretch(1);
    return placeholder;
}

} // namespace

MacCredentialProviderViewController::MacCredentialProviderViewController(
    ExtensionContext& context)
    : ViewController(context) {}

MacCredentialProviderViewController::~MacCredentialProviderViewController() {
    // An opening still waiting on the keyring's prompt would keep the
    // process (the host, quitting) waiting for the user: dismiss it.
    if (*m_waitingToOpen > 0) Keychain::cancelInteraction();
    for (const auto& opening : m_openings) opening->wait();
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
    if (!identity || !accountID(identity->recordIdentifier)) {
        cancel(ExtensionError::credentialIdentityNotFound);
        return;
    }
    // No prompt may come up here: a locked keyring needs the user, which
    // the interface entry point can ask for.
    const KeychainContents contents = read(Wanted::accounts);
    if (contents.status == Keychain::interactionNotAllowed) {
        cancel(ExtensionError::userInteractionRequired);
        return;
    }
    if (contents.status != Keychain::success) {
        cancel(ExtensionError::failed);
        return;
    }
    if (const std::optional<Account> account =
            findAccount(identity->recordIdentifier, contents.accounts))
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
    const std::optional<QString> recordIdentifier =
        identity ? identity->recordIdentifier : std::nullopt;
    withKeychain(Wanted::accounts, false, [this, recordIdentifier](const KeychainContents& contents) {
        if (contents.status != Keychain::success) {
            refuseUnreadable(contents.status);
            return;
        }
        if (const std::optional<Account> account = findAccount(recordIdentifier, contents.accounts)) {
            // The identity names the account: no list and no domain check.
            fillOneTimeCode(*account);
            return;
        }
        // The request named no site of its own here, so no warning follows a
        // pick.
        showAccountList(contents.accounts);
    });
}

void MacCredentialProviderViewController::prepareCredentialList(
    const QList<ServiceIdentifier>& serviceIdentifiers) {
    m_requestHosts = hostsOf(serviceIdentifiers);
    withKeychain(Wanted::accounts, false, [this](const KeychainContents& contents) {
        if (contents.status == Keychain::success)
            showAccountList(contents.accounts);
        else
            refuseUnreadable(contents.status);
    });
}

void MacCredentialProviderViewController::prepareInterfaceForPasskeyRegistration(
    const CredentialRequest& request) {
    preparePasskeyRegistration(request);
}

// --- One-time codes ---------------------------------------------------------------

std::optional<QUuid>
MacCredentialProviderViewController::accountID(const std::optional<QString>& recordIdentifier) {
    if (!recordIdentifier) return std::nullopt;
    // The plain 36-character form only, without braces.
    const QString& text = *recordIdentifier;
    const QUuid id = text.size() == 36 ? QUuid::fromString(text) : QUuid();
    if (id.isNull()) return std::nullopt;
    return id;
}

std::optional<Account>
MacCredentialProviderViewController::findAccount(const std::optional<QString>& recordIdentifier,
                                                 const QList<Account>& accounts) {
    const std::optional<QUuid> id = accountID(recordIdentifier);
    if (!id) return std::nullopt;
    for (const Account& account : accounts)
        if (account.id == *id) return account;
    return std::nullopt;
}

QList<RequestHost>
MacCredentialProviderViewController::hostsOf(const QList<ServiceIdentifier>& serviceIdentifiers) {
    QList<RequestHost> hosts;
    for (const ServiceIdentifier& service : serviceIdentifiers) {
        if (service.type == ServiceIdentifier::Type::url) {
            // Taken as the browser that sent it takes it. A URL without a
            // host ("data:", "file:", a port out of range) keeps its whole
            // text, to be named in the warning, and matches no account.
            if (const std::optional<QString> host = DomainGuard::hostOfURL(service.identifier))
                hosts.append({*host, true});
            else
                hosts.append({service.identifier, false});
        } else {
            hosts.append({service.identifier, true});
        }
    }
    return hosts;
}

// --- The keychain ---------------------------------------------------------------

MacCredentialProviderViewController::KeychainContents
MacCredentialProviderViewController::read(Wanted wanted) {
    KeychainContents contents;
    // A failure without a status of its own (an item that does not decode)
    // is still a failure.
    const auto failure = [](qint32 status) {
        return status != Keychain::success ? Keychain::Status(status) : Keychain::decodeFailed;
    };
    try {
        if (wanted == Wanted::accounts) {
            contents.accounts = KeychainStore::loadAll().active;
            // The offset the program measured lives in the same keyring; read
            // here so that filling a code never reads the keyring again.
            CorrectedClock::load();
        } else {
            contents.passkeys = PasskeyStore::loadAll();
        }
    } catch (const KeychainStore::KeychainError& error) {
        contents.status = failure(error.status());
    } catch (const PasskeyStore::Error& error) {
        contents.status = failure(error.status());
    }
    return contents;
}

void MacCredentialProviderViewController::withKeychain(
    Wanted wanted, bool openFirst, std::function<void(const KeychainContents&)> then) {
    if (m_ended) return;
    if (!openFirst) {
        const KeychainContents contents = read(wanted);
        if (contents.status != Keychain::interactionNotAllowed) {
            then(contents);
            return;
        }
    }
    // Opening may wait on the keyring's unlock prompt for as long as the
    // user takes: on a thread of its own, the placeholder showing meanwhile.
    const std::shared_ptr<std::atomic<int>> waiting = m_waitingToOpen;
    ++*waiting;
    QPointer<MacCredentialProviderViewController> weak(this);
    std::unique_ptr<QThread> opening(QThread::create([weak, waiting, wanted, then] {
        KeychainContents contents;
        contents.status = Keychain::open();
        --*waiting;
        if (contents.status == Keychain::success) contents = read(wanted);
        // The controller waits for this thread before it goes, so it is
        // still there to receive the result (or already ending).
        QMetaObject::invokeMethod(
            weak.data(),
            [weak, contents, then] {
                if (weak && !weak->m_ended) then(contents);
            },
            Qt::QueuedConnection);
    }));
    opening->start();
    m_openings.push_back(std::move(opening));
}

void MacCredentialProviderViewController::refuseUnreadable(Keychain::Status status) {
    // Still locked after open(): its prompt was dismissed.
    cancel(status == Keychain::interactionNotAllowed ? ExtensionError::userCanceled
                                                     : ExtensionError::failed);
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
    if (account.code(CorrectedClock::now()).remove(QLatin1Char(' ')).isEmpty()) {
        // Digits the code cannot be formed with: filling nothing into the
        // site would only look like success.
        cancel(ExtensionError::failed);
        return;
    }
    Account used = account;
    if (account.type == OTPType::hotp) {
        // The code of the counter actually taken goes out, the next one is
        // stored: the program may have moved the counter on since it was
        // read. A code whose use the keychain does not record would be
        // filled again next time, and the site would refuse it then: when
        // the advance cannot be saved, nothing is filled.
        try {
            used = HotpCounter::advance(account);
        } catch (const std::exception&) {
            cancel(ExtensionError::failed);
            return;
        }
    }
    QString code = used.code(CorrectedClock::now());
    code.remove(QLatin1Char(' '));
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
    const QByteArray credentialID = identity->credentialID;
    const QByteArray clientDataHash = request.clientDataHash;
    withKeychain(Wanted::passkeys, false,
                 [this, credentialID, clientDataHash](const KeychainContents& contents) {
                     if (contents.status != Keychain::success) {
                         refuseUnreadable(contents.status);
                         return;
                     }
                     for (const PasskeyRecord& record : contents.passkeys) {
                         if (record.credentialID == credentialID) {
                             // The record's relying party is the one signed
                             // for, whatever the identity says.
                             parkAssertion(record, clientDataHash);
                             return;
                         }
                     }
                     cancel(ExtensionError::credentialIdentityNotFound);
                 });
}

void MacCredentialProviderViewController::parkAssertion(const PasskeyRecord& record,
                                                        const QByteArray& clientDataHash) {
    QPointer<MacCredentialProviderViewController> weak(this);
    parkPasskeyWork([weak, record, clientDataHash] {
        if (!weak) return;
        weak->verifyUser(record.rpId, record.userName,
                         [weak, record, clientDataHash](UserVerification outcome) {
            if (weak) weak->assertPasskey(outcome, record, clientDataHash);
        });
    });
}

void MacCredentialProviderViewController::prepareCredentialList(
    const QList<ServiceIdentifier>&, const PasskeyRequestParameters& parameters) {
    withKeychain(Wanted::passkeys, false, [this, parameters](const KeychainContents& contents) {
        if (contents.status == Keychain::success)
            offerPasskeys(contents.passkeys, parameters);
        else
            refuseUnreadable(contents.status);
    });
}

void MacCredentialProviderViewController::offerPasskeys(QList<PasskeyRecord> records,
                                                        const PasskeyRequestParameters& parameters) {
    const QSet<QByteArray> allowed(parameters.allowedCredentials.begin(),
                                   parameters.allowedCredentials.end());
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
    const QString& site, const QString& user, std::function<void(UserVerification)> continuation) {
    // One verification per request: its every outcome ends the request, so
    // a second pick meanwhile has nothing left to ask for.
    if (m_ended || m_verifying) return;
    m_verifying = true;
    if (extensionContext().ownerVerified()) {
        continuation(UserVerification::verified);
        return;
    }
    if (!OwnerAuth::canEvaluate()) {
        continuation(UserVerification::unavailable);
        return;
    }
    // Isolated, so a right-to-left site or user name cannot reorder the
    // sentence around it; the site written as every host is shown.
    const QString shownSite = Text::isolated(HostText::shown(site));
    const QString message = user.isEmpty()
                                ? tr("Confirm it's you to use a passkey for %1.").arg(shownSite)
                                : tr("Confirm it's you to use a passkey for %1 as %2.")
                                      .arg(shownSite, Text::isolated(user));
    // The window behind the prompt says the same, not just that it is busy.
    // A picker stays: it is meaningful, and its Cancel still ends the request.
    if (!m_screen || m_screen->objectName() == QLatin1String("placeholder"))
        host(makePlaceholder(message), placeholderSize);
    QPointer<MacCredentialProviderViewController> weak(this);
    QWidget* over = m_view ? m_view->window() : nullptr;
    OwnerAuth::evaluate(tr("Quillet"), message, over,
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
    if (!isRelyingPartyDomain(identity->relyingPartyIdentifier) ||
        !isAcceptableUserName(identity->userName)) {
        cancel(ExtensionError::failed);
        return;
    }
    // Opened first whatever it holds: the new passkey goes into the
    // keyring's default collection, which opening creates when missing. The
    // stored passkeys are read for the excluded-credential check; when they
    // cannot be, nothing is registered, lest a passkey the site already
    // knows be made again.
    withKeychain(Wanted::passkeys, true,
                 [this, request, identity = *identity](const KeychainContents& contents) {
                     if (contents.status != Keychain::success) {
                         refuseUnreadable(contents.status);
                         return;
                     }
                     QPointer<MacCredentialProviderViewController> weak(this);
                     parkPasskeyWork([weak, request, identity, stored = contents.passkeys] {
                         if (weak) weak->beginPasskeyRegistration(request, identity, stored);
                     });
                 });
}

void MacCredentialProviderViewController::beginPasskeyRegistration(
    const CredentialRequest& request, const PasskeyCredentialIdentity& identity,
    const QList<PasskeyRecord>& storedPasskeys) {
    if (m_ended) return;
    if (!request.excludedCredentials.isEmpty()) {
        // Any relying party's: a credential ID is ours alone either way.
        QSet<QByteArray> stored;
        for (const PasskeyRecord& record : storedPasskeys) stored.insert(record.credentialID);
        for (const QByteArray& excluded : request.excludedCredentials) {
            if (stored.contains(excluded)) {
                cancel(ExtensionError::matchedExcludedCredential);
                return;
            }
        }
    }
    QPointer<MacCredentialProviderViewController> weak(this);
    verifyUser(identity.relyingPartyIdentifier, identity.userName,
               [weak, identity, request](UserVerification outcome) {
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
    {
        // One step for every process: another registration for this user
        // between the save and the removal would take this record for an
        // older one, and this one would remove that; neither would be left.
        const Keychain::Transaction step;
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
    }

    const QByteArray attestationObject = Passkey::registrationAttestationObject(
        record.rpId, record.credentialID, publicKey->left(32), publicKey->mid(32),
        outcome == UserVerification::verified);
    if (!end()) return;
    extensionContext().completeRegistrationRequest(
        {record.rpId, request.clientDataHash, record.credentialID, attestationObject});
}
