#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <memory>

class AppLockMac;
class SerialQueue;
class UserDefaults;

// One account on the bus: (identifier, title).
struct CodesBusEntity {
    QString identifier;
    QString title;
};
Q_DECLARE_METATYPE(CodesBusEntity)

QDBusArgument& operator<<(QDBusArgument& argument, const CodesBusEntity& entity);
const QDBusArgument& operator>>(const QDBusArgument& argument, CodesBusEntity& entity);

// "Get Authenticator Code" on the session bus, as the interface
// com.tarnwick.Quillet.Codes of the program's object:
//
//   Suggested() -> a(ss)            every active account (identifier, title)
//   Entities(as) -> a(ss)           those of the given identifiers, stored order
//   DefaultResult() -> a(ss)        the first account, or nothing
//   GetCode(s) -> (s code, s dialog) copies the code, says so in the dialog
//
// Errors: com.tarnwick.Quillet.Error.NeedsValue "Which account?" for an
// identifier that names no active account; com.tarnwick.Quillet.Error.Locked
// "Quillet is locked." while the app lock is closed (nothing is listed or
// copied then); com.tarnwick.Quillet.Error.Keychain with the keychain's
// message when the accounts cannot be read (an unreadable keychain is not an
// empty one); com.tarnwick.Quillet.Error.NoCode when the account's stored
// values make no code (nothing is copied then); com.tarnwick.Quillet.Error.Busy
// "Quillet is busy." at once for a call beyond the few already in flight.
//
// The keychain is read on a thread of the adaptor's own, one call after
// another, so the program's windows keep answering while the keyring works
// or asks; the reply follows when it is done. At most maximumInFlight calls
// wait or run, so a flood of calls neither holds memory nor delays a real
// caller for longer than those few reads; a call whose caller has left the
// bus, or has waited longer than a caller's reply timeout, reads and copies
// nothing.
class CodesBusAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tarnwick.Quillet.Codes")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"com.tarnwick.Quillet.Codes\">\n"
                "    <method name=\"Suggested\">\n"
                "      <arg name=\"accounts\" type=\"a(ss)\" direction=\"out\"/>\n"
                "      <annotation name=\"org.qtproject.QtDBus.QtTypeName.Out0\" "
                "value=\"QList&lt;CodesBusEntity&gt;\"/>\n"
                "    </method>\n"
                "    <method name=\"Entities\">\n"
                "      <arg name=\"identifiers\" type=\"as\" direction=\"in\"/>\n"
                "      <arg name=\"accounts\" type=\"a(ss)\" direction=\"out\"/>\n"
                "      <annotation name=\"org.qtproject.QtDBus.QtTypeName.Out0\" "
                "value=\"QList&lt;CodesBusEntity&gt;\"/>\n"
                "    </method>\n"
                "    <method name=\"DefaultResult\">\n"
                "      <arg name=\"accounts\" type=\"a(ss)\" direction=\"out\"/>\n"
                "      <annotation name=\"org.qtproject.QtDBus.QtTypeName.Out0\" "
                "value=\"QList&lt;CodesBusEntity&gt;\"/>\n"
                "    </method>\n"
                "    <method name=\"GetCode\">\n"
                "      <arg name=\"identifier\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"code\" type=\"s\" direction=\"out\"/>\n"
                "      <arg name=\"dialog\" type=\"s\" direction=\"out\"/>\n"
                "    </method>\n"
                "  </interface>\n")

public:
    inline static const QString interfaceName = QStringLiteral("com.tarnwick.Quillet.Codes");
    inline static const QString needsValueError =
        QStringLiteral("com.tarnwick.Quillet.Error.NeedsValue");
    inline static const QString noCodeError = QStringLiteral("com.tarnwick.Quillet.Error.NoCode");
    inline static const QString lockedError = QStringLiteral("com.tarnwick.Quillet.Error.Locked");
    inline static const QString keychainError =
        QStringLiteral("com.tarnwick.Quillet.Error.Keychain");
    inline static const QString busyError = QStringLiteral("com.tarnwick.Quillet.Error.Busy");
    // Calls being read or waiting to be; a further one is answered busy.
    static constexpr int maximumInFlight = 4;
    // D-Bus's default reply timeout: a caller waiting longer has, as a rule,
    // given up, and its code would land on the clipboard for nobody.
    static constexpr int callerPatienceMs = 25000;

    // Lives as a child of the object registered on `bus` (with
    // QDBusConnection::ExportAdaptors), and answers there.
    CodesBusAdaptor(QObject* object, const QDBusConnection& bus, UserDefaults& defaults,
                    const AppLockMac& lock);
    ~CodesBusAdaptor() override;

    static QString lockedMessage();
    static QString busyMessage();

public slots:
    // The call itself comes last among the inputs (the bus does not see
    // it): every answer is sent later, once the keychain was read.
    QList<CodesBusEntity> Suggested(const QDBusMessage& call);
    QList<CodesBusEntity> Entities(const QStringList& identifiers, const QDBusMessage& call);
    QList<CodesBusEntity> DefaultResult(const QDBusMessage& call);
    QString GetCode(const QString& identifier, const QDBusMessage& call, QString& dialog);

private:
    enum class Request { suggested, entities, defaultResult, getCode };
    // Reads the accounts off the GUI thread and answers the call.
    void answerLater(const QDBusMessage& call, Request request, const QStringList& arguments);
    bool isLocked() const;

    QDBusConnection m_bus;
    UserDefaults& m_defaults;
    const AppLockMac& m_lock;
    int m_inFlight = 0; // GUI thread
    // Last: its thread finishes the reads under way before the rest goes.
    std::unique_ptr<SerialQueue> m_reads;
};
