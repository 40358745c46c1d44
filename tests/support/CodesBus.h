#pragma once

// The codes action on the session bus as a script calls it (gdbus), and the
// object the program puts there for it. The test program answers the calls
// itself, so a call runs its event loop while it waits.

#include "core/Account.h"
#include "system/AppLockMac.h"
#include "system/CodesBusAdaptor.h"
#include "tests/support/TestMain.h"

#include <QDBusConnection>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace TestSupport::CodesBus {

inline const QString name = QStringLiteral("com.tarnwick.Quillet");
inline const QString path = QStringLiteral("/Quillet");

struct Answer {
    int exitCode = -1; // -1 also when gdbus crashed or did not end
    QString out;
    QString error;
    // The quoted strings of the reply, in order.
    QStringList strings() const {
        QStringList found;
        static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
        for (const QRegularExpressionMatch& match : quoted.globalMatch(out))
            found << match.captured(1);
        return found;
    }
};

// One call of a method of the codes interface through gdbus.
inline Answer call(const QString& method, const QStringList& arguments = {}) {
    QProcess process;
    process.start(QStringLiteral("gdbus"),
                  QStringList{"call", "--session", "--dest", name, "--object-path", path,
                              "--method", "com.tarnwick.Quillet.Codes." + method} +
                      arguments);
    const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; },
                                       QUILLET_TEST_WAIT_MS);
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
            QString::fromUtf8(process.readAllStandardError()).trimmed()};
}

// An account as the action names it.
inline QString id(const Account& account) {
    return account.id.toString(QUuid::WithoutBraces).toUpper();
}

// The object the program puts on the bus, with the action's adaptor, for as
// long as it lives.
struct Endpoint {
    QObject object;
    bool registered = false;
    Endpoint(UserDefaults& defaults, const AppLockMac& lock) {
        new CodesBusAdaptor(&object, QDBusConnection::sessionBus(), defaults, lock);
        registered = QDBusConnection::sessionBus().registerObject(path, &object,
                                                                  QDBusConnection::ExportAdaptors);
    }
    ~Endpoint() { QDBusConnection::sessionBus().unregisterObject(path); }
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;
};

} // namespace TestSupport::CodesBus
