#include "core/AccountStore.h"
#include "core/HotpCounter.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "platform/files/UserDefaults.h"
#include "platform/system/Widgets.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QJsonArray>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <map>
#include <thread>

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

    QDateTime clock;

    void openStore() {
        VaultFixture::openStore([this] { return clock; });
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

    // What the lists show after a failed write is what the keychain holds:
    // a store opened afresh on the same keychain shows the same.
    void checkListsAreWhatIsStored() {
        AccountStore reread(*defaults, *log, [this] { return clock; });
        QCOMPARE(labels(store->accounts()), labels(reread.accounts()));
        QCOMPARE(labels(store->deletedAccounts()), labels(reread.deletedAccounts()));
        QCOMPARE(store->accounts(), reread.accounts());
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
        // A use is no change of the accounts: views that rebuild on one (the
        // checkup) hear nothing; a reload that finds the same vault neither.
        QSignalSpy changes(store.get(), &AccountStore::accountsChanged);
        QSignalSpy deletedChanges(store.get(), &AccountStore::deletedAccountsChanged);
        QSignalSpy uses(store.get(), &AccountStore::usageChanged);
        store->markUsed(store->accounts()[0]);
        clock = clock.addSecs(5);
        store->markUsed(store->accounts()[0]);
        QCOMPARE(uses.count(), 2);
        QCOMPARE(store->usage().value(a.id).count, 7);
        // The list shows it at once (an order by use follows each copy);
        // the keychain item is not written for it.
        QCOMPARE(store->accounts()[0].useCount, 7);
        QCOMPARE(store->accounts()[0].lastUsedAt, clock);
        QCOMPARE(stored(a.id)->useCount, 5);
        store->reload();
        QCOMPARE(store->accounts()[0].useCount, 7);
        QCOMPARE(store->accounts()[0].lastUsedAt, clock);
        QCOMPARE(changes.count(), 0);
        QCOMPARE(deletedChanges.count(), 0);
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

        // Emptying records one erasure per account, as erase() does.
        Account c = makeAccount("C", "c");
        QCOMPARE(store->importAccounts({c}), 1);
        store->deleteAccount(b.id);
        store->deleteAccount(c.id);
        const int before = events().size();
        store->emptyRecentlyDeleted();
        QVERIFY(store->deletedAccounts().isEmpty());
        QVERIFY(!stored(b.id));
        QVERIFY(!stored(c.id));
        QStringList erased = events().mid(before);
        erased.sort();
        QCOMPARE(erased, QStringList({"account.erased B: b", "account.erased C: c"}));
    }

    void eraseReportsAFailingKeychain() {
        Account a = makeAccount("A", "a");
        seed({a});
        openStore();
        store->deleteAccount(a.id);
        memory->failWith(Op::remove, Keychain::ioError);
        QVERIFY(!store->erase(store->deletedAccounts().first()));
        QCOMPARE(store->lastError(), std::optional<QString>("The disk is full or cannot be written."));
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"A: a"}));
        QCOMPARE(events(), QStringList({"account.deleted A: a"}));
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
        std::optional<Account> used = totp;
        store->advanceCounter(totp, [&](const std::optional<Account>& taken) { used = taken; });
        QVERIFY(!used); // not counter-based: nothing to take
        QCOMPARE(store->accounts()[0], totp);
        store->advanceCounter(hotp, [&](const std::optional<Account>& taken) { used = taken; });
        store->waitForPendingWork();
        QCOMPARE(used->counter, std::numeric_limits<quint64>::max());
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

    // The AutoFill host advances counters in its own process: an edit, a
    // favourite or a deletion made from what the window holds must not write
    // the older counter back, or the next code would be one already used.
    void writesFromTheWindowNeverPutACounterBack() {
        Account hotp = makeAccount("H", "h");
        hotp.type = OTPType::hotp;
        hotp.counter = 5;
        seed({hotp});
        openStore();
        HotpCounter::advance(hotp); // the host's two fills
        HotpCounter::advance(hotp);
        QCOMPARE(stored(hotp.id)->counter, 7u);

        Account edited = store->accounts()[0];
        QCOMPARE(edited.counter, 5u);
        edited.name = "renamed";
        QVERIFY(store->update(edited));
        QCOMPARE(stored(hotp.id)->counter, 7u);
        QCOMPARE(stored(hotp.id)->name, QString("renamed"));
        QCOMPARE(store->accounts()[0].counter, 7u);

        HotpCounter::advance(store->accounts()[0]);
        store->toggleFavorite(hotp.id);
        QCOMPARE(stored(hotp.id)->counter, 8u);
        QVERIFY(store->deleteAccount(hotp.id));
        QList<Account> deleted{hotp};
        HotpCounter::writeNotBehind(deleted, [](const QList<Account>&) { return QList<bool>{true}; });
        QCOMPARE(deleted[0].counter, 8u); // a deleted item's counter is kept too
        QVERIFY(store->restore(hotp.id));
        QCOMPARE(stored(hotp.id)->counter, 8u);
        QCOMPARE(store->accounts()[0].counter, 8u);

        // Its folder's removal moves it out of the folder with the counter
        // the host reached meanwhile.
        const QUuid folderID = store->addFolder("F")->id;
        store->setFolder(folderID, hotp.id);
        HotpCounter::advance(store->accounts()[0]);
        store->deleteFolder(folderID);
        QVERIFY(!stored(hotp.id)->folderID);
        QCOMPARE(stored(hotp.id)->counter, 9u);
        QCOMPARE(store->accounts()[0].counter, 9u);

        // A copy that takes no counter hands out the stored one, and the
        // list takes it; nothing when the keychain cannot tell.
        HotpCounter::advance(store->accounts()[0]);
        std::optional<Account> current;
        store->currentCounter(store->accounts()[0], [&](const auto& c) { current = c; });
        store->waitForPendingWork();
        QCOMPARE(current->counter, 10u);
        QCOMPARE(store->accounts()[0].counter, 10u);
        QCOMPARE(stored(hotp.id)->counter, 10u);
        memory->failWith(Op::copyMatching, Keychain::interactionNotAllowed);
        store->currentCounter(store->accounts()[0], [&](const auto& c) { current = c; });
        store->waitForPendingWork();
        QVERIFY(!current);
        QVERIFY(store->lastError());
        memory->failWith(Op::copyMatching, Keychain::success);
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
        // Far more than the 40 ms of the burst, also where a wait lasts long.
        store->setDelaysForTesting(1000, 50);
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
        Account a = makeAccount("A", "a");
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

    // Every operation whose write the keychain refuses changes nothing that
    // is shown, records nothing, and says why; the same operation succeeds
    // once the keychain accepts it again.
    void refusedWritesChangeNothing_data() {
        QTest::addColumn<QString>("operation");
        for (const char* name : {"update", "delete", "restore", "favorite", "folder", "counter",
                                 "move", "order", "toIndex", "erase"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void refusedWritesChangeNothing() {
        QFETCH(QString, operation);
        Account a = makeAccount("A", "a"), b = makeAccount("B", "b"), c = makeAccount("C", "c");
        a.type = OTPType::hotp;
        Account gone = makeAccount("Gone", "g");
        gone.deletedAt = start.addDays(-1);
        seed({a, b, c, gone});
        openStore();
        Account edited = a;
        edited.note = QStringLiteral("changed");
        const std::map<QString, std::function<bool()>> operations{
            {"update", [&] { return store->update(edited); }},
            {"delete", [&] { return store->deleteAccount(b.id); }},
            {"restore", [&] { return store->restore(gone.id); }},
            {"favorite", [&] { return store->toggleFavorite(c.id); }},
            {"folder", [&] { return store->setFolder(QUuid::createUuid(), a.id); }},
            {"counter",
             [&] {
                 bool stored = false;
                 store->advanceCounter(a, [&](const auto& used) { stored = used.has_value(); });
                 store->waitForPendingWork();
                 return stored;
             }},
            {"move", [&] { return store->move(c.id, a.id); }},
            {"order", [&] { return store->setOrder({c.id, b.id, a.id}); }},
            {"toIndex", [&] { return store->moveAccountToIndex(a.id, 2); }},
            {"erase", [&] { return store->erase(gone); }},
        };
        const QList<Account> accounts = store->accounts(), deleted = store->deletedAccounts();
        QSignalSpy changes(store.get(), &AccountStore::accountsChanged);
        QSignalSpy deletedChanges(store.get(), &AccountStore::deletedAccountsChanged);
        for (const auto op : {Op::update, Op::add, Op::remove})
            memory->failWith(op, Keychain::interactionNotAllowed);
        const quint64 failures = store->failureCount();

        QVERIFY(!operations.at(operation)());
        QCOMPARE(store->accounts(), accounts);
        QCOMPARE(store->deletedAccounts(), deleted);
        QCOMPARE(changes.size(), 0);
        QCOMPARE(deletedChanges.size(), 0);
        QCOMPARE(store->lastError(), std::optional<QString>("Your keyring is locked."));
        QCOMPARE(store->failureReason(),
                 QStringLiteral("Your keyring is locked."));
        QCOMPARE(store->failureCount(), failures + 1);
        QVERIFY(events().isEmpty());
        checkListsAreWhatIsStored();

        for (const auto op : {Op::update, Op::add, Op::remove})
            memory->failWith(op, Keychain::success);
        QVERIFY(operations.at(operation)());
        QVERIFY(!store->lastError());
        QCOMPARE(store->failureReason(), QString());
        QVERIFY(store->accounts() != accounts || store->deletedAccounts() != deleted);
        checkListsAreWhatIsStored();
    }

    // A deletion whose item was stored but whose order write failed is a
    // deletion all the same: the item decides where a reload puts it.
    void partlyStoredOperationsShowWhatWasStored() {
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b");
        seed({a, b});
        openStore();
        memory->failWith(Op::update, Keychain::ioError, KeychainStore::orderAccount);
        QVERIFY(store->deleteAccount(a.id));
        QCOMPARE(labels(store->accounts()), QStringList({"B: b"}));
        QCOMPARE(store->lastError(), std::optional<QString>("The disk is full or cannot be written."));
        QCOMPARE(events(), QStringList({"account.deleted A: a"}));
        checkListsAreWhatIsStored();
        memory->failWith(Op::update, Keychain::success, KeychainStore::orderAccount);

        // Emptying Recently Deleted keeps what could not be removed.
        memory->failWith(Op::remove, Keychain::interactionNotAllowed, Json::uuidText(a.id));
        const int before = events().size();
        store->emptyRecentlyDeleted();
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"A: a"}));
        QCOMPARE(store->lastError(), std::optional<QString>("Your keyring is locked."));
        // Nothing was erased, so nothing is recorded.
        QCOMPARE(events().size(), before);
        checkListsAreWhatIsStored();
    }

    // A reload that fails keeps what the store showed; at start-up that is
    // nothing, and the vault is then locked or unreadable, not empty.
    void failedReadsAreAStateOfTheirOwn() {
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b");
        seed({a, b});
        openStore();
        QCOMPARE(store->vaultState(), AccountStore::VaultState::open);
        memory->failWith(Op::copyMatching, Keychain::interactionNotAllowed);
        store->reload();
        QCOMPARE(store->lastError(), std::optional<QString>("Your keyring is locked."));
        QCOMPARE(labels(store->accounts()), QStringList({"A: a", "B: b"}));
        QCOMPARE(store->vaultState(), AccountStore::VaultState::open);
        memory->failWith(Op::copyMatching, Keychain::success);
        store->reload();
        QVERIFY(!store->lastError());

        // At start-up: locked (through open or a read), or unreadable; the
        // folders are still reconciled.
        defaults->setValue(
            Settings::accountFolders.key,
            QJsonDocument(QJsonArray{Folder{QUuid::createUuid(), "Work", "folder"}.toJson()})
                .toJson());
        memory->failWith(Op::open, Keychain::interactionNotAllowed);
        openStore();
        QCOMPARE(store->vaultState(), AccountStore::VaultState::locked);
        QVERIFY(store->accounts().isEmpty());
        QCOMPARE(store->folders().size(), 1);
        memory->failWith(Op::open, Keychain::success);
        memory->failWith(Op::copyMatching, Keychain::notAvailable);
        openStore();
        QCOMPARE(store->vaultState(), AccountStore::VaultState::unreadable);
        QCOMPARE(store->lastError(), std::optional<QString>("Quillet could not reach your keyring."));
        QCOMPARE(store->failureReason(),
                 QStringLiteral("Quillet could not reach your keyring."));

        // Nothing can be added to a vault that could not be read.
        memory->failWith(Op::copyMatching, Keychain::success);
        const QList<Keychain::Item> before = memory->items();
        std::optional<AccountStore::ImportResult> result;
        store->importAccounts({makeAccount("New", "n")},
                              [&](const AccountStore::ImportResult& r) { result = r; });
        QTRY_VERIFY(result);
        QCOMPARE(result->added, 0);
        QVERIFY(result->error->startsWith("Quillet could not read your keyring, so nothing was added."));
        QCOMPARE(memory->items(), before);
        QVERIFY(events().isEmpty());

        // Trying again reads it.
        QSignalSpy states(store.get(), &AccountStore::vaultStateChanged);
        store->tryAgain();
        QCOMPARE(store->vaultState(), AccountStore::VaultState::opening);
        QTRY_COMPARE(store->vaultState(), AccountStore::VaultState::open);
        QCOMPARE(labels(store->accounts()), QStringList({"A: a", "B: b"}));
        QCOMPARE(states.size(), 2);
    }

    // An account item this version cannot read is never rewritten or
    // removed, its id is never given to another account, and it is counted.
    void unreadableItemsAreKeptAndCounted() {
        const Account a = makeAccount("A", "a");
        seed({a});
        const QUuid damagedID = QUuid::createUuid();
        Keychain::Item damaged = Keychain::Item();
        damaged.service = KeychainStore::service;
        damaged.account = Json::uuidText(damagedID);
        damaged.accessGroup = KeychainStore::sharedAccessGroup;
        damaged.synchronizable = true;
        damaged.dataProtection = true;
        damaged.data = "{not json";
        QCOMPARE(Keychain::add(damaged), Keychain::success);
        openStore();
        QCOMPARE(store->unreadableItemCount(), 1);
        QCOMPARE(labels(store->accounts()), QStringList({"A: a"}));

        Account sameID = makeAccount("Backup", "b");
        sameID.id = damagedID;
        QCOMPARE(store->importAccounts({sameID}), 1);
        QVERIFY(store->accounts().last().id != damagedID);
        store->deleteAccount(a.id);
        store->emptyRecentlyDeleted();
        clock = clock.addDays(40);
        store->reload();
        const auto kept = std::find_if(memory->items().begin(), memory->items().end(),
                                       [&](const Keychain::Item& i) { return i.account == damaged.account; });
        QVERIFY(kept != memory->items().end());
        QCOMPARE(*kept, damaged);
        QCOMPARE(store->unreadableItemCount(), 1);
    }

    // The accounts reached the keychain, the timeline line did not (the
    // program ended first): the next start writes the import's entry, once.
    void anImportsEntryLostAtTheEndIsWrittenAtTheNextStart() {
        openStore();
        const QString path = log->path();
        QVERIFY(QFile::link(folder->filePath("nowhere/timeline.jsonl"), path));
        QCOMPARE(store->importAccounts({makeAccount("A", "a", "s1"), makeAccount("B", "b", "s2"),
                                        makeAccount("C", "c", "s3")}),
                 3);
        log->waitForIdle();
        QCOMPARE(log->snapshot().unwritten, 1);
        store.reset();
        log.reset(); // the entry is lost with the program
        QVERIFY(QFile::remove(path));

        const auto entries = [this] {
            QStringList found;
            for (const AuditEntry& entry : log->snapshot().entries)
                found << entry.type + " " + entry.detail;
            return found;
        };
        for (int start = 0; start < 2; ++start) {
            log = std::make_unique<SecurityLog>(path);
            openStore();
            QCOMPARE(store->accounts().size(), 3);
            QTRY_VERIFY(!QFile::exists(path + ".import"));
            QCOMPARE(entries(), QStringList{"account.imported 3 accounts"});
            store.reset();
            log.reset();
        }
        log = std::make_unique<SecurityLog>(path);
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

    // Each imported account is stored before it is listed: one the keychain
    // refuses is not listed, not counted and not recorded, and the order
    // names only what is stored.
    void importListsOnlyWhatWasStored() {
        Account gone = makeAccount("Gone", "g", "s0");
        gone.deletedAt = start.addDays(-1);
        seed({gone});
        openStore();
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b"), c = makeAccount("C", "c");
        memory->failWith(Op::add, Keychain::ioError, Json::uuidText(a.id));
        memory->failWith(Op::update, Keychain::ioError, Json::uuidText(gone.id));
        std::optional<AccountStore::ImportResult> result;
        store->importAccounts({a, makeAccount("Gone", "g", "s0"), b, c},
                              [&](const AccountStore::ImportResult& r) { result = r; });
        QVERIFY(!result); // answered once stored, never from inside the call
        store->waitForPendingWork();
        QVERIFY(result);
        QCOMPARE(result->added, 2);
        QCOMPARE(result->notAdded, 2);
        QCOMPARE(*result->error,
                 QStringLiteral("2 of 4 accounts were not added. The disk is full or cannot be "
                                "written."));
        QCOMPARE(labels(store->accounts()), QStringList({"B: b", "C: c"}));
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"Gone: g"}));
        QCOMPARE(store->lastError(), std::optional<QString>("The disk is full or cannot be written."));
        QCOMPARE(storedOrder(), ids());
        QCOMPARE(events(), QStringList({"account.imported 2 accounts"}));
        checkListsAreWhatIsStored();

        // Trying again adds what is missing.
        memory->failWith(Op::add, Keychain::success, Json::uuidText(a.id));
        memory->failWith(Op::update, Keychain::success, Json::uuidText(gone.id));
        QCOMPARE(store->importAccounts({a, makeAccount("Gone", "g", "s0"), b, c}), 2);
        QCOMPARE(labels(store->accounts()), QStringList({"B: b", "C: c", "A: a", "Gone: g"}));
        QVERIFY(store->deletedAccounts().isEmpty());
        QCOMPARE(events().mid(1), QStringList({"account.restored Gone: g", "account.imported 2 accounts"}));
        QVERIFY(!store->lastError());
    }

    // A thousand accounts: one change of each list, one write of the
    // keychain, one timeline event; and other operations announce their
    // change once.
    void oneNotificationPerOperation() {
        Account gone = makeAccount("Gone", "g", "s0");
        gone.deletedAt = start.addDays(-1);
        seed({gone});
        openStore();
        QList<Account> incoming{makeAccount("Gone", "g", "s0")};
        for (int i = 0; i < 1000; ++i)
            incoming << makeAccount("Bulk", QString::number(i));
        QSignalSpy accountChanges(store.get(), &AccountStore::accountsChanged);
        QSignalSpy deletedChanges(store.get(), &AccountStore::deletedAccountsChanged);
        QSignalSpy errorChanges(store.get(), &AccountStore::lastErrorChanged);
        QCOMPARE(store->importAccounts(incoming), 1001);
        QCOMPARE(accountChanges.size(), 1);
        QCOMPARE(deletedChanges.size(), 1);
        QCOMPARE(errorChanges.size(), 0);
        QCOMPARE(events(), QStringList({"account.restored Gone: g", "account.imported 1001 accounts"}));

        const QUuid last = store->accounts().last().id;
        accountChanges.clear();
        store->toggleFavorite(last); // flag and move to the top
        store->deleteAccount(last);
        store->deleteFolder(store->addFolder("Empty")->id);
        QCOMPARE(accountChanges.size(), 2);
    }

    // Opening in the background returns at once; the keychain is opened (the
    // part that may prompt) off the calling thread; an import asked for
    // meanwhile waits for the vault and then stores off that thread too.
    void openingAndImportingInTheBackground() {
        struct Gate : Keychain::MemoryBackend {
            QSemaphore opened;
            std::atomic<std::thread::id> openThread, writeThread;
            Keychain::Status open() override {
                openThread = std::this_thread::get_id();
                opened.acquire();
                return Keychain::MemoryBackend::open();
            }
            QList<Keychain::Status> upsert(const QList<Keychain::Upsert>& writes,
                                           const Keychain::Progress& progress) override {
                writeThread = std::this_thread::get_id();
                return Keychain::Backend::upsert(writes, progress);
            }
        };
        auto gate = std::make_shared<Gate>();
        Keychain::setBackend(gate);
        seed({makeAccount("A", "a")});
        VaultFixture::openStore([this] { return clock; }, AccountStore::Opening::inBackground);
        QCOMPARE(store->vaultState(), AccountStore::VaultState::opening);
        QVERIFY(store->accounts().isEmpty());
        std::optional<AccountStore::ImportResult> result;
        store->importAccounts({makeAccount("B", "b")},
                              [&](const AccountStore::ImportResult& r) { result = r; });
        QTest::qWait(50);
        QVERIFY(!result);
        QCOMPARE(store->vaultState(), AccountStore::VaultState::opening);

        gate->opened.release();
        QTRY_VERIFY(result);
        QCOMPARE(store->vaultState(), AccountStore::VaultState::open);
        QCOMPARE(result->added, 1);
        QCOMPARE(labels(store->accounts()), QStringList({"A: a", "B: b"}));
        QVERIFY(gate->openThread.load() != std::this_thread::get_id());
        QVERIFY(gate->writeThread.load() != std::this_thread::get_id());
        store.reset();
        Keychain::setBackend(memory);
    }

    // A keychain that writes item by item (the Secret Service) and slowly:
    // the accounts are listed as they are stored, a few times a second, not
    // at the end; a program that quits stops the import after the item
    // under way, and what was stored is listed, ordered and recorded.
    void longImportsListAsTheyGoAndStopWhenQuitting() {
        // 8 s for all 400: a loaded machine still quits long before the end.
        struct Slow : Keychain::MemoryBackend {
            Keychain::Status add(const Keychain::Item& item) override {
                QThread::msleep(20);
                return Keychain::MemoryBackend::add(item);
            }
            QList<Keychain::Status> upsert(const QList<Keychain::Upsert>& writes,
                                           const Keychain::Progress& progress) override {
                return Keychain::Backend::upsert(writes, progress); // told as it goes
            }
        };
        auto slow = std::make_shared<Slow>();
        Keychain::setBackend(slow);
        openStore();
        QList<Account> incoming;
        for (int i = 0; i < 400; ++i)
            incoming << makeAccount("Slow", QString::number(i));
        QSignalSpy changes(store.get(), &AccountStore::accountsChanged);
        std::optional<AccountStore::ImportResult> result;
        store->importAccounts(incoming, [&](const AccountStore::ImportResult& r) { result = r; });
        QTRY_VERIFY(changes.size() >= 2);
        QVERIFY(!result);
        const qsizetype listedBefore = store->accounts().size();
        QVERIFY(listedBefore > 0 && listedBefore < 400);

        store->finish(); // after the account being written, not the 400
        QVERIFY(result);
        QVERIFY(result->added >= listedBefore && result->added < 400);
        QCOMPARE(result->added + result->notAdded, 400);
        QCOMPARE(store->accounts().size(), result->added);
        QCOMPARE(storedOrder(), ids());
        QCOMPARE(events(), QStringList({QStringLiteral("account.imported %1 accounts").arg(result->added)}));
        checkListsAreWhatIsStored();
        store.reset();
        Keychain::setBackend(memory);
    }

    // A reload that read the keychain before a write made meanwhile is
    // thrown away and read again: it must not bring back what was replaced.
    void aReadOlderThanAWriteIsReadAgain() {
        struct SlowRead : Keychain::MemoryBackend {
            QSemaphore reading, mayFinish;
            std::atomic<bool> hold = false;
            Keychain::Status copyMatching(const Keychain::Query& query,
                                          Keychain::Results* results) override {
                const Keychain::Status status = Keychain::MemoryBackend::copyMatching(query, results);
                if (hold && query.matchLimit == Keychain::Query::MatchLimit::all) {
                    hold = false;
                    reading.release();
                    mayFinish.acquire();
                }
                return status;
            }
        };
        auto slow = std::make_shared<SlowRead>();
        Keychain::setBackend(slow);
        const Account a = makeAccount("A", "a");
        seed({a});
        openStore();
        store->setDelaysForTesting(0, 50);
        QSignalSpy reloads(store.get(), &AccountStore::reloaded);
        slow->hold = true;
        store->applicationBecameActive();
        QTRY_VERIFY(slow->reading.available() > 0);
        Account edited = store->accounts().first();
        edited.note = QStringLiteral("newer");
        QVERIFY(store->update(edited));
        slow->mayFinish.release();
        QTRY_COMPARE(reloads.size(), 1);
        QCOMPARE(store->accounts().first().note, QStringLiteral("newer"));
        store.reset();
        Keychain::setBackend(memory);
    }

    // Sizes beyond the limits are refused with what is too large.
    void sizeLimits() {
        const Account a = makeAccount("A", "a");
        seed({a});
        openStore();
        Account longName = a;
        longName.name = QString(1001, QLatin1Char('n'));
        QVERIFY(!store->update(longName));
        QCOMPARE(store->lastError(),
                 std::optional<QString>("An account name is longer than 1,000 characters."));
        QCOMPARE(store->accounts().first().name, QStringLiteral("a"));
        longName.name = QString(1000, QLatin1Char('n'));
        QVERIFY(store->update(longName));

        std::optional<AccountStore::ImportResult> result;
        Account bigSecret = makeAccount("Big", "b", QByteArray(1025, 's'));
        store->importAccounts({makeAccount("Fine", "f"), bigSecret},
                              [&](const AccountStore::ImportResult& r) { result = r; });
        store->waitForPendingWork();
        // The account over the limit is left out and counted; the other is stored.
        QCOMPARE(result->added, 1);
        QCOMPARE(result->refused, 1);
        QVERIFY(!result->error);
        QCOMPARE(store->accounts().size(), 2);
        store->importAccounts({bigSecret}, [&](const AccountStore::ImportResult& r) { result = r; });
        store->waitForPendingWork();
        QCOMPARE(*result->error, QStringLiteral("A secret is longer than 1,024 bytes. Nothing was added."));
        bigSecret.secret.chop(1);
        Account longIssuer = makeAccount(QString(1001, QLatin1Char('i')), "x");
        QCOMPARE(store->importAccounts({bigSecret}), 1);
        QCOMPARE(store->importAccounts({longIssuer}), 0);
        QCOMPARE(store->lastError(),
                 std::optional<QString>("An issuer name is longer than 1,000 characters. Nothing was added."));

        QVERIFY(!store->addFolder(QString(1001, QLatin1Char('f'))));
        QCOMPARE(store->lastError(),
                 std::optional<QString>("A folder name is longer than 1,000 characters."));
        const Folder folder = *store->addFolder("Work");
        QVERIFY(!store->renameFolder(folder.id, QString(1001, QLatin1Char('f'))));
        QCOMPARE(store->folders().first().name, QStringLiteral("Work"));
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
        const Folder work = *store->addFolder("Work");
        QCOMPARE(store->addFolder("  work\t")->id, work.id);
        QCOMPARE(store->folders().size(), 1);
        const Folder blank = *store->addFolder("   ");
        QCOMPARE(blank.name, QStringLiteral("Folder"));
        QCOMPARE(store->addFolder(" ")->name, QStringLiteral("Folder"));
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

QUILLET_TEST_GUILESS_MAIN(AccountStoreTests)
#include "AccountStoreTests.moc"
