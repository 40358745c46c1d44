#include "system/AppDelegate.h"

#include "core/Settings.h"
#include "platform/desktop/TaskbarPresence.h"
#include "platform/files/UserDefaults.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

AppDelegate::AppDelegate(UserDefaults& defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults) {}

void AppDelegate::applicationDidFinishLaunching() {
    applyActivationPolicy();
    if (!m_observing) {
        m_observing = true;
        connect(&m_defaults, &UserDefaults::changed, this, &AppDelegate::applyActivationPolicy);
        qApp->installEventFilter(this);
        // With a tray the program stays in it when its last window closes.
        // Without one nothing would be left to open it again from, and
        // closing its last window ends it, as it ends any other program.
        connect(qApp, &QGuiApplication::lastWindowClosed, this, [this] {
            if (!trayAvailable()) QCoreApplication::quit();
        });
    }
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows)
        showMainWindow();
    return hasVisibleWindows;
}

void AppDelegate::applyActivationPolicy() {
    const bool menuBarOnly =
        m_defaults.flag(Settings::menuBarOnly.key, Settings::menuBarOnly.defaultValue);
    if (m_lastApplied == menuBarOnly)
        return;
    const bool first = !m_lastApplied.has_value();
    m_lastApplied = menuBarOnly;
    applyTaskbarPresence();
    if (menuBarOnly) {
        QTimer::singleShot(first ? launchCloseDelayMs : 0, this,
                           &AppDelegate::closeWindowsForMenuBarOnly);
        return;
    }
    if (!first)
        showMainWindow();
}

bool AppDelegate::isTitledWindow(const QWidget* window) {
    const Qt::WindowFlags flags = window->windowFlags();
    const Qt::WindowType type = window->windowType();
    // Popups, tool windows (the copy confirmation, the quick search) and
    // frameless panels are never governed by the policy.
    if (type != Qt::Window && type != Qt::Dialog)
        return false;
    return !flags.testFlag(Qt::FramelessWindowHint);
}

bool AppDelegate::isSettingsWindow(const QWidget* window) {
    return window->windowTitle() == QLatin1String("Settings") ||
           window->objectName().contains(QLatin1String("Settings"));
}

void AppDelegate::applyTaskbarPresence() {
    if (!m_lastApplied)
        return;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->testAttribute(Qt::WA_WState_Created) && isTitledWindow(window) &&
            !isSettingsWindow(window))
            TaskbarPresence::setShown(window, !*m_lastApplied);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // Sent before the window is mapped, so it appears with the right state.
    if (event->type() == QEvent::Show && m_lastApplied && watched->isWidgetType()) {
        auto* window = static_cast<QWidget*>(watched);
        if (window->isWindow() && isTitledWindow(window) && !isSettingsWindow(window))
            TaskbarPresence::setShown(window, !*m_lastApplied);
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::closeWindowsForMenuBarOnly() {
    // Without a tray the program could not be opened again.
    if (!trayAvailable())
        return;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || !isTitledWindow(window) || isSettingsWindow(window))
            continue;
        window->close();
    }
}

void AppDelegate::showMainWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!isTitledWindow(window) ||
            !window->objectName().contains(QLatin1String("main"), Qt::CaseInsensitive))
            continue;
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    emit openMainWindowRequested();
}
