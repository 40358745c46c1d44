// The settings window by what a user sees and does, on the offscreen
// platform, with PAM wrapped (tests/with-pam.sh) for the lock switch.
#include "core/AccountStore.h"
#include "core/CorrectedClock.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "menubar/GeneralTab.h"
#include "menubar/HotKeysTab.h"
#include "menubar/SettingsWindow.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"
#include "platform/system/LoginItem.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/Clipboard.h"
#include "system/HotKeyRecorder.h"
#include "system/SystemActions.h"
#include "tests/support/PasswordPrompt.h"
#include "tests/support/Screen.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"
#include "tests/support/WholeTexts.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

using TestSupport::absent;
using TestSupport::choose;
using TestSupport::click;
using TestSupport::label;
using TestSupport::picker;
using TestSupport::shown;

namespace {

QCheckBox* check(QWidget* in, const QString& text) { return shown<QCheckBox>(in, text); }

// Keeps the text a picker's choice was last drawn with.
class DrawnChoice : public QProxyStyle {
public:
    mutable QString text;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (auto* box = qstyleoption_cast<const QStyleOptionComboBox*>(option);
            box && element == CE_ComboBoxLabel)
            text = box->currentText;
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

// A choice too long for its picker is drawn cut with "…", and reaches the
// tooltip and a screen reader whole.
void verifyCutChoice(QComboBox* picker, const QString& whole) {
    QCOMPARE(picker->currentText(), whole);
    DrawnChoice drawn;
    picker->setStyle(&drawn);
    const auto restore = qScopeGuard([picker] { picker->setStyle(nullptr); });
    picker->repaint();
    QVERIFY2(drawn.text.endsWith(u'…'), qPrintable(drawn.text));
    QVERIFY(whole.startsWith(drawn.text.chopped(1)));
    QVERIFY(picker->fontMetrics().horizontalAdvance(drawn.text) < picker->width());
    QCOMPARE(picker->toolTip(), whole);
    QCOMPARE(QAccessible::queryAccessibleInterface(picker)->text(QAccessible::Value), whole);
}

} // namespace

class SettingsWindowTests : public QObject, TestSupport::VaultFixture {
    Q_OBJECT

    QTemporaryDir config;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppLockMac> lock;
    SettingsWindow* window = nullptr;

    // A start of the program: every model reads the stored settings anew.
    void start() {
        delete window;
        defaults = std::make_unique<UserDefaults>(folder->filePath("settings.conf"));
        openStore();
        settings = std::make_unique<AppSettings>(*defaults);
        lock = std::make_unique<AppLockMac>(*defaults);
        CorrectedClock::resetForTesting();
        window = new SettingsWindow(*store, *settings, *lock, *defaults, *log);
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

    void showTab(const QString& name) {
        QTabWidget* tabs = window->tabs();
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == name) tabs->setCurrentIndex(i);
    }

private slots:
    void initTestCase() {
        if (!qEnvironmentVariableIsSet("PAM_WRAPPER"))
            QSKIP("needs PAM wrapped (run through tests/with-pam.sh)");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }

    void init() {
        qputenv("QUILLET_PAM_SERVICE", "quillet-test");
        QDir(config.filePath("autostart")).removeRecursively();
        QFile::remove(config.filePath("autostart"));
        openVault();
        start();
        store->importAccounts({TestSupport::makeAccount("GitHub", "me@example.com"),
                               TestSupport::makeAccount("Example", "me@example.com")});
        QCOMPARE(store->accounts().size(), 2);
    }

    void cleanup() {
        while (QDialog* dialog = PasswordPrompt::dialog()) dialog->reject();
        delete window;
        window = nullptr;
    }

