#include "core/KeychainStore.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

using Keychain::MemoryBackend;
using Op = Keychain::MemoryBackend::Operation;
using TestSupport::labels;

namespace {

Account makeAccount(const QString& issuer, const QString& name, const QByteArray& secret = "k1") {
    Account account;
    account.issuer = issuer;
    account.name = name;
    account.secret = secret;
    account.createdAt = QDateTime(QDate(2024, 5, 1), QTime(12, 30), Qt::UTC);
    return account;
}

QDateTime day(int d) { return QDateTime(QDate(2024, 6, d), QTime(8, 0), Qt::UTC); }

} // namespace

class KeychainStoreTests : public QObject {
    Q_OBJECT

    std::shared_ptr<MemoryBackend> memory;

    // An item as another writer (an older version, another device) left it.
    Keychain::Item item(const QString& account, const QByteArray& data,
                        const QString& group = KeychainStore::sharedAccessGroup) {
        Keychain::Item i;
        i.service = KeychainStore::service;
        i.account = account;
        i.accessGroup = group;
        i.synchronizable = true;
        i.accessible = Keychain::Accessibility::afterFirstUnlock;
        i.dataProtection = true;
        i.data = data;
        return i;
    }
    void put(const Account& account, const QString& group = KeychainStore::sharedAccessGroup) {
        memory->items().append(item(Json::uuidText(account.id), KeychainStore::encode(account), group));
    }
    void putOrder(const QList<Account>& accounts) {
        QJsonArray ids;
        for (const Account& a : accounts)
            ids.append(Json::uuidText(a.id));
        memory->items().append(item(KeychainStore::orderAccount,
                                    QJsonDocument(ids).toJson(QJsonDocument::Compact)));
    }
    void putLegacy(const QByteArray& data) {
        Keychain::Item legacy;
        legacy.service = KeychainStore::legacyService;
        legacy.account = KeychainStore::legacyAccount;
        legacy.data = data;
        memory->items().append(legacy);
    }
    static QByteArray legacyArray(const QList<Account>& accounts) {
        QJsonArray list;
        for (const Account& a : accounts)
            list.append(a.toJson(Json::DateForm::iso8601));
        return QJsonDocument(list).toJson();
    }
    const Keychain::Item* find(const QString& account, const QString& group =
                                                           KeychainStore::sharedAccessGroup) {
        for (const Keychain::Item& i : memory->items())
            if (i.account == account && i.accessGroup == group && i.service == KeychainStore::service)
                return &i;
        return nullptr;
    }
    std::optional<QList<QUuid>> storedOrder() {
        const auto* order = find(KeychainStore::orderAccount);
        if (!order)
            return std::nullopt;
        QList<QUuid> ids;
        for (const QJsonValue& v : QJsonDocument::fromJson(order->data).array())
            ids << QUuid::fromString(v.toString());
        return ids;
    }

private slots:
    void init() { memory = TestSupport::useMemoryKeychain(); }

    void upsertCreatesThenUpdatesOnlyTheData() {
        KeychainStore::upsert("x", "one");
        QCOMPARE(memory->items().size(), 1);
        const Keychain::Item created = memory->items().first();
        QVERIFY(created.synchronizable && created.dataProtection);
        QCOMPARE(created.accessible, Keychain::Accessibility::afterFirstUnlock);
        QCOMPARE(created.accessGroup, KeychainStore::sharedAccessGroup);
        QCOMPARE(created.service, KeychainStore::service);

        // A device-local item keeps its attributes; only its data changes.
        memory->items().first().synchronizable = false;
        memory->items().first().accessible = Keychain::Accessibility::whenUnlocked;
        KeychainStore::upsert("x", "two");
        QCOMPARE(memory->items().size(), 1);
        QCOMPARE(memory->items().first().data, QByteArray("two"));
        QVERIFY(!memory->items().first().synchronizable);
        QCOMPARE(memory->items().first().accessible, Keychain::Accessibility::whenUnlocked);
    }

    void upsertFailures() {
        memory->failWith(Op::update, Keychain::interactionNotAllowed);
        try {
            KeychainStore::upsert("x", "data");
            QFAIL("a refused update must throw");
        } catch (const KeychainStore::KeychainError& error) {
            QCOMPARE(error.kind(), KeychainStore::KeychainError::unhandled);
            QCOMPARE(error.status(), -25308);
        }
        QVERIFY(memory->items().isEmpty()); // nothing added after a failed update
        memory->failWith(Op::update, Keychain::success);
        memory->failWith(Op::add, Keychain::duplicateItem);
        try {
            KeychainStore::upsert("x", "data");
            QFAIL("a refused add must throw");
        } catch (const KeychainStore::KeychainError& error) {
            QCOMPARE(error.message(), QStringLiteral("The item is already in your keyring."));
        }
    }

