// The main window over the real keychains: a gnome-keyring in the private
// session of tests/with-session.sh (locked over D-Bus, as a screen locker or
// `secret-tool lock` would), and the file backend with a damaged file. What
// the window shows must be what the keychain holds.
#include "app/AccountRow.h"
#include "app/ContentView.h"
#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "intake/AddAccountSheet.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/keychain/KeychainSecretService.h"
#include "tests/support/Keyring.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabBar>
#include <QtTest>

namespace {

const QString setupLink = QStringLiteral("otpauth://totp/New:one?secret=JBSWY3DPEHPK3PXP");

using TestSupport::makeAccount;

using Collection = TestSupport::KeyringCollection;

} // namespace

class KeyringTrustTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<TickingClock> clock;
    std::unique_ptr<QMainWindow> window;
    ContentView* view = nullptr;

    void openWindow() {
        openStore({}, AccountStore::Opening::inBackground);
        clock = std::make_unique<TickingClock>();
        window = std::make_unique<QMainWindow>();
        view = new ContentView(*store, *clock, *defaults, window.get());
        window->setCentralWidget(view);
        window->resize(600, 500);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    bool shows(QWidget* root, const QString& text) const {
        for (QLabel* label : root->findChildren<QLabel*>())
            if (label->isVisible() && label->text() == text) return true;
        return false;
    }
    QStringList titles() const {
        QStringList out;
        for (AccountRow* row : view->rows())
            out << row->titleText();
        return out;
    }
    QPushButton* button(QWidget* root, const QString& text) const {
        for (QPushButton* b : root->findChildren<QPushButton*>())
            if (b->isVisible() && b->text() == text) return b;
        return nullptr;
    }
    // Adds the link through the sheet as a user does; the sheet stays open
    // when nothing could be added.
    AddAccountSheet* addThroughTheSheet() {
        view->showAddSheet();
        auto* sheet = window->findChild<AddAccountSheet*>();
        if (!sheet || !QTest::qWaitForWindowExposed(sheet)) return nullptr;
        auto* modes = sheet->findChild<QTabBar*>();
        for (int i = 0; i < modes->count(); ++i)
            if (modes->tabText(i) == "Paste link") modes->setCurrentIndex(i);
        sheet->findChild<QPlainTextEdit*>()->setPlainText(setupLink);
        button(sheet, "Add")->click();
        return sheet;
    }
    QList<Keychain::Item> ourItems() {
        QList<Keychain::Item> items = KeychainStore::readAll();
        std::sort(items.begin(), items.end(),
                  [](const auto& a, const auto& b) { return a.account < b.account; });
        return items;
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_SESSION"))
            QFAIL("run through tests/with-session.sh");
    }
    void init() {
        openVault();
        // The private session's keyring in place of the fixture's memory.
        Keychain::setBackend(std::make_shared<Keychain::SecretServiceBackend>());
        for (const Keychain::Item& item : KeychainStore::readAll())
            Keychain::remove(KeychainStore::baseQuery(item.account));
    }
    void cleanup() {
        window.reset();
        store.reset();
        log.reset();
    }

    // A locked keyring is a locked keyring, not an empty vault: adding
    // through the sheet is refused there, and the keyring and the timeline
    // stay as they were; once unlocked, Try Again shows the accounts. Locked
    // again while the window is open, a deletion fails at once and the row
    // stays.
    void lockedKeyring() {
        const QList<Account> seeded{makeAccount("Acme", "ann"), makeAccount("Beta", "bob")};
        KeychainStore::saveAll(seeded, QList<QUuid>{seeded[0].id, seeded[1].id});
        const QList<Keychain::Item> before = ourItems();
        Collection keyring;
        QVERIFY(keyring.lock());
        const auto unlockAgain = qScopeGuard([&] { keyring.unlock(); });

        openWindow();
        QTRY_VERIFY(shows(window.get(), "Your keyring is locked."));
        QVERIFY(!shows(window.get(), "No accounts yet"));
        AddAccountSheet* sheet = addThroughTheSheet();
        QVERIFY(sheet);
        QTRY_VERIFY(shows(sheet, "Your keyring is locked, so nothing was added."));
        QVERIFY(sheet->isVisible());
        QCOMPARE(sheet->findChild<QPlainTextEdit*>()->toPlainText(), setupLink);
        QVERIFY(titles().isEmpty());
        sheet->reject();
        log->waitForIdle();
        QVERIFY(log->snapshot().entries.isEmpty());

        QVERIFY(keyring.unlock());
        QCOMPARE(ourItems(), before); // byte for byte
        button(window.get(), "Try Again")->click();
        QTRY_COMPARE(titles(), QStringList({"Acme", "Beta"}));
        const QList<Keychain::Item> opened = ourItems(); // with the migration marker now

        QVERIFY(keyring.lock());
        QElapsedTimer timer;
        timer.start();
        view->rows().first()->setFocus();
        QTest::keyClick(view->rows().first(), Qt::Key_Delete);
        // Nothing waited on a prompt (D-Bus gives up on a call after 25 s).
        QVERIFY2(timer.elapsed() < 15000, QByteArray::number(timer.elapsed()));
        QCOMPARE(titles(), QStringList({"Acme", "Beta"}));
        QVERIFY(shows(window.get(), "“Acme: ann” was not moved to Recently Deleted. Your keyring "
                                    "is locked."));
        QVERIFY(!view->deletedToast());
        QVERIFY(keyring.unlock());
        QCOMPARE(ourItems(), opened);
        QVERIFY(log->snapshot().entries.isEmpty());
    }

    // An account item another program (or a damaged sync) left undecodable
    // is counted, and survives imports and reloads untouched.
    void undecodableItemSurvives() {
        const QUuid damagedID = QUuid::createUuid();
        KeychainStore::upsert(Json::uuidText(damagedID), QByteArray("{\"id\":", 6));
        KeychainStore::saveAll({makeAccount("Acme", "ann")});
        openWindow();
        QTRY_VERIFY(shows(window.get(), "1 account item in your keyring could not be read. Quillet "
                                        "leaves it as it is."));
        Account sameID = makeAccount("Backup", "b");
        sameID.id = damagedID;
        QCOMPARE(store->importAccounts({sameID}), 1);
        store->reload();
        QCOMPARE(store->unreadableItemCount(), 1);
        QCOMPARE(store->accounts().size(), 2);
        Keychain::Query query = KeychainStore::baseQuery(Json::uuidText(damagedID));
        query.returnData = true;
        Keychain::Results found;
        QCOMPARE(Keychain::copyMatching(query, &found), Keychain::success);
        QCOMPARE(found.first().data, QByteArray("{\"id\":", 6));
    }

    // A keychain file that cannot be read: the window says so (never "No
    // accounts yet"), adding is refused, and the file stays byte for byte.
    void damagedKeychainFile() {
        const QString path = folder->filePath("data/Quillet/keychain.json");
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        // Cut off in the middle of an item, as a full disk once left it.
        const QByteArray damaged = "{\"version\":1,\"items\":[{\"class\":\"genp\",\"serv";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(damaged) == damaged.size());
        file.close();
        Keychain::setBackend(std::make_shared<Keychain::FileBackend>(path));

        openWindow();
        QTRY_VERIFY(shows(window.get(), "Quillet could not read your keyring."));
        QVERIFY(shows(window.get(),
                      "The keychain file is damaged."));
        QVERIFY(!shows(window.get(), "No accounts yet"));
        AddAccountSheet* sheet = addThroughTheSheet();
        QTRY_VERIFY(shows(sheet, "Quillet could not read your keyring, so nothing was added. The "
                                 "keychain file is damaged."));
        QVERIFY(titles().isEmpty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), damaged);
        QVERIFY(log->snapshot().entries.isEmpty());
    }
};

QUILLET_TEST_MAIN(KeyringTrustTests)
#include "KeyringTrustTests.moc"