    void everyGeneralControlWritesAtOnceAndSurvivesARestart() {
        QCOMPARE(window->tabs()->tabText(0), QStringLiteral("General"));
        QCOMPARE(window->size(), QSize(660, 560));
        QWidget* tab = window->general();

        click(check(tab, "Launch Quillet at login"));
        QCOMPARE(LoginItem::status(), LoginItem::Status::enabled);
        click(check(tab, "Show a code in the tray"));
        QCOMPARE(defaults->boolean(Settings::showCodeInMenuBar.key), std::optional(false));
        QVERIFY(!picker(tab, "Account:")); // only while a code is shown
        click(check(tab, "Show a code in the tray"));
        // Each option with its controls: the code's account right under the
        // switch that shows the code, before the next option.
        const auto top = [&](QWidget* widget) { return widget->mapTo(tab, QPoint()).y(); };
        QVERIFY(top(check(tab, "Show a code in the tray")) < top(picker(tab, "Account:")));
        QVERIFY(top(picker(tab, "Account:")) < top(check(tab, "Tray-only (hide taskbar entry)")));
        QVERIFY(top(check(tab, "Tray-only (hide taskbar entry)")) <
                top(check(tab, "Auto-correct clock drift")));
        choose(picker(tab, "Account:"), 2); // the second account
        QCOMPARE(defaults->string(Settings::menuBarAccountID.key),
                 std::optional(store->accounts()[1].id.toString(QUuid::WithoutBraces).toUpper()));
        click(check(tab, "Tray-only (hide taskbar entry)"));
        QCOMPARE(defaults->boolean(Settings::menuBarOnly.key), std::optional(true));
        click(check(tab, "Auto-correct clock drift"));
        QVERIFY(!CorrectedClock::state().enabled);
        click(check(tab, "GitHub: me@example.com"));
        QCOMPARE(settings->menuBarHiddenAccountIDs(), QSet<QUuid>{store->accounts()[0].id});
        choose(picker(tab, "Clear clipboard after copying"), 2);
        QCOMPARE(defaults->integer(Settings::clipboardClearSeconds.key), std::optional<qint64>(30));
        // Turning the lock on asks first, saying what for (it unlocks
        // nothing); the answer turns it on, open.
        click(check(tab, "Require your password to unlock"));
        QVERIFY(!lock->isEnabled() && !defaults->contains(Settings::appLockEnabled.key));
        QTRY_VERIFY(PasswordPrompt::dialog(PasswordPrompt::enableTitle));
        QDialog* question = PasswordPrompt::dialog(PasswordPrompt::enableTitle);
        QVERIFY(!PasswordPrompt::dialog(PasswordPrompt::lockTitle));
        QVERIFY(label(question, "Enter your login password to turn on the app lock. Quillet will "
                                "then ask for it before showing your codes."));
        QCOMPARE(PasswordPrompt::acceptButton(question)->text(), "Turn On");
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword, PasswordPrompt::enableTitle));
        QTRY_VERIFY(lock->isEnabled());
        QCOMPARE(defaults->boolean(Settings::appLockEnabled.key), std::optional(true));
        QVERIFY(!lock->isLocked() && PasswordPrompt::dialog() == nullptr);
        // None of this is covered by the lock: the window stays as it is.
        QVERIFY(tab->isVisible() && tab->isEnabled());

        start();
        tab = window->general();
        QVERIFY(check(tab, "Launch Quillet at login")->isChecked());
        QVERIFY(check(tab, "Show a code in the tray")->isChecked());
        QCOMPARE(picker(tab, "Account:")->currentText(), QStringLiteral("Example: me@example.com"));
        QVERIFY(check(tab, "Tray-only (hide taskbar entry)")->isChecked());
        QVERIFY(!check(tab, "Auto-correct clock drift")->isChecked());
        QVERIFY(!check(tab, "GitHub: me@example.com")->isChecked());
        QVERIFY(check(tab, "Example: me@example.com")->isChecked());
        QCOMPARE(picker(tab, "Clear clipboard after copying")->currentText(), "30 seconds");
        QVERIFY(check(tab, "Require your password to unlock")->isChecked());
        QVERIFY(lock->isLocked()); // a new start with the lock on starts locked

