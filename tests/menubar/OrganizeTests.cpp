// The General tab's Organize section and the screens it opens, by what a
// user sees and does, with the main window beside them on the same vault.
#include "app/AccountRow.h"
#include "app/ContentView.h"
#include "app/FolderManagerView.h"
#include "app/RecentlyDeletedView.h"
#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "core/Json.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "menubar/GeneralTab.h"
#include "menubar/SecurityCheckup.h"
#include "menubar/SecurityCheckupMacView.h"
#include "menubar/SecurityTimelineMacView.h"
#include "menubar/SettingsWindow.h"
#include "platform/files/UserDefaults.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "tests/support/Screen.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

using namespace TestSupport;
using Op = Keychain::MemoryBackend::Operation;

namespace {

QPushButton* button(QWidget* in, const QString& text) { return shown<QPushButton>(in, text); }

// The texts of the timeline's rows, top to bottom.
QStringList timelineRows(SecurityTimelineMacView* view) {
    QStringList rows;
    QAbstractItemModel* model = view->list()->model();
    for (int i = 0; i < model->rowCount(); ++i)
        rows << model->index(i, 0).data(Qt::AccessibleTextRole).toString();
    return rows;
}

// What the sheet's problem line says; empty while it is hidden.
QString problem(QWidget* sheet) {
    auto* line = sheet->findChild<QLabel*>(QStringLiteral("storeProblem"));
    return line && line->isVisible() ? line->text() : QString();
}

} // namespace

