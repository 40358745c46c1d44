// Passkey items in a real gnome-keyring (the private session of
// tests/with-session.sh): what one process saves, another reads.
#include "autofill/PasskeyStore.h"
#include "platform/keychain/KeychainSecretService.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QtTest>

namespace {

PasskeyRecord record(int n, const QByteArray& handle, qint64 createdAtMs) {
    return {QByteArray(32, char(n)), QStringLiteral("example.com"),
            QStringLiteral("user %1").arg(n), handle, QByteArray(32, char(0x40 + n)),
            QDateTime::fromMSecsSinceEpoch(createdAtMs, Qt::UTC)};
}

} // namespace

class PasskeyKeyringTests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_SESSION"))
            QFAIL("run through tests/with-session.sh");
        QVERIFY(Keychain::SecretServiceBackend::isAvailable());
        Keychain::setBackend(std::make_shared<Keychain::SecretServiceBackend>());
    }

    void savedByOneProcessReadByAnother() {
        QCOMPARE(TestSupport::runSelf({"--child-save"}), 0);
        // Newest first, as listed here.
        const QList<PasskeyRecord> all = PasskeyStore::loadAll();
        const QList<PasskeyRecord> expected = {record(3, "h", 3000), record(2, "h", 2000),
                                               record(1, "other", 1000)};
        QCOMPARE(all, expected);
        QCOMPARE(PasskeyStore::find(QByteArray(32, char(2))), record(2, "h", 2000));
        QCOMPARE(PasskeyStore::findForUser("example.com", "h").size(), 2);

        // And the other way round: saved here, replaced there, read here.
        PasskeyStore::save(record(4, "h", 4000));
        QByteArray output;
        QCOMPARE(TestSupport::runSelf({"--child-replace"}, &output), 0);
        const auto replaced = PasskeyStore::find(QByteArray(32, char(4)));
        QVERIFY(replaced);
        QCOMPARE(replaced->userName, "renamed");
        QCOMPARE(PasskeyStore::loadAll().size(), 4);
    }

    void replacementKeepsTheLabel() {
        Keychain::Query query = PasskeyStore::baseQuery();
        query.account = record(4, "h", 0).itemAccount();
        query.returnAttributes = true;
        query.returnData = true;
        query.matchLimit = Keychain::Query::MatchLimit::all;
        Keychain::Results results;
        QCOMPARE(Keychain::copyMatching(query, &results), Keychain::success);
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().label, "example.com \u2014 user 4");
        QVERIFY(results.first().synchronizable);
        QCOMPARE(results.first().accessible, Keychain::Accessibility::whenUnlocked);
    }

    void removeDeletesFromTheKeyring() {
        QTemporaryDir dir;
        CredentialIdentityStore identities(dir.filePath("identities.json"));
        PasskeyStore::remove(record(4, "h", 0), identities);
        QVERIFY(!PasskeyStore::find(QByteArray(32, char(4))));
        QByteArray output;
        QCOMPARE(TestSupport::runSelf({"--child-count"}, &output), 0);
        QCOMPARE(output.trimmed(), "3");
    }
};

int child(const QString& mode) {
    Keychain::setBackend(std::make_shared<Keychain::SecretServiceBackend>());
    try {
        if (mode == QLatin1String("--child-save")) {
            for (const PasskeyRecord& r :
                 {record(1, "other", 1000), record(3, "h", 3000), record(2, "h", 2000)})
                PasskeyStore::save(r);
        } else if (mode == QLatin1String("--child-replace")) {
            auto r = PasskeyStore::find(QByteArray(32, char(4)));
            if (!r)
                return 2;
            r->userName = QStringLiteral("renamed");
            PasskeyStore::save(*r);
        } else {
            std::printf("%lld\n", qint64(PasskeyStore::loadAll().size()));
        }
    } catch (const PasskeyStore::Error& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]).startsWith("--child-"))
        return child(app.arguments().at(1));
    TestSupport::Guarded<PasskeyKeyringTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "PasskeyKeyringTests.moc"
