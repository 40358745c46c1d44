#pragma once

#include <QObject>
#include <functional>
#include <optional>

class UserDefaults;
class QWidget;

// Switches between a program with a taskbar entry and one that lives in the
// tray only, following the user's "menuBarOnly.v1" setting, and brings the
// main window forward when the user starts the program again.
//
// Tray-only means, on this desktop: no window but Settings has a taskbar
// entry, and the main window closes. Without a tray to open it from again,
// the main window stays: the program never leaves the user no way in. For
// the same reason, without a tray, closing the last window quits.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    static constexpr int launchCloseDelayMs = 150;

    explicit AppDelegate(UserDefaults& defaults, QObject* parent = nullptr);

    // Whether a tray shows the program's icon right now; until set, one does.
    void setTrayAvailable(std::function<bool()> available) { m_trayAvailable = std::move(available); }

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
    // The settings window, which keeps its taskbar entry and stays open.
    static bool isSettingsWindow(const QWidget* window);

signals:
    // No main window exists: whoever hosts it should open one.
    void openMainWindowRequested();

protected:
    // Gives each governed window the current taskbar state as it is shown.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool trayAvailable() const { return !m_trayAvailable || m_trayAvailable(); }
    void applyTaskbarPresence();

    UserDefaults& m_defaults;
    std::optional<bool> m_lastApplied;
    bool m_observing = false;
    std::function<bool()> m_trayAvailable;
};