class OrganizeTests : public QObject, TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppLockMac> lock;
    std::unique_ptr<TickingClock> clock;
    std::unique_ptr<QMainWindow> main;
    ContentView* content = nullptr;
    SettingsWindow* window = nullptr;
    GeneralTab* tab = nullptr;

    void start(const QList<Account>& accounts = {}) {
        seedVault(accounts);
        openStore();
        settings = std::make_unique<AppSettings>(*defaults);
        lock = std::make_unique<AppLockMac>(*defaults);
        clock = std::make_unique<TickingClock>();
        main = std::make_unique<QMainWindow>();
        content = new ContentView(*store, *clock, *defaults, main.get());
        main->setCentralWidget(content);
        main->resize(600, 500);
        main->show();
        window = new SettingsWindow(*store, *settings, *lock, *defaults, *log);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        tab = window->general();
    }

    // Opens one of the Organize section's sheets with its button.
    QDialog* open(const QString& buttonText, const QString& title) {
        click(button(tab, buttonText));
        QDialog* sheet = tab->sheet();
        if (!sheet || !QTest::qWaitForWindowExposed(sheet) || sheet->windowTitle() != title)
            return nullptr;
        return sheet;
    }

    QStringList listed() const {
        QStringList out;
        for (AccountRow* row : content->rows())
            out << row->titleText();
        return out;
    }

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }

    void init() { openVault(); }

    void cleanup() {
        delete window;
        window = nullptr;
        main.reset();
        store.reset();
    }

    void theSectionSummarisesTheVault() {
        start();
        QVERIFY(label(tab, "Organize"));
        QVERIFY(label(tab, "0 folders"));
        QVERIFY(label(tab, "Score 100/100")); // an empty vault
        QVERIFY(find<QLabel>(tab, "0 recoverable") == nullptr);
        QVERIFY(button(tab, "Recently Deleted…"));
        QVERIFY(button(tab, "Security Timeline…"));

        store->addFolder("Work");
        QVERIFY(label(tab, "1 folder"));
        store->addFolder("Home");
        QVERIFY(label(tab, "2 folders"));
        Account weak = makeAccount("Acme", "ann", QByteArray(10, 'k'));
        weak.recoveryCodes = "aaaa-bbbb";
        store->importAccounts({weak, makeAccount("Beta", "bob", QByteArray(20, 'b'))});
        // 100 - 10 (short secret) - 3 (no recovery codes for bob)
        QVERIFY(label(tab, "Score 87/100"));
        store->deleteAccount(store->accounts()[1].id);
        QVERIFY(label(tab, "1 recoverable"));
        QVERIFY(label(tab, "Score 90/100"));
        // The backup block closes the tab, after the Organize section.
        QVERIFY(label(tab, "Backup"));
        QVERIFY(label(tab, "Backup")->mapTo(tab, QPoint()).y() >
                label(tab, "Organize")->mapTo(tab, QPoint()).y());
    }

    void theSortPickerReordersTheMainWindowAtOnce() {
        start({makeAccount("Zeta", "amy"), makeAccount("Acme", "zoe"),
               makeAccount("Mid", "bob")});
        QComboBox* sort = picker(tab, "Sort accounts by");
        QVERIFY(sort);
        QCOMPARE(sort->currentText(), QStringLiteral("Manual"));
        QStringList items;
        for (int i = 0; i < sort->count(); ++i)
            items << sort->itemText(i);
        QCOMPARE(items, QStringList({"Manual", "Name", "Service", "Most used"}));
        QCOMPARE(listed(), QStringList({"Zeta", "Acme", "Mid"}));

        choose(sort, 1);
        QCOMPARE(defaults->string(Settings::accountSortOrder.key), std::optional<QString>("name"));
        QCOMPARE(listed(), QStringList({"Zeta", "Mid", "Acme"})); // amy, bob, zoe
        choose(sort, 1);
        QCOMPARE(defaults->string(Settings::accountSortOrder.key),
                 std::optional<QString>("issuer"));
        QCOMPARE(listed(), QStringList({"Acme", "Mid", "Zeta"}));
        choose(sort, 1);
        QCOMPARE(defaults->string(Settings::accountSortOrder.key),
                 std::optional<QString>("mostUsed"));

        // A change made elsewhere shows in the picker.
        defaults->setValue(Settings::accountSortOrder.key, QStringLiteral("manual"));
        QCOMPARE(sort->currentText(), QStringLiteral("Manual"));
        QCOMPARE(listed(), QStringList({"Zeta", "Acme", "Mid"}));
    }

    void recentlyDeletedRestoresAndErases() {
        start({makeAccount("Acme", "ann"), makeAccount("", "bob"), makeAccount("Corp", "cy"),
               makeAccount("Dee", "dan")});
        for (const Account& account : QList<Account>(store->accounts().mid(0, 3)))
            content->deleteAccount(account);
        QCOMPARE(listed(), QStringList({"Dee"}));
        QVERIFY(label(tab, "3 recoverable"));

        QDialog* sheet = open("Recently Deleted…", "Recently Deleted");
        QVERIFY(sheet);
        QCOMPARE(sheet->size(), QSize(460, 500));
        QVERIFY(button(sheet, "Done"));
        QVERIFY(label(sheet, "Kept for 30 days, then removed automatically. Restore to bring an "
                             "account back."));
        QVERIFY(label(sheet, "Acme: ann"));
        QVERIFY(label(sheet, "bob")); // no colon without an issuer
        QVERIFY(label(sheet, "Deleted today"));

        // Restore: back in the list, at its end.
        QPushButton* restore = nullptr;
        for (QPushButton* b : sheet->findChildren<QPushButton*>())
            if (b->text() == "Restore" && b->accessibleDescription() == "Acme: ann") restore = b;
        click(restore);
        QCOMPARE(listed(), QStringList({"Dee", "Acme"}));
        QTRY_VERIFY(absent(sheet, "Acme: ann"));
        QVERIFY(label(tab, "2 recoverable"));

        // Delete one permanently, from its context menu: gone from the
        // keychain too.
        QUuid bobID;
        for (const Account& a : store->deletedAccounts())
            if (a.name == "bob") bobID = a.id;
        QAction* erase = menuEntry(sheet, "bob", "Delete Permanently");
        QVERIFY(erase);
        QVERIFY(menuEntry(sheet, "bob", "Restore"));
        erase->trigger();
        QTRY_VERIFY(absent(sheet, "bob"));
        QCOMPARE(KeychainStore::loadAll().deleted.size(), 1);
        for (const Account& a : KeychainStore::loadAll().deleted)
            QVERIFY(a.id != bobID);
        QVERIFY(label(tab, "1 recoverable"));

        // Delete All asks first; Cancel changes nothing.
        click(button(sheet, "Delete All Permanently"));
        QMessageBox* confirm = dialogTitled<QMessageBox>("Delete all permanently?");
        QVERIFY(confirm);
        QCOMPARE(confirm->informativeText(),
                 QStringLiteral("This erases every account in Recently Deleted. It can't be "
                                "undone."));
        QVERIFY(answer(confirm, "Cancel"));
        QCOMPARE(store->deletedAccounts().size(), 1);
        QVERIFY(label(sheet, "Corp: cy"));
        click(button(sheet, "Delete All Permanently"));
        QVERIFY(answer(dialogTitled<QMessageBox>("Delete all permanently?"), "Delete All"));
        QVERIFY(store->deletedAccounts().isEmpty());
        QVERIFY(KeychainStore::loadAll().deleted.isEmpty());
        QVERIFY(label(sheet, "Nothing here. Deleted accounts appear here for 30 days before "
                             "they're removed for good."));
        QVERIFY(!find<QPushButton>(sheet, "Delete All Permanently"));
        QTRY_VERIFY(find<QLabel>(tab, "1 recoverable") == nullptr);

        // Return presses Done.
        QTest::keyClick(sheet, Qt::Key_Return);
        QTRY_VERIFY(!tab->sheet());
        QCOMPARE(listed(), QStringList({"Dee", "Acme"}));
    }

    // A restore or erase the keychain did not take leaves the lists as the
    // keychain holds them, and the sheet says why.
    void failedWritesInTheSheetsAreShownAsFailed() {
        start({makeAccount("Acme", "ann"), makeAccount("Beta", "bob"), makeAccount("Corp", "cy")});
        const QUuid ann = store->accounts()[0].id, bob = store->accounts()[1].id;
        content->deleteAccount(store->accounts()[0]);
        content->deleteAccount(store->accounts()[0]);
        QDialog* sheet = open("Recently Deleted…", "Recently Deleted");
        QVERIFY(sheet);
        QVERIFY(absent(sheet, "“Acme: ann” was not restored."));

        memory->failWith(Op::update, Keychain::ioError, Json::uuidText(ann));
        menuEntry(sheet, "Acme: ann", "Restore")->trigger();
        QVERIFY(label(sheet, "“Acme: ann” was not restored. The disk is full or cannot be "
                             "written."));
        QVERIFY(label(sheet, "Acme: ann"));
        QCOMPARE(listed(), QStringList({"Corp"}));
        QCOMPARE(KeychainStore::loadAll().deleted.size(), 2);

        memory->failWith(Op::remove, Keychain::interactionNotAllowed, Json::uuidText(bob));
        menuEntry(sheet, "Beta: bob", "Delete Permanently")->trigger();
        QVERIFY(label(sheet, "“Beta: bob” was not deleted. Your keyring is locked."));
        QVERIFY(label(sheet, "Beta: bob"));
        click(button(sheet, "Delete All Permanently"));
        QVERIFY(answer(dialogTitled<QMessageBox>("Delete all permanently?"), "Delete All"));
        QVERIFY(label(sheet, "Not every account was deleted. Your keyring is locked."));
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"Beta: bob"}));
        QVERIFY(label(tab, "1 recoverable"));

        // Once the keychain takes it, the line goes.
        memory->failWith(Op::update, Keychain::success, Json::uuidText(ann));
        memory->failWith(Op::remove, Keychain::success, Json::uuidText(bob));
        menuEntry(sheet, "Beta: bob", "Restore")->trigger();
        QVERIFY(problem(sheet).isEmpty());
        QCOMPARE(listed(), QStringList({"Corp", "Beta"}));
        QTest::keyClick(sheet, Qt::Key_Return);
        QTRY_VERIFY(!tab->sheet());

        // Folders: a name over the limit stays in the field beside the reason.
        sheet = open("Manage Folders…", "Folders");
        auto* name = shown<QLineEdit>(sheet, "Folder name");
        name->setText(QString(1001, QLatin1Char('f')));
        click(button(sheet, "Add"));
        QVERIFY(store->folders().isEmpty());
        QCOMPARE(name->text().size(), 1001);
                QVERIFY(problem(sheet).startsWith("The folder was not added. "));
        name->setText("Work");
        click(button(sheet, "Add"));
        QVERIFY(problem(sheet).isEmpty());

        // A folder whose accounts cannot leave it says so.
        store->setFolder(store->folders()[0].id, store->accounts()[0].id);
        memory->failWith(Op::update, Keychain::ioError, Json::uuidText(store->accounts()[0].id));
        menuEntry(sheet, "Work", "Delete")->trigger();
        QVERIFY(problem(sheet).startsWith(
            "Some of its accounts could not be stored without the folder"));
        QVERIFY(store->accounts()[0].folderID); // as the keychain holds it
    }

    // A keyring that could not be read is never shown as an empty vault.
    void anUnreadVaultIsNotShownAsEmpty() {
        memory->failWith(Op::open, Keychain::interactionNotAllowed);
        start({makeAccount("Acme", "ann")});
        QCOMPARE(store->vaultState(), AccountStore::VaultState::locked);
        QVERIFY(!find<QLabel>(tab, "Score 100/100"));
        const QString locked =
            "Your keyring is locked. Quillet shows your accounts once it is unlocked.";
        QDialog* sheet = open("Recently Deleted…", "Recently Deleted");
        QVERIFY(label(sheet, locked));
        QVERIFY(absent(sheet, "Nothing here. Deleted accounts appear here for 30 days before "
                              "they're removed for good."));
        QTest::keyClick(sheet, Qt::Key_Return);
        QTRY_VERIFY(!tab->sheet());
        sheet = open("Security Checkup…", "Security Checkup");
        QVERIFY(label(sheet, locked));
        QVERIFY(absent(sheet, "Excellent"));
        QVERIFY(absent(sheet, "Your vault looks healthy."));

        // Unlocked: the vault is read and scored.
        memory->failWith(Op::open, Keychain::success);
        store->tryAgain();
        QTRY_COMPARE(store->vaultState(), AccountStore::VaultState::open);
        QTRY_VERIFY(absent(sheet, locked));
        QVERIFY(label(sheet, "2 items to review.")); // a short secret, no recovery codes
        QVERIFY(label(tab, "Score 87/100"));
    }

    void deletionNotesCountWholeDays() {
        const QDateTime now = QDateTime(QDate(2025, 3, 10), QTime(10, 0), Qt::UTC);
        const auto note = [&](qint64 secondsAgo) {
            return RecentlyDeletedView::deletedSubtitle(now.addSecs(-secondsAgo), now);
        };
        QCOMPARE(RecentlyDeletedView::deletedSubtitle(std::nullopt, now), "Deleted");
        QCOMPARE(note(23 * 3600 + 59 * 60), "Deleted today");
        QCOMPARE(note(11 * 3600), "Deleted today"); // 23:00 yesterday, seen at 10:00
        QCOMPARE(note(-3600), "Deleted today");    // another computer's clock ahead
        QCOMPARE(note(24 * 3600), "Deleted yesterday");
        QCOMPARE(note(47 * 3600 + 59 * 60), "Deleted yesterday");
        QCOMPARE(note(48 * 3600), "Deleted 2 days ago");
        QCOMPARE(note(30 * 86400 + 5 * 3600), "Deleted 30 days ago");
    }

    void foldersAreAddedRenamedAndDeleted() {
        start({makeAccount("Acme", "ann"), makeAccount("Beta", "bob"), makeAccount("Corp", "cy")});
        QDialog* sheet = open("Manage Folders…", "Folders");
        QVERIFY(sheet);
        QCOMPARE(sheet->size(), QSize(420, 460));
        QVERIFY(label(sheet, "No folders yet. Add one below to start organizing your accounts."));
        QVERIFY(label(sheet, "Deleting a folder keeps its accounts — they just become "
                             "ungrouped."));
        auto* name = shown<QLineEdit>(sheet, "Folder name");
        QPushButton* add = button(sheet, "Add");
        QVERIFY(name && add && !add->isEnabled());

        // Blanks add nothing, and Return in the field keeps the sheet open.
        QTest::keyClicks(name, "   ");
        QVERIFY(!add->isEnabled());
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(name->text(), QStringLiteral("   "));
        QVERIFY(store->folders().isEmpty());
        QVERIFY(sheet->isVisible());

        name->clear();
        QTest::keyClicks(name, "  Work ");
        QTest::keyClick(name, Qt::Key_Return);
        QVERIFY(sheet->isVisible());
        QCOMPARE(store->folders().size(), 1);
        QCOMPARE(store->folders()[0].name, QStringLiteral("Work"));
        QCOMPARE(store->folders()[0].symbol, QStringLiteral("folder"));
        QVERIFY(name->text().isEmpty());
        QTRY_VERIFY(absent(sheet, "No folders yet. Add one below to start organizing your "
                                  "accounts."));
        QVERIFY(label(tab, "1 folder"));
        // Another letter case makes no second folder; the field empties all the same.
        QTest::keyClicks(name, "WORK");
        click(add);
        QCOMPARE(store->folders().size(), 1);
        QVERIFY(name->text().isEmpty());

        // The rows count the folder's active accounts.
        const QUuid work = store->folders()[0].id;
        store->setFolder(work, store->accounts()[0].id);
        store->setFolder(work, store->accounts()[1].id);
        QVERIFY(label(sheet, "2"));
        store->deleteAccount(store->accounts()[1].id);
        QVERIFY(label(sheet, "1"));
        store->restore(store->deletedAccounts()[0].id);
        QVERIFY(label(sheet, "2"));

        // The main window filters by it.
        auto* filter = content->findChild<QToolButton*>("folderFilter");
        content->setFolderFilter(FolderFilter::folder(work));
        QCOMPARE(listed(), QStringList({"Acme", "Beta"}));
        QCOMPARE(filter->text(), QStringLiteral("Work"));

        // Rename, from the row's menu: Cancel keeps the name, Save takes it.
        QAction* rename = menuEntry(sheet, "Work", "Rename");
        QVERIFY(rename);
        rename->trigger();
        QDialog* prompt = dialogTitled("Rename folder");
        QVERIFY(prompt);
        auto* field = shown<QLineEdit>(prompt, "Name");
        QCOMPARE(field->text(), QStringLiteral("Work"));
        field->setText("Jobs");
        click(button(prompt, "Cancel"));
        QTRY_VERIFY(!prompt->isVisible() || !dialogTitled("Rename folder", 0));
        QCOMPARE(store->folders()[0].name, QStringLiteral("Work"));
        menuEntry(sheet, "Work", "Rename")->trigger();
        prompt = dialogTitled("Rename folder");
        field = shown<QLineEdit>(prompt, "Name");
        field->selectAll();
        QTest::keyClicks(field, " Jobs ");
        QTest::keyClick(field, Qt::Key_Return); // Save is the prompt's default
        QCOMPARE(store->folders()[0].name, QStringLiteral("Jobs"));
        QVERIFY(sheet->isVisible());
        QCOMPARE(filter->text(), QStringLiteral("Jobs"));
        QVERIFY(label(sheet, "Jobs"));

        // A blank name is taken as it is; a rename of a folder deleted
        // meanwhile changes nothing and closes the prompt.
        const Folder spare = *store->addFolder("Spare");
        menuEntry(sheet, "Spare", "Rename")->trigger();
        prompt = dialogTitled("Rename folder");
        shown<QLineEdit>(prompt, "Name")->setText("  ");
        click(button(prompt, "Save"));
        QCOMPARE(store->folders()[1].name, QString());
        auto* manager = sheet->findChild<FolderManagerView*>();
        manager->startRename(store->folders()[1]);
        prompt = dialogTitled("Rename folder");
        store->deleteFolder(spare.id);
        click(button(prompt, "Save"));
        QTRY_VERIFY(!manager->renamePrompt());
        QCOMPARE(store->folders().size(), 1);

        // Delete: the accounts stay, ungrouped; the main window lists them all.
        QAction* remove = menuEntry(sheet, "Jobs", "Delete");
        QVERIFY(remove);
        remove->trigger();
        QVERIFY(store->folders().isEmpty());
        QCOMPARE(store->accounts().size(), 3);
        for (const Account& account : store->accounts())
            QVERIFY(!account.folderID);
        for (const Account& account : KeychainStore::loadAll().active)
            QVERIFY(!account.folderID);
        QCOMPARE(content->folderFilter(), FolderFilter::all());
        QCOMPARE(listed(), QStringList({"Acme", "Corp", "Beta"})); // Beta was restored last
        QVERIFY(!filter->isVisible()); // no folders, no filter menu
        QVERIFY(label(sheet, "No folders yet. Add one below to start organizing your accounts."));
        QVERIFY(label(tab, "0 folders"));

        QTest::keyClick(sheet, Qt::Key_Return);
        QTRY_VERIFY(!tab->sheet());
    }

    void aFolderDeletedWhileItsAccountsAreGroupedLeavesThemUngrouped() {
        start({makeAccount("Acme", "ann"), makeAccount("Beta", "bob")});
        const Folder home = *store->addFolder("Home");
        const Folder work = *store->addFolder("Work");
        store->setFolder(work.id, store->accounts()[0].id);
        store->setFolder(home.id, store->accounts()[1].id);
        QDialog* sheet = open("Manage Folders…", "Folders");
        menuEntry(sheet, "Work", "Delete")->trigger();
        // The filter menu offers the one folder left and the ungrouped account.
        QStringList entries;
        for (QAction* action : content->findChild<QToolButton*>("folderFilter")->menu()->actions())
            entries << action->text();
        QCOMPARE(entries, QStringList({"All", "Home (1)", "", "Ungrouped"}));
        content->setFolderFilter(FolderFilter::ungrouped());
        QCOMPARE(listed(), QStringList({"Acme"}));
    }

    void theCheckupScoresTheVault() {
        Account dupA = makeAccount("Acme", "ann", QByteArray(20, 'd'));
        Account dupB = makeAccount("Beta", "bob", QByteArray(20, 'd'));
        Account weak = makeAccount("", "short", QByteArray(10, 's'));
        for (Account* a : {&dupA, &dupB, &weak})
            a->recoveryCodes = "codes";
        start({dupA, dupB, weak});
        QVERIFY(label(tab, "Score 62/100")); // 100 - 25 - 10 - 3

        QDialog* sheet = open("Security Checkup…", "Security Checkup");
        QVERIFY(sheet);
        QCOMPARE(sheet->size(), QSize(480, 540));
        auto* view = sheet->findChild<SecurityCheckupMacView*>();
        QAbstractItemModel* findings = view->list()->model();
        QCOMPARE(view->ring()->score(), 62);
        QVERIFY(label(sheet, "Fair"));
        QVERIFY(label(sheet, "3 items to review."));
        QVERIFY(label(sheet, "Quillet checks your vault on this computer only. Nothing here is "
                             "uploaded."));
        // Cards, critical first, each with its severity's symbol, read by a
        // screen reader as severity, title and detail.
        const auto cards = [&](int role) {
            QStringList out;
            for (int row = 0; row < findings->rowCount(); ++row)
                out << findings->index(row, 0).data(role).toString();
            return out;
        };
        QCOMPARE(cards(Qt::DisplayRole),
                 QStringList({"Duplicate secret", "Short secret key", "No service name"}));
        QCOMPARE(cards(SecurityCheckupMacView::symbolRole),
                 QStringList({"exclamationmark.octagon.fill", "exclamationmark.triangle.fill",
                              "info.circle.fill"}));
        QTRY_VERIFY(view->list()->isVisible() &&
                    view->list()->visualRect(findings->index(2, 0)).height() > 0);
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view->list());
        QVERIFY(list && list->childCount() == 3);
        QCOMPARE(list->child(0)->text(QAccessible::Name), "Critical: Duplicate secret");
        QCOMPARE(list->child(0)->text(QAccessible::Description),
                 "These accounts share the same secret key: Acme: ann, Beta: bob. If they aren't "
                 "truly the same login, re-add one from a fresh QR code.");
        QCOMPARE(list->child(1)->text(QAccessible::Name), "Warning: Short secret key");
        QCOMPARE(list->child(2)->text(QAccessible::Name), "Information: No service name");
        // Drawn whole: a card is as tall as its wrapped detail needs.
        const QRect shared = view->list()->visualRect(findings->index(0, 0));
        QVERIFY(shared.width() > 300 && shared.height() > 3 * QFontMetrics(view->font()).height());

        // The screen follows the store while it is open, replacing only the
        // cards that changed: a use changes none, and the shared secret's
        // card stays when the other findings go.
        QSignalSpy removed(findings, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(findings, &QAbstractItemModel::modelReset);
        store->markUsed(dupA);
        QCOMPARE(removed.size() + reset.size(), 0);
        store->deleteAccount(weak.id);
        QCOMPARE(cards(Qt::DisplayRole), QStringList({"Duplicate secret"}));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(reset.size(), 0);
        QVERIFY(label(sheet, "1 item to review."));
        store->deleteAccount(dupB.id);
        QCOMPARE(findings->rowCount(), 0);
        QVERIFY(label(sheet, "Excellent"));
        QVERIFY(label(sheet, "Your vault looks healthy."));
        QVERIFY(label(sheet, "No issues found"));
        QCOMPARE(view->ring()->score(), 100);
        QVERIFY(label(tab, "Score 100/100"));
    }

    // The cards follow the store run by run: an import's new cards come in
    // where the analysis puts them, a renamed account's cards are replaced
    // where they stand, and the cards that stay keep their rows; cards kept
    // in another order are one reset, with no partial change before it.
    void theCheckupReplacesOnlyTheCardsThatChange() {
        // A short secret and no recovery codes: two cards per account.
        QList<Account> accounts;
        for (int i = 0; i < 6; ++i)
            accounts << makeAccount(QString("Site %1").arg(i), "me", QByteArray(10, char('a' + i)));
        start(accounts);
        QDialog* sheet = open("Security Checkup…", "Security Checkup");
        QVERIFY(sheet);
        QAbstractItemModel* cards = sheet->findChild<SecurityCheckupMacView*>()->list()->model();
        const auto text = [](const QModelIndex& card) {
            return card.data().toString() + ": " + card.data(Qt::AccessibleDescriptionRole).toString();
        };
        const auto shown = [&] {
            QStringList out;
            for (int row = 0; row < cards->rowCount(); ++row) out << text(cards->index(row, 0));
            return out;
        };
        const auto analysed = [&] {
            QStringList out;
            for (const SecurityCheckup::Finding& f : SecurityCheckup::analyze(store->accounts()).findings)
                out << f.title + ": " + f.detail;
            return out;
        };
        QCOMPARE(shown(), analysed());
        QCOMPARE(cards->rowCount(), 12);
        // Each card's row, followed through the changes.
        QList<std::pair<QPersistentModelIndex, QString>> followed;
        for (int row = 0; row < cards->rowCount(); ++row)
            followed.append({cards->index(row, 0), text(cards->index(row, 0))});
        const auto stayed = [&] {
            QStringList moved;
            for (const auto& [card, was] : std::as_const(followed))
                if (card.isValid() && text(card) != was) moved << was;
            return moved.join("; ");
        };
        QSignalSpy inserted(cards, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(cards, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(cards, &QAbstractItemModel::modelReset);

        QList<Account> more;
        for (int i = 6; i < 10; ++i)
            more << makeAccount(QString("Site %1").arg(i), "me", QByteArray(10, char('a' + i)));
        QCOMPARE(store->importAccounts(more), 4);
        QTRY_COMPARE(shown(), analysed());
        QCOMPARE(cards->rowCount(), 20);
        QVERIFY2(inserted.size() >= 2, "the warnings and the information came as one run");
        QCOMPARE(removed.size() + reset.size(), 0);
        QCOMPARE(stayed(), QString());

        Account renamed = store->accounts().at(2);
        renamed.name = "you";
        QVERIFY(store->update(renamed));
        QCOMPARE(shown(), analysed());
        QCOMPARE(removed.size(), 2);
        QCOMPARE(reset.size(), 0);
        QCOMPARE(stayed(), QString());

        const qsizetype insertions = inserted.size();
        QList<QUuid> backwards;
        for (const Account& account : store->accounts()) backwards.prepend(account.id);
        QVERIFY(store->setOrder(backwards));
        QCOMPARE(shown(), analysed());
        QCOMPARE(reset.size(), 1);
        QCOMPARE(inserted.size(), insertions);
        QCOMPARE(removed.size(), 2);
    }

    void scoreBands() {
        using Band = SecurityCheckupMacView;
        using Style::SemanticColor;
        const QList<std::tuple<int, QString, SemanticColor>> bands{
            {100, "Excellent", SemanticColor::green}, {90, "Excellent", SemanticColor::green},
            {89, "Good", SemanticColor::mint},        {70, "Good", SemanticColor::mint},
            {69, "Fair", SemanticColor::orange},      {50, "Fair", SemanticColor::orange},
            {49, "Needs attention", SemanticColor::red}, {0, "Needs attention", SemanticColor::red},
        };
        for (const auto& [score, grade, colour] : bands) {
            QCOMPARE(Band::band(score).grade, grade);
            QCOMPARE(Band::band(score).colour, colour);
        }
        // The ring: score 0 draws only the track, 100 a closed ring.
        const auto coloured = [](int score) {
            ScoreRingMac ring;
            ring.setScore(score);
            ring.resize(64, 64);
            const QImage image = ring.grab().toImage();
            const QColor tint = Style::color(Band::band(score).colour);
            int count = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    count += qAbs(c.red() - tint.red()) + qAbs(c.green() - tint.green()) +
                                     qAbs(c.blue() - tint.blue()) < 30;
                }
            return count;
        };
        QCOMPARE(coloured(0), 0);
        QVERIFY(coloured(100) > 2 * coloured(50) * 9 / 10);
        QVERIFY(coloured(50) > 100);
    }

    void theTimelineListsARealFileNewestFirst() {
        const QString path = folder->filePath("timeline.jsonl");
        start();
        store->importAccounts({makeAccount("Acme", "ann 123456")});
        store->deleteAccount(store->accounts()[0].id);
        store->restore(store->deletedAccounts()[0].id);
        log->record(SecurityEvent::exported());
        log->waitForIdle();
        // An event of a kind this version does not know, appended by hand.
        {
            const SecurityLog::Snapshot before = log->snapshot();
            const AuditEntry unknown = AuditLog::makeEntry(before.entries, "vault.rotated", "",
                                                           1741600800000); // 2025-03-10 10:00
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(unknown.toJson() + "\n");
        }
        // A new start reads the file as it is.
        delete window;
        log = std::make_unique<SecurityLog>(path);
        window = new SettingsWindow(*store, *settings, *lock, *defaults, *log);
        window->show();
        tab = window->general();

        QDialog* sheet = open("Security Timeline…", "Security Timeline");
        QVERIFY(sheet);
        QCOMPARE(sheet->size(), QSize(520, 560));
        auto* view = sheet->findChild<SecurityTimelineMacView*>();
        QTRY_VERIFY(view->isLoaded());
        QVERIFY(view->isIntact());
        QVERIFY(label(sheet, "Timeline integrity verified"));
        QVERIFY(label(sheet, "Every entry is hash-chained — edits or deletions would be "
                             "detected."));
        QVERIFY(label(sheet, "Quillet keeps this log on this computer only. Codes and secrets "
                             "are never logged."));
        const QStringList rows = timelineRows(view);
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0], QStringLiteral("vault.rotated, 10 Mar, 10:00"));
        QVERIFY(rows[1].startsWith("Encrypted backup exported, ")); // no empty detail
        QVERIFY(rows[2].startsWith("Account restored, Acme: ann ••••••, "));
        QVERIFY(rows[3].startsWith("Account moved to Recently Deleted, Acme: ann ••••••, "));
        QVERIFY(rows[4].startsWith("Account added, Acme: ann ••••••, "));
        QCOMPARE(SecurityTimelineMacView::look("vault.rotated").symbol, "circle.fill");
        QCOMPARE(SecurityTimelineMacView::look("backup.exported").symbol,
                 "externaldrive.fill.badge.checkmark");
        QCOMPARE(SecurityTimelineMacView::look("account.edited").colour,
                 Style::SemanticColor::blue);
        QTest::keyClick(sheet, Qt::Key_Return);
        QTRY_VERIFY(!tab->sheet());

        // One byte changed in the file: the chain is broken, the entries
        // still listed.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        text.replace("Acme: ann", "Acme: Ann");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        delete window;
        log = std::make_unique<SecurityLog>(path);
        window = new SettingsWindow(*store, *settings, *lock, *defaults, *log);
        window->show();
        tab = window->general();
        sheet = open("Security Timeline…", "Security Timeline");
        view = sheet->findChild<SecurityTimelineMacView*>();
        QTRY_VERIFY(view->isLoaded());
        QVERIFY(!view->isIntact());
        QVERIFY(label(sheet, "Integrity check failed"));
        // A broken chain records nothing more, and the screen says so.
        QVERIFY(label(sheet, "The log doesn't match its hash chain. It may have been modified "
                             "outside the app. The chain breaks at line 1. New events are not "
                             "being recorded."));
        QCOMPARE(timelineRows(view).size(), 5);
    }

    // Whatever is in the timeline's place that is not an intact chain, the
    // screen says what and where, lists what it could, and never says
    // "verified", nor that there are no events; nothing it reads holds it up.
    void theTimelineSaysWhyItIsNotVerified_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QString>("why");
        QTest::addColumn<int>("rows");
        const QString unread = QStringLiteral("The timeline could not be read");
        const QString failed = QStringLiteral("Integrity check failed");
        const QString chain = QStringLiteral("The log doesn't match its hash chain. It may have "
                                             "been modified outside the app. ");
        QTest::newRow("link to /dev/zero") << "zero" << unread << "%1 is not a regular file." << 0;
        QTest::newRow("FIFO") << "fifo" << unread << "%1 is not a regular file." << 0;
        QTest::newRow("sparse file over the bound") << "large" << unread
                                                    << "%1 is larger than 64 MB." << 0;
        QTest::newRow("not UTF-8") << "latin1" << unread << "%1 is not UTF-8 text." << 0;
        // Reading a process's memory from address 0 fails, even for root.
        QTest::newRow("read fails") << "mem" << unread
                                    << "Reading %1 failed: Input/output error." << 0;
        QTest::newRow("nothing but junk")
            << "junk" << failed << chain + "Line 1 is not an entry of the timeline." << 0;
        QTest::newRow("inserted line")
            << "inserted" << failed << chain + "Line 2 is not an entry of the timeline." << 2;
        QTest::newRow("torn last line")
            << "torn" << failed << chain + "Line 2 is not an entry of the timeline." << 1;
    }
    void theTimelineSaysWhyItIsNotVerified() {
        QFETCH(QString, kind);
        QFETCH(QString, heading);
        QFETCH(QString, why);
        QFETCH(int, rows);
        const QString path = folder->filePath("broken-timeline.jsonl");
        QByteArray lines;
        {
            SecurityLog writer(path);
            writer.record(SecurityEvent::added("Acme"));
            writer.record(SecurityEvent::exported());
            writer.waitForIdle();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            lines = file.readAll();
            QVERIFY(QFile::remove(path));
        }
        const QByteArray first = lines.left(lines.indexOf('\n') + 1);
        const auto write = [&](const QByteArray& bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", path));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "large") {
            write(lines);
            QVERIFY(QFile(path).resize(AuditLog::maximumFileSize + 1));
        } else if (kind == "latin1")
            write(lines + "caf\xe9\n");
        else if (kind == "mem") {
            if (!QFileInfo::exists("/proc/self/mem")) QSKIP("no /proc/self/mem here");
            QVERIFY(QFile::link("/proc/self/mem", path));
        } else if (kind == "junk")
            write("not an entry\n");
        else if (kind == "inserted")
            write(first + "an inserted line\n" + lines.mid(first.size()));
        else
            write(lines.chopped(20));

        auto timeline = std::make_unique<SecurityLog>(path);
        SecurityTimelineMacView view(*timeline);
        view.show();
        QTRY_VERIFY_WITH_TIMEOUT(view.isLoaded(), 60000);
        QVERIFY(!view.isIntact());
        QVERIFY(label(&view, heading));
        QVERIFY(label(&view, why.arg(path) + " New events are not being recorded."));
        QVERIFY(absent(&view, "Timeline integrity verified"));
        QVERIFY(absent(&view, "No events yet. Add, edit, or export accounts and they'll appear "
                              "here."));
        QCOMPARE(timelineRows(&view).size(), rows);
    }

    // A row shows its whole detail, wrapped to the list's width, and a name
    // with a line break reads as one line in the tray's account picker.
    void timelineRowsWrapAndPickersShowOneLine() {
        start();
        store->importAccounts({makeAccount("Acme", "ann")});
        store->importAccounts({makeAccount(
            "Acme", "a name far too long for one line of the timeline, which still shows it "
                    "whole, word by word, on as many lines as it takes\nand a second line")});
        log->waitForIdle();
        QDialog* sheet = open("Security Timeline…", "Security Timeline");
        auto* view = sheet->findChild<SecurityTimelineMacView*>();
        QTRY_VERIFY(view->isLoaded());
        QListView* list = view->list();
        QCOMPARE(list->model()->rowCount(), 2);
        const int longRow = list->visualRect(list->model()->index(0, 0)).height();
        const int shortRow = list->visualRect(list->model()->index(1, 0)).height();
        QVERIFY2(longRow >= shortRow + QFontMetrics(list->font()).height() / 2,
                 qPrintable(QStringLiteral("%1 / %2").arg(longRow).arg(shortRow)));
        QTest::keyClick(sheet, Qt::Key_Return);
        QTRY_VERIFY(!tab->sheet());

        auto* picker = tab->findChild<QComboBox*>();
        QVERIFY(picker);
        QStringList items;
        for (int i = 0; i < picker->count(); ++i)
            items << picker->itemText(i);
        QVERIFY(items.contains("Acme: a name far too long for one line of the timeline, which "
                               "still shows it whole, word by word, on as many lines as it takes "
                               "and a second line"));
    }

    void anEmptyTimelineSaysSo() {
        start();
        // Until its snapshot arrives the screen lists nothing and says nothing.
        SecurityTimelineMacView waiting(*log);
        QVERIFY(!waiting.isLoaded() && waiting.isIntact());
        QCOMPARE(waiting.list()->model()->rowCount(), 0);
        for (QLabel* l : waiting.findChildren<QLabel*>())
            QVERIFY(l->text() != "No events yet. Add, edit, or export accounts and they'll "
                                 "appear here." ||
                    l->isHidden());

        QDialog* sheet = open("Security Timeline…", "Security Timeline");
        auto* view = sheet->findChild<SecurityTimelineMacView*>();
        QTRY_VERIFY(view->isLoaded());
        QVERIFY(label(sheet, "Timeline integrity verified"));
        QVERIFY(label(sheet, "No events yet. Add, edit, or export accounts and they'll appear "
                             "here."));
    }

    void timesFollowTheLocale() {
        const qint64 millis = 1741619220000; // 2025-03-10 15:07 UTC
        QCOMPARE(SecurityTimelineMacView::timeText(millis, QLocale(QLocale::English,
                                                                   QLocale::UnitedStates)),
                 QStringLiteral("Mar 10, 3:07 PM"));
        QCOMPARE(SecurityTimelineMacView::timeText(millis, QLocale(QLocale::English,
                                                                   QLocale::UnitedKingdom)),
                 QStringLiteral("10 Mar, 15:07"));
    }
};

QUILLET_TEST_MAIN(OrganizeTests)
#include "OrganizeTests.moc"
