#pragma once

#include <QObject>
#include <optional>

class UserDefaults;
class QWidget;

// Switches between a program with a taskbar window and one that lives in the
// tray only, following the user's "menuBarOnly.v1" setting, and brings the
// main window forward when the user starts the program again.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    static constexpr int launchCloseDelayMs = 150;

    explicit AppDelegate(UserDefaults& defaults, QObject* parent = nullptr);

    void applicationDidFinishLaunching();
    // The program was started again (or its tray asked for it). Returns the
    // flag unchanged, as the platform's own handling follows it.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);

    void applyActivationPolicy();
    void showMainWindow();
    void closeWindowsForMenuBarOnly();

    std::optional<bool> lastApplied() const { return m_lastApplied; }

    // Titled windows that are not panels, the ones the policy governs.
    static bool isTitledWindow(const QWidget* window);

signals:
    // No main window exists: whoever hosts it should open one.
    void openMainWindowRequested();
    // The program should (not) appear among the taskbar's windows.
    void taskbarPresenceChanged(bool present);

private:
    UserDefaults& m_defaults;
    std::optional<bool> m_lastApplied;
    bool m_observing = false;
};
