#include "core/CorrectedClock.h"
#include "core/KeychainStore.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// A small HTTP server on 127.0.0.1 that answers every request with the
// configured status line and headers, and counts what it was asked.
class TimeServer : public QObject {
public:
    QByteArray statusLine = "HTTP/1.1 200 OK";
    QByteArray dateHeader; // empty: no Date header
    QStringList methods;

    TimeServer() {
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->readAll();
                    methods << QString::fromLatin1(request.left(request.indexOf(' ')));
                    QByteArray response = statusLine + "\r\n";
                    if (!dateHeader.isEmpty())
                        response += "Date: " + dateHeader + "\r\n";
                    response += "Content-Length: 0\r\nConnection: close\r\n\r\n";
                    socket->write(response);
                    socket->disconnectFromHost();
                });
        });
    }
    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()));
    }

private:
    QTcpServer server;
};

QByteArray httpDate(const QDateTime& t) {
    return QLocale::c().toString(t.toUTC(), "ddd, dd MMM yyyy HH:mm:ss").toLatin1() + " GMT";
}

} // namespace

class CorrectedClockTests : public QObject {
    Q_OBJECT

    std::shared_ptr<Keychain::MemoryBackend> memory;
    QDateTime device;

    void syncAndWait(bool force) {
        bool done = false;
        CorrectedClock::sync(force, [&] { done = true; });
        QTRY_VERIFY(done);
    }

private slots:
    void init() {
        memory = TestSupport::useMemoryKeychain();
        CorrectedClock::resetForTesting();
        device = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
        CorrectedClock::setDeviceClockForTesting([this] { return device; });
    }

    void defaultStateCorrectsNothing() {
        QCOMPARE(CorrectedClock::offset(), 0.0);
        const auto state = CorrectedClock::state();
        QVERIFY(state.enabled);
        QCOMPARE(state.measuredAt, CorrectedClock::State::distantPast());
        QCOMPARE(CorrectedClock::now(), device);
    }

    void offsetWindow_data() {
        QTest::addColumn<double>("measured");
        QTest::addColumn<double>("age");
        QTest::addColumn<double>("applied");
        QTest::newRow("4 s") << 4.0 << 0.0 << 4.0;
        QTest::newRow("-4 s") << -4.0 << 0.0 << -4.0;
        QTest::newRow("one day") << 86400.0 << 0.0 << 86400.0;
        QTest::newRow("minus one day") << -86400.0 << 0.0 << -86400.0;
        QTest::newRow("just under 4 s") << 3.999 << 0.0 << 0.0;
        QTest::newRow("just over a day") << 86400.001 << 0.0 << 0.0;
        QTest::newRow("12 hours old") << 30.0 << 43200.0 << 30.0;
        QTest::newRow("older than 12 hours") << 30.0 << 43200.5 << 0.0;
        QTest::newRow("60 s ahead") << 30.0 << -60.0 << 30.0;
        QTest::newRow("more than 60 s ahead") << 30.0 << -60.5 << 0.0;
    }
    void offsetWindow() {
        QFETCH(double, measured);
        QFETCH(double, age);
        QFETCH(double, applied);
        CorrectedClock::record(-measured, device.addMSecs(qint64(-age * 1000)));
        QCOMPARE(CorrectedClock::offset(), applied);
    }

    void disablingKeepsTheMeasurement() {
        CorrectedClock::record(-30, device);
        CorrectedClock::setEnabled(false);
        QCOMPARE(CorrectedClock::offset(), 0.0);
        QCOMPARE(KeychainStore::readClockState()->enabled, false);
        CorrectedClock::setEnabled(true);
        QCOMPARE(CorrectedClock::offset(), 30.0);
        QCOMPARE(CorrectedClock::now(), device.addSecs(30));
    }

    void stateIsStoredAndReadOncePerProcess() {
        CorrectedClock::record(10, device);
        const auto stored = KeychainStore::readClockState();
        QVERIFY(stored);
        QCOMPARE(stored->offset, -10.0);
        QCOMPARE(stored->measuredAt, device);

        // A new process reads it back.
        CorrectedClock::resetForTesting();
        QCOMPARE(CorrectedClock::offset(), -10.0);
        // Later changes by another process are not seen by this one.
        KeychainStore::saveClockState({50, device, true});
        QCOMPARE(CorrectedClock::offset(), -10.0);
    }

    // A keyring that cannot be read yet (locked) is no stored state: the
    // switch's change is refused, nothing is written over what is stored,
    // and the stored state is read once the keyring opens.
    void aLockedKeyringIsReadAgainLater() {
        KeychainStore::saveClockState({-20, device, false});
        CorrectedClock::resetForTesting();
        CorrectedClock::loadOnlyWhenNeeded();
        using Op = Keychain::MemoryBackend::Operation;
        memory->failWith(Op::copyMatching, Keychain::interactionNotAllowed);
        CorrectedClock::load();
        QVERIFY(!CorrectedClock::setEnabled(true));
        memory->failWith(Op::copyMatching, Keychain::success);
        QCOMPARE(KeychainStore::readClockState()->enabled, false);
        CorrectedClock::load();
        QCOMPARE(CorrectedClock::state().enabled, false);
        QCOMPARE(CorrectedClock::state().offset, -20.0);

        memory->failWith(Op::update, Keychain::interactionNotAllowed);
        QVERIFY(!CorrectedClock::setEnabled(true));
        QVERIFY(!CorrectedClock::state().enabled); // not as if saved
        memory->failWith(Op::update, Keychain::success);
        QVERIFY(CorrectedClock::setEnabled(true));
        QVERIFY(KeychainStore::readClockState()->enabled);
    }

