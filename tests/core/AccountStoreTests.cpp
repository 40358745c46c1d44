#include "core/AccountStore.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "platform/UserDefaults.h"
#include "platform/Widgets.h"
#include "tests/support/Vault.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

using Op = Keychain::MemoryBackend::Operation;
using TestSupport::labels;

namespace {

const QDateTime start(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);

Account makeAccount(const QString& issuer, const QString& name, const QByteArray& secret = {}) {
    Account a = TestSupport::makeAccount(issuer, name, secret);
    a.createdAt = start;
    return a;
}

} // namespace

class AccountStoreTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<AccountStore> store;
    QDateTime clock;

    void openStore() {
        store = std::make_unique<AccountStore>(*defaults, *log, [this] { return clock; });
    }
    // Accounts as an earlier run left them in the keychain.
    void seed(const QList<Account>& accounts) { TestSupport::seedVault(accounts); }
    QStringList events() {
        QStringList out;
        for (const AuditEntry& e : log->snapshot().entries)
            out << e.type + " " + e.detail;
        return out;
    }
    std::optional<Account> stored(const QUuid& id) {
        Keychain::Query query = KeychainStore::baseQuery(Json::uuidText(id));
        query.returnData = true;
        Keychain::Results results;
        if (Keychain::copyMatching(query, &results) != Keychain::success)
            return std::nullopt;
        return KeychainStore::decodeAccount(results.first().data);
    }
    QList<QUuid> storedOrder() {
        Keychain::Query query = KeychainStore::baseQuery(KeychainStore::orderAccount);
        query.returnData = true;
        Keychain::Results results;
        Keychain::copyMatching(query, &results);
        QList<QUuid> ids;
        for (const QJsonValue& v : QJsonDocument::fromJson(results.value(0).data).array())
            ids << QUuid::fromString(v.toString());
        return ids;
    }
    QList<QUuid> ids() const {
        QList<QUuid> out;
        for (const Account& a : store->accounts())
            out << a.id;
        return out;
    }

