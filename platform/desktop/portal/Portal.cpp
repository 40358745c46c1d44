#include "platform/desktop/portal/Portal.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>
#include <QRandomGenerator>

namespace Portal {

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

QDBusConnection bus() { return QDBusConnection::sessionBus(); }

// org.freedesktop.portal.Session.Close of a session the portal gave.
QDBusMessage closeMessage(const QString& sessionHandle) {
    return QDBusMessage::createMethodCall(service, sessionHandle,
                                          QStringLiteral("org.freedesktop.portal.Session"),
                                          QStringLiteral("Close"));
}

// One call's Request object: hears its Response once, then goes.
class PendingRequest : public QObject {
    Q_OBJECT

public:
    PendingRequest(QObject* context, Done done) : QObject(context), m_done(std::move(done)) {}

    bool listen(const QString& requestPath) {
        if (requestPath == m_path) return true;
        if (!m_path.isEmpty())
            bus().disconnect(service, m_path, requestInterface, QStringLiteral("Response"), this,
                             SLOT(response(uint, QVariantMap)));
        m_path = requestPath;
        return bus().connect(service, m_path, requestInterface, QStringLiteral("Response"), this,
                             SLOT(response(uint, QVariantMap)));
    }

    void finish(uint code, const QVariantMap& results) {
        if (m_finished) return;
        m_finished = true;
        bus().disconnect(service, m_path, requestInterface, QStringLiteral("Response"), this,
                         SLOT(response(uint, QVariantMap)));
        // A copy: the callback may start the next request from here.
        const Done done = m_done;
        deleteLater();
        done(code, results);
    }

public slots:
    void response(uint code, const QVariantMap& results) { finish(code, results); }

private:
    Done m_done;
    QString m_path;
    bool m_finished = false;
};

// The unique name as a request path writes it: ":1.42" becomes "1_42".
QString senderPart() {
    QString name = bus().baseService();
    if (name.startsWith(QLatin1Char(':'))) name.remove(0, 1);
    return name.replace(QLatin1Char('.'), QLatin1Char('_'));
}

} // namespace

QString token() {
    return QStringLiteral("quillet%1").arg(QRandomGenerator::global()->generate64(), 0, 16);
}

bool serviceAbsent(const QDBusMessage& reply) {
    const QString error = reply.errorName();
    return error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

void request(const QString& interface, const QString& method, const QVariantList& arguments,
             QVariantMap options, QObject* context, Done done) {
    registerApplication();
    auto* pending = new PendingRequest(context, std::move(done));
    if (!bus().isConnected()) {
        QMetaObject::invokeMethod(pending, [pending] { pending->finish(failed, {}); },
                                  Qt::QueuedConnection);
        return;
    }
    const QString handleToken = token();
    options.insert(QStringLiteral("handle_token"), handleToken);
    pending->listen(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                        .arg(senderPart(), handleToken));
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(QVariantList(arguments) << options);
    auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(call), pending);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, pending,
                     [pending, watcher] {
                         watcher->deleteLater();
                         const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
                         if (reply.isError()) {
                             pending->finish(failed, {});
                             return;
                         }
                         // Portals before 0.9 chose the path themselves.
                         pending->listen(reply.value().path());
                     });
}

void version(const QString& interface, QObject* context, std::function<void(uint)> done) {
    if (!bus().isConnected()) {
        QMetaObject::invokeMethod(context, [done] { done(0); }, Qt::QueuedConnection);
        return;
    }
    registerApplication();
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(get), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        done(reply.isError() ? 0u : reply.value().variant().toUInt());
    });
}

QString sessionToken() { return QString(appID).replace(QLatin1Char('.'), QLatin1Char('_')); }

void closeSession(const QString& sessionHandle, QObject* context, std::function<void()> closed) {
    if (sessionHandle.isEmpty() || !bus().isConnected()) {
        QMetaObject::invokeMethod(context, [closed] { closed(); }, Qt::QueuedConnection);
        return;
    }
    auto* watcher =
        new QDBusPendingCallWatcher(bus().asyncCall(closeMessage(sessionHandle)), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, closed] {
        watcher->deleteLater();
        closed();
    });
}

void closeSession(const QString& sessionHandle) {
    if (sessionHandle.isEmpty() || !bus().isConnected()) return;
    // No answer is awaited, so none is asked for.
    bus().send(closeMessage(sessionHandle));
}

QString sessionHandle(const QVariantMap& results) {
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    if (handle.canConvert<QDBusObjectPath>() && handle.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return handle.value<QDBusObjectPath>().path();
    return handle.toString();
}

void registerApplication() {
    static bool registered = false;
    if (registered || !bus().isConnected()) return;
    registered = true;
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.host.portal.Registry"),
        QStringLiteral("Register"));
    call << appID << QVariantMap();
    // Sent before anything else on this connection, so it arrives first; the
    // answer is not needed.
    bus().send(call);
}

} // namespace Portal

#include "Portal.moc"