    void errorTexts() {
        using E = KeychainStore::KeychainError;
        QCOMPARE(E::fromStatus(-25300).message(), QStringLiteral("The item is not in your keyring."));
        QCOMPARE(E(E::decodingFailed).message(), QStringLiteral("Failed to decode accounts."));
        QCOMPARE(E(E::encodingFailed).message(), QStringLiteral("Failed to encode accounts."));
        QCOMPARE(QString::fromUtf8(E::fromStatus(-4).what()), QStringLiteral("Your keyring reported an unexpected error."));
        // Each cause its own sentence, and no platform status number in any.
        QSet<QString> sentences;
        for (const Keychain::Status status :
             {Keychain::itemNotFound, Keychain::duplicateItem, Keychain::interactionNotAllowed,
              Keychain::notAvailable, Keychain::decodeFailed, Keychain::ioError,
              Keychain::writeRefused, Keychain::userCanceled, Keychain::paramError}) {
            const QString sentence = E::fromStatus(status).message();
            QVERIFY2(!sentence.contains(QRegularExpression("[0-9]")), qPrintable(sentence));
            sentences.insert(sentence);
        }
        QCOMPARE(sentences.size(), 9);
        QCOMPARE(E::fromStatus(Keychain::writeRefused).message(), "Your keyring refused the change.");
    }

    void savedAccountsLoadBackWithWholeSeconds() {
        Account a = makeAccount("Acme", "ann");
        a.createdAt = QDateTime::fromMSecsSinceEpoch(1714566600750, Qt::UTC);
        a.counter = 18446744073709551615ull;
        a.lastUsedAt = a.createdAt;
        KeychainStore::saveAccount(a);
        const auto vault = KeychainStore::loadAll();
        QCOMPARE(vault.active.size(), 1);
        const Account& loaded = vault.active.first();
        QCOMPARE(loaded.counter, a.counter);
        QCOMPARE(loaded.createdAt.toMSecsSinceEpoch(), 1714566600000);
        QCOMPARE(loaded.lastUsedAt->toMSecsSinceEpoch(), 1714566600000);
        QVERIFY(loaded != a);
        a.createdAt = loaded.createdAt;
        a.lastUsedAt = loaded.lastUsedAt;
        QCOMPARE(loaded, a);
    }

    void loadOrdersAndSuppressesDuplicates() {
        const Account first = makeAccount("Acme", "ann", "s1");
        const Account second = makeAccount("Beta", "bob", "s2");
        const Account unlisted = makeAccount("Gamma", "gil", "s3");
        const Account sameButCase = makeAccount("ACME", "Ann", "s1");
        Account deletedTwin = makeAccount("Acme", "ann", "s1");
        deletedTwin.deletedAt = day(3);
        const Account missing = makeAccount("Nowhere", "x");
        put(unlisted);
        put(sameButCase);
        put(second);
        put(first);
        put(deletedTwin);
        putOrder({missing, second, first, second, deletedTwin, sameButCase});

        const auto vault = KeychainStore::loadAll();
        // Ordered first (missing ids skipped, repeats once), then the rest;
        // the case-only twin is left out of both lists.
        QCOMPARE(labels(vault.active), QStringList({"Beta: bob", "Acme: ann", "Gamma: gil"}));
        QCOMPARE(labels(vault.deleted), QStringList({"Acme: ann"}));
        QVERIFY(find(Json::uuidText(sameButCase.id))); // its item stays
    }

    void identityKeyRules() {
        const QString composed = QStringLiteral("Caf\u00e9");
        const QString decomposed = QStringLiteral("Cafe\u0301");
        QCOMPARE(KeychainStore::accountIdentityKey(makeAccount(composed, "a")),
                 KeychainStore::accountIdentityKey(makeAccount(decomposed.toUpper(), "A")));
        QVERIFY(KeychainStore::accountIdentityKey(makeAccount("a", "b", "x")) !=
                KeychainStore::accountIdentityKey(makeAccount("a", "b", "y")));
        // The separator keeps issuer and name apart.
        QVERIFY(KeychainStore::accountIdentityKey(makeAccount("ab", "c")) !=
                KeychainStore::accountIdentityKey(makeAccount("a", "bc")));
        QCOMPARE(KeychainStore::accountIdentityKey(makeAccount("I", "n", "\xff")),
                 QStringLiteral("i") + QChar(u'\0') + "n" + QChar(u'\0') + "/w==");
    }

