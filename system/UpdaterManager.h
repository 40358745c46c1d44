#pragma once

#include <QObject>

class QAction;

// Whether an update check can start now, for the "Check for Updates…"
// commands of the application menu and the tray.
class UpdaterManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    explicit UpdaterManager(QObject* parent = nullptr);

    bool canCheckForUpdates() const { return m_canCheck; }
    void checkForUpdates();

    // A "Check for Updates…" command, enabled while a check can start.
    QAction* makeCheckAction(QObject* parent);

signals:
    void canCheckForUpdatesChanged(bool canCheck);

private:
    bool m_canCheck = false;
};
