#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>

// The desktop portals (org.freedesktop.portal.*), which a Wayland session
// offers in place of what X11 lets every client do: global hotkeys, synthetic
// keys, screen pictures. Shared plumbing of the layers that use them. All
// calls on the GUI thread; nothing here waits for an answer.
namespace Portal {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
// The name the desktop knows us by: the desktop entry's.
inline const QString appID = QStringLiteral("com.tarnwick.Quillet");

// A request's answer: 0 done, 1 refused by the user, 2 anything else (also
// a call the portal did not take, or a portal that is not there).
enum Response : uint { success = 0, cancelled = 1, failed = 2 };

using Done = std::function<void(uint response, const QVariantMap& results)>;

// Calls `method` of `interface` with `arguments` followed by `options`, to
// which a fresh handle_token is added, and hands the Request's Response to
// `done` once. The Response signal is subscribed to before the call goes out
// (a fast portal may answer before the call returns). `done` never runs when
// `context` is gone by then.
void request(const QString& interface, const QString& method, const QVariantList& arguments,
             QVariantMap options, QObject* context, Done done);

// The interface's "version" property; 0 when the portal or the interface is
// missing (or the bus is). `done` never runs when `context` is gone.
void version(const QString& interface, QObject* context, std::function<void(uint)> done);

// A fresh token for handle_token and session_handle_token.
QString token();

// Whether a call's error says that nobody serves the name called: the
// service does not run (and so holds nothing of ours).
bool serviceAbsent(const QDBusMessage& reply);

// The program's own session_handle_token, the same on every start: the app
// id as a token may write it ("com_tarnwick_Quillet"). A desktop that cannot
// tell which program calls (xdg-desktop-portal before 1.19.4, outside a
// sandbox) may know the program's sessions by it alone. One session at a
// time may carry it.
QString sessionToken();

// Closes a session the portal gave (org.freedesktop.portal.Session.Close);
// nothing for an empty handle.
void closeSession(const QString& sessionHandle);
// The same, and `closed` runs once the portal answered (or could not be
// asked), unless `context` is gone by then.
void closeSession(const QString& sessionHandle, QObject* context, std::function<void()> closed);

// The session handle a CreateSession answer carries (a string or an object
// path, depending on the portal's version).
QString sessionHandle(const QVariantMap& results);

// Tells a host-app registry (xdg-desktop-portal 1.19.4 and later) our app
// id, once per process and before any other portal call, so that the
// desktop's dialogs and stored permissions name this program. Frontends
// without the registry answer an error, which is ignored.
void registerApplication();

} // namespace Portal
