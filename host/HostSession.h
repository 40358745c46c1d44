#pragma once

#include "host/HostProtocol.h"
#include "platform/extension/CredentialProviderExtension.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QWidget;

// One request served by a credential-provider plugin, as the desktop's
// AutoFill would serve it: a new controller, one entry point, the
// controller's view in a window of the size it asks for, and the end at the
// first completion or refusal. Closing the window is the user cancelling.
class HostSession : public QObject, public CredentialProvider::ExtensionContext {
    Q_OBJECT

public:
    HostSession(CredentialProviderExtension& extension, HostProtocol::Request request,
                QObject* parent = nullptr);
    ~HostSession() override;

    // Calls the entry point, then shows the window if the request goes on
    // with the user; without a display (`canShowWindow` false) it shows
    // none, and the request is left waiting. After requireOwner(), the
    // owner's password is asked for first.
    void start(bool canShowWindow = true);

    // What the owner is asked before the request is served, while Quillet's
    // app lock is on and the request may fill a code or use a passkey;
    // nothing otherwise. Reads the user's settings.
    static std::optional<QString> ownerQuestion(const HostProtocol::Request& request);
    // Whether this user's password can be checked at all.
    static bool canAskOwner();
    // Asks `question` with the app lock's password dialog before the entry
    // point is called; anything but the owner's password refuses the request
    // as cancelled, before the plugin sees it.
    void requireOwner(const QString& question);

    bool hasEnded() const { return m_outcome.has_value(); }
    // Set once the request has ended.
    const std::optional<HostProtocol::Outcome>& outcome() const { return m_outcome; }
    // The window of a request with interface (null before start and for a
    // request without one); hidden once the request has ended.
    QWidget* window() const;

    // The plugin at `path`, or null with `error` set.
    static CredentialProviderExtension* loadExtension(const QString& path, QString* error);
    // Where the plugin is looked for unless told: beside the host.
    static QString defaultPluginPath();

    // The window's title.
    static QString windowTitle();

    // ExtensionContext
    void completeOneTimeCodeRequest(const QString& code) override;
    void completeAssertionRequest(
        const CredentialProvider::PasskeyAssertionCredential& credential) override;
    void completeRegistrationRequest(
        const CredentialProvider::PasskeyRegistrationCredential& credential) override;
    void cancelRequest(CredentialProvider::ExtensionError error) override;
    bool ownerVerified() const override { return m_ownerVerified; }

signals:
    void ended();

private:
    class Window;

    void serve(bool canShowWindow);
    void callEntryPoint();
    void showWindow();
    void finish(HostProtocol::Outcome outcome);

    CredentialProviderExtension& m_extension;
    HostProtocol::Request m_request;
    std::optional<HostProtocol::Outcome> m_outcome;
    std::optional<QString> m_ownerQuestion;
    bool m_ownerVerified = false;
    // The window goes after the controller: the controller deletes its view
    // out of the window first.
    std::unique_ptr<Window> m_window;
    std::unique_ptr<CredentialProvider::ViewController> m_controller;
};
