// The passkey record's JSON and the listing of the passkey items.
#include "core/PasskeyRecord.h"
#include "tests/support/TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using Keychain::MemoryBackend;

namespace {

PasskeyRecord record(char id, const QString& rpId, qint64 createdAtMs) {
    return {QByteArray(32, id), rpId, QStringLiteral("alice"), QByteArray("user-1"),
            QByteArray(32, '\x05'), QDateTime::fromMSecsSinceEpoch(createdAtMs, Qt::UTC)};
}

Keychain::Item itemOf(const QByteArray& data, const QString& account, bool synchronizable = true) {
    Keychain::Item item;
    item.service = PasskeyStore::service;
    item.account = account;
    item.accessGroup = QStringLiteral("Q4T7W2M9K3.com.tarnwick.Ossory");
    item.synchronizable = synchronizable;
    item.dataProtection = true;
    item.data = data;
    return item;
}

Keychain::Item itemOf(const PasskeyRecord& r, bool synchronizable = true) {
    return itemOf(r.toJson(), r.itemAccount(), synchronizable);
}

// A record as another writer of the same form may lay it out: keys in another
// order, "/" escaped, an integer date, a key we do not know.
const QByteArray foreignJson = R"({"userHandle":"dXNlci0x","createdAt":725760000,
    "privateKey":"AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=","rpId":"example.com",
    "userName":"","credentialID":"+\/\/++\/\/++\/\/++\/\/++\/\/++\/\/++\/\/++\/\/++\/\/++\/\/++\/8=",
    "extra":[1,2]})";

} // namespace

class PasskeyRecordTests : public QObject {
    Q_OBJECT

    std::shared_ptr<MemoryBackend> memory;

private slots:
    void init() {
        memory = std::make_shared<MemoryBackend>();
        Keychain::setBackend(memory);
    }

    void jsonForm() {
        PasskeyRecord r = record('\xfb', QStringLiteral("example.com"), 0);
        r.createdAt = QDateTime(QDate(2024, 1, 1), QTime(0, 0, 0, 500), Qt::UTC);
        const QJsonObject object = QJsonDocument::fromJson(r.toJson()).object();
        QCOMPARE(object.keys(), (QStringList{"createdAt", "credentialID", "privateKey", "rpId",
                                             "userHandle", "userName"}));
        QCOMPARE(object["credentialID"].toString(), QString::fromLatin1(QByteArray(32, '\xfb').toBase64()));
        QCOMPARE(object["rpId"].toString(), "example.com");
        QCOMPARE(object["userName"].toString(), "alice");
        QCOMPARE(object["userHandle"].toString(), "dXNlci0x");
        QCOMPARE(object["privateKey"].toString(), QString::fromLatin1(QByteArray(32, '\x05').toBase64()));
        // Seconds since 2001-01-01 UTC, with the fraction.
        QCOMPARE(object["createdAt"].toDouble(), 725760000.5);
        QVERIFY(!r.toJson().contains('\n'));
        QCOMPARE(PasskeyRecord::fromJson(r.toJson()), r);
    }

