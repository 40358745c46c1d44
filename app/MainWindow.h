#pragma once

#include <QMainWindow>

class AccountStore;
class ContentView;
class TickingClock;
class UpdaterManager;
class UserDefaults;

// The main window ("main"): the account list under the application menu.
// Closing it destroys it; opening it again starts afresh (filter, search).
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(AccountStore& store, TickingClock& clock, UserDefaults& defaults,
               UpdaterManager& updater, QWidget* parent = nullptr);

    ContentView* content() const { return m_content; }

signals:
    void appeared();
    void settingsRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    ContentView* m_content;
};
