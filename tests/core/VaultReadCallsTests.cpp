// The keyring calls of a start with 500 accounts in the real gnome-keyring of
// tests/with-session.sh, counted by a monitor on its private bus.
#include "core/AccountStore.h"
#include "core/KeychainStore.h"
#include "platform/keychain/KeychainSecretService.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

namespace {

constexpr int accountCount = 500;

// dbus-send on the private session bus, waiting for the reply.
bool busSend(const QStringList& arguments) {
    QProcess send;
    send.start(QStringLiteral("dbus-send"),
               QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply")} + arguments);
    return send.waitForFinished() && send.exitStatus() == QProcess::NormalExit &&
           send.exitCode() == 0;
}

// The method calls on the private bus, as dbus-monitor prints them.
class BusMonitor {
public:
    BusMonitor() {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral("dbus-monitor"),
                        {QStringLiteral("--session"), QStringLiteral("type='method_call'")});
        QVERIFY(m_process.waitForStarted());
        mark(); // the monitor is listening once it prints its own marker
    }
    ~BusMonitor() {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Waits until every call made so far has been printed.
    void mark() {
        const QString token = QStringLiteral("mark%1").arg(++m_marks);
        // Sent again while unseen: a monitor that has only just started may
        // not be listening yet when the first one goes out.
        for (int attempt = 0; attempt < 40; ++attempt) {
            QVERIFY(busSend({QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/"),
                             QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                             QStringLiteral("string:") + token}));
            for (int wait = 0; wait < 10; ++wait) {
                if ((m_output += m_process.readAllStandardOutput()).contains(token.toUtf8()))
                    return;
                m_process.waitForReadyRead(50);
            }
        }
        QFAIL("dbus-monitor never printed the marker call");
    }

    // The calls of that member printed since the last clear(), each with
    // its arguments.
    QList<QByteArray> take(const QByteArray& interface, const QByteArray& member) {
        mark();
        QList<QByteArray> calls;
        const QByteArray wanted = "interface=" + interface + "; member=" + member;
        qsizetype at = m_output.indexOf("method call");
        while (at >= 0) {
            const qsizetype next = m_output.indexOf("\nmethod call", at);
            const QByteArray call = m_output.mid(at, next < 0 ? -1 : next - at);
            if (call.left(call.indexOf('\n')).endsWith(wanted))
                calls.append(call);
            at = next < 0 ? -1 : next + 1;
        }
        return calls;
    }
    void clear() {
        mark();
        m_output.clear();
    }

private:
    QProcess m_process;
    QByteArray m_output;
    int m_marks = 0;
};

QByteArray pathOf(const QByteArray& call) {
    static const QRegularExpression path(QStringLiteral(" path=([^;]+);"));
    return path.match(QString::fromUtf8(call)).captured(1).toUtf8();
}

} // namespace

class VaultReadCallsTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("QUILLET_TEST_SESSION"),
                 "run through tests/with-session.sh");
        // The in-memory session collection takes the items: gnome-keyring
        // writes no file for them, so seeding 500 takes a moment, not minutes.
        QVERIFY(busSend({QStringLiteral("--dest=org.freedesktop.secrets"),
                         QStringLiteral("/org/freedesktop/secrets"),
                         QStringLiteral("org.freedesktop.Secret.Service.SetAlias"),
                         QStringLiteral("string:default"),
                         QStringLiteral("objpath:/org/freedesktop/secrets/collection/session")}));
        openVault();
        Keychain::setBackend(std::make_shared<Keychain::SecretServiceBackend>());
        QList<Account> accounts;
        for (int i = 0; i < accountCount; ++i)
            accounts.append(TestSupport::makeAccount(QStringLiteral("Service %1").arg(i),
                                                     QStringLiteral("user%1").arg(i)));
        QList<QUuid> order;
        for (const Account& account : std::as_const(accounts))
            order.append(account.id);
        for (const auto& error : KeychainStore::saveAll(accounts, order))
            QVERIFY(!error);
        // A first start: the one-time moves are done and marked.
        openStore();
        QCOMPARE(store->accounts().size(), accountCount);
        store.reset();
    }

    // A start reads the vault with one search and one read of the secrets,
    // and each item's attributes once; the window's activation during that
    // read, and one after it while nothing changed, read nothing again.
    void oneStartReadsTheVaultOnce() {
        Keychain::SecretServiceBackend::forgetReadAttributes(); // as in a new process
        KeychainStore::resetMigrationFlagForTesting();
        BusMonitor monitor;
        openStore({}, AccountStore::Opening::inBackground);
        store->setDelaysForTesting(0, 1000);
        store->applicationBecameActive(); // while the first read is under way
        QTRY_COMPARE(store->vaultState(), AccountStore::VaultState::open);
        QCOMPARE(store->accounts().size(), accountCount);
        QSignalSpy reloads(store.get(), &AccountStore::reloaded);
        QTest::qWait(100);
        QCOMPARE(reloads.size(), 0);

        const QList<QByteArray> searches =
            monitor.take("org.freedesktop.Secret.Service", "SearchItems");
        const QList<QByteArray> vaultSearches = [&] {
            QList<QByteArray> out; // those not narrowed to one item by its name
            for (const QByteArray& call : searches)
                if (!call.contains("string \"account\""))
                    out.append(call);
            return out;
        }();
        QCOMPARE(vaultSearches.size(), 1);
        QVERIFY2(searches.size() <= 3, "the vault, the old vault item and the move's marker");
        QCOMPARE(monitor.take("org.freedesktop.Secret.Service", "GetSecrets").size(), 1);
        // Whether the keyring is open is asked once: the questions whose
        // answer is "none" (the one-time moves) do not ask again.
        QCOMPARE(monitor.take("org.freedesktop.Secret.Service", "ReadAlias").size(), 1);
        const QList<QByteArray> reads = monitor.take("org.freedesktop.DBus.Properties", "Get");
        QSet<QByteArray> itemsRead;
        for (const QByteArray& call : reads) {
            const QByteArray path = pathOf(call);
            if (!path.contains("/collection/"))
                continue;
            QVERIFY2(!itemsRead.contains(path), "an item's attributes were read twice");
            itemsRead.insert(path);
        }
        QVERIFY(itemsRead.size() >= accountCount);

        // Focus comes back with nothing changed: no call at all.
        monitor.clear();
        store->applicationBecameActive();
        QTRY_COMPARE(reloads.size(), 1);
        QVERIFY(monitor.take("org.freedesktop.Secret.Service", "SearchItems").isEmpty());
        QVERIFY(monitor.take("org.freedesktop.Secret.Service", "GetSecrets").isEmpty());

        // Another program changes an account: the next activation reads it,
        // fetching the changed item's attributes again and no others.
        Account changed = store->accounts().at(7);
        changed.note = QStringLiteral("changed elsewhere");
        KeychainStore::saveAccount(changed);
        monitor.clear();
        store->applicationBecameActive();
        QTRY_COMPARE(reloads.size(), 2);
        QCOMPARE(store->accounts().at(7).note, changed.note);
        QCOMPARE(monitor.take("org.freedesktop.Secret.Service", "GetSecrets").size(), 1);
        QVERIFY(monitor.take("org.freedesktop.DBus.Properties", "Get").size() <= 2);
        store.reset();
    }
};

QUILLET_TEST_GUILESS_MAIN(VaultReadCallsTests)
#include "VaultReadCallsTests.moc"
