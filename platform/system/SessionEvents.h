#pragma once

#include <QObject>
#include <QString>

// What the desktop session announces about itself that the app lock follows:
// the screen locking and the computer going to sleep.
//
// Sources: the screen saver's ActiveChanged(true) on the session bus (the
// freedesktop interface, and GNOME's own, which GNOME Shell sends instead);
// on the system bus, logind's Lock signal for this session (what
// "loginctl lock-session" and most desktops' lock actions send) and
// PrepareForSleep(true). The buses are the ones libdbus finds, so
// DBUS_SESSION_BUS_ADDRESS and DBUS_SYSTEM_BUS_ADDRESS point it elsewhere.
// A bus or service that is missing only means that its events never come.
class SessionEvents : public QObject {
    Q_OBJECT

public:
    explicit SessionEvents(QObject* parent = nullptr);

    // The logind session whose Lock signal is followed: the object path, once
    // logind has named it ($XDG_SESSION_ID, else the caller's own session);
    // empty before and when there is none.
    QString sessionPath() const { return m_sessionPath; }

signals:
    void screenLocked();
    void willSleep();
    // sessionPath() has been found and its Lock signal is followed.
    void sessionWatched();

private slots:
    void screenSaverActiveChanged(bool active);
    void prepareForSleep(bool start);
    void sessionLocked();

private:
    void findSession();

    QString m_sessionPath;
};
