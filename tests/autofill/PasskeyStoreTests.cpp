// The credential provider's passkey items: created, replaced, found and
// deleted with their identities.
#include "autofill/PasskeyStore.h"
#include "tests/support/TestMain.h"

#include <QTemporaryDir>
#include <QtTest>

using Keychain::MemoryBackend;

namespace {

PasskeyRecord record(char id, const QString& rpId, const QByteArray& handle, qint64 createdAtMs,
                     const QString& user = QStringLiteral("alice")) {
    return {QByteArray(32, id), rpId, user, handle, QByteArray(32, '\x07'),
            QDateTime::fromMSecsSinceEpoch(createdAtMs, Qt::UTC)};
}

} // namespace

class PasskeyStoreTests : public QObject {
    Q_OBJECT

    std::shared_ptr<MemoryBackend> memory;
    QTemporaryDir dir;

private slots:
    void init() {
        memory = std::make_shared<MemoryBackend>();
        Keychain::setBackend(memory);
    }

    void saveCreatesOneItem() {
        const PasskeyRecord r = record('\x01', "example.com", "h", 1000);
        PasskeyStore::save(r);
        QCOMPARE(memory->items().size(), 1);
        const Keychain::Item& item = memory->items().first();
        QCOMPARE(item.service, "com.tarnwick.Quillet.passkeys.v1");
        QCOMPARE(item.account, QString::fromLatin1(QByteArray(32, '\x01').toBase64()));
        QCOMPARE(item.account.size(), 44);
        QVERIFY(item.account.endsWith('=') && !item.account.endsWith("=="));
        QCOMPARE(item.label, "example.com \u2014 alice");
        QCOMPARE(item.accessible, Keychain::Accessibility::whenUnlocked);
        QVERIFY(item.synchronizable);
        QVERIFY(item.dataProtection);
        QCOMPARE(item.accessGroup, "Q4T7W2M9K3.com.tarnwick.Ossory");
        QCOMPARE(PasskeyRecord::fromJson(item.data), r);
    }

    void saveAgainReplacesOnlyTheData() {
        const PasskeyRecord first = record('\x02', "example.com", "h", 1000);
        PasskeyStore::save(first);
        PasskeyRecord second = first;
        second.userName = QStringLiteral("alice@new");
        second.createdAt = second.createdAt.addSecs(60);
        PasskeyStore::save(second);
        QCOMPARE(memory->items().size(), 1);
        QCOMPARE(memory->items().first().label, "example.com \u2014 alice");
        QCOMPARE(PasskeyStore::find(first.credentialID), second);
    }

    void labelOfAnEmptyUserName() {
        PasskeyStore::save(record('\x03', "example.com", "h", 0, QString()));
        QCOMPARE(memory->items().first().label, "example.com \u2014 ");
    }

    void saveReportsTheKeychainStatus() {
        memory->failWith(MemoryBackend::Operation::add, Keychain::ioError);
        try {
            PasskeyStore::save(record('\x04', "example.com", "h", 0));
            QFAIL("a failed write looked saved");
        } catch (const PasskeyStore::Error& error) {
            QCOMPARE(error.status(), qint32(Keychain::ioError));
        }
        memory->failWith(MemoryBackend::Operation::add, Keychain::success);
        PasskeyStore::save(record('\x04', "example.com", "h", 0));
        memory->failWith(MemoryBackend::Operation::update, Keychain::interactionNotAllowed);
        try {
            PasskeyStore::save(record('\x04', "example.com", "h", 5));
            QFAIL("a failed replacement looked saved");
        } catch (const PasskeyStore::Error& error) {
            QCOMPARE(error.status(), qint32(Keychain::interactionNotAllowed));
        }
        QCOMPARE(PasskeyStore::find(QByteArray(32, '\x04'))->createdAt.toMSecsSinceEpoch(), 0);
    }

    void findsDeviceOnlyItems() {
        const PasskeyRecord r = record('\x05', "example.com", "h", 0);
        Keychain::Item item;
        item.service = PasskeyStore::service;
        item.account = r.itemAccount();
        item.accessGroup = QStringLiteral("Q4T7W2M9K3.com.tarnwick.Quillet");
        item.synchronizable = false;
        item.dataProtection = true;
        item.data = r.toJson();
        memory->items().append(item);
        QCOMPARE(PasskeyStore::find(r.credentialID), r);
        QCOMPARE(PasskeyStore::loadAll(), QList<PasskeyRecord>{r});
    }

    void findGivesNothingOnAnyFailure() {
        const PasskeyRecord r = record('\x06', "example.com", "h", 0);
        QVERIFY(!PasskeyStore::find(r.credentialID));
        PasskeyStore::save(r);
        memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::interactionNotAllowed);
        QVERIFY(!PasskeyStore::find(r.credentialID));
        memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::success);
        memory->items().first().data = "{}";
        QVERIFY(!PasskeyStore::find(r.credentialID));
    }

    void findForUserMatchesExactly() {
        const PasskeyRecord older = record('a', "example.com", "user-1", 1000);
        const PasskeyRecord newer = record('b', "example.com", "user-1", 2000);
        for (const PasskeyRecord& r :
             {older, newer, record('c', "example.com", "user-2", 3000),
              record('d', "Example.com", "user-1", 4000), record('e', "other.com", "user-1", 5000)})
            PasskeyStore::save(r);
        const QList<PasskeyRecord> expected = {newer, older};
        QCOMPARE(PasskeyStore::findForUser("example.com", "user-1"), expected);
        QCOMPARE(PasskeyStore::findForUser("example.com", "user-3"), QList<PasskeyRecord>());
        QCOMPARE(PasskeyStore::findForUser("example.com", QByteArray("user-1").left(5) + '2'),
                 QList<PasskeyRecord>{record('c', "example.com", "user-2", 3000)});
        memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::interactionNotAllowed);
        QCOMPARE(PasskeyStore::findForUser("example.com", "user-1"), QList<PasskeyRecord>());
    }

    void removeDeletesTheItemAndItsIdentity() {
        CredentialIdentityStore identities(dir.filePath("identities.json"));
        const PasskeyRecord gone = record('a', "example.com", "h", 0);
        const PasskeyRecord kept = record('b', "example.com", "h", 0);
        PasskeyStore::save(gone);
        PasskeyStore::save(kept);
        QVERIFY(identities.saveCredentialIdentities({gone.identity(), kept.identity()}));
        PasskeyStore::remove(gone, identities);
        QCOMPARE(PasskeyStore::loadAll(), QList<PasskeyRecord>{kept});
        QCOMPARE(identities.identities(),
                 QList<CredentialIdentityStore::Identity>{kept.identity()});
        // Failures are dropped: removing again does nothing and reports nothing.
        PasskeyStore::remove(gone, identities);
        QCOMPARE(PasskeyStore::loadAll(), QList<PasskeyRecord>{kept});
    }
};

QUILLET_TEST_GUILESS_MAIN(PasskeyStoreTests)
#include "PasskeyStoreTests.moc"