        // "First account" takes the key away again.
        QComboBox* accounts = picker(tab, "Account:");
        accounts->setFocus();
        QTest::keyClick(accounts, Qt::Key_Home);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword)); // locked: asks first
        QTRY_VERIFY(!defaults->contains(Settings::menuBarAccountID.key));
    }

    void aClearDelayOfFifteenSecondsClearsACopiedCode() {
        choose(picker(window->general(), "Clear clipboard after copying"), 1);
        QCOMPARE(defaults->integer(Settings::clipboardClearSeconds.key), std::optional<qint64>(15));
        QElapsedTimer elapsed;
        elapsed.start();
        Clipboard::copyCodeToClipboard(QStringLiteral("482913"), *defaults);
        QTest::qWait(12000);
        QCOMPARE(Pasteboard::text(), std::optional<QString>("482913"));
        QTRY_VERIFY(!Pasteboard::text() || Pasteboard::text()->isEmpty());
        QVERIFY(elapsed.elapsed() >= 15000);
    }

    void switchingTheLockOffWhileLockedAsksFirst() {
        defaults->setValue(Settings::appLockEnabled.key, true);
        start();
        QVERIFY(lock->isLocked());
        QCheckBox* box = check(window->general(), "Require your password to unlock");
        QVERIFY(box->isChecked() && box->isEnabled());
        click(box);
        QVERIFY(box->isChecked()); // not until the user has proved to be the user
        QVERIFY(PasswordPrompt::cancel());
        QVERIFY(box->isChecked() && lock->isEnabled() && lock->isLocked());
        QCOMPARE(defaults->boolean(Settings::appLockEnabled.key), std::optional(true));

        click(box);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_VERIFY(!box->isChecked());
        QVERIFY(!lock->isEnabled() && !lock->isLocked());
        QCOMPARE(defaults->boolean(Settings::appLockEnabled.key), std::optional(false));
    }

    void theLockSwitchSaysWhenNobodyCanBeAuthenticated() {
        QWidget* tab = window->general();
        QVERIFY(label(tab, "Ask for your login password before showing your codes. Lock any time "
                           "from the tray panel."));
        if (QFile::exists(qEnvironmentVariable("PAM_WRAPPER_SERVICE_DIR") + "/other"))
            QSKIP("the fallback stack is installed in this run");
        qputenv("QUILLET_PAM_SERVICE", "absent");
        showTab("Hotkeys");
        showTab("General"); // asked again as the tab comes on screen
        QVERIFY(!check(tab, "Require your password to unlock")->isEnabled());
        QVERIFY(label(tab, "Set up a login password on this computer to use the lock."));
    }

    // Where the stack refuses without asking, or the user cancels, the lock
    // stays off (nobody locks themselves out), and the switch says why.
    void theLockTurnsOnOnlyAfterASuccess() {
        QWidget* tab = window->general();
        QCheckBox* box = check(tab, "Require your password to unlock");
        click(box);
        QVERIFY(PasswordPrompt::cancel(PasswordPrompt::enableTitle));
        QVERIFY(!box->isChecked() && !lock->isEnabled());
        QTest::qWait(1000);
        QVERIFY(absent(tab, "The lock stays off: your password was not accepted."));

        qputenv("QUILLET_PAM_SERVICE", "broken");
        click(box);
        const QString why = "The lock stays off: this computer refused to check your login "
                            "password, so you could not unlock Quillet again.";
        QVERIFY(label(tab, why));
        QVERIFY(!box->isChecked() && !lock->isEnabled() && !lock->isLocked());
        QVERIFY(!defaults->contains(Settings::appLockEnabled.key));
        start();
        QVERIFY(!lock->isLocked());
    }

    // While locked, Settings gives no code away and erases nothing before
    // the password: the tray code and its account, bindings, erasing.
    void whileLockedChangesThatShowCodesAskFirst() {
        QWidget* tab = window->general();
        click(check(tab, "Show a code in the tray")); // off: asks nothing
        defaults->setValue(Settings::appLockEnabled.key, true);
        start();
        tab = window->general();
        QVERIFY(lock->isLocked());
        QCheckBox* showCode = check(tab, "Show a code in the tray");
        click(showCode);
        QVERIFY(PasswordPrompt::cancel());
        QTRY_VERIFY(!showCode->isChecked());
        QVERIFY(!settings->showCodeInMenuBar());
        click(showCode);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_VERIFY(settings->showCodeInMenuBar());

        lock->relock();
        QComboBox* account = picker(tab, "Account:");
        choose(account, 1);
        QCOMPARE(account->currentIndex(), 0); // the stored choice until the answer
        QVERIFY(PasswordPrompt::cancel());
        QVERIFY(!settings->menuBarAccountID());
        choose(account, 1);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_COMPARE(settings->menuBarAccountID(), std::optional(store->accounts()[0].id));
        QCOMPARE(account->currentIndex(), 1);

        lock->relock();
        showTab("Hotkeys");
        click(shown<QPushButton>(window->hotKeys(), "Add hotkey"));
        QVERIFY(PasswordPrompt::cancel());
        QVERIFY(settings->bindings().isEmpty());
        click(shown<QPushButton>(window->hotKeys(), "Add hotkey"));
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_COMPARE(settings->bindings().size(), 1);
        lock->relock();
        QComboBox* bound = picker(window->hotKeys(), "Account of hotkey 1");
        choose(bound, 1);
        QVERIFY(PasswordPrompt::cancel());
        QTRY_COMPARE(bound->currentIndex(), 0);
        QVERIFY(!settings->bindings()[0].accountID);

        showTab("General");
        QVERIFY(store->deleteAccount(store->accounts()[0].id));
        window->general()->showSheet(GeneralTab::Sheet::recentlyDeleted);
        QWidget* sheet = window->general()->sheet();
        click(shown<QPushButton>(sheet, "Delete All Permanently"));
        QVERIFY(PasswordPrompt::cancel());
        QCOMPARE(store->deletedAccounts().size(), 1);
        QVERIFY(!sheet->findChild<QMessageBox*>());
        QAction* erase = nullptr;
        for (QAction* action : sheet->findChildren<QAction*>())
            if (action->text() == "Delete Permanently") erase = action;
        QVERIFY(erase);
        erase->trigger();
        QVERIFY(PasswordPrompt::cancel());
        QCOMPARE(store->deletedAccounts().size(), 1);
        erase->trigger();
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_VERIFY(store->deletedAccounts().isEmpty());
    }

    // The clock setting lives in the keyring: not offered before the vault
    // was read, a failed save says so, and the stored state comes with the
    // vault when it opens later.
    void theClockSwitchWaitsForTheVault() {
        KeychainStore::saveClockState({0, CorrectedClock::State::distantPast(), false});
        using Op = Keychain::MemoryBackend::Operation;
        memory->failWith(Op::open, Keychain::interactionNotAllowed);
        start();
        QWidget* tab = window->general();
        QCheckBox* drift = check(tab, "Auto-correct clock drift");
        QTRY_VERIFY(label(tab, "Your keyring is locked."));
        QVERIFY(!drift->isEnabled() && !drift->isChecked());

        memory->failWith(Op::open, Keychain::success);
        store->tryAgain();
        QTRY_VERIFY(drift->isEnabled());
        QVERIFY(!drift->isChecked()); // what is stored, loaded with the vault
        QTest::qWait(1000);
        QVERIFY(absent(tab, "Your keyring is locked."));

        memory->failWith(Op::update, Keychain::interactionNotAllowed);
        click(drift);
        QVERIFY(!drift->isChecked() && !CorrectedClock::state().enabled);
        QVERIFY(label(tab, "The clock setting was not saved: your keyring did not take it."));
        memory->failWith(Op::update, Keychain::success);
        click(drift);
        QVERIFY(drift->isChecked());
        QCOMPARE(KeychainStore::readClockState()->enabled, true);
    }

    void theLoginItemFollowsTheDesktopAndReportsFailures() {
        GeneralTab* tab = window->general();
        QVERIFY(tab->isPollingLoginItem());
        // The desktop's own settings switched the entry off.
        QVERIFY(LoginItem::registerItem());
        QFile entry(LoginItem::desktopFilePath());
        QVERIFY(entry.open(QIODevice::Append));
        entry.write("Hidden=true\n");
        entry.close();
        const QString title = "Quillet is disabled in your desktop's startup applications";
        QVERIFY(label(tab, title)); // at the next poll
        QVERIFY(!check(tab, "Launch Quillet at login")->isChecked());
        click(shown<QPushButton>(tab, "Open Startup Applications"));
        QVERIFY(label(tab, SystemActions::loginItemsSettingsHelp()));
        // Switching it on here turns the entry on again.
        click(check(tab, "Launch Quillet at login"));
        QCOMPARE(LoginItem::status(), LoginItem::Status::enabled);
        QVERIFY(absent(tab, title));

        // A change that fails says why and shows the real state again.
        click(check(tab, "Launch Quillet at login"));
        const QString autostart = QFileInfo(LoginItem::desktopFilePath()).absolutePath();
        QVERIFY(QDir(autostart).removeRecursively());
        QFile blocker(autostart);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        click(check(tab, "Launch Quillet at login"));
        QVERIFY(!check(tab, "Launch Quillet at login")->isChecked());
        QVERIFY(tab->statusMessage() && tab->statusMessage()->contains(autostart));
        QVERIFY(label(tab, *tab->statusMessage()));

        // Off screen nothing polls.
        showTab("Hotkeys");
        QVERIFY(!tab->isPollingLoginItem());
    }

    void escapeAndControlWCloseTheWindow() {
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!window->isVisible());
    }

    // At twice the font and as narrow as it goes, the question that turns
    // the lock on shows all its words, also once PAM asks and after a
    // refused password.
    void theLockQuestionIsWholeAtALargeFont() {
        const WholeTexts::LargeFont large;
        const auto close = qScopeGuard([] {
            if (QDialog* open = PasswordPrompt::dialog(PasswordPrompt::enableTitle)) open->reject();
        });
        click(check(window->general(), "Require your password to unlock"));
        QTRY_VERIFY(PasswordPrompt::asking(PasswordPrompt::enableTitle));
        QDialog* question = PasswordPrompt::dialog(PasswordPrompt::enableTitle);
        QUILLET_TRY_WHOLE(question);
        question->resize(1, question->height());
        QTRY_COMPARE(question->width(), question->minimumWidth());
        QUILLET_TRY_WHOLE(question);
        QVERIFY(PasswordPrompt::answer("wrong", PasswordPrompt::enableTitle));
        QVERIFY(PasswordPrompt::askedAgain(PasswordPrompt::enableTitle));
        QVERIFY(label(question, "Sorry, try again."));
        QUILLET_TRY_WHOLE(question);
        QVERIFY(PasswordPrompt::cancel(PasswordPrompt::enableTitle));
    }

    void longAccountLabelsAreCutWithAnEllipsis() {
        const QString whole = "Example Corporation: someone.with.a.long.name@example.com";
        store->importAccounts({TestSupport::makeAccount("Example Corporation",
                                                        "someone.with.a.long.name@example.com")});
        choose(picker(window->general(), "Account:"), 3);
        verifyCutChoice(picker(window->general(), "Account:"), whole);
        showTab("Hotkeys");
        click(shown<QPushButton>(window->hotKeys(), "Add hotkey"));
        choose(picker(window->hotKeys(), "Account of hotkey 1"), 3);
        verifyCutChoice(picker(window->hotKeys(), "Account of hotkey 1"), whole);
    }

    void bindingRowsWriteTheirBinding() {
        showTab("Hotkeys");
        HotKeysTab* tab = window->hotKeys();
        QVERIFY(label(tab, "No hotkeys yet"));
        QVERIFY(absent(tab, "0 active of 0"));

        click(shown<QPushButton>(tab, "Add hotkey"));
        QCOMPARE(tab->rows().size(), 1);
        BindingRow* row = tab->rows().first();
        QVERIFY(absent(tab, "No hotkeys yet"));
        QVERIFY(check(row, "Enable hotkey 1")->isChecked());
        QComboBox* accounts = picker(row, "Account of hotkey 1");
        QCOMPARE(accounts->currentText(), QStringLiteral("— pick an account —"));
        QCOMPARE(row->recorder()->text(), QStringLiteral("Click to set"));
        QCOMPARE(row->recorder()->size(), QSize(150, 24));
        QVERIFY(label(tab, "0 active of 1"));

        choose(accounts, 1);
        QCOMPARE(settings->bindings()[0].accountID, std::optional(store->accounts()[0].id));
        QVERIFY(label(tab, "0 active of 1")); // no key yet
        QSignalSpy writes(settings.get(), &AppSettings::bindingsChanged);
        click(row->recorder());
        QCOMPARE(row->recorder()->text(), QStringLiteral("Press a key combo…"));
        QTest::keyClick(row->recorder(), Qt::Key_P,
                        Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(row->recorder()->text(), QStringLiteral("Ctrl+Alt+Shift+P"));
        QCOMPARE(settings->bindings()[0].keyCode, 35u);
        QCOMPARE(settings->bindings()[0].modifiers, 0xB00u);
        QCOMPARE(writes.size(), 2); // the key, then the modifiers
        QVERIFY(label(tab, "1 active of 1"));
        AppSettings stored(*defaults);
        QCOMPARE(stored.bindings(), settings->bindings());

        click(check(row, "Enable hotkey 1"));
        QVERIFY(!settings->bindings()[0].enabled);
        QVERIFY(label(tab, "0 active of 1"));
        click(check(row, "Enable hotkey 1"));
        click(check(row, "Auto-paste for hotkey 1"));
        QVERIFY(settings->bindings()[0].autoPaste);

        // Three bindings: one disabled, one without an account, one complete.
        click(shown<QPushButton>(tab, "Add hotkey"));
        click(shown<QPushButton>(tab, "Add hotkey"));
        QCOMPARE(tab->rows().size(), 3);
        // A combination this program has taken already is refused with a
        // sentence, and the recorder listens on.
        HotKeyRecorder* other = tab->rows()[2]->recorder();
        click(other);
        QTest::keyClick(other, Qt::Key_P, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
        QVERIFY(other->isRecording());
        const QString keep = QStringLiteral(" Press other keys, or Esc to keep the hotkey as it is.");
        QVERIFY(label(tab, "Ctrl+Alt+Shift+P is already the hotkey of GitHub: me@example.com." + keep));
        QTest::keyClick(other, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(label(tab, "Ctrl+Alt+K opens the quick search panel." + keep));
        QTest::keyClick(other, Qt::Key_Escape);
        QVERIFY(!other->isRecording());
        QVERIFY(absent(tab, "Ctrl+Alt+K opens the quick search panel." + keep));
        QCOMPARE(settings->bindings()[2].keyCode, 0u);
        click(check(tab->rows()[1], "Enable hotkey 2"));
        QVERIFY(label(tab, "1 active of 3"));
        // Each row's controls are named by its place, so that a screen
        // reader tells them apart; on screen the boxes say what they switch.
        QVERIFY(check(tab->rows()[2], "Auto-paste for hotkey 3"));
        QCOMPARE(check(tab->rows()[2], "Auto-paste for hotkey 3")->text(), "Auto-paste");
        QCOMPARE(check(tab->rows()[2], "Enable hotkey 3")->text(), "Enabled");
        QVERIFY(picker(tab->rows()[2], "Account of hotkey 3"));
        // The complete binding's account goes to Recently Deleted: the row
        // stays, the count drops.
        store->deleteAccount(store->accounts()[0].id);
        QVERIFY(label(tab, "0 active of 3"));
        QCOMPARE(tab->rows().size(), 3);

        for (int left = 3; left > 0; --left) {
            click(shown<QToolButton>(tab->rows().first(), "Remove hotkey 1"));
            QTRY_COMPARE(tab->rows().size(), left - 1);
        }
        QVERIFY(settings->bindings().isEmpty());
        QVERIFY(label(tab, "No hotkeys yet"));
    }

    void theAutoPasteWarningFollowsThePoll() {
        showTab("Hotkeys");
        HotKeysTab* tab = window->hotKeys();
        bool granted = false;
        tab->setAccessibilityCheckForTesting([&] { return granted; });
        tab->refreshAccessibility();
        settings->addBinding();
        BindingRow* row = tab->rows().first();
        const QString title = "Auto-paste needs the XTEST extension";
        QVERIFY(absent(tab, title)); // nothing asks for auto-paste yet
        click(check(row, "Auto-paste for hotkey 1"));
        QVERIFY(label(tab, title));
        QCOMPARE(check(row, "Auto-paste for hotkey 1")->toolTip(),
                 "Auto-paste: insert the code at the cursor (needs the XTEST extension — not "
                 "available)");
        click(shown<QPushButton>(tab, "Open Settings"));
        QVERIFY(label(tab, SystemActions::accessibilitySettingsHelp()));
        click(check(row, "Enable hotkey 1"));
        QVERIFY(absent(tab, title)); // a disabled binding needs nothing
        click(check(row, "Enable hotkey 1"));
        QVERIFY(label(tab, title));

        granted = true;
        QVERIFY(tab->isPollingPermission());
        QTRY_VERIFY(absent(tab, title)); // at the next poll
        QCOMPARE(check(row, "Auto-paste for hotkey 1")->toolTip(),
                 "Auto-paste: insert the code at the cursor in the focused app");
        showTab("General");
        QVERIFY(!tab->isPollingPermission());
        showTab("Hotkeys");
        QVERIFY(tab->isPollingPermission());
    }

    void theQuickSearchSwitchWritesItsKey() {
        showTab("Hotkeys");
        QCheckBox* quick = check(window->hotKeys(), "Quick search panel (Ctrl+Alt+K)");
        QVERIFY(quick && quick->isChecked());
        QVERIFY(label(window->hotKeys(), "Press Ctrl+Alt+K anywhere to open a search box, type a "
                                         "few letters, and hit Enter to type that account's "
                                         "code (or copy it where it cannot be typed)."));
        click(quick);
        QCOMPARE(defaults->boolean(Settings::quickLauncherEnabled.key), std::optional(false));
    }

};

QUILLET_TEST_MAIN(SettingsWindowTests)
#include "SettingsWindowTests.moc"
