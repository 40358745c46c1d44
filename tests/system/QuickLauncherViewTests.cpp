// The quick-search panel's content as a user sees and drives it: the search
// line, the ranked rows, the hint bar, the keys and the mouse, and the lock
// (answered through a wrapped PAM stack, tests/with-pam.sh).
#include "core/AccountStore.h"
#include "core/CorrectedClock.h"
#include "core/Settings.h"
#include "system/AppLockMac.h"
#include "system/LockOverlayMac.h"
#include "system/QuickLauncher.h"
#include "system/QuickLauncherView.h"
#include "tests/support/PasswordPrompt.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

using TestSupport::labels;
using TestSupport::makeAccount;

class QuickLauncherViewTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<AppLockMac> lock;
    std::unique_ptr<QuickLauncherView> view;
    bool canType = true;

    void open(AppLockMac* withLock = nullptr) {
        view = std::make_unique<QuickLauncherView>(*store, *defaults, withLock,
                                                   [this] { return canType; });
        view->show();
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
    }

    void press(Qt::Key key) { QTest::keyClick(view->searchField(), key); }

    QPoint rowCentre(int row) {
        return view->list()->visualRect(view->list()->model()->index(row, 0)).center();
    }

private slots:
    void init() {
        openVault();
        openStore();
        store->importAccounts({makeAccount("GitHub", "alice"), makeAccount("Google", "bob"),
                               makeAccount("GitLab", "carol")});
        canType = true;
    }

    void cleanup() {
        view.reset();
        lock.reset();
        store.reset();
        log.reset();
    }

    void opensOnTheFirstRowWithEverythingListed() {
        open();
        QVERIFY(view->searchField()->hasFocus());
        QCOMPARE(view->searchField()->placeholderText(), QStringLiteral("Search accounts…"));
        QCOMPARE(labels(view->results()),
                 (QStringList{"GitHub: alice", "Google: bob", "GitLab: carol"}));
        QCOMPARE(view->selection(), 0);
        QCOMPARE(view->countText(), QStringLiteral("3 codes"));
        QCOMPARE(view->actionHint(), QStringLiteral("Autotype"));
        QCOMPARE(view->emptyText(), QString());
        // The hint bar names the keys as a PC keyboard does, left to right.
        QMap<int, QString> shown;
        for (QLabel* label : view->findChildren<QLabel*>())
            if (label->isVisible() && !label->text().isEmpty())
                shown.insert(label->mapTo(view.get(), QPoint()).x(), label->text());
        const QStringList hints = shown.values();
        QCOMPARE(hints, (QStringList{"Enter", "Autotype", "Navigate", "Esc", "Close", "3 codes"}));
        // The keys are drawn in the colours of the palette as it is now.
        QPalette red = view->palette();
        red.setColor(QPalette::WindowText, Qt::red);
        view->setPalette(red);
        QImage cap;
        for (QLabel* label : view->findChildren<QLabel*>())
            if (label->text() == QLatin1String("Esc")) cap = label->grab().toImage();
        int reddish = 0;
        for (int y = 0; y < cap.height(); ++y)
            for (int x = 0; x < cap.width(); ++x) {
                const QColor c = cap.pixelColor(x, y);
                reddish += c.alpha() > 64 && c.red() > c.green() + 60 && c.red() > c.blue() + 60;
            }
        QVERIFY2(reddish > cap.width(), "the Esc key keeps the colours of the old palette");
        // Each row reads as its label, and its code as one string.
        const QModelIndex first = view->list()->model()->index(0, 0);
        QCOMPARE(first.data(Qt::AccessibleTextRole).toString(), QStringLiteral("GitHub: alice"));
        const QString code = first.data(Qt::AccessibleDescriptionRole).toString();
        QCOMPARE(code, store->accounts().first().code(CorrectedClock::now()));
        QCOMPARE(code.size(), 6);

        QSignalSpy picked(view.get(), &QuickLauncherView::picked);
        press(Qt::Key_Return);
        QCOMPARE(picked.size(), 1);
        QCOMPARE(picked.first().first().value<Account>().id, store->accounts().first().id);

        canType = false;
        QCOMPARE(view->actionHint(), QStringLiteral("Copy — typing needs XTEST"));
    }

    void typingRanksAndPutsTheHighlightBackOnTop() {
        open();
        press(Qt::Key_Down);
        press(Qt::Key_Down);
        QCOMPARE(view->selection(), 2);
        QTest::keyClicks(view->searchField(), "gi");
        QCOMPARE(view->query(), QStringLiteral("gi"));
        QCOMPARE(labels(view->results()), (QStringList{"GitHub: alice", "GitLab: carol"}));
        QCOMPARE(view->selection(), 0);
        QCOMPARE(view->countText(), QStringLiteral("2 codes"));
        QTest::keyClicks(view->searchField(), "tl");
        QCOMPARE(labels(view->results()), QStringList{"GitLab: carol"});
        QCOMPARE(view->countText(), QStringLiteral("1 code"));
        // Editing keys act on the text.
        press(Qt::Key_Left);
        press(Qt::Key_Backspace);
        QCOMPARE(view->query(), QStringLiteral("gil"));
    }

    void arrowsStayWithinTheListAndNothingIsPickedFromNone() {
        open();
        press(Qt::Key_Up);
        QCOMPARE(view->selection(), 0);
        for (int i = 0; i < 5; ++i)
            press(Qt::Key_Down);
        QCOMPARE(view->selection(), 2);
        QCOMPARE(view->list()->currentIndex().row(), 2);

        QTest::keyClicks(view->searchField(), "xq");
        QVERIFY(view->results().isEmpty());
        QCOMPARE(view->emptyText(), QStringLiteral("No matches"));
        QCOMPARE(view->countText(), QStringLiteral("0 codes"));
        QSignalSpy picked(view.get(), &QuickLauncherView::picked);
        press(Qt::Key_Down);
        press(Qt::Key_Up);
        QCOMPARE(view->selection(), 0);
        press(Qt::Key_Return);
        QCOMPARE(picked.size(), 0);

        QSignalSpy closed(view.get(), &QuickLauncherView::closeRequested);
        press(Qt::Key_Escape);
        QCOMPARE(closed.size(), 1);
    }

    void theListScrollsJustEnoughToShowTheHighlight() {
        QList<Account> more;
        for (int i = 0; i < 30; ++i)
            more << makeAccount(QStringLiteral("Service %1").arg(i), QStringLiteral("user"));
        store->importAccounts(more);
        open();
        QWidget* viewport = view->list()->viewport();
        const auto rowRect = [&](int row) {
            return view->list()->visualRect(view->list()->model()->index(row, 0));
        };
        int visible = 0; // the last row wholly in view
        while (viewport->rect().contains(rowRect(visible + 1))) ++visible;
        QVERIFY(visible > 2 && visible < 30);
        for (int i = 0; i < visible + 1; ++i)
            press(Qt::Key_Down);
        QCOMPARE(view->selection(), visible + 1);
        // The highlighted row ends at the bottom edge: no further.
        QTRY_VERIFY(viewport->rect().contains(rowRect(visible + 1)));
        QVERIFY(rowRect(visible + 1).bottom() >= viewport->rect().bottom() - 1);
        // Up to a row in view scrolls nothing.
        const int scrolled = view->list()->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);
        press(Qt::Key_Up);
        QTest::qWait(200);
        QCOMPARE(view->list()->verticalScrollBar()->value(), scrolled);
    }

    void anEmptyVaultSaysSoWhateverIsTyped() {
        for (const Account& account : QList<Account>(store->accounts()))
            store->deleteAccount(account.id);
        open();
        QCOMPARE(view->emptyText(), QStringLiteral("No accounts yet"));
        QTest::keyClicks(view->searchField(), "git");
        QCOMPARE(view->emptyText(), QStringLiteral("No accounts yet"));
    }

    void aLockedKeyringIsNotAnEmptyVault() {
        using Op = Keychain::MemoryBackend::Operation;
        store.reset();
        memory->failWith(Op::open, Keychain::interactionNotAllowed);
        openStore();
        QCOMPARE(store->vaultState(), AccountStore::VaultState::locked);
        open();
        QCOMPARE(view->emptyText(), QStringLiteral("Your keyring is locked."));
        QCOMPARE(view->countText(), QStringLiteral("0 codes"));

        // Unlocked meanwhile: the open panel lists the vault.
        memory->failWith(Op::open, Keychain::success);
        store->tryAgain();
        store->waitForPendingWork();
        QCOMPARE(view->results().size(), 3);
        QCOMPARE(view->emptyText(), QString());
    }

    void thePointerHighlightsAndAClickPicks() {
        open();
        QSignalSpy picked(view.get(), &QuickLauncherView::picked);
        QTest::mouseMove(view->list()->viewport(), rowCentre(2));
        QTRY_COMPARE(view->selection(), 2);
        // Anywhere in the row, also its empty space on the right.
        QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {},
                          QPoint(view->list()->viewport()->width() - 20, rowCentre(1).y()));
        QCOMPARE(view->selection(), 1);
        QCOMPARE(picked.size(), 1);
        QCOMPARE(picked.first().first().value<Account>().displayLabel(),
                 QStringLiteral("Google: bob"));
    }

    void theHighlightNeverLeavesAShrinkingList() {
        open();
        press(Qt::Key_Down);
        press(Qt::Key_Down);
        const QList<Account> before = store->accounts();
        // An account above the highlight goes: the highlight stays on its account.
        store->deleteAccount(before[0].id);
        QCOMPARE(labels(view->results()), (QStringList{"Google: bob", "GitLab: carol"}));
        QCOMPARE(view->selection(), 1);
        // The highlighted account goes: the highlight stays within the list,
        // and Return picks the row it shows, not the first one.
        store->deleteAccount(before[2].id);
        store->importAccounts({makeAccount("Zeta", "zed")});
        press(Qt::Key_Down);
        QCOMPARE(view->selection(), 1);
        store->deleteAccount(store->accounts().last().id);
        QCOMPARE(view->selection(), 0);
        QSignalSpy picked(view.get(), &QuickLauncherView::picked);
        press(Qt::Key_Return);
        QCOMPARE(picked.size(), 1);
        QCOMPARE(picked.first().first().value<Account>().displayLabel(),
                 QStringLiteral("Google: bob"));
    }

    void whileLockedItListsNothingAndAsksFirst() {
        defaults->setValue(Settings::appLockEnabled.key, true);
        lock = std::make_unique<AppLockMac>(*defaults);
        QVERIFY(lock->isLocked());
        open(lock.get());
        QVERIFY(view->results().isEmpty());
        QCOMPARE(view->list()->model()->rowCount(), 0);
        auto* overlay = view->findChild<LockOverlayMac*>();
        QVERIFY(overlay && overlay->isVisible());
        QSignalSpy picked(view.get(), &QuickLauncherView::picked);
        view->submit();
        QCOMPARE(picked.size(), 0);

        // It asks by itself; a cancel keeps it locked, and Escape still closes.
        QVERIFY(PasswordPrompt::cancel());
        QVERIFY(lock->isLocked());
        QVERIFY(view->results().isEmpty());
        QSignalSpy closed(view.get(), &QuickLauncherView::closeRequested);
        QTest::keyClick(view.get(), Qt::Key_Escape);
        QCOMPARE(closed.size(), 1);

        // Unlock: the accounts come, and the search line takes the keyboard.
        QTest::mouseClick(PasswordPrompt::button(view.get(), QStringLiteral("Unlock")),
                          Qt::LeftButton);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_VERIFY(!lock->isLocked());
        QCOMPARE(view->results().size(), 3);
        QTRY_VERIFY(view->searchField()->hasFocus());

        // Locking again while open takes the list away at once.
        lock->relock();
        QVERIFY(view->results().isEmpty());
    }

    void thePanelSitsAboveTheCentreOfTheAvailableArea() {
        // Centred across; 12 % of the height above the vertical centre.
        QCOMPARE(QuickLauncher::frame(QRect(0, 25, 1440, 875)), QRect(440, 138, 560, 440));
        QCOMPARE(QuickLauncher::frame(QRect(1920, 0, 1280, 1000)), QRect(2280, 160, 560, 440));
    }
};

QUILLET_TEST_MAIN(QuickLauncherViewTests)
#include "QuickLauncherViewTests.moc"
