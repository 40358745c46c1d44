// The hotkey controller against a real X server (run through
// tests/with-xvfb.sh, inside tests/with-pam.sh for the app lock's password):
// presses come from xdotool, the clipboard is read back
// by xclip as another program would, a competing grab comes from
// HotKeyGrabber, and auto-paste types into a real terminal (xterm).
#include "core/AccountStore.h"
#include "core/CorrectedClock.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "menubar/HotKeysTab.h"
#include "platform/desktop/WindowFocus.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/CopyHUD.h"
#include "system/HotKeyController.h"
#include "tests/support/Desktop.h"
#include "tests/support/PasswordPrompt.h"
#include "tests/support/TestMain.h"
#include "tests/support/TextReceiver.h"
#include "tests/support/Vault.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <memory>

using TestSupport::clipboardText;
using TestSupport::HotKeyGrabber;
using TestSupport::xclip;
using TestSupport::xdotool;

namespace {

// macOS key codes; 0x900 is Option+Command, Control+Alt on this desktop.
constexpr quint32 keyJ = 38, keyK = 40, keyL = 37;
constexpr quint32 commandOption = 0x900;

HotKeyBinding bind(const Account& account, quint32 keyCode, bool autoPaste = false) {
    HotKeyBinding binding;
    binding.accountID = account.id;
    binding.keyCode = keyCode;
    binding.modifiers = commandOption;
    binding.autoPaste = autoPaste;
    return binding;
}

} // namespace

class HotKeyControllerTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<HotKeyController> controller;
    Account totp, hotp;

    // Assigns the list and waits for the registration pass it leads to.
    void setBindings(const QList<HotKeyBinding>& bindings) {
        QSignalSpy passes(controller.get(), &HotKeyController::bindingsRegistered);
        settings->setBindings(bindings);
        QVERIFY(passes.wait(QUILLET_TEST_WAIT_MS));
    }

    void waitForHUDToGo() { QTRY_VERIFY(!CopyHUD::shared().isShowing()); }

    const Account& current(const QUuid& id) { return TestSupport::accountWithID(*store, id); }

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (run through tests/with-xvfb.sh)");
    }

    void init() {
        openVault();
        openStore();
        // The RFC 6238 / RFC 4226 test key.
        totp = Account{};
        totp.issuer = "RFC";
        totp.name = "totp";
        totp.secret = "12345678901234567890";
        hotp = totp;
        hotp.id = QUuid::createUuid();
        hotp.name = "hotp";
        hotp.type = OTPType::hotp;
        QCOMPARE(store->importAccounts({totp, hotp}), 2);
        settings = std::make_unique<AppSettings>(*defaults);
        controller = std::make_unique<HotKeyController>(*store, *settings, *defaults);
        QSignalSpy first(controller.get(), &HotKeyController::bindingsRegistered);
        QVERIFY(first.wait(QUILLET_TEST_WAIT_MS));
    }

    void cleanup() {
        controller.reset();
        settings.reset();
        store.reset();
        log.reset();
    }

    void aPressPutsTheCurrentCodeOnTheClipboardAsConcealed() {
        waitForHUDToGo();
        setBindings({bind(totp, keyJ)});
        const QString before = totp.code(CorrectedClock::now());
        xdotool({"key", "ctrl+alt+j"});
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QVERIFY(CopyHUD::shared().isShowing());
        QCOMPARE(CopyHUD::shared().subtitle(), QStringLiteral("RFC: totp"));
        const QString after = totp.code(CorrectedClock::now());

        // A 30-second step may have ended in between.
        const QString copied = QString::fromUtf8(clipboardText());
        QVERIFY2(copied == before || copied == after, "the clipboard holds another code");
        QCOMPARE(copied.size(), 6);
        const QByteArray targets = xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"});
        QVERIFY2(targets.contains("org.nspasteboard.ConcealedType"), targets.constData());
        QVERIFY2(targets.contains("org.nspasteboard.TransientType"), targets.constData());
        QCOMPARE(store->usage().value(totp.id).count, 1);
    }

    void hotpAdvancesAndSavesOncePerPressAlsoWhenHeld() {
        setBindings({bind(hotp, keyL)});
        xdotool({"key", "ctrl+alt+l"});
        QTRY_COMPARE(current(hotp.id).counter, quint64(1));
        // The code of the counter before the advance (RFC 4226, count 0).
        QCOMPARE(clipboardText(), QByteArray("755224"));

        xdotool({"keydown", "ctrl+alt+l"});
        QTest::qWait(900); // well past the auto-repeat delay
        xdotool({"keyup", "ctrl+alt+l"});
        QTRY_COMPARE(current(hotp.id).counter, quint64(2));
        QTest::qWait(300);
        QCOMPARE(current(hotp.id).counter, quint64(2));
        QCOMPARE(clipboardText(), QByteArray("287082"));
        QCOMPARE(store->usage().value(hotp.id).count, 2);

        // Saved, not just changed in memory: a fresh store reads it back.
        AccountStore reread(*defaults, *log);
        bool found = false;
        for (const Account& a : reread.accounts()) {
            if (a.id != hotp.id) continue;
            found = true;
            QCOMPARE(a.counter, quint64(2));
        }
        QVERIFY(found);
    }

    void refusedAndReservedCombinationsAreReported() {
        HotKeyGrabber other("j");
        QCOMPARE(other.answer, QByteArray("ready"));

        HotKeyBinding gone = bind(totp, keyJ);
        gone.accountID = QUuid::createUuid(); // no such account
        HotKeyBinding reserved = bind(hotp, keyK);
        HotKeyBinding reservedAgain = bind(totp, keyK);
        HotKeyBinding usable = bind(hotp, keyL);
        HotKeyBinding sameAsUsable = bind(totp, keyL);
        HotKeyBinding disabled = bind(totp, keyJ, false);
        disabled.enabled = false;
        disabled.keyCode = 45;
        HotKeyBinding noKey = bind(totp, 0);
        HotKeyBinding noAccount = bind(totp, 46);
        noAccount.accountID.reset();

        const QString goneLabel = gone.id.toString(QUuid::WithoutBraces).toUpper();
        QTest::ignoreMessage(QtWarningMsg,
                             "HotKeyController: failed to register hotkey for 'RFC: totp' "
                             "(combo may be taken by another app)");
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(QStringLiteral("HotKeyController: failed to register "
                                                       "hotkey for '%1' (combo may be taken by "
                                                       "another app)")
                                            .arg(goneLabel)));
        QTest::ignoreMessage(QtWarningMsg, "HotKeyController: binding for 'RFC: hotp' uses the "
                                           "reserved quick-launcher combo, skipping");
        QTest::ignoreMessage(QtWarningMsg, "HotKeyController: binding for 'RFC: totp' uses the "
                                           "reserved quick-launcher combo, skipping");
        // A refused or reserved combination is tried, and reported, again
        // for the next binding with it.
        setBindings({bind(totp, keyJ), gone, reserved, reservedAgain, usable, sameAsUsable,
                     disabled, noKey, noAccount});
        QCOMPARE(controller->failedBindings(),
                 (QStringList{"RFC: totp", goneLabel, "RFC: hotp", "RFC: totp"}));
        QCOMPARE(controller->registeredBindings(), QList<QUuid>{usable.id});

        // The next pass starts over: nothing left from the refused ones.
        setBindings({usable});
        QVERIFY(controller->failedBindings().isEmpty());
    }

    // At start-up the hotkeys are grabbed while the keyring is still being
    // read: a refusal is reported with the account's label once it is known,
    // never with the binding's bare id.
    void aRefusalBeforeTheVaultIsReadNamesTheAccount() {
        HotKeyGrabber other("j");
        QCOMPARE(other.answer, QByteArray("ready"));
        const HotKeyBinding taken = bind(totp, keyJ);
        settings->setBindings({taken});
        controller.reset();
        store.reset();
        openStore({}, AccountStore::Opening::inBackground);
        QCOMPARE(store->vaultState(), AccountStore::VaultState::opening);
        static QStringList logged;
        logged.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { logged << text; });
        controller = std::make_unique<HotKeyController>(*store, *settings, *defaults);
        controller->registerAll({taken});
        QTRY_COMPARE(store->vaultState(), AccountStore::VaultState::open);
        QTRY_COMPARE(controller->failedBindings(), QStringList{QStringLiteral("RFC: totp")});
        QTRY_VERIFY(!logged.isEmpty());
        qInstallMessageHandler(previous);
        const QString expected = QStringLiteral("HotKeyController: failed to register hotkey for "
                                                "'RFC: totp' (combo may be taken by another app)");
        for (const QString& line : logged)
            QCOMPARE(line, expected);
    }

    // A damaged or hand-edited settings file: bindings on a bare key, on a
    // modifier no key sets (which the X edge would drop) and on a key code
    // with no key stay in the list, are never grabbed (another X client
    // takes the bare keys), and their rows in the Hotkeys tab say why.
    void bindingsFromTheSettingsFileFollowTheRecordersRules() {
        HotKeyBinding bareE = bind(totp, 14), bareReturn = bind(hotp, 36, true),
                      oddModifier = bind(totp, 2), unknownKey = bind(totp, 200),
                      usable = bind(hotp, keyJ);
        bareE.modifiers = 0;
        bareE.autoPaste = true;
        bareReturn.modifiers = 0;
        oddModifier.modifiers = commandOption | 0x1; // no modifier key carries 0x1
        const QList<HotKeyBinding> stored{bareE, bareReturn, oddModifier, unknownKey, usable};
        controller.reset();
        settings.reset();
        defaults->setValue(Settings::hotkeyBindings.key, HotKeyBinding::encodeList(stored));

        settings = std::make_unique<AppSettings>(*defaults);
        QCOMPARE(settings->bindings().size(), stored.size());
        controller = std::make_unique<HotKeyController>(*store, *settings, *defaults);
        QSignalSpy pass(controller.get(), &HotKeyController::bindingsRegistered);
        QVERIFY(pass.wait(QUILLET_TEST_WAIT_MS));
        QCOMPARE(controller->registeredBindings(), QList<QUuid>{usable.id});
        QVERIFY(controller->failedBindings().isEmpty());
        for (const char* key : {"e", "Return", "d"}) {
            HotKeyGrabber other(key, "bare");
            QCOMPARE(other.answer, QByteArray("ready"));
        }

        HotKeysTab tab(*store, *settings, true);
        QStringList reasons;
        for (const BindingRow* row : tab.rows())
            reasons << row->refusal();
        QCOMPARE(reasons.size(), stored.size());
        QVERIFY2(reasons[0].contains("needs Ctrl, Alt, Shift or Super"), qPrintable(reasons[0]));
        QCOMPARE(reasons[1], reasons[0]);
        QVERIFY2(reasons[2].contains("modifier"), qPrintable(reasons[2]));
        QVERIFY2(reasons[3].contains("key is unknown"), qPrintable(reasons[3]));
        QVERIFY(reasons[4].isEmpty());
        // Still in the list and in the file: the user can record a new key.
        QCOMPARE(settings->bindings(), stored);
    }

    void burstsOfEditsRegisterOnceAndEqualListsNotAtAll() {
        QSignalSpy passes(controller.get(), &HotKeyController::bindingsRegistered);
        const HotKeyBinding a = bind(totp, keyJ), b = bind(hotp, keyL);
        // 140 ms in all, but never 120 ms without an edit: one pass. The
        // gaps are measured; where a loaded machine let one reach the 120 ms
        // the burst proves nothing and is made again.
        for (int attempt = 1;; ++attempt) {
            QVERIFY2(attempt <= 20, "no burst kept its edits less than 120 ms apart");
            passes.clear();
            QElapsedTimer gap;
            settings->setBindings({a});
            gap.start();
            QTest::qWait(70);
            qint64 widest = gap.restart();
            settings->setBindings({a, b});
            QTest::qWait(70);
            widest = std::max(widest, gap.elapsed());
            settings->setBindings({b});
            QTRY_VERIFY(!passes.isEmpty());
            QTest::qWait(300);
            if (widest < HotKeyController::debounceMs - 10) break;
        }
        QCOMPARE(passes.size(), 1);
        QCOMPARE(controller->registeredBindings(), QList<QUuid>{b.id});

        settings->setBindings({b});
        QTest::qWait(300);
        QCOMPARE(passes.size(), 1);
    }

    void aPressForADeletedAccountDoesNothing() {
        setBindings({bind(totp, keyJ)});
        store->deleteAccount(totp.id);
        waitForHUDToGo();
        QGuiApplication::clipboard()->setText("untouched");
        xdotool({"key", "ctrl+alt+j"});
        QTest::qWait(400);
        QVERIFY(!CopyHUD::shared().isShowing());
        QCOMPARE(clipboardText(), QByteArray("untouched"));
        QCOMPARE(store->usage().value(totp.id).count, 0);
    }

    // A hotkey still held once the wait for its release ends keeps the
    // keyboard grabbed, so typed keys would not reach the window in front:
    // the code is only copied, and the confirmation says why.
    void autoPasteHeldTooLongOnlyCopies() {
        waitForHUDToGo();
        setBindings({bind(totp, keyJ, true)});
        xdotool({"keydown", "ctrl", "alt", "j"});
        QTRY_COMPARE(CopyHUD::shared().subtitle(), HotKeyController::keysHeldHint());
        QCOMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        xdotool({"keyup", "j", "alt", "ctrl"});
        QCOMPARE(QString::fromUtf8(clipboardText()).size(), 6);
    }

    // A terminal reads Control+V as a control character, not as a paste: the
    // code is typed into it, also while the binding's Control and Alt are
    // still held, and the confirmation says "pasted" once the keys went out.
    void autoPasteTypesTheCodeIntoATerminal() {
        TestSupport::WindowManager openbox;
        QVERIFY(openbox.running);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString line = folder.filePath(QStringLiteral("line"));
        QProcess terminal;
        terminal.start(QStringLiteral("xterm"),
                       {QStringLiteral("-title"), QStringLiteral("terminal"), QStringLiteral("-e"),
                        QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("IFS= read -r line; printf %s \"$line\" > \"$0\""), line});
        QVERIFY2(terminal.waitForStarted(), "xterm is not installed (scripts/deps.sh)");
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {QStringLiteral("search"), QStringLiteral("--sync"),
                      QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                      QStringLiteral("^terminal$")});
        QVERIFY(search.waitForFinished(QUILLET_TEST_WAIT_MS));
        const QString window =
            QString::fromLatin1(search.readAllStandardOutput()).split(u'\n').first().trimmed();
        QVERIFY(!window.isEmpty());
        xdotool({"windowactivate", "--sync", window});

        setBindings({bind(hotp, keyL, true)});
        waitForHUDToGo();
        xdotool({"keydown", "ctrl", "alt"});
        xdotool({"key", "l"});
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code pasted"));
        QCOMPARE(CopyHUD::shared().subtitle(), QStringLiteral("RFC: hotp"));
        xdotool({"keyup", "alt", "ctrl"});
        // The shell's line ends with the user's Return.
        xdotool({"key", "Return"});
        const auto written = [&] {
            QFile file(line);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QString expected =
            TestSupport::oathtool({"-c", "0", "3132333435363738393031323334353637383930"});
        QCOMPARE(expected, QStringLiteral("755224"));
        QTRY_COMPARE(written(), expected.toLatin1());
        QVERIFY(terminal.waitForFinished(QUILLET_TEST_WAIT_MS));
        // Still on the clipboard, as without auto-paste.
        QCOMPARE(clipboardText(), expected.toLatin1());
        QCOMPARE(current(hotp.id).counter, quint64(1));
    }

    // Pressed while the app is locked, an auto-paste waits for the password,
    // then for the keyboard to be back in the window of the press: when it
    // never comes back (here the window manager, asked to hand it back, does
    // not answer), no key goes elsewhere and the code is only copied.
    void anAutoPasteAfterThePasswordIsCopiedWhenTheKeyboardNeverComesBack() {
        TestSupport::WindowManager openbox;
        QVERIFY(openbox.running);
        QTRY_VERIFY(WindowFocus::hasWindowManager());
        TestSupport::TextReceiverProcess receiver;
        QVERIFY(receiver.waitForStarted());
        QTRY_COMPARE(receiver.lastLine(), QStringLiteral("ready"));
        const std::optional<quint32> front = WindowFocus::activeWindow();
        QVERIFY(front);

        defaults->setValue(Settings::appLockEnabled.key, true);
        AppLockMac lock(*defaults);
        QVERIFY(lock.isLocked());
        controller->setAppLock(&lock);
        setBindings({bind(totp, keyL, true)});
        waitForHUDToGo();
        xdotool({"key", "ctrl+alt+l"});
        QTRY_VERIFY(PasswordPrompt::asking() != nullptr);
        const qint64 manager = openbox.process.processId();
        QVERIFY(::kill(pid_t(manager), SIGSTOP) == 0);
        const auto resume = qScopeGuard([manager] { ::kill(pid_t(manager), SIGCONT); });
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QCOMPARE(CopyHUD::shared().subtitle(), QStringLiteral("RFC: totp"));
        QVERIFY(!WindowFocus::hasInputFocus(*front));
        QCOMPARE(receiver.lastLine(), QStringLiteral("ready"));
        // The code stays copied, as without auto-paste.
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9]{6}$"))
                    .match(QString::fromLatin1(clipboardText()))
                    .hasMatch());
    }
};

QUILLET_TEST_MAIN_WITH_RECEIVER(HotKeyControllerTests)
#include "HotKeyControllerTests.moc"