    void recentlyDeletedNewestFirst() {
        Account older = makeAccount("A", "old", "1");
        older.deletedAt = day(1);
        Account newer = makeAccount("A", "new", "2");
        newer.deletedAt = day(9);
        Account middle = makeAccount("A", "mid", "3");
        middle.deletedAt = day(5);
        put(older);
        put(newer);
        put(middle);
        QCOMPARE(labels(KeychainStore::loadAll().deleted),
                 QStringList({"A: new", "A: mid", "A: old"}));
    }

    void unreadableItemsAreSkippedAndKept() {
        const Account good = makeAccount("A", "good");
        put(good);
        memory->items().append(item(QUuid::createUuid().toString(QUuid::WithoutBraces), "{bad"));
        memory->items().append(item("not-a-uuid", KeychainStore::encode(makeAccount("B", "b"))));
        memory->items().append(item(KeychainStore::orderAccount, "[\"nope\"]"));
        // Named by a lower-case id; the record's own id does not count.
        Account renamed = makeAccount("C", "c");
        const QUuid nameId = QUuid::createUuid();
        memory->items().append(
            item(nameId.toString(QUuid::WithoutBraces).toLower(), KeychainStore::encode(renamed)));
        const int before = memory->items().size();
        const auto vault = KeychainStore::loadAll();
        QCOMPARE(labels(vault.active), QStringList({"A: good", "C: c"}));
        QCOMPARE(memory->items().size(), before + 1); // only the marker was added
        QVERIFY(find(KeychainStore::markerAccount));
    }

    void emptyKeychainWritesTheMarker() {
        const auto vault = KeychainStore::loadAll();
        QVERIFY(vault.active.isEmpty() && vault.deleted.isEmpty());
        const auto* marker = find(KeychainStore::markerAccount);
        QVERIFY(marker);
        QCOMPARE(marker->data, QByteArray("\x01", 1));
        QVERIFY(!marker->synchronizable);
        // A second load reads the marker and skips it by name.
        QVERIFY(KeychainStore::loadAll().active.isEmpty());
        QCOMPARE(memory->items().size(), 1);
    }

    void unreadableKeychainIsAnErrorNotAnEmptyVault() {
        put(makeAccount("A", "a"));
        memory->failWith(Op::copyMatching, Keychain::interactionNotAllowed);
        try {
            KeychainStore::loadAll();
            QFAIL("a locked keychain must not load as empty");
        } catch (const KeychainStore::KeychainError& error) {
            QCOMPARE(error.status(), -25308);
        }
        memory->failWith(Op::copyMatching, Keychain::notAvailable);
        QVERIFY_THROWS_EXCEPTION(KeychainStore::KeychainError, KeychainStore::readAll());
        // Nothing was written while the keychain could not be read.
        QCOMPARE(memory->items().size(), 1);
    }

    void legacyImport() {
        const Account a = makeAccount("Old", "a", "1");
        const Account b = makeAccount("Old", "b", "2");
        putLegacy(legacyArray({a, b}));
        const auto vault = KeychainStore::loadAll();
        QCOMPARE(labels(vault.active), QStringList({"Old: a", "Old: b"}));
        QCOMPARE(storedOrder(), std::optional<QList<QUuid>>({a.id, b.id}));
        QVERIFY(find(Json::uuidText(a.id))->synchronizable);
        for (const Keychain::Item& i : memory->items())
            QVERIFY(i.service != KeychainStore::legacyService);
    }

    void legacyImportKeepsNewerItemsAndTheOrder() {
        Account a = makeAccount("Old", "a", "1");
        const Account b = makeAccount("Old", "b", "2");
        Account newerA = a;
        newerA.note = "edited since";
        const Account other = makeAccount("New", "n", "3");
        put(newerA);
        put(other);
        putOrder({other, a});
        putLegacy(legacyArray({a, b}));
        // The legacy item cannot be removed: every load repeats the import.
        memory->failWith(Op::remove, Keychain::ioError);
        for (int run = 0; run < 2; ++run) {
            const auto vault = KeychainStore::loadAll();
            QCOMPARE(labels(vault.active), QStringList({"New: n", "Old: a", "Old: b"}));
            QCOMPARE(vault.active[1].note, QStringLiteral("edited since"));
            QCOMPARE(storedOrder(), std::optional<QList<QUuid>>({other.id, a.id}));
        }
    }

