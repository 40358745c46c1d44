#include "core/AccountListModel.h"
#include "core/AccountStore.h"
#include "core/KeychainStore.h"
#include "core/Settings.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QSignalSpy>
#include <QtTest>

using TestSupport::labels;
using TestSupport::makeAccount;

class AccountListModelTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT


    void open(const QList<Account>& accounts) {
        TestSupport::seedVault(accounts);
        openStore();
    }
    QList<QUuid> storedOrder() const {
        QList<QUuid> ids;
        for (const Account& a : KeychainStore::loadAll().active)
            ids << a.id;
        return ids;
    }

private slots:
    void init() { openVault(); }
    void cleanup() {
        store.reset();
        log.reset();
    }

    void scopeSearchAndOrderAsPureSteps() {
        Account zed = makeAccount("Zeta", "zed");
        Account ann = makeAccount("acme", "ann");
        Account bob = makeAccount("Beta", "Bob Smith");
        Account fav = makeAccount("Gamma", "fav");
        fav.isFavorite = true;
        const Folder work{QUuid::createUuid(), "Work", "folder"};
        zed.folderID = work.id;
        bob.folderID = QUuid::createUuid(); // its folder was removed elsewhere
        const QList<Account> all{zed, fav, ann, bob};

        using namespace AccountList;
        QCOMPARE(labels(inFolder(all, FolderFilter::folder(work.id), {work})),
                 QStringList({"Zeta: zed"}));
        QCOMPARE(labels(inFolder(all, FolderFilter::ungrouped(), {work})),
                 QStringList({"Gamma: fav", "acme: ann", "Beta: Bob Smith"}));
        QCOMPARE(inFolder(all, FolderFilter::all(), {}), all);
        QCOMPARE(labels(withoutHidden(all, {fav.id, bob.id})), QStringList({"Zeta: zed", "acme: ann"}));

        // Both sides lower-cased; the text is not trimmed.
        QCOMPARE(labels(matching(all, "ACME")), QStringList({"acme: ann"}));
        QCOMPARE(labels(matching(all, " ")), QStringList({"Beta: Bob Smith"}));
        QCOMPARE(labels(matching(all, " ann")), QStringList());
        QCOMPARE(matching(all, ""), all);
        QVERIFY(matches(zed, "") && matches(zed, "ZE") && !matches(zed, "q"));

        QCOMPARE(sortFromText(std::nullopt), AccountSort::manual);
        QCOMPARE(sortFromText(QStringLiteral("mostUsed")), AccountSort::mostUsed);
        QCOMPARE(sortFromText(QStringLiteral("Name")), AccountSort::manual);
        QCOMPARE(sortFromText(QStringLiteral("bogus")), AccountSort::manual);

        // Manual keeps the stored order (no favourites first); the others
        // put favourites first.
        QCOMPARE(labels(visible(all, {}, FolderFilter::all(), {}, "", AccountSort::manual)),
                 labels(all));
        QCOMPARE(labels(visible(all, {}, FolderFilter::all(), {}, "", AccountSort::name)),
                 QStringList({"Gamma: fav", "acme: ann", "Beta: Bob Smith", "Zeta: zed"}));
        QCOMPARE(labels(visible(all, {work}, FolderFilter::ungrouped(), {fav.id}, "b",
                                AccountSort::issuer)),
                 QStringList({"Beta: Bob Smith"}));

        QVERIFY(canReorder("", FolderFilter::all(), false, AccountSort::manual));
        QVERIFY(!canReorder(" ", FolderFilter::all(), false, AccountSort::manual));
        QVERIFY(!canReorder("", FolderFilter::ungrouped(), false, AccountSort::manual));
        QVERIFY(!canReorder("", FolderFilter::all(), true, AccountSort::manual));
        QVERIFY(!canReorder("", FolderFilter::all(), false, AccountSort::mostUsed));
    }

    void movesAmongNeighbours() {
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b"), c = makeAccount("C", "c");
        const QList<Account> list{a, b, c};
        using AccountList::Move;
        QCOMPARE(AccountList::moveUp(list, a.id), std::nullopt);
        QCOMPARE(AccountList::moveUp(list, c.id), (Move{c.id, b.id}));
        QCOMPARE(AccountList::moveDown(list, a.id), (Move{b.id, a.id}));
        QCOMPARE(AccountList::moveDown(list, c.id), std::nullopt);
        QCOMPARE(AccountList::moveUp(list, QUuid::createUuid()), std::nullopt);

        QCOMPARE(labels(*AccountList::movedByOffsets(list, {2}, 0)), QStringList({"C: c", "A: a", "B: b"}));
        QCOMPARE(labels(*AccountList::movedByOffsets(list, {0}, 3)), QStringList({"B: b", "C: c", "A: a"}));
        QCOMPARE(labels(*AccountList::movedByOffsets(list, {0, 2}, 2)),
                 QStringList({"B: b", "A: a", "C: c"}));
        QCOMPARE(AccountList::movedByOffsets(list, {3}, 0), std::nullopt);
        QCOMPARE(AccountList::movedByOffsets(list, {-1}, 0), std::nullopt);
    }

    // A hidden account between two neighbours ends up after the pair, in
    // either direction.
    void movingAroundAHiddenAccount() {
        const Account a = makeAccount("A", "a"), h = makeAccount("H", "h"), b = makeAccount("B", "b");
        for (bool up : {true, false}) {
            open({a, h, b});
            AccountListModel menu(*store, *defaults, AccountListModel::Ordering::stored);
            menu.setHiddenAccountIDs({h.id});
            QCOMPARE(labels(menu.accounts()), QStringList({"A: a", "B: b"}));
            const auto move = up ? menu.moveUp(b.id) : menu.moveDown(a.id);
            QVERIFY(move);
            store->move(move->moved, move->target);
            QCOMPARE(labels(store->accounts()), QStringList({"B: b", "A: a", "H: h"}));
            QCOMPARE(storedOrder(), QList<QUuid>({b.id, a.id, h.id}));
            QCOMPARE(labels(menu.accounts()), QStringList({"B: b", "A: a"}));
            store.reset();
        }
    }

    void followsTheStoreAndTheSortSetting() {
        Account a = makeAccount("Beta", "a"), b = makeAccount("Alpha", "b"), c = makeAccount("Gamma", "c");
        open({a, b, c});
        AccountListModel main(*store, *defaults);
        AccountListModel menu(*store, *defaults, AccountListModel::Ordering::stored);
        QSignalSpy changes(&main, &AccountListModel::accountsChanged);
        QCOMPARE(main.sortOrder(), AccountSort::manual);
        QVERIFY(main.canReorder());

        defaults->setValue(Settings::accountSortOrder.key, "issuer");
        QCOMPARE(changes.count(), 1);
        QCOMPARE(labels(main.accounts()), QStringList({"Alpha: b", "Beta: a", "Gamma: c"}));
        QVERIFY(!main.canReorder());
        // The stored order never sorts.
        QCOMPARE(labels(menu.accounts()), QStringList({"Beta: a", "Alpha: b", "Gamma: c"}));
        QCOMPARE(menu.sortOrder(), AccountSort::manual);

        // Pinning lifts the account in both: first in the sorted list as a
        // favourite, first in the stored order as the store moves it there.
        store->toggleFavorite(c.id);
        QCOMPARE(labels(main.accounts()).first(), QStringLiteral("Gamma: c"));
        QCOMPARE(labels(menu.accounts()).first(), QStringLiteral("Gamma: c"));

        // Most used follows each copy at once.
        defaults->setValue(Settings::accountSortOrder.key, "mostUsed");
        store->markUsed(*main.account(b.id));
        store->markUsed(*main.account(b.id));
        store->markUsed(*main.account(a.id));
        QCOMPARE(labels(main.accounts()), QStringList({"Gamma: c", "Alpha: b", "Beta: a"}));

        store->deleteAccount(b.id);
        QCOMPARE(labels(main.accounts()), QStringList({"Gamma: c", "Beta: a"}));
        QCOMPARE(main.account(b.id), std::nullopt);
    }

    void tellsWhyTheListIsEmpty() {
        Account a = makeAccount("A", "a"), b = makeAccount("B", "b");
        open({});
        AccountListModel menu(*store, *defaults, AccountListModel::Ordering::stored);
        QCOMPARE(menu.emptiness(), AccountListModel::Emptiness::noAccounts);
        menu.setSearchText("zz"); // still no accounts at all, whatever the search
        QCOMPARE(menu.emptiness(), AccountListModel::Emptiness::noAccounts);
        store->importAccounts({a, b});
        QCOMPARE(menu.emptiness(), AccountListModel::Emptiness::noMatches);
        menu.setSearchText("");
        QCOMPARE(menu.emptiness(), AccountListModel::Emptiness::notEmpty);
        menu.setHiddenAccountIDs({a.id, b.id});
        QCOMPARE(menu.emptiness(), AccountListModel::Emptiness::noneInScope);
        QVERIFY(!menu.canReorder());

        AccountListModel main(*store, *defaults);
        const Folder empty = *store->addFolder("Empty");
        main.setFolderFilter(FolderFilter::folder(empty.id));
        QCOMPARE(main.emptiness(), AccountListModel::Emptiness::noneInScope);
        QVERIFY(!main.canReorder());
        // Once the folder is gone, the list shows every account again.
        store->deleteFolder(empty.id);
        QCOMPARE(main.folderFilter(), FolderFilter::all());
        QCOMPARE(main.emptiness(), AccountListModel::Emptiness::notEmpty);
    }

    // A store operation that changes the accounts and the folders at once
    // gives one new list, not one per change: each is a rebuild of every
    // view that shows the list.
    void oneNewListPerOperation() {
        open({});
        const Folder work = *store->addFolder("Work");
        Account a = makeAccount("A", "a"), b = makeAccount("B", "b");
        a.folderID = b.folderID = work.id;
        store->importAccounts({a, b});
        AccountListModel main(*store, *defaults);
        main.setFolderFilter(FolderFilter::ungrouped());
        QCOMPARE(main.emptiness(), AccountListModel::Emptiness::noneInScope);
        QSignalSpy changes(&main, &AccountListModel::accountsChanged);
        store->deleteFolder(work.id);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(labels(main.accounts()), QStringList({"A: a", "B: b"}));
    }

    // A keyring that could not be read is never an empty vault: the list
    // says why it is empty, whatever the filter or search, until it opens.
    void anUnreadKeyringIsNotAnEmptyVault() {
        using Op = Keychain::MemoryBackend::Operation;
        TestSupport::seedVault({makeAccount("A", "a")});
        memory->failWith(Op::open, Keychain::interactionNotAllowed);
        openStore();
        AccountListModel menu(*store, *defaults, AccountListModel::Ordering::stored);
        menu.setSearchText("zz");
        QCOMPARE(store->vaultState(), AccountStore::VaultState::locked);
        QCOMPARE(menu.emptiness(), AccountListModel::Emptiness::vaultNotOpen);
        QCOMPARE(menu.vaultNotice()->title, QStringLiteral("Your keyring is locked."));
        QVERIFY(!menu.vaultNotice()->opening);

        memory->failWith(Op::open, Keychain::success);
        memory->failWith(Op::copyMatching, Keychain::decodeFailed);
        QSignalSpy changes(&menu, &AccountListModel::accountsChanged);
        store->tryAgain();
        store->waitForPendingWork();
        QCOMPARE(menu.emptiness(), AccountListModel::Emptiness::vaultNotOpen);
        QCOMPARE(menu.vaultNotice()->title, QStringLiteral("Quillet could not read your keyring."));
        QCOMPARE(menu.vaultNotice()->message, store->failureReason());
        QVERIFY(!menu.vaultNotice()->message.isEmpty());

        memory->failWith(Op::copyMatching, Keychain::success);
        changes.clear();
        store->tryAgain();
        QVERIFY(menu.vaultNotice()->opening);
        QCOMPARE(changes.count(), 1);
        store->waitForPendingWork();
        QVERIFY(!menu.vaultNotice());
        QCOMPARE(menu.emptiness(), AccountListModel::Emptiness::noMatches);
        QCOMPARE(changes.count(), 2); // the accounts and the open state together
        menu.setSearchText("");
        QCOMPARE(labels(menu.accounts()), QStringList({"A: a"}));
    }
};

QUILLET_TEST_GUILESS_MAIN(AccountListModelTests)
#include "AccountListModelTests.moc"
