// The quick-search panel on a real KDE Plasma Wayland desktop (headless KWin,
// tests/with-kwin.sh), the test itself a client on Qt's Wayland platform.
#include "platform/desktop/DesktopBackends.h"
#include "system/QuickLauncher.h"
#include "system/QuickLauncherView.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QApplication>
#include <QWidget>
#include <QtTest>

class QuickLauncherWaylandTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    static QuickLauncher& launcher() { return QuickLauncher::shared(); }

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("wayland"))
            QSKIP("needs a Wayland desktop (run through tests/with-kwin.sh)");
        DesktopBackends::install(DesktopBackends::Road::portals);
    }

    void init() {
        openVault();
        openStore();
        QCOMPARE(store->importAccounts({TestSupport::makeAccount("GitHub", "alice", "abcdefghij")}), 1);
        launcher().setStore(store.get(), defaults.get());
    }

    void cleanup() {
        launcher().close();
        launcher().setStore(nullptr, nullptr);
        store.reset();
        log.reset();
    }

    // A window of ours that has the keyboard goes just as the panel is asked
    // for: KWin gives the keyboard to the window before it, and the program is
    // inactive for a moment, before the panel is on screen and gets it.
    void aWindowOfOursGoingAsThePanelOpensLeavesItOpen() {
        QWidget ours;
        ours.resize(200, 100);
        ours.show();
        // The program is told (its window may have the keyboard a moment before).
        QTRY_COMPARE(QGuiApplication::focusWindow(), ours.windowHandle());
        launcher().toggle();
        ours.hide();
        QTRY_VERIFY(launcher().panel() && launcher().panel()->isActiveWindow());
        QVERIFY(launcher().isShown());
        auto* view = launcher().panel()->findChild<QuickLauncherView*>();
        QVERIFY(view);
        QTRY_VERIFY(view->searchField()->hasFocus());
    }
};

QUILLET_TEST_MAIN(QuickLauncherWaylandTests)
#include "QuickLauncherWaylandTests.moc"
