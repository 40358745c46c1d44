#include "app/MainWindow.h"
#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"
#include "system/AppDelegate.h"
#include "system/AppLockMac.h"
#include "system/Clipboard.h"
#include "system/UpdaterManager.h"
#include "tests/support/TestMain.h"

#include <QClipboard>
#include <QMenuBar>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class SystemTests : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    void trayOnlyClosesTheMainWindowButNotSettings() {
        UserDefaults defaults(folder.filePath("policy.conf"));
        AppDelegate delegate(defaults);
        QSignalSpy openRequests(&delegate, &AppDelegate::openMainWindowRequested);
        QWidget main;
        main.setObjectName("main");
        main.setWindowTitle("Quillet");
        QWidget settings;
        settings.setObjectName("Settings");
        QWidget popup(nullptr, Qt::Popup);
        main.show();
        settings.show();
        delegate.applicationDidFinishLaunching();
        QCOMPARE(delegate.lastApplied(), std::optional<bool>(false));

        defaults.setValue("hotkeyBindings.v1", QByteArray("[]")); // not the policy: nothing
        QCOMPARE(delegate.lastApplied(), std::optional<bool>(false));
        defaults.setValue(Settings::menuBarOnly.key, true);
        QCOMPARE(delegate.lastApplied(), std::optional<bool>(true));
        QTRY_VERIFY(!main.isVisible());
        QVERIFY(settings.isVisible());

        // Back to the taskbar: the existing (hidden) main window comes back.
        defaults.setValue(Settings::menuBarOnly.key, false);
        QVERIFY(main.isVisible());
        QVERIFY(openRequests.isEmpty());
        // With no main window at all, whoever hosts it is asked to open one.
        main.setObjectName("other");
        delegate.showMainWindow();
        QCOMPARE(openRequests.size(), 1);
        QVERIFY(!AppDelegate::isTitledWindow(&popup));
    }

    void withoutATrayTheMainWindowStays() {
        UserDefaults defaults(folder.filePath("notray.conf"));
        // Written by hand: the delegate reads it as the settings model does.
        defaults.setValue(Settings::menuBarOnly.key, QStringLiteral("YES"));
        AppDelegate delegate(defaults);
        bool tray = false;
        delegate.setTrayAvailable([&tray] { return tray; });
        QWidget main;
        main.setObjectName("main");
        main.show();
        delegate.applicationDidFinishLaunching();
        QCOMPARE(delegate.lastApplied(), std::optional<bool>(true));
        QTest::qWait(AppDelegate::launchCloseDelayMs + 100);
        QVERIFY(main.isVisible());
        // Turned off and on again while there is still no tray: it stays.
        defaults.setValue(Settings::menuBarOnly.key, false);
        defaults.setValue(Settings::menuBarOnly.key, 1);
        QTest::qWait(50);
        QVERIFY(main.isVisible());
        // Once a tray shows the icon, tray-only closes it again.
        tray = true;
        defaults.setValue(Settings::menuBarOnly.key, false);
        defaults.setValue(Settings::menuBarOnly.key, true);
        QTRY_VERIFY(!main.isVisible());
    }

    void clipboardMarkersAndTimedClear() {
        UserDefaults defaults(folder.filePath("clipboard.conf"));
        Clipboard::copyCodeToClipboard("123456", defaults);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(data->text(), QStringLiteral("123456"));
        QCOMPARE(data->data("org.nspasteboard.TransientType"), QByteArray("1"));
        QCOMPARE(data->data("org.nspasteboard.ConcealedType"), QByteArray("1"));
        QCOMPARE(data->data("x-kde-passwordManagerHint"), QByteArray("secret"));
        QCOMPARE(Clipboard::pendingClearMs(), -1); // never, by default

        defaults.setValue(Settings::clipboardClearSeconds.key, 15);
        Clipboard::copyCodeToClipboard("111111", defaults);
        QVERIFY(Clipboard::pendingClearMs() > 14000);
        // The same code copied again restarts the one pending clear: more
        // time is left after it than before.
        QTest::qWait(2000);
        const int left = Clipboard::pendingClearMs();
        Clipboard::copyCodeToClipboard("111111", defaults);
        QVERIFY2(Clipboard::pendingClearMs() > left,
                 qPrintable(QStringLiteral("%1 ms left, %2 before")
                                .arg(Clipboard::pendingClearMs())
                                .arg(left)));
        // Something else copied meanwhile is left alone when it fires.
        QGuiApplication::clipboard()->setText("not a code");
        defaults.setValue(Settings::clipboardClearSeconds.key, 1);
        Clipboard::copyCodeToClipboard("222222", defaults);
        QGuiApplication::clipboard()->setText("mine");
        QTest::qWait(1200);
        QCOMPARE(Pasteboard::text(), std::optional<QString>("mine"));
        Clipboard::copyCodeToClipboard("333333", defaults);
        QTRY_VERIFY(!Pasteboard::text() || Pasteboard::text()->isEmpty());
    }

    void checkForUpdatesIsPresentAndDisabled() {
        UserDefaults defaults(folder.filePath("window.conf"));
        SecurityLog log(folder.filePath("timeline.jsonl"));
        Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
        AccountStore store(defaults, log);
        TickingClock clock;
        UpdaterManager updater;
        AppLockMac lock(defaults);
        MainWindow window(store, clock, defaults, updater, lock);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(window.objectName(), QStringLiteral("main"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Quillet"));
        // At its smallest the window still gives its content 520 × 420,
        // the menu bar not counted.
        window.show();
        window.resize(1, 1);
        QTRY_COMPARE(window.centralWidget()->size(), QSize(520, 420));
        QCOMPARE(window.height(), 420 + window.menuBar()->height());
        QMenu* app = window.menuBar()->actions().first()->menu();
        QStringList entries;
        for (QAction* action : app->actions())
            entries << action->text();
        QCOMPARE(entries.mid(0, 2), QStringList({"About Quillet", "Check for Updates…"}));
        QTest::qWait(10);
        QVERIFY(!app->actions().at(1)->isEnabled());
        QVERIFY(!entries.contains("New"));
    }
};

QUILLET_TEST_MAIN(SystemTests)
#include "SystemTests.moc"
