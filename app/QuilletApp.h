#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

class AccountStore;
class AppDelegate;
class AppLockMac;
class AppSettings;
class HotKeyController;
class KeychainWatch;
class MainWindow;
class SessionEvents;
class SettingsWindow;
class TickingClock;
class TrayHost;
class UpdaterManager;
class UserDefaults;
class SecurityLog;

// The program: its long-lived models, created once in this order and kept
// for the life of the process, and the windows that show them.
class QuilletApp : public QObject {
    Q_OBJECT

public:
    QuilletApp(UserDefaults& defaults, SecurityLog& log, QObject* parent = nullptr);
    ~QuilletApp() override;

    // Applies the window policy, puts up the tray icon and, unless the user
    // keeps Quillet in the tray only (or no tray exists), the main window.
    void start();

    AppDelegate& delegate() const { return *m_delegate; }
    AccountStore& store() const { return *m_store; }
    TickingClock& clock() const { return *m_clock; }
    AppSettings& settings() const { return *m_appSettings; }
    AppLockMac& appLock() const { return *m_appLock; }
    UpdaterManager& updater() const { return *m_updater; }
    // Created by start(); null before.
    HotKeyController* hotKeys() const { return m_hotKeys.get(); }
    TrayHost* tray() const { return m_tray; }
    MainWindow* mainWindow() const;
    SettingsWindow* settingsWindow() const;

    void openMainWindow();
    void openSettings();
    // The program was started a second time: bring it forward.
    void reopen();

private:
    // Every window that comes on screen asks for a clock measurement; the
    // clock lets at most one through every two minutes.
    void sceneAppeared();
    // The main window and the tray panel re-register the AutoFill identities
    // when they appear, and so does a change in the number of accounts while
    // the main window is open. The work runs on a background thread.
    void syncCredentialIdentities();
    void accountsChanged();
    // The window and the tray show what another process (AutoFill's host)
    // writes to the keychain, soon after it does.
    void followKeychain();

    UserDefaults& m_defaults;
    SecurityLog& m_log;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<AccountStore> m_store;
    std::unique_ptr<TickingClock> m_clock;
    std::unique_ptr<AppSettings> m_appSettings;
    std::unique_ptr<AppLockMac> m_appLock;
    std::unique_ptr<SessionEvents> m_sessionEvents;
    std::unique_ptr<UpdaterManager> m_updater;
    std::unique_ptr<HotKeyController> m_hotKeys;
    std::unique_ptr<KeychainWatch> m_keychainWatch;
    TrayHost* m_tray = nullptr;
    QPointer<MainWindow> m_mainWindow;
    QPointer<SettingsWindow> m_settings;
    bool m_syncWhenOpen = false;          // a clock measurement, once the keyring is open
    bool m_syncIdentitiesWhenOpen = false; // the AutoFill identities, once the vault is read
    qsizetype m_accountCount = 0;
};
