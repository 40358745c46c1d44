#pragma once

#include "core/Account.h"
#include "system/QuickLauncherView.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

class QScreen;

class AccountStore;
class AppLockMac;
class QWidget;
class QWindow;
class UserDefaults;

// The quick-search panel behind Ctrl+Alt+K: a floating search box over
// whatever the user works in. The user types a few letters of an account's
// issuer or name and picks a row; the panel closes, the window that was in
// front gets the keyboard back, and the account's code is typed into it. When
// keystrokes cannot be sent (no XTEST), or that window has gone, the code is
// copied instead and the HUD says so. One per process; the hotkey controller
// hands it the store and toggles it.
class QuickLauncher : public QObject {
    Q_OBJECT

public:
    static constexpr int width = QuickLauncherView::panelWidth;
    static constexpr int height = QuickLauncherView::panelHeight;
    // The panel sits this share of the available height above the centre.
    static constexpr double raise = 0.12;
    // The typing starts this long after the focus was handed back...
    static constexpr int typeDelayMs = 120;
    // ...and waits at most this long for the window to have the focus.
    static constexpr int focusWaitMs = 1500;
    static constexpr int hudDurationMs = 1400;

    static QuickLauncher& shared();

    // The vault and the settings it copies by (the clipboard's clear delay);
    // both held weakly, never kept alive.
    void setStore(AccountStore* store, UserDefaults* defaults);
    AccountStore* store() const;
    // While the lock is on and closed, the panel asks to unlock before it lists.
    void setAppLock(AppLockMac* lock);

    // Closes the panel when it is on screen, otherwise shows a new one.
    void toggle();
    // The panel in front with an empty search, remembering the window that
    // was active. The panel is kept between openings.
    void show();
    // Hides the panel and, when it had the focus, gives the focus back.
    void close();
    // Delivers the account's current code (typed, or copied).
    // By value: recording the use changes the lists the account came from.
    void pick(Account account);

    // The panel while one exists (it may be hidden: the user went elsewhere).
    QWidget* panel() const { return m_panel; }
    bool isShown() const;
    // The window that was active when the panel was last shown.
    std::optional<quint32> rememberedWindow() const { return m_remembered; }

    // Whether keystrokes can be sent; tests replace the XTEST check.
    void setAccessibilityCheck(std::function<bool()> check);
    bool canType() const { return m_canType(); }

    // Where the panel goes on a screen's available area: centred across,
    // raised 12 % of the height above the centre (ScreenFit keeps it on an
    // area too small for it).
    static QRect frame(const QRect& available);
    // The screen the user works on: the one holding most of `window` (the
    // window in front when the panel was asked for), else the pointer's.
    static QScreen* workScreen(const std::optional<quint32>& window);

    // HUD subtitles of the copies that stand in for typing.
    static QString needsTypingHint();
    static QString windowGoneHint();
    static QString noWindowHint();
    // X11: the window searched from was asked back and never took the keyboard.
    static QString notFocusedHint();
    // Wayland: the panel's window still had the keyboard after the wait.
    static QString keptKeyboardHint();
    // A key was still held down after the wait for its release.
    static QString keysHeldHint();

signals:
    // A panel came on screen (for the start-up measurements).
    void panelShown();
    // A picked code reached its place: typed into the window, or copied.
    void delivered(bool typed);

private:
    void dropPanel();
    QuickLauncher();
    void applicationStateChanged(Qt::ApplicationState state);
    // Types the pending code once its window has the focus, or copies it
    // instead when the window went or never took the focus.
    void typeWhenFocused();
    // Types or copies the code of the account as it is now.
    void deliver(const Account& account);
    void copyInstead(const QString& code, const QString& hint);
    // Types the code into the focused window; copies it when the keys
    // cannot go out.
    void typeInto(const QString& code);
    // A delivery still waiting for the focus is overtaken: its code is
    // copied rather than typed into whatever comes next.
    void cancelPendingDelivery();

    QPointer<QWidget> m_panel;
    // The view of the kept panel; none when the panel must be built anew.
    QPointer<QuickLauncherView> m_view;
    QPointer<AccountStore> m_store;
    QPointer<UserDefaults> m_defaults;
    QPointer<AppLockMac> m_lock;
    std::optional<quint32> m_remembered;
    std::function<bool()> m_canType;
    QTimer m_focusPoll;
    qint64 m_pollStarted = 0;
    // The window of ours that had the keyboard last.
    QPointer<QWindow> m_lastFocus;
    std::optional<QString> m_pendingCode;
    quint32 m_pendingWindow = 0;
    QString m_pendingLabel;
};