private slots:
    void init() {
        openVault();
        clock = start;
    }
    void cleanup() {
        store.reset();
        log.reset();
    }

    void startsWithTheVaultAndTheUsageOfThisComputer() {
        Account a = makeAccount("Acme", "ann");
        a.useCount = 5;
        const Account b = makeAccount("Beta", "bob");
        Account gone = makeAccount("Gone", "gil");
        gone.deletedAt = start.addDays(-1);
        seed({a, b, gone});
        QHash<QUuid, AccountStore::Usage> usage;
        usage.insert(a.id, {3, start.addSecs(-60)});
        usage.insert(b.id, {9, start.addSecs(-30)});
        defaults->setValue(Settings::usageStats.key, AccountStore::encodeUsage(usage));
        openStore();
        QCOMPARE(labels(store->accounts()), QStringList({"Acme: ann", "Beta: bob"}));
        QCOMPARE(store->accounts()[0].useCount, 5); // the larger count wins
        QCOMPARE(store->accounts()[0].lastUsedAt, start.addSecs(-60));
        QCOMPARE(store->accounts()[1].useCount, 9);
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"Gone: gil"}));
        QVERIFY(!store->lastError());
    }

    void usageRecordForm() {
        const QUuid id = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00CF4FC964FF"));
        QHash<QUuid, AccountStore::Usage> usage;
        usage.insert(id, {2, QDateTime::fromSecsSinceEpoch(978307200 + 10, Qt::UTC)});
        QCOMPARE(AccountStore::encodeUsage(usage),
                 QByteArray(R"(["6F9619FF-8B86-D011-B42D-00CF4FC964FF",{"count":2,"lastAt":10}])"));
        QCOMPARE(AccountStore::decodeUsage(AccountStore::encodeUsage(usage)), usage);
        QVERIFY(!AccountStore::decodeUsage(R"(["6F9619FF-8B86-D011-B42D-00CF4FC964FF",{"count":2}])"));
        QCOMPARE(AccountStore::decodeUsage("[]")->size(), 0);
    }

    void markUsedCountsOnThisComputerOnly() {
        Account a = makeAccount("Acme", "ann");
        a.useCount = 5;
        seed({a});
        openStore();
        store->markUsed(store->accounts()[0]);
        clock = clock.addSecs(5);
        store->markUsed(store->accounts()[0]);
        QCOMPARE(store->usage().value(a.id).count, 7);
        // The list shows it at once (an order by use follows each copy);
        // the keychain item is not written for it.
        QCOMPARE(store->accounts()[0].useCount, 7);
        QCOMPARE(store->accounts()[0].lastUsedAt, clock);
        QCOMPARE(stored(a.id)->useCount, 5);
        store->reload();
        QCOMPARE(store->accounts()[0].useCount, 7);
        QCOMPARE(store->accounts()[0].lastUsedAt, clock);
    }

    void deleteThenRestore() {
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b"), c = makeAccount("C", "c");
        seed({a, b, c});
        openStore();
        store->deleteAccount(a.id);
        QCOMPARE(labels(store->accounts()), QStringList({"B: b", "C: c"}));
        QCOMPARE(store->deletedAccounts().first().deletedAt, clock);
        QCOMPARE(stored(a.id)->deletedAt, clock);
        QCOMPARE(storedOrder(), QList<QUuid>({b.id, c.id}));
        store->restore(a.id);
        QCOMPARE(labels(store->accounts()), QStringList({"B: b", "C: c", "A: a"}));
        QVERIFY(store->deletedAccounts().isEmpty());
        QVERIFY(!stored(a.id)->deletedAt);
        QCOMPARE(storedOrder(), QList<QUuid>({b.id, c.id, a.id}));
        QCOMPARE(events(), QStringList({"account.deleted A: a", "account.restored A: a"}));
        // Unknown ids do nothing.
        store->deleteAccount(QUuid::createUuid());
        store->restore(QUuid::createUuid());
        QCOMPARE(events().size(), 2);
    }

    void purgeAfterThirtyDays() {
        Account expired = makeAccount("Old", "x");
        expired.deletedAt = start.addSecs(-AccountStore::recentlyDeletedSeconds - 1);
        Account boundary = makeAccount("Edge", "y");
        boundary.deletedAt = start.addSecs(-AccountStore::recentlyDeletedSeconds);
        Account undated = makeAccount("Undated", "z");
        seed({expired, boundary, undated});
        // Restored from a file without its date: never expires.
        store = nullptr;
        openStore();
        Account noDate = undated;
        store->setDeletedAccounts({boundary, noDate, expired});
        store->purgeExpired();
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"Edge: y", "Undated: z"}));
        QVERIFY(!stored(expired.id));
        QVERIFY(stored(boundary.id));
        clock = clock.addSecs(1);
        store->purgeExpired();
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"Undated: z"}));
        QVERIFY(events().isEmpty());
    }

    void eraseAndEmpty() {
        Account a = makeAccount("A", "a"), b = makeAccount("B", "b");
        seed({a, b});
        openStore();
        store->markUsed(a);
        store->deleteAccount(a.id);
        store->deleteAccount(b.id);
        store->erase(store->deletedAccounts().last());
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"B: b"}));
        QVERIFY(!stored(a.id));
        QVERIFY(!store->usage().contains(a.id));
        // Already gone from the keychain: still no error.
        store->erase(a);
        QVERIFY(!store->lastError());
        // An entry whose id is also active keeps the shared item.
        store->restore(b.id);
        Account stale = b;
        stale.deletedAt = clock;
        store->setDeletedAccounts({stale});
        store->erase(stale);
        QVERIFY(stored(b.id));
        const QStringList recorded = events();
        QCOMPARE(recorded.mid(recorded.size() - 1), QStringList({"account.erased B: b"}));

        // Emptying records nothing.
        store->deleteAccount(b.id);
        const int before = events().size();
        store->emptyRecentlyDeleted();
        QVERIFY(store->deletedAccounts().isEmpty());
        QVERIFY(!stored(b.id));
        QCOMPARE(events().size(), before);
    }

    void eraseReportsAFailingKeychain() {
        Account a = makeAccount("A", "a");
        seed({a});
        openStore();
        store->deleteAccount(a.id);
        memory->failWith(Op::remove, Keychain::ioError);
        store->erase(store->deletedAccounts().first());
        QCOMPARE(store->lastError(), std::optional<QString>("Keychain error: -36"));
    }

    void countersAndFavorites() {
        Account totp = makeAccount("T", "t");
        Account hotp = makeAccount("H", "h");
        hotp.type = OTPType::hotp;
        hotp.counter = std::numeric_limits<quint64>::max();
        QList<Account> ten{totp, hotp};
        for (int i = 0; i < 8; ++i)
            ten << makeAccount("N", QString::number(i));
        seed(ten);
        openStore();
        store->advanceCounter(totp);
        QCOMPARE(store->accounts()[0], totp);
        store->advanceCounter(hotp);
        QCOMPARE(store->accounts()[1].counter, 0u);
        QCOMPARE(stored(hotp.id)->counter, 0u);

        const QUuid fifth = ten[4].id;
        store->toggleFavorite(fifth);
        QCOMPARE(store->accounts()[0].id, fifth);
        QVERIFY(stored(fifth)->isFavorite);
        QCOMPARE(storedOrder().first(), fifth);
        store->toggleFavorite(fifth);
        QCOMPARE(store->accounts()[0].id, fifth);
        QVERIFY(!store->accounts()[0].isFavorite);
        QVERIFY(events().isEmpty());
    }

    void reordering() {
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b"), c = makeAccount("C", "c");
        seed({a, b, c});
        openStore();
        store->move(c.id, a.id);
        QCOMPARE(ids(), QList<QUuid>({c.id, a.id, b.id}));
        store->move(b.id, a.id);
        QCOMPARE(ids(), QList<QUuid>({c.id, b.id, a.id}));
        memory->items().removeIf([](const Keychain::Item& i) { return i.account == "order.v1"; });
        store->move(b.id, a.id); // already in place: order still saved
        QCOMPARE(ids(), QList<QUuid>({c.id, b.id, a.id}));
        QCOMPARE(storedOrder(), ids());
        store->moveAccountToIndex(a.id, 99);
        QCOMPARE(ids().last(), a.id);
        store->moveAccountToIndex(a.id, -3);
        QCOMPARE(ids().first(), a.id);
        QCOMPARE(storedOrder(), ids());
    }

    void editsAndFolderAssignment() {
        Account a = makeAccount("A", "a");
        seed({a});
        openStore();
        const QUuid folderID = QUuid::createUuid();
        store->setFolder(folderID, a.id);
        QCOMPARE(store->accountsInFolder(folderID), 1);
        QCOMPARE(stored(a.id)->folderID, folderID);
        Account edited = store->accounts()[0];
        edited.note = "call 5551234 for help";
        edited.name = "a 12345";
        store->update(edited);
        QCOMPARE(stored(a.id)->note, edited.note);
        Account stranger = makeAccount("X", "x");
        store->update(stranger); // not in the list: not added
        QCOMPARE(store->accounts().size(), 1);
        QCOMPARE(events(), QStringList({"account.edited A: a ••••••"}));
    }

    void activationReloadsOnceAfterABurst() {
        openStore();
        store->setDelaysForTesting(50, 50);
        QSignalSpy reloads(store.get(), &AccountStore::reloaded);
        store->applicationBecameActive();
        QTest::qWait(20);
        store->applicationBecameActive();
        QTest::qWait(20);
        store->applicationBecameActive();
        QCOMPARE(reloads.size(), 0);
        QTRY_COMPARE(reloads.size(), 1);
        QTest::qWait(100);
        QCOMPARE(reloads.size(), 1);
    }

    void widgetRefreshIsDebounced() {
        const Account a = makeAccount("A", "a");
        seed({a});
        openStore();
        store->setDelaysForTesting(50, 50);
        const int before = Widgets::reloadCount();
        store->save(a);
        store->saveOrder();
        store->markUsed(a); // usage changes do not refresh widgets
        QVERIFY(store->widgetRefreshPending());
        QTRY_COMPARE(Widgets::reloadCount(), before + 1);
        QTest::qWait(100);
        QCOMPARE(Widgets::reloadCount(), before + 1);
    }

    // A keychain that refuses writes loses no account, and an operation
    // keeps the first error of its steps.
    void failingKeychainLosesNothing() {
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b");
        seed({a, b});
        openStore();
        memory->failWith(Op::update, Keychain::interactionNotAllowed, Json::uuidText(a.id));
        store->deleteAccount(a.id); // the account's save fails, the order's succeeds
        QCOMPARE(store->lastError(), std::optional<QString>("Keychain error: -25308"));
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"A: a"}));
        memory->failWith(Op::update, Keychain::success, Json::uuidText(a.id));

        memory->failWith(Op::copyMatching, Keychain::interactionNotAllowed);
        store->reload();
        QCOMPARE(store->lastError(), std::optional<QString>("Keychain error: -25308"));
        QCOMPARE(labels(store->accounts()), QStringList({"B: b"})); // lists kept
        memory->failWith(Op::copyMatching, Keychain::success);
        store->reload();
        QVERIFY(!store->lastError());
        QCOMPARE(labels(store->accounts()), QStringList({"B: b", "A: a"}));

        // At start-up: empty lists and the error, folders still reconciled.
        defaults->setValue(
            Settings::accountFolders.key,
            QJsonDocument(QJsonArray{Folder{QUuid::createUuid(), "Work", "folder"}.toJson()})
                .toJson());
        memory->failWith(Op::copyMatching, Keychain::notAvailable);
        openStore();
        QVERIFY(store->accounts().isEmpty());
        QCOMPARE(store->lastError(), std::optional<QString>("Keychain error: -25291"));
        QCOMPARE(store->folders().size(), 1);
    }

    void importMerge() {
        Account active = makeAccount("Acme", "ann", "s1");
        Account deleted = makeAccount("Gone", "gil", "s2");
        deleted.deletedAt = start.addDays(-2);
        deleted.note = "kept";
        seed({active, deleted});
        openStore();
        QCOMPARE(store->importAccounts({}), 0);

        Account dup = active;
        dup.id = QUuid::createUuid();
        dup.digits = 8;
        Account differentName = makeAccount("Acme", "bob", "s1");
        Account otherCase = makeAccount("acme", "ann", "s1");
        Account composed = makeAccount(QStringLiteral("Caf\u00e9"), "c", "s3");
        Account decomposed = makeAccount(QStringLiteral("Cafe\u0301"), "c", "s3");
        Account comeback = makeAccount("Gone", "gil", "s2");
        Account clashActive = makeAccount("New", "n", "s4");
        clashActive.id = active.id;
        Account clashDeleted = makeAccount("New", "m", "s5");
        clashDeleted.id = QUuid::createUuid();
        const int accepted = store->importAccounts(
            {dup, differentName, otherCase, composed, decomposed, comeback, clashActive});
        QCOMPARE(accepted, 5);
        QCOMPARE(labels(store->accounts()),
                 QStringList({"Acme: ann", "Acme: bob", "acme: ann", QStringLiteral("Caf\u00e9: c"),
                              "Gone: gil", "New: n"}));
        const Account& restored = store->accounts()[4];
        QCOMPARE(restored.id, deleted.id);
        QCOMPARE(restored.note, QStringLiteral("kept"));
        QVERIFY(!restored.deletedAt && !stored(deleted.id)->deletedAt);
        QVERIFY(store->deletedAccounts().isEmpty());
        QVERIFY(store->accounts()[5].id != active.id);
        QCOMPARE(storedOrder(), ids());
        QCOMPARE(events(), QStringList({"account.restored Gone: gil", "account.imported 5 accounts"}));

        // The same export again accepts nothing and writes nothing.
        const int writes = memory->items().size();
        QCOMPARE(store->importAccounts({dup, differentName, comeback}), 0);
        QCOMPARE(memory->items().size(), writes);
        QCOMPARE(events().size(), 2);
    }

    void importSingleAndClashingIds() {
        Account deleted = makeAccount("Gone", "gil", "s2");
        deleted.deletedAt = start;
        seed({deleted});
        openStore();
        QCOMPARE(store->importAccounts({makeAccount("Gone", "gil", "s2")}), 1);
        QCOMPARE(events(), QStringList({"account.restored Gone: gil", "account.added Gone: gil"}));

        Account first = makeAccount("Same", "id", "x1");
        Account second = makeAccount("Same", "id2", "x2");
        second.id = first.id;
        Account twice = makeAccount("Twice", "t", "x3");
        store->deleteAccount(deleted.id);
        Account sharesDeletedId = makeAccount("Other", "o", "x4");
        sharesDeletedId.id = deleted.id;
        QCOMPARE(store->importAccounts({first, second, twice, twice, sharesDeletedId}), 4);
        QCOMPARE(store->accounts()[0].id, first.id);
        QVERIFY(store->accounts()[1].id != first.id);
        QVERIFY(store->accounts()[3].id != deleted.id);
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"Gone: gil"}));
        QCOMPARE(events().last(), QStringLiteral("account.imported 4 accounts"));
    }

    void importKeepsTheFirstError() {
        openStore();
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b");
        memory->failWith(Op::add, Keychain::ioError, Json::uuidText(a.id));
        QCOMPARE(store->importAccounts({a, b}), 2);
        QCOMPARE(store->lastError(), std::optional<QString>("Keychain error: -36"));
        QVERIFY(stored(b.id));
        QCOMPARE(store->accounts().size(), 2);
    }

    void folderReconciliation() {
        openStore();
        QVERIFY(store->folders().isEmpty());
        QVERIFY(!defaults->contains(Settings::accountFolders.key));
        QVERIFY(!KeychainStore::readFolders());

        // Only a local copy: published and written to the keychain.
        const Folder work{QUuid::createUuid(), "Work", "briefcase"};
        store->storeLocalFolders({work}, start.addDays(-3));
        store->reload();
        QCOMPARE(store->folders(), QList<Folder>({work}));
        QCOMPARE(KeychainStore::readFolders()->updatedAt, start.addDays(-3));

        // A newer keychain copy wins; a local-only folder survives while used.
        const Folder home{QUuid::createUuid(), "Home", "house"};
        const Folder unused{QUuid::createUuid(), "Unused", "folder"};
        Account inWork = makeAccount("A", "a");
        inWork.folderID = work.id;
        store->importAccounts({inWork});
        store->storeLocalFolders({work, unused}, start);
        KeychainStore::upsert(KeychainStore::foldersAccount,
                              QJsonDocument(FolderCatalog{{home}, start.addDays(1)}.toJson(
                                                Json::DateForm::iso8601))
                                  .toJson());
        store->reload();
        QCOMPARE(store->folders(), QList<Folder>({home, work}));
        QCOMPARE(KeychainStore::readFolders()->folders, QList<Folder>({home, work}));
        QCOMPARE(defaults->date(Settings::accountFoldersUpdatedAt.key), start.addDays(1));

        // Equal dates: the keychain wins; a local rename that is newer wins
        // locally but does not rewrite the keychain (no new id).
        Folder renamed = home;
        renamed.name = "House";
        store->storeLocalFolders({renamed, work}, start.addDays(2));
        store->reload();
        QCOMPARE(store->folders().first().name, QStringLiteral("House"));
        QCOMPARE(KeychainStore::readFolders()->folders.first().name, QStringLiteral("Home"));
    }

    void folderOperations() {
        openStore();
        const Folder work = store->addFolder("Work");
        QCOMPARE(store->addFolder("  work\t").id, work.id);
        QCOMPARE(store->folders().size(), 1);
        const Folder blank = store->addFolder("   ");
        QCOMPARE(blank.name, QStringLiteral("Folder"));
        QCOMPARE(store->addFolder(" ").name, QStringLiteral("Folder"));
        QCOMPARE(store->folders().size(), 3);
        QCOMPARE(KeychainStore::readFolders()->folders, store->folders());
        QCOMPARE(defaults->date(Settings::accountFoldersUpdatedAt.key), clock);
        store->renameFolder(blank.id, "  ");
        QCOMPARE(store->folders()[1].name, QString());

        QList<Account> inside;
        for (int i = 0; i < 3; ++i) {
            Account a = makeAccount("In", QString::number(i));
            a.folderID = work.id;
            inside << a;
        }
        store->importAccounts(inside);
        store->deleteFolder(work.id);
        QCOMPARE(store->folders().size(), 2);
        QCOMPARE(store->accountsInFolder(work.id), 0);
        QVERIFY(!stored(inside[2].id)->folderID);
        QCOMPARE(events().mid(1), QStringList({"account.edited In: 0", "account.edited In: 1",
                                               "account.edited In: 2"}));
    }
};

QTEST_GUILESS_MAIN(AccountStoreTests)
#include "AccountStoreTests.moc"
