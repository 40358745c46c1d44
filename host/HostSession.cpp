#include "host/HostSession.h"

#include "core/Settings.h"
#include "platform/files/UserDefaults.h"
#include "platform/system/OwnerAuth.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPluginLoader>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

using namespace CredentialProvider;

class HostSession::Window : public QWidget {
public:
    explicit Window(HostSession& session) : m_session(session) {
        setWindowTitle(HostSession::windowTitle());
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }

protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        if (m_appeared) return;
        m_appeared = true;
        // Once the window is up, not while it is being mapped.
        QTimer::singleShot(0, this, [this] {
            if (!m_session.hasEnded()) m_session.m_controller->viewDidAppear();
        });
    }

    void closeEvent(QCloseEvent* event) override {
        if (!m_session.hasEnded()) m_session.finish(ExtensionError::userCanceled);
        event->accept();
    }

private:
    HostSession& m_session;
    bool m_appeared = false;
};

HostSession::HostSession(CredentialProviderExtension& extension, HostProtocol::Request request,
                         QObject* parent)
    : QObject(parent), m_extension(extension), m_request(std::move(request)) {}

HostSession::~HostSession() {
    m_controller.reset();
    m_window.reset();
}

QString HostSession::windowTitle() {
    return QStringLiteral("Quillet");
}

QWidget* HostSession::window() const {
    return m_window.get();
}

QString HostSession::defaultPluginPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/larkspur.so");
}

CredentialProviderExtension* HostSession::loadExtension(const QString& path, QString* error) {
    // The loader is never unloaded: controllers and their views are the
    // plugin's code until the process ends.
    auto* loader = new QPluginLoader(path, qApp);
    QObject* root = loader->instance();
    auto* extension = qobject_cast<CredentialProviderExtension*>(root);
    if (!extension && error)
        *error = root ? QStringLiteral("%1 is not a credential provider").arg(path)
                      : loader->errorString();
    return extension;
}

std::optional<QString> HostSession::ownerQuestion(const HostProtocol::Request& request) {
    using HostProtocol::Entry;
    const bool passkey = request.entry == Entry::credentialListWithParameters ||
                         request.request.type == CredentialRequest::Type::passkey;
    // A passkey without interface is refused as needing the user anyway.
    if (request.entry == Entry::provideWithoutUserInteraction && passkey) return std::nullopt;
    if (!UserDefaults::standard().flag(Settings::appLockEnabled.key,
                                       Settings::appLockEnabled.defaultValue))
        return std::nullopt;
    return passkey ? QCoreApplication::translate("HostSession",
                                                 "Quillet is locked. Confirm it's you to use a passkey.")
                   : QCoreApplication::translate(
                         "HostSession", "Quillet is locked. Confirm it's you to fill a one-time code.");
}

bool HostSession::canAskOwner() {
    return OwnerAuth::canEvaluate();
}

void HostSession::requireOwner(const QString& question) {
    m_ownerQuestion = question;
}

void HostSession::start(bool canShowWindow) {
    m_controller = m_extension.makeViewController(*this);
    m_controller->onPreferredContentSizeChange([this](QSize size) {
        if (m_window) m_window->resize(size);
    });
    if (!m_ownerQuestion) {
        serve(canShowWindow);
        return;
    }
    QPointer<HostSession> self(this);
    OwnerAuth::evaluate(QCoreApplication::translate("HostSession", "Unlock Quillet"), *m_ownerQuestion,
                        nullptr, [self, canShowWindow](OwnerAuth::Result result) {
                            if (!self || self->hasEnded()) return;
                            if (result != OwnerAuth::Result::success) {
                                self->finish(ExtensionError::userCanceled);
                                return;
                            }
                            self->m_ownerVerified = true;
                            self->serve(canShowWindow);
                        });
}

void HostSession::serve(bool canShowWindow) {
    callEntryPoint();
    if (!hasEnded() && HostProtocol::needsInterface(m_request.entry) && canShowWindow) showWindow();
}

void HostSession::callEntryPoint() {
    using HostProtocol::Entry;
    switch (m_request.entry) {
    case Entry::provideWithoutUserInteraction:
        m_controller->provideCredentialWithoutUserInteraction(m_request.request);
        break;
    case Entry::prepareInterface:
        m_controller->prepareInterfaceToProvideCredential(m_request.request);
        break;
    case Entry::credentialList:
        m_controller->prepareCredentialList(m_request.serviceIdentifiers);
        break;
    case Entry::credentialListWithParameters:
        m_controller->prepareCredentialList(m_request.serviceIdentifiers, m_request.parameters);
        break;
    case Entry::registration:
        m_controller->prepareInterfaceForPasskeyRegistration(m_request.request);
        break;
    }
}

void HostSession::showWindow() {
    m_window = std::make_unique<Window>(*this);
    m_window->layout()->addWidget(m_controller->view());
    m_window->resize(m_controller->preferredContentSize());
    m_window->show();
    // In front, with the keyboard: the request came from what the user is
    // doing now.
    m_window->raise();
    m_window->activateWindow();
}

void HostSession::finish(HostProtocol::Outcome outcome) {
    // The first end stands; anything after it is not passed on.
    if (hasEnded()) return;
    m_outcome = std::move(outcome);
    if (m_window) m_window->hide();
    emit ended();
}

void HostSession::completeOneTimeCodeRequest(const QString& code) {
    finish(HostProtocol::OneTimeCode{code});
}

void HostSession::completeAssertionRequest(const PasskeyAssertionCredential& credential) {
    finish(credential);
}

void HostSession::completeRegistrationRequest(const PasskeyRegistrationCredential& credential) {
    finish(credential);
}

void HostSession::cancelRequest(ExtensionError error) {
    finish(error);
}
