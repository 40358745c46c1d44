#pragma once

#include <QMainWindow>

class AccountStore;
class AppLockMac;
class ContentView;
class LockOverlayMac;
class TickingClock;
class UpdaterManager;
class UserDefaults;

// The main window ("main"): the account list under the application menu,
// covered by the lock overlay while the app is locked. Closing it destroys
// it; opening it again starts afresh (filter, search).
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(AccountStore& store, TickingClock& clock, UserDefaults& defaults,
               UpdaterManager& updater, AppLockMac& lock, QWidget* parent = nullptr);

    ContentView* content() const { return m_content; }
    LockOverlayMac* lockOverlay() const { return m_lockOverlay; }

signals:
    void appeared();
    void settingsRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    ContentView* m_content;
    LockOverlayMac* m_lockOverlay;
};
