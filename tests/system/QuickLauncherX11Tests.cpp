// The quick-search panel on a real X server (tests/with-xvfb.sh), as a user
// meets it: a text field in another program has the focus, Ctrl+Alt+K (real
// key presses from xdotool) opens the panel, a few letters and Return type
// the account's code into that field, compared with oathtool's. With the
// window manager openbox, and without any.
#include "core/AccountStore.h"
#include "core/Base32.h"
#include "core/CorrectedClock.h"
#include "platform/desktop/WindowFocus.h"
#include "system/AppSettings.h"
#include "system/CopyHUD.h"
#include "system/HotKeyController.h"
#include "system/QuickLauncher.h"
#include "system/QuickLauncherView.h"
#include "tests/support/Desktop.h"
#include "tests/support/TextReceiver.h"
#include "tests/support/Vault.h"

#include <QApplication>
#include <QClipboard>
#include <QListView>
#include <QScreen>
#include <QScopeGuard>
#include <QtTest>
#include <csignal>
#include <memory>

using TestSupport::clipboardText;
using TestSupport::oathtool;
using TestSupport::HotKeyGrabber;
using TestSupport::TextReceiverProcess;
using TestSupport::WindowManager;
using TestSupport::xdotool;

namespace {

QuickLauncher& launcher() { return QuickLauncher::shared(); }

QuickLauncherView* view() {
    return launcher().panel() ? launcher().panel()->findChild<QuickLauncherView*>() : nullptr;
}

} // namespace

