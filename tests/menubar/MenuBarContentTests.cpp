// The tray's panel and the code beside its icon, by what a user sees and
// does, on a real X server (tests/with-xvfb.sh): the clipboard is read back
// by xclip as another program would, codes are checked against oathtool, and
// the lock's password dialog is answered through a wrapped PAM stack
// (tests/with-pam.sh).
#include "app/AccountRow.h"
#include "app/ContentView.h"
#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "core/Base32.h"
#include "core/CorrectedClock.h"
#include "core/KeychainStore.h"
#include "core/Settings.h"
#include "menubar/MacClockDriftBanner.h"
#include "menubar/MenuBarContent.h"
#include "menubar/MenuBarLabel.h"
#include "menubar/MenuBarRow.h"
#include "menubar/TrayHost.h"
#include "platform/desktop/StatusItem.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/CopyHUD.h"
#include "system/UpdaterManager.h"
#include "tests/support/Desktop.h"
#include "tests/support/PasswordPrompt.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

using TestSupport::makeAccount;
using TestSupport::xclip;

namespace {

const QByteArray rfcKey = "12345678901234567890";

QDateTime at(double unixSeconds) {
    return QDateTime::fromMSecsSinceEpoch(qint64(unixSeconds * 1000), Qt::UTC);
}

// The code another program computes for the key at that time.
QString oathtool(const QByteArray& secret, const QDateTime& time, int digits = 6) {
    QProcess process;
    process.start(QStringLiteral("oathtool"),
                  {QStringLiteral("--totp"), QStringLiteral("-b"),
                   QStringLiteral("--digits=%1").arg(digits),
                   QStringLiteral("-N"), QStringLiteral("@%1").arg(time.toSecsSinceEpoch()),
                   Base32::encode(secret)});
    process.waitForFinished(5000);
    return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
}

template <typename T> T* shown(QWidget* root, const QString& text) {
    for (T* widget : root->findChildren<T*>())
        if (widget->isVisibleTo(root) && widget->text() == text)
            return widget;
    return nullptr;
}

QToolButton* buttonNamed(QWidget* root, const QString& name) {
    for (QToolButton* button : root->findChildren<QToolButton*>())
        if (button->isVisibleTo(root) && button->accessibleName() == name)
            return button;
    return nullptr;
}

} // namespace

class MenuBarContentTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<TickingClock> clock;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppLockMac> lock;
    std::unique_ptr<UpdaterManager> updater;
    std::unique_ptr<MenuBarContent> panel;
    QDateTime now;

    void open(const QList<Account>& accounts) {
        TestSupport::seedVault(accounts);
        openStore();
        clock = std::make_unique<TickingClock>([this] { return now; });
        settings = std::make_unique<AppSettings>(*defaults);
        lock = std::make_unique<AppLockMac>(*defaults);
        updater = std::make_unique<UpdaterManager>();
    }
    void showPanel() {
        panel = std::make_unique<MenuBarContent>(*store, *clock, *settings, *lock, *updater,
                                                 *defaults);
        panel->setTimingsForTesting(100);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
    }
    QStringList titles() const {
        QStringList out;
        for (MenuBarRow* row : panel->rows())
            out << row->titleText();
        return out;
    }
    MenuBarRow* row(const QString& title) const {
        for (MenuBarRow* r : panel->rows())
            if (r->titleText() == title)
                return r;
        return nullptr;
    }
    QLineEdit* search() const { return panel->findChild<QLineEdit*>(); }
    QCheckBox* showCodes() const { return panel->findChild<QCheckBox*>(); }

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (run through tests/with-xvfb.sh)");
    }
    void init() {
        openVault();
        CorrectedClock::resetForTesting();
        now = at(59);
    }
    void cleanup() {
        panel.reset();
        updater.reset();
        lock.reset();
        settings.reset();
        clock.reset();
        store.reset();
        log.reset();
    }

    void rowsListTheTrayAccountsInStoredOrder() {
        Account totp = makeAccount("Example", "alice", rfcKey);
        Account hotp = makeAccount("", "counter", rfcKey);
        hotp.type = OTPType::hotp;
        Account hidden = makeAccount("Hidden", "h");
        Account zed = makeAccount("Zeta", "zed");
        open({zed, totp, hidden, hotp});
        // The sort setting is the main window's: the tray keeps the stored order.
        defaults->setValue(Settings::accountSortOrder.key, "name");
        settings->toggleHidden(hidden.id, false);
        showPanel();
        QCOMPARE(titles(), QStringList({"Zeta", "Example", "counter"}));
        QCOMPARE(panel->area(), MenuBarContent::Area::list);

        MenuBarRow* first = panel->rows().at(0);
        MenuBarRow* example = row("Example");
        MenuBarRow* counter = row("counter");
        QCOMPARE(example->subtitleText(), QStringLiteral("alice"));
        QCOMPARE(counter->subtitleText(), QString()); // no issuer: the name is the title
        QCOMPARE(example->codeText(), QStringLiteral("287 082"));
        QVERIFY(example->showsRing());
        QVERIFY(!counter->showsRing());
        QCOMPARE(example->copyToolTip(), QStringLiteral("Click to copy"));
        // The chevrons stop at the ends.
        QVERIFY(!first->upButton()->isEnabled() && first->downButton()->isEnabled());
        QVERIFY(example->upButton()->isEnabled() && example->downButton()->isEnabled());
        QVERIFY(counter->upButton()->isEnabled() && !counter->downButton()->isEnabled());

        // Codes roll over with the clock.
        now = at(60);
        clock->tick();
        QCOMPARE(example->codeText(), QStringLiteral("359 152"));

        // Showing the hidden account again lists it in its place.
        settings->toggleHidden(hidden.id, true);
        QCOMPARE(titles(), QStringList({"Zeta", "Example", "Hidden", "counter"}));
        // Every account hidden: nothing to list, and no search.
        settings->setMenuBarHiddenAccountIDs({totp.id, hotp.id, hidden.id, zed.id});
        QCOMPARE(panel->area(), MenuBarContent::Area::noneShown);
        QVERIFY(shown<QLabel>(panel.get(), "No accounts shown here"));
        QVERIFY(!search()->isVisibleTo(panel.get()));
        QVERIFY(showCodes()->isVisibleTo(panel.get()));
    }

    // A list taller than 360 points scrolls inside them; the rows follow
    // what is in view.
    void aLongListScrolls() {
        QList<Account> accounts;
        for (int i = 0; i < 40; ++i)
            accounts << makeAccount(QStringLiteral("Service %1").arg(i), "user",
                                    rfcKey + QByteArray::number(i));
        accounts[39].issuer.clear(); // a shorter row at the end
        open(accounts);
        now = QDateTime::currentDateTimeUtc();
        showPanel();
        auto* list = panel->findChild<QScrollArea*>();
        QCOMPARE(list->height(), MenuBarContent::listMaxHeight);
        QVERIFY(list->verticalScrollBar()->maximum() > 0);
        QCOMPARE(titles().first(), QStringLiteral("Service 0"));
        QVERIFY(titles().size() < 20);

        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        QCOMPARE(titles().last(), QStringLiteral("user"));
        QVERIFY(!titles().contains("Service 0"));
        MenuBarRow* last = panel->rows().last();
        QVERIFY(!last->downButton()->isEnabled());
        QVERIFY(last->geometry().bottom() < list->widget()->height());
        QVERIFY(last->isVisible());
        QTest::mouseClick(row("Service 38")->copyButton(), Qt::LeftButton);
        QCOMPARE(QString::fromLatin1(TestSupport::clipboardText()),
                 oathtool(rfcKey + "38", now));
        // A short list is shown whole.
        settings->setMenuBarHiddenAccountIDs([&] {
            QSet<QUuid> ids;
            for (int i = 2; i < 40; ++i)
                ids.insert(accounts[i].id);
            return ids;
        }());
        QCOMPARE(titles(), QStringList({"Service 0", "Service 1"}));
        QCOMPARE(list->height(), list->widget()->height());
    }

    void searchNarrowsTheList() {
        open({makeAccount("Zeta", "zed"), makeAccount("acme", "ann"),
              makeAccount("Beta", "Bob Smith")});
        showPanel();
        QCOMPARE(panel->focusWidget(), search()); // typing goes straight to the search
        QTest::keyClicks(search(), "ACME");
        QCOMPARE(titles(), QStringList({"acme"}));
        // While searching the chevrons are off, even on a list of one.
        QVERIFY(!panel->rows().at(0)->upButton()->isEnabled());
        QVERIFY(!panel->rows().at(0)->downButton()->isEnabled());
        search()->clear();
        QTest::keyClicks(search(), " ");
        QCOMPARE(titles(), QStringList({"Beta"}));
        QVERIFY(!panel->rows().at(0)->downButton()->isEnabled());
        QTest::keyClicks(search(), "zz");
        QCOMPARE(panel->area(), MenuBarContent::Area::noMatches);
        QVERIFY(shown<QLabel>(panel.get(), "No matches"));
        QToolButton* clear = buttonNamed(panel.get(), "Clear search");
        QVERIFY(clear);
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(titles(), QStringList({"Zeta", "acme", "Beta"}));
        QVERIFY(!buttonNamed(panel.get(), "Clear search"));
    }

    void aClickCopiesTheCodeWithTheMarkers() {
        Account totp = makeAccount("Example", "alice", rfcKey);
        Account hotp = makeAccount("Counter", "c", rfcKey);
        hotp.type = OTPType::hotp;
        hotp.counter = 1;
        open({totp, hotp});
        // Near a real time: the check mark's reset runs on real timers.
        now = QDateTime::currentDateTimeUtc();
        showPanel();
        QTest::mouseClick(row("Example")->copyButton(), Qt::LeftButton);
        QVERIFY(row("Example")->isCopied());
        QCOMPARE(panel->copiedID(), totp.id);
        QCOMPARE(QString::fromLatin1(TestSupport::clipboardText()), oathtool(rfcKey, now));
        const QByteArray targets = xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"});
        QVERIFY2(targets.contains("org.nspasteboard.ConcealedType"), targets.constData());
        QVERIFY2(targets.contains("org.nspasteboard.TransientType"), targets.constData());
        QVERIFY2(targets.contains("x-kde-passwordManagerHint"), targets.constData());
        QCOMPARE(store->usage().value(totp.id).count, 1);
        QVERIFY(!CopyHUD::shared().isShowing()); // no confirmation panel from here

        // Another row takes the mark once its code is copied (an HOTP code
        // after its stored counter was read); it goes after its time.
        QTest::mouseClick(row("Counter")->copyButton(), Qt::LeftButton);
        QTRY_VERIFY(row("Counter")->isCopied());
        QVERIFY(!row("Example")->isCopied());
        QTRY_VERIFY(!row("Counter")->isCopied());
        // An HOTP code is copied at its stored counter, which stays.
        QCOMPARE(TestSupport::clipboardText(), QByteArray("287082"));
        QTest::mouseClick(row("Counter")->copyButton(), Qt::LeftButton);
        QTRY_COMPARE(store->usage().value(hotp.id).count, 2);
        QCOMPARE(TestSupport::clipboardText(), QByteArray("287082"));
        QCOMPARE(store->accounts().at(1).counter, 1u);
        QCOMPARE(KeychainStore::loadAll().active.at(1).counter, 1u);
        QCOMPARE(store->usage().value(hotp.id).count, 2);

        // "Copy Code" in the context menu does the same.
        QMenu* menu = row("Example")->buildContextMenu(panel.get());
        QStringList entries;
        for (QAction* action : menu->actions())
            entries << action->text();
        QCOMPARE(entries, QStringList({"Pin to Top", "Copy Code"}));
        menu->actions().at(1)->trigger();
        QCOMPARE(QString::fromLatin1(TestSupport::clipboardText()), oathtool(rfcKey, now));
        delete menu;
    }

    void pinningMovesTheAccountToTheTop() {
        open({makeAccount("A", "a"), makeAccount("B", "b"), makeAccount("C", "c")});
        showPanel();
        QMenu* menu = row("C")->buildContextMenu(panel.get());
        menu->actions().at(0)->trigger(); // "Pin to Top"
        delete menu;
        QCOMPARE(titles(), QStringList({"C", "A", "B"}));
        QVERIFY(row("C")->account().isFavorite);
        QCOMPARE(TestSupport::labels(KeychainStore::loadAll().active).first(), QStringLiteral("C: c"));
        // Unpinning leaves it where it is.
        menu = row("C")->buildContextMenu(panel.get());
        QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("Unpin"));
        menu->actions().at(0)->trigger();
        delete menu;
        QCOMPARE(titles(), QStringList({"C", "A", "B"}));
        QVERIFY(!row("C")->account().isFavorite);
    }

    // What the keyring refused is not shown as done: the row stays as it
    // was and the panel says what was not saved and why, until a later
    // change is stored.
    void aRefusedPinOrMoveSaysWhy() {
        open({makeAccount("A", "a"), makeAccount("B", "b")});
        showPanel();
        auto* line = panel->findChild<QLabel*>("errorLine");
        QVERIFY(!line->isVisible());
        using Op = Keychain::MemoryBackend::Operation;
        memory->failWith(Op::update, Keychain::interactionNotAllowed);
        memory->failWith(Op::add, Keychain::interactionNotAllowed);
        QMenu* menu = row("B")->buildContextMenu(panel.get());
        menu->actions().at(0)->trigger(); // "Pin to Top"
        delete menu;
        QCOMPARE(titles(), QStringList({"A", "B"}));
        QVERIFY(!row("B")->account().isFavorite);
        QVERIFY(line->isVisible());
        QCOMPARE(line->text(), QStringLiteral("“B: b” was not pinned. Your keyring is locked."));
        QTest::mouseClick(row("B")->upButton(), Qt::LeftButton);
        QCOMPARE(titles(), QStringList({"A", "B"}));
        QVERIFY(line->text().startsWith("The new order was not saved. Your keyring is locked."));
        QCOMPARE(TestSupport::labels(KeychainStore::loadAll().active), QStringList({"A: a", "B: b"}));

        memory->failWith(Op::update, Keychain::success);
        memory->failWith(Op::add, Keychain::success);
        QTest::mouseClick(row("B")->upButton(), Qt::LeftButton);
        QCOMPARE(titles(), QStringList({"B", "A"}));
        QVERIFY(!line->isVisible());
    }

    // A click on the icon while the panel is open closes it, as the popup
    // first closes on that click outside it and the icon then hears it.
    void aClickOnTheIconClosesTheOpenPanel() {
        open({makeAccount("A", "a")});
        TrayHost tray(*store, *clock, *settings, *lock, *updater, *defaults);
        tray.togglePanel(QPoint(300, 5));
        QVERIFY(tray.isPanelOpen());
        tray.panel()->close(); // the press outside the popup
        tray.togglePanel(QPoint(300, 5)); // the same click, at the icon
        QVERIFY(!tray.isPanelOpen());
        QTest::qWait(TrayHost::reopenGuardMs + 50);
        tray.togglePanel(QPoint(300, 5)); // a later click opens it again
        QVERIFY(tray.isPanelOpen());
        tray.togglePanel(QPoint(300, 5));
        QVERIFY(!tray.isPanelOpen());
    }

    void movingReordersTheMainWindowToo() {
        const Account a = makeAccount("A", "a"), h = makeAccount("H", "h"), b = makeAccount("B", "b");
        open({a, h, b});
        settings->toggleHidden(h.id, false);
        showPanel();
        QWidget window;
        auto* main = new ContentView(*store, *clock, *defaults, &window);
        const auto mainTitles = [main] {
            QStringList out;
            for (AccountRow* r : main->rows())
                out << r->titleText();
            return out;
        };
        QCOMPARE(mainTitles(), QStringList({"A", "H", "B"}));

        // B up (the button as a screen reader names it): it goes before A,
        // and the hidden H ends up after the pair.
        QCOMPARE(buttonNamed(row("B"), "Move up"), row("B")->upButton());
        QTest::mouseClick(row("B")->upButton(), Qt::LeftButton);
        QCOMPARE(titles(), QStringList({"B", "A"}));
        QCOMPARE(mainTitles(), QStringList({"B", "A", "H"}));
        QCOMPARE(TestSupport::labels(KeychainStore::loadAll().active),
                 QStringList({"B: b", "A: a", "H: h"}));
        // B down again: A comes before it.
        QCOMPARE(buttonNamed(row("B"), "Move down"), row("B")->downButton());
        QTest::mouseClick(row("B")->downButton(), Qt::LeftButton);
        QCOMPARE(titles(), QStringList({"A", "B"}));
        QCOMPARE(mainTitles(), QStringList({"A", "B", "H"}));
    }

    void showCodesOffHidesEveryCodeButKeepsNamesAndCopying() {
        Account six = makeAccount("Six", "s", rfcKey);
        Account seven = makeAccount("Seven", "s7", rfcKey);
        seven.digits = 7;
        Account eight = makeAccount("Eight", "s8", rfcKey);
        eight.digits = 8;
        Account steam = makeAccount("Steam", "gabe", rfcKey);
        steam.isSteam = true;
        steam.digits = 5;
        open({six, seven, eight, steam});
        now = QDateTime::currentDateTimeUtc();
        showPanel();
        QCOMPARE(row("Steam")->codeText().size(), 5); // Steam codes stay whole
        QCheckBox* toggle = showCodes();
        QVERIFY(toggle && toggle->isVisible() && toggle->isChecked());
        QCOMPARE(toggle->text(), QStringLiteral("Show codes"));
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(!settings->revealCodesInMenu());
        QCOMPARE(defaults->boolean(Settings::revealCodesInMenu.key), false);

        const QString dot = QString(QChar(0x2022));
        QCOMPARE(row("Six")->codeText(), dot.repeated(3) + " " + dot.repeated(3));
        QCOMPARE(row("Seven")->codeText(), dot.repeated(3) + " " + dot.repeated(4));
        QCOMPARE(row("Eight")->codeText(), dot.repeated(4) + " " + dot.repeated(4));
        QCOMPARE(row("Steam")->codeText(), dot.repeated(2) + " " + dot.repeated(3));
        QCOMPARE(titles(), QStringList({"Six", "Seven", "Eight", "Steam"}));
        for (MenuBarRow* r : panel->rows()) {
            QVERIFY(r->copyButton()->isVisible());
            QCOMPARE(r->copyToolTip(), QStringLiteral("Click to copy (code hidden)"));
        }
        // The real code is still what a click copies.
        QTest::mouseClick(row("Eight")->copyButton(), Qt::LeftButton);
        QCOMPARE(QString::fromLatin1(TestSupport::clipboardText()), oathtool(rfcKey, now, 8));
        QCOMPARE(MenuBarRow::hiddenCode(0), QStringLiteral(" "));
    }

    // The settings file replaced by a FIFO while the panel is open: the
    // next change stays in memory, and the panel says so, with the file.
    void theSettingsFileNoticeTellsWhyChangesAreNotKept() {
        open({makeAccount("Example", "alice", rfcKey)});
        showPanel();
        const QString file = defaults->fileName();
        const QString start = QStringLiteral("Quillet could not use its settings file ") + file;
        const auto notice = [&]() -> QLabel* {
            for (QLabel* label : panel->findChildren<QLabel*>())
                if (label->isVisibleTo(panel.get()) && label->text().startsWith(start))
                    return label;
            return nullptr;
        };
        QVERIFY(!notice());
        QVERIFY(QFile::remove(file));
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        QTest::mouseClick(showCodes(), Qt::LeftButton);
        QVERIFY(!settings->revealCodesInMenu());
        QTRY_VERIFY(notice());
        QVERIFY2(notice()->text().endsWith("keeps your changes only until it quits."),
                 qPrintable(notice()->text()));
        // Drawn inside the panel, not cut away under its footer.
        QVERIFY(panel->rect().contains(notice()->geometry().translated(
            notice()->parentWidget()->mapTo(panel.get(), QPoint()))));
    }

    void emptyVaultAndTheFooter() {
        open({});
        showPanel();
        QCOMPARE(panel->area(), MenuBarContent::Area::noAccounts);
        QVERIFY(shown<QLabel>(panel.get(), "No accounts yet"));
        QVERIFY(!showCodes()->isVisibleTo(panel.get()));
        QVERIFY(!search()->isVisibleTo(panel.get()));
        QSignalSpy main(panel.get(), &MenuBarContent::openMainWindowRequested);
        QTest::mouseClick(shown<QPushButton>(panel.get(), "Add an account"), Qt::LeftButton);
        QTest::mouseClick(buttonNamed(panel.get(), "Open main window"), Qt::LeftButton);
        QTest::mouseClick(buttonNamed(panel.get(), "Manage"), Qt::LeftButton);
        QCOMPARE(main.count(), 3);
        QSignalSpy settingsWanted(panel.get(), &MenuBarContent::settingsRequested);
        QTest::mouseClick(buttonNamed(panel.get(), "Settings"), Qt::LeftButton);
        QCOMPARE(settingsWanted.count(), 1);
        QSignalSpy quit(panel.get(), &MenuBarContent::quitRequested);
        QTest::mouseClick(buttonNamed(panel.get(), "Quit"), Qt::LeftButton);
        QCOMPARE(quit.count(), 1);
        // No update feed here: the command stays disabled. No lock: no lock button.
        QToolButton* update = buttonNamed(panel.get(), "Check for Updates…");
        QVERIFY(update && !update->isEnabled());
        QVERIFY(!buttonNamed(panel.get(), "Lock now"));
        // Adding the first account leaves the empty state.
        store->importAccounts({makeAccount("New", "n")});
        QCOMPARE(panel->area(), MenuBarContent::Area::list);
        QVERIFY(showCodes()->isVisible());
        QVERIFY(search()->isVisible());
    }

    // The clock's stored state decides, whatever the measurement's age.
    void theDriftBannerFromFifteenSeconds() {
        const auto drift = [](double offset, bool enabled = true,
                              QDateTime measured = QDateTime::currentDateTimeUtc()) {
            return MenuBarContent::driftSeconds(CorrectedClock::State{offset, measured, enabled});
        };
        QCOMPARE(MenuBarContent::driftSeconds(CorrectedClock::State{}), std::nullopt);
        QCOMPARE(drift(-30, false), std::nullopt);
        QCOMPARE(drift(-30, true, CorrectedClock::State::distantPast()), std::nullopt);
        QCOMPARE(drift(-15.0), std::optional<qint64>(15));
        QCOMPARE(drift(-14.99), std::nullopt);
        QCOMPARE(drift(15.5), std::optional<qint64>(-16));
        QCOMPARE(drift(-15.5), std::optional<qint64>(16));
        QCOMPARE(drift(-30, true, QDateTime::currentDateTimeUtc().addSecs(-13 * 3600)),
                 std::optional<qint64>(30));
        QCOMPARE(drift(std::nan("")), std::nullopt);
        QCOMPARE(drift(1e300), std::nullopt); // a damaged state
        QCOMPARE(MacClockDriftBanner::messageFor(42),
                 QStringLiteral("Clock is 42s fast — codes auto-corrected"));
        QCOMPARE(MacClockDriftBanner::messageFor(-90),
                 QStringLiteral("Clock is 90s slow — codes auto-corrected"));

        open({makeAccount("A", "a")});
        showPanel();
        QVERIFY(!panel->findChild<MacClockDriftBanner*>()->isVisible());
        // A measurement arrives while the panel is open: shown at the next tick.
        KeychainStore::saveClockState({-42.4, QDateTime::currentDateTimeUtc(), true});
        CorrectedClock::resetForTesting();
        clock->tick();
        auto* banner = panel->findChild<MacClockDriftBanner*>();
        QVERIFY(banner->isVisible());
        QCOMPARE(banner->message(), QStringLiteral("Clock is 42s fast — codes auto-corrected"));
        CorrectedClock::setEnabled(false);
        clock->tick();
        QVERIFY(!banner->isVisible());
    }

    // A keyring that is locked or unreadable is never shown as an empty
    // vault: the panel says what the keyring does, and Try Again opens it.
    void aLockedKeyringIsNotAnEmptyVault() {
        using Op = Keychain::MemoryBackend::Operation;
        memory->failWith(Op::open, Keychain::interactionNotAllowed);
        open({makeAccount("Example", "alice", rfcKey)});
        showPanel();
        QCOMPARE(panel->area(), MenuBarContent::Area::keyring);
        QVERIFY(shown<QLabel>(panel.get(), "Your keyring is locked."));
        QVERIFY(!shown<QLabel>(panel.get(), "No accounts yet"));
        QVERIFY(!shown<QPushButton>(panel.get(), "Add an account"));
        QVERIFY(!search()->isVisibleTo(panel.get()));

        memory->failWith(Op::open, Keychain::success);
        memory->failWith(Op::copyMatching, Keychain::decodeFailed);
        QTest::mouseClick(shown<QPushButton>(panel.get(), "Try Again"), Qt::LeftButton);
        QTRY_VERIFY(shown<QLabel>(panel.get(), "Quillet could not read your keyring."));
        QVERIFY(shown<QLabel>(panel.get(), store->failureReason()));
        QVERIFY(!shown<QLabel>(panel.get(), "No accounts yet"));

        memory->failWith(Op::copyMatching, Keychain::success);
        QTest::mouseClick(shown<QPushButton>(panel.get(), "Try Again"), Qt::LeftButton);
        QTRY_COMPARE(titles(), QStringList({"Example"}));
        QCOMPARE(panel->area(), MenuBarContent::Area::list);
        QVERIFY(search()->isVisible());
    }

    void escapeClosesThePanel() {
        open({makeAccount("A", "a")});
        showPanel();
        QTest::keyClick(search(), Qt::Key_Escape);
        QTRY_VERIFY(!panel->isVisible());
    }

    // The open panel closes when another window takes the focus (a click
    // elsewhere), not while a menu of its own is open over it.
    void focusElsewhereClosesThePanel() {
        open({makeAccount("A", "a")});
        TrayHost tray(*store, *clock, *settings, *lock, *updater, *defaults);
        tray.openPanel(QPoint(300, 5));
        QTRY_VERIFY(tray.panel()->isActiveWindow());
        QMenu menu;
        menu.addAction(QStringLiteral("Pin"));
        menu.popup(tray.panel()->mapToGlobal(QPoint(20, 60)));
        QTRY_VERIFY(menu.isVisible());
        QTest::qWait(TrayHost::focusSettleMs * 2);
        QVERIFY(tray.isPanelOpen());
        menu.close();
        QTRY_VERIFY(tray.panel()->isActiveWindow());

        QWidget elsewhere;
        elsewhere.setGeometry(500, 400, 200, 100);
        elsewhere.show();
        elsewhere.activateWindow();
        QTRY_VERIFY(!tray.isPanelOpen());
        // And it opens again at the next click.
        QTest::qWait(TrayHost::reopenGuardMs + 50);
        tray.togglePanel(QPoint(300, 5));
        QVERIFY(tray.isPanelOpen());
    }

    // While the app is locked the panel stands in for the list with its
    // locked panel, which asks at once; the tray steps aside for the
    // password dialog and comes back with the list.
    void theLockedPanelAsksAsSoonAsItAppears() {
        defaults->setValue(Settings::appLockEnabled.key, true);
        open({makeAccount("Example", "alice", rfcKey)});
        QVERIFY(lock->isLocked());
        TrayHost tray(*store, *clock, *settings, *lock, *updater, *defaults);
        QSignalSpy appeared(&tray, &TrayHost::appeared);
        tray.openPanel(QPoint(300, 5));
        QCOMPARE(appeared.count(), 1);
        MenuBarContent* shownPanel = tray.panel();
        QCOMPARE(shownPanel->area(), MenuBarContent::Area::locked);
        QVERIFY(shown<QLabel>(shownPanel, "Locked"));
        QVERIFY(shown<QPushButton>(shownPanel, "Unlock"));
        QVERIFY(!shownPanel->findChild<QLineEdit*>()->isVisibleTo(shownPanel));
        QVERIFY(shownPanel->findChild<QCheckBox*>()->isVisibleTo(shownPanel));
        QVERIFY(!buttonNamed(shownPanel, "Lock now"));
        QCOMPARE(shownPanel->width(), MenuBarContent::panelWidth);
        const QPoint where = shownPanel->pos();

        // The code beside the icon stays while locked.
        QCOMPARE(tray.label().codeText(), QStringLiteral("287082"));

        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_VERIFY(!lock->isLocked());
        QTRY_VERIFY(tray.isPanelOpen());
        QCOMPARE(shownPanel->area(), MenuBarContent::Area::list);
        QCOMPARE(shownPanel->pos(), where);

        // "Lock now" locks, and the locked panel asks again.
        QToolButton* lockNow = buttonNamed(shownPanel, "Lock now");
        QVERIFY(lockNow);
        QTest::mouseClick(lockNow, Qt::LeftButton);
        QVERIFY(lock->isLocked());
        // Its rows, out of sight now, hold no code until the unlock.
        const QList<MenuBarRow*> rows = shownPanel->findChildren<MenuBarRow*>();
        QVERIFY(!rows.isEmpty());
        for (MenuBarRow* row : rows)
            QVERIFY(!row->codeText().contains(QRegularExpression(QStringLiteral("[0-9]"))));
        QVERIFY(PasswordPrompt::cancel());
        QVERIFY(lock->isLocked());
        // A cancel brings the locked panel back where it was, and it does
        // not ask again by itself: once per opening.
        QTRY_VERIFY(tray.isPanelOpen());
        QCOMPARE(tray.panel()->area(), MenuBarContent::Area::locked);
        QCOMPARE(tray.panel()->pos(), where);
        QTest::qWait(300);
        QVERIFY(!PasswordPrompt::dialog() && tray.isPanelOpen());
        // Its footer works while locked.
        QSignalSpy manage(&tray, &TrayHost::openMainWindowRequested);
        QTest::mouseClick(buttonNamed(tray.panel(), "Manage"), Qt::LeftButton);
        QCOMPARE(manage.count(), 1);
        tray.openPanel(QPoint(300, 5)); // a new opening asks again
        QVERIFY(PasswordPrompt::answer(QStringLiteral("wrong")));
        for (int attempt = 1; attempt < 3; ++attempt) {
            QVERIFY(PasswordPrompt::askedAgain());
            QVERIFY(PasswordPrompt::answer(QStringLiteral("wrong")));
        }
        QTRY_VERIFY(tray.isPanelOpen() && !PasswordPrompt::dialog());
        QCOMPARE(tray.panel()->area(), MenuBarContent::Area::locked);
        QSignalSpy quit(&tray, &TrayHost::quitRequested);
        QTest::mouseClick(buttonNamed(tray.panel(), "Quit"), Qt::LeftButton);
        QCOMPARE(quit.count(), 1);
        QTest::mouseClick(shown<QPushButton>(tray.panel(), "Unlock"), Qt::LeftButton);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_COMPARE(tray.panel()->area(), MenuBarContent::Area::list);
        QTRY_VERIFY(tray.isPanelOpen());
    }

    void theCodeBesideTheIcon() {
        Account first = makeAccount("First", "f", rfcKey);
        Account chosen = makeAccount("Chosen", "c", QByteArray("12345678901234567890a"));
        open({first, chosen});
        QPixmap picture(16, 16);
    picture.fill(Qt::gray);
    StatusItem item(QStringLiteral("quillet-test"), QStringLiteral("Quillet"), QIcon(picture));
        MenuBarLabel label(*store, *clock, *settings, item);
        // Nothing chosen: the first account, its code without a space.
        QCOMPARE(label.codeText(), QStringLiteral("287082"));
        QCOMPARE(item.label(), QStringLiteral("287082"));
        QCOMPARE(item.toolTip(), QStringLiteral("287082"));
        settings->setMenuBarAccountID(chosen.id);
        QCOMPARE(label.codeText(), oathtool("12345678901234567890a", now));
        // The chosen account deleted: the first remaining one.
        store->deleteAccount(chosen.id);
        QCOMPARE(label.codeText(), QStringLiteral("287082"));
        now = at(60);
        clock->tick();
        QCOMPARE(label.codeText(), QStringLiteral("359152"));
        // Hidden from the panel, codes hidden in the panel: still shown here.
        settings->toggleHidden(first.id, false);
        settings->setRevealCodesInMenu(false);
        QCOMPARE(label.codeText(), QStringLiteral("359152"));
        // Off: the key alone, and no following the clock.
        settings->setShowCodeInMenuBar(false);
        QCOMPARE(item.label(), QString());
        QVERIFY(!label.followsClock());
        settings->setShowCodeInMenuBar(true);
        store->deleteAccount(first.id);
        QCOMPARE(item.label(), QString());
        QVERIFY(!label.followsClock());
        QCOMPARE(MenuBarLabel::menuBarAccount({}, std::nullopt), std::nullopt);
    }
};

QUILLET_TEST_MAIN(MenuBarContentTests)
#include "MenuBarContentTests.moc"
