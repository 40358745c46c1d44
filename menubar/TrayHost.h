#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>

class AccountStore;
class AppLockMac;
class AppSettings;
class MenuBarContent;
class MenuBarLabel;
class StatusItem;
class QTimer;
class TickingClock;
class UpdaterManager;
class UserDefaults;

// The program's place in the desktop's panel: the key icon with the live
// code beside it (MenuBarLabel) and the panel a click opens at the icon
// (MenuBarContent, a frameless tool window 340 wide that closes on Escape
// and when it loses the focus). The panel is built the first time it opens and
// kept, with its search, for the next time.
class TrayHost : public QObject {
    Q_OBJECT

public:
    // How soon after the panel closed a click on the icon counts as the
    // click that closed it.
    static constexpr int reopenGuardMs = 300;
    // How long the focus may be away from the open panel before it closes.
    static constexpr int focusSettleMs = 150;

    TrayHost(AccountStore& store, TickingClock& clock, AppSettings& settings, AppLockMac& lock,
             UpdaterManager& updater, UserDefaults& defaults, QObject* parent = nullptr);
    ~TrayHost() override;

    // False on a desktop with neither a status-notifier watcher nor a tray.
    static bool isAvailable();
    bool isShown() const;
    StatusItem& statusItem() const { return *m_item; }
    MenuBarLabel& label() const { return *m_label; }
    // Null until the panel first opens.
    MenuBarContent* panel() const;
    bool isPanelOpen() const;

    // Opens the panel at `at` (screen coordinates; a null point: at the
    // icon, or at the pointer), or closes it when it is open; as a click on
    // the icon does.
    void togglePanel(const QPoint& at = QPoint());
    void openPanel(const QPoint& at = QPoint());
    // Whether the panel stepped aside for the password dialog and comes back
    // when it is answered.
    bool isWaitingForAnswer() const { return m_reopenAfterAnswer; }
    void closePanel();

    // Where a panel of `size` goes for a click at `anchor` on `screen`:
    // below the anchor in the screen's upper half, above it in the lower
    // half, centred on it and kept on the screen.
    static QRect placement(const QRect& anchor, const QSize& size, const QRect& screen);

signals:
    void openMainWindowRequested();
    void settingsRequested();
    void quitRequested();
    // The panel came on screen.
    void appeared();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MenuBarContent* makePanel();
    void place();
    void show(bool newOpening);
    void closeIfFocusLeft();

    AccountStore& m_store;
    TickingClock& m_clock;
    AppSettings& m_settings;
    AppLockMac& m_lock;
    UpdaterManager& m_updater;
    UserDefaults& m_defaults;
    StatusItem* m_item;
    MenuBarLabel* m_label;
    QPointer<MenuBarContent> m_panel;
    QRect m_anchor;
    QTimer* m_focusLeft;
    QMetaObject::Connection m_focusWatch;
    // The panel had the focus since it last came on screen.
    bool m_hadFocus = false;
    QElapsedTimer m_closedAt;
    // The panel stepped aside for the unlock dialog and comes back when it
    // is answered: with the list after a success, locked after a failure or
    // a cancel (so that "Manage", "Settings" and "Quit" stay in reach).
    bool m_reopenAfterAnswer = false;
};
