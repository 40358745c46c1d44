#include "platform/system/SessionEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <unistd.h>

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString login1Session = QStringLiteral("org.freedesktop.login1.Session");

} // namespace

SessionEvents::SessionEvents(QObject* parent) : QObject(parent) {
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        // Any sender and any path: KDE and others serve the freedesktop
        // interface under /ScreenSaver and /org/freedesktop/ScreenSaver.
        for (const QString& interface :
             {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver")})
            session.connect(QString(), QString(), interface, QStringLiteral("ActiveChanged"), this,
                            SLOT(screenSaverActiveChanged(bool)));
    }
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        system.connect(login1, login1Path, login1Manager, QStringLiteral("PrepareForSleep"), this,
                       SLOT(prepareForSleep(bool)));
        findSession();
    }
}

void SessionEvents::findSession() {
    // Asked without waiting: logind may be slow to answer, or absent.
    const QString id = qEnvironmentVariable("XDG_SESSION_ID");
    QDBusMessage call;
    if (!id.isEmpty()) {
        call = QDBusMessage::createMethodCall(login1, login1Path, login1Manager,
                                              QStringLiteral("GetSession"));
        call << id;
    } else {
        call = QDBusMessage::createMethodCall(login1, login1Path, login1Manager,
                                              QStringLiteral("GetSessionByPID"));
        call << quint32(::getpid());
    }
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) return;
        const QString path = reply.value().path();
        if (path.isEmpty()) return;
        if (!QDBusConnection::systemBus().connect(login1, path, login1Session,
                                                  QStringLiteral("Lock"), this,
                                                  SLOT(sessionLocked())))
            return;
        m_sessionPath = path;
        emit sessionWatched();
    });
}

void SessionEvents::screenSaverActiveChanged(bool active) {
    if (active) emit screenLocked();
}

void SessionEvents::prepareForSleep(bool start) {
    // The same signal says false when the computer has woken up again.
    if (start) emit willSleep();
}

void SessionEvents::sessionLocked() { emit screenLocked(); }
