#pragma once

// The credential-provider extension point: what a host (the program that
// stands where the operating system's AutoFill would) and a provider plugin
// say to each other. The host loads the plugin with QPluginLoader, asks its
// root object (a CredentialProviderExtension) for one view controller per
// request, calls one entry point, shows the controller's view when the entry
// point needs the user, and waits until the controller ends the request on
// its context with a completion or a refusal.
//
// Header only, Qt Core and Widgets: host and plugin each compile it, and
// nothing here crosses the boundary but plain values, virtual calls and the
// widget of the view.

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QtPlugin>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

class QWidget;

namespace CredentialProvider {

// Why a request was refused; the numbers are what hosts report.
enum class ExtensionError : int {
    failed = 0,
    userCanceled = 1,
    userInteractionRequired = 100,
    credentialIdentityNotFound = 101,
    matchedExcludedCredential = 102,
};

// A site or program a request comes from.
struct ServiceIdentifier {
    enum class Type { domain, url };
    QString identifier;
    Type type = Type::domain;
};

// The registered identity a one-time-code request names.
struct OneTimeCodeCredentialIdentity {
    std::optional<QString> recordIdentifier;
};

// The passkey identity a passkey request names (for a registration: the
// user and relying party the new passkey is for).
struct PasskeyCredentialIdentity {
    QString relyingPartyIdentifier;
    QString userName;
    QByteArray credentialID;
    QByteArray userHandle;
    QString recordIdentifier;
};

// COSE algorithm numbers.
inline constexpr qint64 es256 = -7;

// One request for a credential: a one-time code or a passkey (an assertion,
// or, at the registration entry point, a new passkey).
struct CredentialRequest {
    enum class Type { oneTimeCode, passkey };
    Type type = Type::oneTimeCode;
    std::variant<OneTimeCodeCredentialIdentity, PasskeyCredentialIdentity> credentialIdentity;
    // Passkey requests only.
    QByteArray clientDataHash;
    QList<qint64> supportedAlgorithms;
    // Credential IDs the relying party already knows for this user.
    QList<QByteArray> excludedCredentials;
    QString userVerification; // "required", "preferred" or "discouraged"
};

// A passkey sign-in offered from a list rather than for one identity.
struct PasskeyRequestParameters {
    QString relyingPartyIdentifier;
    QByteArray clientDataHash;
    QList<QByteArray> allowedCredentials; // empty: any of the relying party's
    QString userVerification;
};

struct PasskeyAssertionCredential {
    QByteArray userHandle;
    QString relyingParty;
    QByteArray signature; // ECDSA, DER
    QByteArray clientDataHash;
    QByteArray authenticatorData;
    QByteArray credentialID;
};

struct PasskeyRegistrationCredential {
    QString relyingParty;
    QByteArray clientDataHash;
    QByteArray credentialID;
    QByteArray attestationObject;
};

// The host's side of one request. Each request is meant to end with exactly
// one of these calls.
class ExtensionContext {
public:
    virtual ~ExtensionContext() = default;
    virtual void completeOneTimeCodeRequest(const QString& code) = 0;
    virtual void completeAssertionRequest(const PasskeyAssertionCredential& credential) = 0;
    virtual void completeRegistrationRequest(const PasskeyRegistrationCredential& credential) = 0;
    virtual void cancelRequest(ExtensionError error) = 0;
    // Whether the owner proved themselves for this request before it reached
    // the controller (the host asks while Quillet's app lock is on): the
    // controller then counts the user as verified and asks no second time.
    virtual bool ownerVerified() const { return false; }
};

// One request's controller. The host owns it, calls exactly one entry point,
// and tells it when its view has appeared on screen.
class ViewController {
public:
    explicit ViewController(ExtensionContext& context) : m_context(context) {}
    virtual ~ViewController() = default;
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    ExtensionContext& extensionContext() const { return m_context; }

    // The controller's view, made on first use; the host puts it into a
    // window of the preferred content size.
    virtual QWidget* view() = 0;
    virtual void viewDidAppear() = 0;

    QSize preferredContentSize() const { return m_preferredContentSize; }
    // The host follows every change of the preferred size.
    void onPreferredContentSizeChange(std::function<void(QSize)> observer) {
        m_sizeObserver = std::move(observer);
    }

    // Entry points.
    virtual void provideCredentialWithoutUserInteraction(const CredentialRequest& request) = 0;
    virtual void prepareInterfaceToProvideCredential(const CredentialRequest& request) = 0;
    virtual void prepareCredentialList(const QList<ServiceIdentifier>& serviceIdentifiers) = 0;
    virtual void prepareCredentialList(const QList<ServiceIdentifier>& serviceIdentifiers,
                                       const PasskeyRequestParameters& parameters) = 0;
    virtual void prepareInterfaceForPasskeyRegistration(const CredentialRequest& request) = 0;

protected:
    void setPreferredContentSize(QSize size) {
        m_preferredContentSize = size;
        if (m_sizeObserver) m_sizeObserver(size);
    }

private:
    ExtensionContext& m_context;
    QSize m_preferredContentSize;
    std::function<void(QSize)> m_sizeObserver;
};

} // namespace CredentialProvider

// The plugin's root object.
class CredentialProviderExtension {
public:
    virtual ~CredentialProviderExtension() = default;
    // A new controller for one request, ending it on `context`, which
    // outlives the controller.
    virtual std::unique_ptr<CredentialProvider::ViewController>
    makeViewController(CredentialProvider::ExtensionContext& context) = 0;
};

#define CredentialProviderExtension_iid "com.tarnwick.Quillet.CredentialProviderExtension/1"
Q_DECLARE_INTERFACE(CredentialProviderExtension, CredentialProviderExtension_iid)