    void legacyImportEdgeCases() {
        putLegacy("[]");
        KeychainStore::loadAll();
        QCOMPARE(storedOrder(), std::optional<QList<QUuid>>(QList<QUuid>()));
        init();
        putLegacy("[{\"name\": \"no id\"}]");
        QVERIFY(KeychainStore::loadAll().active.isEmpty());
        QCOMPARE(memory->items().first().service, KeychainStore::legacyService); // stays
        init();
        putLegacy(legacyArray({makeAccount("A", "a")}));
        memory->failWith(Op::copyMatching, Keychain::interactionNotAllowed,
                         KeychainStore::legacyAccount);
        QVERIFY_THROWS_EXCEPTION(KeychainStore::KeychainError, KeychainStore::loadAll());
    }

    void accessGroupMove() {
        const Account present = makeAccount("Same", "one", "1");
        Account presentElsewhere = present; // same identity, another id
        presentElsewhere.id = QUuid::createUuid();
        const Account fresh = makeAccount("Fresh", "two", "2");
        Account sameIdNewer = makeAccount("Edited", "three", "3");
        Account sameIdOlder = sameIdNewer;
        sameIdOlder.issuer = "Before edit";
        Account deleted = makeAccount("Gone", "four", "4");
        deleted.deletedAt = day(2);
        put(present);
        put(sameIdNewer);
        for (const Account& a : {presentElsewhere, fresh, sameIdOlder, deleted})
            put(a, KeychainStore::olderAccessGroup);
        memory->items().append(item(KeychainStore::orderAccount, "[]", KeychainStore::olderAccessGroup));
        const int olderCount = 5;

        const auto vault = KeychainStore::loadAll();
        QCOMPARE(labels(vault.active), QStringList({"Same: one", "Edited: three", "Fresh: two"}));
        QCOMPARE(labels(vault.deleted), QStringList({"Gone: four"}));
        QVERIFY(!find(Json::uuidText(presentElsewhere.id)));
        QVERIFY(find(KeychainStore::markerAccount));
        int stillOlder = 0;
        for (const Keychain::Item& i : memory->items())
            stillOlder += i.accessGroup == KeychainStore::olderAccessGroup;
        QCOMPARE(stillOlder, olderCount);
    }

    void accessGroupMoveRetriesAfterAFailedCopy() {
        const Account a = makeAccount("A", "a", "1");
        const Account b = makeAccount("B", "b", "2");
        put(a, KeychainStore::olderAccessGroup);
        put(b, KeychainStore::olderAccessGroup);
        memory->failWith(Op::add, Keychain::ioError, Json::uuidText(a.id));
        QCOMPARE(labels(KeychainStore::loadAll().active), QStringList({"B: b"}));
        QVERIFY(!find(KeychainStore::markerAccount));

        memory->failWith(Op::add, Keychain::success, Json::uuidText(a.id));
        QCOMPARE(KeychainStore::loadAll().active.size(), 2);
        QVERIFY(find(KeychainStore::markerAccount));

        // Done in this process: later older items are not looked at again.
        put(makeAccount("C", "c", "3"), KeychainStore::olderAccessGroup);
        QCOMPARE(KeychainStore::loadAll().active.size(), 2);
        // Nor in a new process, because of the marker.
        KeychainStore::resetMigrationFlagForTesting();
        QCOMPARE(KeychainStore::loadAll().active.size(), 2);
    }

    void foldersAndClockState() {
        QVERIFY(!KeychainStore::readFolders());
        FolderCatalog catalog{{Folder{QUuid::createUuid(), "Work", "briefcase"}}, day(4)};
        KeychainStore::upsert(KeychainStore::foldersAccount,
                              QJsonDocument(catalog.toJson(Json::DateForm::iso8601)).toJson());
        QCOMPARE(KeychainStore::readFolders(), catalog);
        KeychainStore::upsert(KeychainStore::foldersAccount, "{}");
        QVERIFY(!KeychainStore::readFolders());

        QVERIFY(!KeychainStore::readClockState());
        CorrectedClock::State state{-12.5, day(6), false};
        KeychainStore::saveClockState(state);
        KeychainStore::saveClockState(state); // the update path
        QCOMPARE(KeychainStore::readClockState(), state);
        const auto* stored = find(KeychainStore::clockStateAccount);
        QVERIFY(stored && !stored->synchronizable);
        QCOMPARE(memory->items().size(), 2);
        // A failing keychain is not reported and changes nothing.
        memory->failWith(Op::update, Keychain::ioError);
        KeychainStore::saveClockState({1, day(7), true});
        QCOMPARE(KeychainStore::readClockState(), state);
    }
};

QUILLET_TEST_GUILESS_MAIN(KeychainStoreTests)
#include "KeychainStoreTests.moc"
