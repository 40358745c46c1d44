#include "app/QuilletApp.h"

#include "app/MainWindow.h"
#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "core/CorrectedClock.h"
#include "core/CredentialIdentitySync.h"
#include "core/Settings.h"
#include "menubar/SettingsWindow.h"
#include "menubar/TrayHost.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/KeychainWatch.h"
#include "platform/look/Style.h"
#include "platform/system/SessionEvents.h"
#include "system/AppDelegate.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/HotKeyController.h"
#include "system/QuickLauncher.h"
#include "system/UpdaterManager.h"

#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QGuiApplication>
#include <QTimer>
#include <cstdio>

QuilletApp::QuilletApp(UserDefaults& defaults, SecurityLog& log, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_log(log) {
    m_delegate = std::make_unique<AppDelegate>(defaults);
    // The window comes up at once: the keyring is opened (through its own
    // prompt, when locked) and read off the GUI thread, and the clock's
    // stored state is read with it.
    CorrectedClock::loadOnlyWhenNeeded();
    m_store = std::make_unique<AccountStore>(defaults, log, std::function<QDateTime()>(), nullptr,
                                             AccountStore::Opening::inBackground);
    m_clock = std::make_unique<TickingClock>();
    m_appSettings = std::make_unique<AppSettings>(defaults);
    m_appLock = std::make_unique<AppLockMac>(defaults);
    m_updater = std::make_unique<UpdaterManager>();
    // The screen locking and the computer going to sleep lock the app again.
    m_sessionEvents = std::make_unique<SessionEvents>();
    m_appLock->watch(*m_sessionEvents);

    connect(m_delegate.get(), &AppDelegate::openMainWindowRequested, this,
            &QuilletApp::openMainWindow);
    connect(m_store.get(), &AccountStore::vaultStateChanged, this, [this] {
        // For the start-up benchmark: when the vault has been read.
        static bool reported = false;
        if (!reported && m_store->vaultState() != AccountStore::VaultState::opening &&
            qEnvironmentVariableIsSet("QUILLET_STARTUP_REPORT")) {
            reported = true;
            std::fprintf(stderr, "quillet: vault read at %lld\n",
                         QDateTime::currentMSecsSinceEpoch());
        }
        if (m_syncWhenOpen && m_store->vaultState() != AccountStore::VaultState::opening) {
            m_syncWhenOpen = false;
            CorrectedClock::sync(false);
        }
        if (m_syncIdentitiesWhenOpen && m_store->vaultState() == AccountStore::VaultState::open)
            syncCredentialIdentities();
        if (!m_keychainWatch && m_store->vaultState() != AccountStore::VaultState::opening)
            followKeychain();
    });
    // Picks up what the credential provider or another computer changed.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s == Qt::ApplicationActive)
            m_store->applicationBecameActive();
    });
    m_accountCount = m_store->accounts().size();
    connect(m_store.get(), &AccountStore::accountsChanged, this, &QuilletApp::accountsChanged);
    connect(m_store.get(), &AccountStore::importEnded, this, &QuilletApp::accountsChanged);
}

void QuilletApp::followKeychain() {
    // Only now: the first read has chosen the keychain, which may take the
    // Secret Service seconds to answer, and the GUI thread must not wait.
    m_keychainWatch = std::make_unique<KeychainWatch>();
    connect(m_keychainWatch.get(), &KeychainWatch::changed, m_store.get(),
            &AccountStore::keychainChanged);
    // What changed between the first read and the watch.
    m_store->scheduleReload();
}

QuilletApp::~QuilletApp() {
    delete m_mainWindow;
    delete m_settings;
}