    void readsAnotherWritersLayout() {
        const auto r = PasskeyRecord::fromJson(foreignJson);
        QVERIFY(r);
        QCOMPARE(r->credentialID.toHex(),
                 "fbfffefbfffefbfffefbfffefbfffefbfffefbfffefbfffefbfffefbfffefbff");
        QCOMPARE(r->credentialID.size(), 32);
        QCOMPARE(r->rpId, "example.com");
        QCOMPARE(r->userName, "");
        QCOMPARE(r->userHandle, "user-1");
        QCOMPARE(r->privateKey.size(), 32);
        QCOMPARE(r->createdAt, QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC));
    }

    void refusesIncompleteRecords_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value"); // undefined: the key is left out
        for (const char* key :
             {"credentialID", "rpId", "userName", "userHandle", "privateKey", "createdAt"})
            QTest::addRow("without %s", key) << key << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("date as text") << "createdAt" << QJsonValue("2024-01-01T00:00:00Z");
        QTest::newRow("date null") << "createdAt" << QJsonValue(QJsonValue::Null);
        QTest::newRow("user name as number") << "userName" << QJsonValue(7);
        QTest::newRow("bytes not Base64") << "userHandle" << QJsonValue("not base64!");
        QTest::newRow("bytes without padding") << "credentialID" << QJsonValue("YWJjYQ");
        QTest::newRow("bytes URL alphabet") << "privateKey" << QJsonValue("-_-_");
    }
    void refusesIncompleteRecords() {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QJsonObject object = QJsonDocument::fromJson(foreignJson).object();
        if (value.isUndefined())
            object.remove(key);
        else
            object[key] = value;
        QVERIFY(!PasskeyRecord::fromJson(QJsonDocument(object).toJson()));
        QVERIFY(!PasskeyRecord::fromJson("[]"));
        QVERIFY(!PasskeyRecord::fromJson("not json"));
    }

    void identityOfARecord() {
        const PasskeyRecord r = record('\x01', QStringLiteral("example.com"), 0);
        const auto identity = r.identity();
        QCOMPARE(identity.relyingPartyIdentifier, "example.com");
        QCOMPARE(identity.userName, "alice");
        QCOMPARE(identity.credentialID, r.credentialID);
        QCOMPARE(identity.userHandle, r.userHandle);
        QCOMPARE(identity.recordIdentifier, r.itemAccount());
        QCOMPARE(r.itemAccount().size(), 44);
        QVERIFY(r.itemAccount().endsWith('=') && !r.itemAccount().endsWith("=="));
    }

    void loadAllNewestFirst() {
        const PasskeyRecord older = record('a', "a.example", 1000);
        const PasskeyRecord newer = record('b', "b.example", 3000);
        const PasskeyRecord tiedFirst = record('c', "c.example", 2000);
        const PasskeyRecord tiedSecond = record('d', "d.example", 2000);
        for (const auto& r : {older, tiedFirst, newer, tiedSecond})
            memory->items().append(itemOf(r, r.rpId != "d.example"));
        // Not ours, not decodable, or in the other keychain: left out.
        memory->items().append(itemOf("{}", "broken"));
        Keychain::Item other = itemOf(record('e', "e.example", 4000));
        other.service = QStringLiteral("com.tarnwick.Quillet");
        memory->items().append(other);
        Keychain::Item fileBased = itemOf(record('f', "f.example", 5000));
        fileBased.dataProtection = false;
        memory->items().append(fileBased);
        const QList<PasskeyRecord> expected = {newer, tiedFirst, tiedSecond, older};
        QCOMPARE(PasskeyStore::loadAll(), expected);
    }

    void loadAllWithoutItemsIsEmpty() { QCOMPARE(PasskeyStore::loadAll(), QList<PasskeyRecord>()); }

    void loadAllFailureThrows() {
        memory->items().append(itemOf(record('a', "a.example", 0)));
        memory->failWith(MemoryBackend::Operation::copyMatching, Keychain::interactionNotAllowed);
        try {
            PasskeyStore::loadAll();
            QFAIL("a locked keyring read as no passkeys");
        } catch (const PasskeyStore::Error& error) {
            QCOMPARE(error.status(), qint32(Keychain::interactionNotAllowed));
        }
    }

    void fuzzSeedsDecode() {
        // The seed of the record fuzz target is a record.
        QFile seed(QStringLiteral(QUILLET_SOURCE_DIR "/fuzz/corpus/passkey_record/record.json"));
        QVERIFY(seed.open(QIODevice::ReadOnly));
        QVERIFY(PasskeyRecord::fromJson(seed.readAll()));
    }
};

QUILLET_TEST_GUILESS_MAIN(PasskeyRecordTests)
#include "PasskeyRecordTests.moc"
