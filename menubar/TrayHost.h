#pragma once

#include <QObject>
#include <QPointer>

class QSystemTrayIcon;
class QWidget;
class UpdaterManager;

// The tray icon and the panel it opens, placed at the icon. The panel's own
// account list comes later; for now it offers the program's commands.
class TrayHost : public QObject {
    Q_OBJECT

public:
    explicit TrayHost(UpdaterManager& updater, QObject* parent = nullptr);

    // False on a desktop without a tray (a bare X server).
    static bool isAvailable();
    bool isShown() const;
    QWidget* panel() const { return m_panel; }
    void togglePanel();

signals:
    void openMainWindowRequested();
    void settingsRequested();
    void quitRequested();
    void appeared();

private:
    QWidget* buildPanel();

    UpdaterManager& m_updater;
    QSystemTrayIcon* m_icon = nullptr;
    QPointer<QWidget> m_panel;
};