void QuilletApp::start() {
    // Here and not with a window: a start at login in tray-only mode shows
    // none, and the user's hotkeys must work all the same.
    if (!m_hotKeys)
        m_hotKeys = std::make_unique<HotKeyController>(*m_store, *m_appSettings, m_defaults);
    // A press while locked asks for the password before any code leaves.
    m_hotKeys->setAppLock(m_appLock.get());
    // The quick-search panel lists nothing while the lock is closed.
    QuickLauncher::shared().setAppLock(m_appLock.get());
    m_tray = new TrayHost(*m_store, *m_clock, *m_appSettings, *m_appLock, *m_updater, m_defaults,
                          this);
    connect(m_tray, &TrayHost::openMainWindowRequested, this, &QuilletApp::openMainWindow);
    connect(m_tray, &TrayHost::settingsRequested, this, &QuilletApp::openSettings);
    connect(m_tray, &TrayHost::quitRequested, qApp, &QApplication::quit);
    connect(m_tray, &TrayHost::appeared, this, &QuilletApp::sceneAppeared);
    connect(m_tray, &TrayHost::appeared, this, &QuilletApp::syncCredentialIdentities);

    // Without a tray the main window is the only way in: it opens, and the
    // tray-only policy leaves it open.
    m_delegate->setTrayAvailable([] { return TrayHost::isAvailable(); });
    const bool trayOnly =
        m_defaults.flag(Settings::menuBarOnly.key, Settings::menuBarOnly.defaultValue);
    if (!trayOnly || !TrayHost::isAvailable())
        openMainWindow();
    m_delegate->applicationDidFinishLaunching();
}

MainWindow* QuilletApp::mainWindow() const { return m_mainWindow; }

SettingsWindow* QuilletApp::settingsWindow() const { return m_settings; }

void QuilletApp::openMainWindow() {
    if (!m_mainWindow) {
        m_mainWindow = new MainWindow(*m_store, *m_clock, m_defaults, *m_updater, *m_appLock);
        connect(m_mainWindow, &MainWindow::appeared, this, &QuilletApp::sceneAppeared);
        connect(m_mainWindow, &MainWindow::appeared, this,
                &QuilletApp::syncCredentialIdentities);
        connect(m_mainWindow, &MainWindow::settingsRequested, this, &QuilletApp::openSettings);
        connect(m_mainWindow, &MainWindow::quitRequested, qApp, &QApplication::quit);
        Style::centreOnScreen(m_mainWindow, QCursor::pos());
    }
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
    // For the start-up benchmark: when the first main window has been drawn.
    static bool reported = false;
    if (!reported && qEnvironmentVariableIsSet("QUILLET_STARTUP_REPORT")) {
        reported = true;
        QTimer::singleShot(0, this, [] {
            std::fprintf(stderr, "quillet: main window shown at %lld\n",
                         QDateTime::currentMSecsSinceEpoch());
        });
    }
}

void QuilletApp::openSettings() {
    if (!m_settings) {
        m_settings = new SettingsWindow(*m_store, *m_appSettings, *m_appLock, m_defaults, m_log);
        connect(m_settings, &SettingsWindow::appeared, this, &QuilletApp::sceneAppeared);
        // On the screen of the window it was asked from, else of the pointer
        // (the tray's panel).
        const bool fromMain = m_mainWindow && m_mainWindow->isActiveWindow();
        Style::centreOnScreen(m_settings, fromMain ? m_mainWindow->frameGeometry().center()
                                                   : QCursor::pos());
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void QuilletApp::reopen() {
    bool visible = false;
    for (QWidget* window : QApplication::topLevelWidgets())
        visible = visible || (window->isVisible() && AppDelegate::isTitledWindow(window));
    m_delegate->applicationShouldHandleReopen(visible);
    if (visible && m_mainWindow) {
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
}

void QuilletApp::sceneAppeared() {
    // A measurement stores the clock's state in the keyring: not before the
    // keyring is open, which may still be waiting for the user.
    if (m_store->vaultState() == AccountStore::VaultState::opening) {
        m_syncWhenOpen = true;
        return;
    }
    CorrectedClock::sync(false);
}

void QuilletApp::syncCredentialIdentities() {
    // Until the vault has been read, the store's empty list is no vault:
    // registering it would take every identity away.
    if (m_store->vaultState() != AccountStore::VaultState::open) {
        m_syncIdentitiesWhenOpen = true;
        return;
    }
    m_syncIdentitiesWhenOpen = false;
    CredentialIdentityStore& identities = CredentialIdentityStore::shared();
    CredentialIdentitySync::schedule(identities.state(), m_store->accounts(), identities);
}

void QuilletApp::accountsChanged() {
    // An import lists its accounts step by step; the identities follow once,
    // when it ends.
    if (m_store->importing())
        return;
    const qsizetype count = m_store->accounts().size();
    if (count == m_accountCount)
        return;
    m_accountCount = count;
    if (m_mainWindow)
        syncCredentialIdentities();
}
