// The tray-only setting on a real X server with a window manager (openbox):
// what the taskbar would list is what each window's EWMH state says, read
// with xprop.
#include "core/Settings.h"
#include "platform/files/UserDefaults.h"
#include "system/AppDelegate.h"
#include "tests/support/Desktop.h"
#include "tests/support/TestMain.h"

#include <QDialog>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString skipTaskbar = QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR");

bool listed(QWidget& window) {
    return !TestSupport::windowStates(window.winId()).contains(skipTaskbar);
}

} // namespace

class TaskbarX11Tests : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    void trayOnlyTakesEveryWindowButSettingsOffTheTaskbar() {
        TestSupport::WindowManager manager;
        QVERIFY(manager.running);
        UserDefaults defaults(folder.filePath("taskbar.conf"));
        AppDelegate delegate(defaults);
        delegate.setTrayAvailable([] { return false; }); // so the main window stays
        QWidget main;
        main.setObjectName("main");
        main.setWindowTitle("Quillet");
        QWidget settings;
        settings.setObjectName("Settings");
        settings.setWindowTitle("Settings");
        for (QWidget* window : {&main, &settings}) {
            window->resize(200, 100);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
        }
        delegate.applicationDidFinishLaunching();
        QVERIFY(listed(main) && listed(settings));

        // Windows already on screen leave the taskbar through the window
        // manager; Settings keeps its entry.
        defaults.setValue(Settings::menuBarOnly.key, true);
        QTRY_VERIFY(!listed(main));
        QVERIFY(main.isVisible());
        QVERIFY(listed(settings));

        // A window shown later, or shown again (the window manager drops the
        // state of a hidden window), comes without an entry.
        QDialog sheet(&main);
        sheet.setWindowTitle("Edit account");
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QVERIFY(!listed(sheet));
        main.hide();
        QTRY_VERIFY(listed(main));
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QVERIFY(!listed(main));

        // Back to the taskbar.
        defaults.setValue(Settings::menuBarOnly.key, false);
        QTRY_VERIFY(listed(main));
        QTRY_VERIFY(listed(sheet));
        QVERIFY(listed(settings));
    }
};

QUILLET_TEST_MAIN(TaskbarX11Tests)
#include "TaskbarX11Tests.moc"