class QuickLauncherX11Tests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<WindowManager> windowManager;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<HotKeyController> controller;
    std::unique_ptr<TextReceiverProcess> receiver;
    Account totp, hotp, github;

    // Once started, openbox stays for the tests that follow.
    void startWindowManager() {
        if (windowManager) return;
        windowManager = std::make_unique<WindowManager>();
        QVERIFY(windowManager->running);
        QTRY_VERIFY(WindowFocus::hasWindowManager());
    }

    // The text field in the other program has the focus.
    void startReceiver() {
        receiver = std::make_unique<TextReceiverProcess>();
        QVERIFY(receiver->waitForStarted());
        QTRY_COMPARE(receiver->lastLine(), QStringLiteral("ready"));
    }

    // Ctrl+Alt+K, and the panel has the keyboard.
    void openPanel() {
        xdotool({"key", "ctrl+alt+k"});
        QTRY_VERIFY(launcher().isShown());
        QTRY_VERIFY(launcher().panel()->isActiveWindow());
        QTRY_VERIFY(view()->searchField()->hasFocus());
    }

    const Account& current(const QUuid& id) { return TestSupport::accountWithID(*store, id); }

    QString totpCode() { return oathtool({"--totp", "-b", Base32::encode(totp.secret)}); }

    // What a pick that never arrived leaves to look at.
    static QString panelState() {
        QWidget* panel = launcher().panel();
        if (!panel) return QStringLiteral("the panel was closed");
        return QStringLiteral("the panel is %1, %2, %3 the X server's input focus")
            .arg(panel->isVisible() ? QStringLiteral("shown") : QStringLiteral("hidden"),
                 panel->isActiveWindow() ? QStringLiteral("active") : QStringLiteral("not active"),
                 WindowFocus::hasInputFocus(quint32(panel->winId())) ? QStringLiteral("has")
                                                                     : QStringLiteral("lacks"));
    }

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (run through tests/with-xvfb.sh)");
    }

    void init() {
        openVault();
        openStore();
        // The RFC 6238 / RFC 4226 test key.
        totp = TestSupport::makeAccount("RFC", "totp", "12345678901234567890");
        hotp = TestSupport::makeAccount("RFC", "hotp", "12345678901234567890");
        hotp.type = OTPType::hotp;
        github = TestSupport::makeAccount("GitHub", "alice", "abcdefghijabcdefghij");
        QCOMPARE(store->importAccounts({totp, hotp, github}), 3);
        settings = std::make_unique<AppSettings>(*defaults);
        controller = std::make_unique<HotKeyController>(*store, *settings, *defaults);
        QVERIFY(controller->launcherRegistered());
        launcher().setAccessibilityCheck({});
        QTRY_VERIFY(!CopyHUD::shared().isShowing());
    }

    void cleanup() {
        launcher().close();
        receiver.reset();
        controller.reset();
        settings.reset();
        store.reset();
        log.reset();
    }

    void cleanupTestCase() { windowManager.reset(); }

    void typesTheCodeIntoTheWindowInFront_data() {
        QTest::addColumn<bool>("withWindowManager");
        // The window manager starts with the second row and stays.
        QTest::newRow("no window manager") << false;
        QTest::newRow("openbox") << true;
    }

    void typesTheCodeIntoTheWindowInFront() {
        QFETCH(bool, withWindowManager);
        if (withWindowManager) startWindowManager();
        QCOMPARE(WindowFocus::hasWindowManager(), withWindowManager);
        startReceiver();
        const std::optional<quint32> field = WindowFocus::activeWindow();
        QVERIFY(field);

        openPanel();
        QCOMPARE(launcher().rememberedWindow(), field);
        // On the primary screen, raised above the centre, over everything.
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(launcher().panel()->frameGeometry(), QuickLauncher::frame(area));
        QVERIFY(launcher().panel()->windowFlags() & Qt::WindowStaysOnTopHint);

        xdotool({"type", "--delay", "30", "tot"});
        QTRY_COMPARE(view()->query(), QStringLiteral("tot"));
        QCOMPARE(TestSupport::labels(view()->results()), QStringList{"RFC: totp"});
        const QString before = totpCode();
        xdotool({"key", "Return"});
        QTRY_VERIFY2(receiver->lastLine().size() == 6,
                     qPrintable(CopyHUD::shared().title() + " / " + CopyHUD::shared().subtitle() +
                                " / " + receiver->lastLine()));
        const QString typed = receiver->lastLine();
        QVERIFY2(typed == before || typed == totpCode(), qPrintable(typed + " vs " + before));
        QVERIFY(!launcher().isShown());
        QCOMPARE(CopyHUD::shared().title(), QStringLiteral("Code typed"));
        QCOMPARE(CopyHUD::shared().subtitle(), QStringLiteral("RFC: totp"));
        QCOMPARE(store->usage().value(totp.id).count, 1);

        // The keyboard is back in the field: the next key lands there.
        QVERIFY(WindowFocus::hasInputFocus(*field));
        xdotool({"type", "x"});
        QTRY_COMPARE(receiver->lastLine(), typed + "x");
    }

    void escapeAndASecondPressCloseAndGiveTheFocusBack() {
        startReceiver();
        const std::optional<quint32> field = WindowFocus::activeWindow();
        openPanel();
        xdotool({"key", "Escape"});
        QTRY_VERIFY(!launcher().isShown());
        QTRY_VERIFY(WindowFocus::hasInputFocus(*field));
        xdotool({"type", "e"});
        QTRY_COMPARE(receiver->lastLine(), QStringLiteral("e"));

        openPanel();
        xdotool({"type", "git"});
        QTRY_COMPARE(view()->query(), QStringLiteral("git"));
        xdotool({"key", "ctrl+alt+k"});
        QTRY_VERIFY(!launcher().isShown());
        QTRY_VERIFY(WindowFocus::hasInputFocus(*field));
        // Nothing was typed or picked, and the next panel starts empty.
        QCOMPARE(receiver->lastLine(), QStringLiteral("e"));
        openPanel();
        QCOMPARE(view()->query(), QString());
        QCOMPARE(view()->selection(), 0);
    }

    void arrowsMoveTheHighlightAndReturnPicksIt() {
        startReceiver();
        openPanel();
        QCOMPARE(view()->results().size(), 3);
        xdotool({"key", "Up"}); // at the top: stays
        QCOMPARE(view()->selection(), 0);
        xdotool({"key", "Down", "Down", "Down", "Down"}); // stops at the last row
        QTRY_COMPARE(view()->selection(), 2);
        xdotool({"key", "Up"});
        QTRY_COMPARE(view()->selection(), 1);
        QCOMPARE(view()->list()->currentIndex().row(), 1);

        // Return picks the highlighted row: the HOTP account, at counter 0.
        xdotool({"key", "Return"});
        QTRY_COMPARE(receiver->lastLine(),
                     oathtool({"--hotp", "-c", "0", "-b", Base32::encode(hotp.secret)}));
        QCOMPARE(current(hotp.id).counter, quint64(1));
    }

    void withoutKeystrokesTheCodeIsCopied() {
        launcher().setAccessibilityCheck([] { return false; });
        startReceiver();
        openPanel();
        QCOMPARE(view()->actionHint(), QStringLiteral("Copy — typing needs XTEST"));
        xdotool({"type", "--delay", "30", "alice"});
        QTRY_COMPARE(view()->query(), QStringLiteral("alice"));
        QSignalSpy delivered(&launcher(), &QuickLauncher::delivered);
        xdotool({"key", "Return"});
        QTRY_COMPARE(delivered.size(), 1);
        QCOMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QCOMPARE(CopyHUD::shared().subtitle(), QuickLauncher::needsTypingHint());
        QVERIFY(!launcher().isShown());
        const QByteArray copied = clipboardText();
        const QString secret = Base32::encode(github.secret);
        QVERIFY2(copied == oathtool({"--totp", "-b", secret}).toUtf8() ||
                     copied == github.code(CorrectedClock::now()).toUtf8(),
                 copied.constData());
        QTest::qWait(300);
        QCOMPARE(receiver->lastLine(), QStringLiteral("ready"));
    }

    void aWindowThatWentAwayGetsNoKeystrokes() {
        startReceiver();
        openPanel();
        xdotool({"type", "--delay", "30", "tot"});
        QTRY_COMPARE(view()->query(), QStringLiteral("tot"));
        receiver.reset(); // the program in front quits while the panel is open
        QTRY_VERIFY(!WindowFocus::exists(*launcher().rememberedWindow()));
        const QString before = totpCode();
        view()->submit();
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QCOMPARE(CopyHUD::shared().subtitle(), QuickLauncher::windowGoneHint());
        const QByteArray copied = clipboardText();
        QVERIFY(copied == before.toUtf8() || copied == totpCode().toUtf8());
    }

    // The window searched from is still there but never takes the keyboard
    // back (here: the window manager, asked to hand it back, does not
    // answer): no key goes elsewhere, the code is copied, and the
    // confirmation says why.
    void aWindowThatNeverTakesTheKeyboardBackGetsNoKeystrokes() {
        startWindowManager();
        startReceiver();
        const std::optional<quint32> field = WindowFocus::activeWindow();
        QVERIFY(field);
        openPanel();
        xdotool({"type", "--delay", "30", "tot"});
        QTRY_COMPARE(view()->query(), QStringLiteral("tot"));
        const qint64 openbox = windowManager->process.processId();
        QVERIFY(::kill(pid_t(openbox), SIGSTOP) == 0);
        const auto resume = qScopeGuard([openbox] { ::kill(pid_t(openbox), SIGCONT); });
        const QString before = totpCode();
        QSignalSpy delivered(&launcher(), &QuickLauncher::delivered);
        view()->submit();
        QTRY_VERIFY2(delivered.size() == 1, qPrintable(panelState()));
        QCOMPARE(delivered.first().first().toBool(), false);
        QCOMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QCOMPARE(CopyHUD::shared().subtitle(), QuickLauncher::notFocusedHint());
        const QByteArray copied = clipboardText();
        QVERIFY(copied == before.toUtf8() || copied == totpCode().toUtf8());
        QVERIFY(!WindowFocus::hasInputFocus(*field));
        QCOMPARE(receiver->lastLine(), QStringLiteral("ready"));
    }

    void goingToAnotherWindowHidesThePanel() {
        startWindowManager();
        startReceiver();
        const std::optional<quint32> field = WindowFocus::activeWindow();
        QVERIFY(field);
        // Below the panel's place, where a click reaches it.
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        xdotool({"windowmove", "--sync", QString::number(*field), "10",
                 QString::number(area.bottom() - 80)});
        openPanel();
        xdotool({"type", "--delay", "30", "git"});
        QTRY_COMPARE(view()->query(), QStringLiteral("git"));
        xdotool({"mousemove", "--window", QString::number(*field), "20", "20", "click", "1"});
        QTRY_VERIFY(!launcher().isShown());
        QTRY_VERIFY(WindowFocus::hasInputFocus(*field));
        // The focus stays where the user put it, and the next press starts afresh.
        xdotool({"type", "z"});
        QTRY_COMPARE(receiver->lastLine(), QStringLiteral("z"));
        openPanel();
        QCOMPARE(view()->query(), QString());
        QCOMPARE(view()->selection(), 0);
    }

    void withNoWindowInFrontTheCodeIsCopied() {
        startWindowManager();
        // Nothing is active: openbox parks the focus on a window of its own.
        QTRY_VERIFY(!WindowFocus::activeWindow());
        openPanel();
        QVERIFY(!launcher().rememberedWindow());
        xdotool({"type", "--delay", "30", "tot"});
        QTRY_COMPARE(view()->query(), QStringLiteral("tot"));
        const QString before = totpCode();
        QSignalSpy delivered(&launcher(), &QuickLauncher::delivered);
        xdotool({"key", "Return"});
        QTRY_VERIFY2(delivered.size() == 1, qPrintable(panelState()));
        QCOMPARE(delivered.first().first().toBool(), false);
        QCOMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QCOMPARE(CopyHUD::shared().subtitle(), QuickLauncher::noWindowHint());
        const QByteArray copied = clipboardText();
        QVERIFY(copied == before.toUtf8() || copied == totpCode().toUtf8());
    }

    void theSwitchRegistersAndReleasesTheCombination() {
        settings->setQuickLauncherEnabled(false);
        QVERIFY(!controller->launcherRegistered());
        {
            // Free for another program now.
            HotKeyGrabber other("k");
            QCOMPARE(other.answer, QByteArray("ready"));
        }
        xdotool({"key", "ctrl+alt+k"});
        QTest::qWait(300);
        QVERIFY(!launcher().isShown());

        settings->setQuickLauncherEnabled(true);
        QVERIFY(controller->launcherRegistered());
        startReceiver();
        openPanel();
    }
};

QUILLET_TEST_MAIN_WITH_RECEIVER(QuickLauncherX11Tests)
#include "QuickLauncherX11Tests.moc"