    void partialRecordIsIgnored() {
        Keychain::Item item;
        item.service = KeychainStore::service;
        item.account = KeychainStore::clockStateAccount;
        item.accessGroup = KeychainStore::sharedAccessGroup;
        item.dataProtection = true;
        item.data = R"({"offset": 30, "measuredAt": "2026-12-08T12:00:00Z"})";
        memory->items().append(item);
        QVERIFY(!KeychainStore::readClockState());
        const auto state = CorrectedClock::state();
        QCOMPARE(state.offset, 0.0);
        QVERIFY(state.enabled);
    }

    void throttle() {
        QVERIFY(CorrectedClock::shouldAttempt(false)); // first of the process
        device = device.addSecs(119);
        QVERIFY(!CorrectedClock::shouldAttempt(false));
        device = device.addSecs(1);
        QVERIFY(CorrectedClock::shouldAttempt(false));
        QVERIFY(CorrectedClock::shouldAttempt(true)); // forced always, and restamps
        device = device.addSecs(119);
        QVERIFY(!CorrectedClock::shouldAttempt(false));
        // Clock set back an hour: refused until the stamp plus 120 s passes.
        const QDateTime stamp = device.addSecs(-119);
        device = device.addSecs(-3600);
        QVERIFY(!CorrectedClock::shouldAttempt(false));
        device = stamp.addSecs(120);
        QVERIFY(CorrectedClock::shouldAttempt(false));
    }

    void measuresAgainstTheServersDateHeader() {
        TimeServer server;
        CorrectedClock::setTimeReferenceURL(server.url());
        server.dateHeader = httpDate(device.addSecs(-10));
        syncAndWait(false);
        QCOMPARE(server.methods, QStringList({"HEAD"}));
        QCOMPARE(CorrectedClock::state().offset, -10.0);
        QCOMPARE(CorrectedClock::offset(), -10.0);
        QCOMPARE(CorrectedClock::now(), device.addSecs(-10));
        QCOMPARE(KeychainStore::readClockState()->offset, -10.0);

        // Throttled: no second request within 120 s unless forced.
        server.dateHeader = httpDate(device.addSecs(100));
        syncAndWait(false);
        QCOMPARE(server.methods.size(), 1);
        syncAndWait(true);
        QCOMPARE(server.methods.size(), 2);
        QCOMPARE(CorrectedClock::offset(), 100.0);

        // An HTTP error page still carries the server's clock.
        server.statusLine = "HTTP/1.1 404 Not Found";
        server.dateHeader = httpDate(device.addSecs(7));
        syncAndWait(true);
        QCOMPARE(CorrectedClock::offset(), 7.0);
    }

    void failedMeasurementsChangeNothing() {
        TimeServer server;
        CorrectedClock::setTimeReferenceURL(server.url());
        CorrectedClock::record(-20, device);
        const auto before = CorrectedClock::state();

        server.dateHeader.clear();
        syncAndWait(true);
        server.dateHeader = "yesterday at noon";
        syncAndWait(true);
        server.dateHeader = "Tue, 32 Dec 2026 12:00:00 GMT";
        syncAndWait(true);
        QCOMPARE(server.methods.size(), 3);

        // Nothing listens here any more: a transport error.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        CorrectedClock::setTimeReferenceURL(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
        syncAndWait(true);

        QCOMPARE(CorrectedClock::state(), before);
        QCOMPARE(KeychainStore::readClockState(), before);
        // The failed attempt still holds the next unforced one off.
        CorrectedClock::setTimeReferenceURL(server.url());
        syncAndWait(false);
        QCOMPARE(server.methods.size(), 3);
    }

    void httpDates() {
        QCOMPARE(CorrectedClock::parseHttpDate("Tue, 08 Dec 2026 21:50:07 GMT"),
                 QDateTime(QDate(2026, 12, 8), QTime(21, 50, 7), Qt::UTC));
        QVERIFY(!CorrectedClock::parseHttpDate("Tue, 8 Dec 2026 21:50:07 GMT"));
        QVERIFY(!CorrectedClock::parseHttpDate("Tue, 08 Dec 2026 25:50:07 GMT"));
        QVERIFY(!CorrectedClock::parseHttpDate("2026-12-08T21:50:07Z"));
    }
};

QUILLET_TEST_GUILESS_MAIN(CorrectedClockTests)
#include "CorrectedClockTests.moc"
