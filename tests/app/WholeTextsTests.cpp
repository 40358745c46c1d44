// Every screen of the program shows its whole text, at each window's default
// and its minimum size: nothing it paints of a text is cut by its widget, a
// parent or the window, runs under a scroll bar or is painted over; a name
// that cannot fit is cut with "…" and keeps its whole text for the tooltip
// and screen readers; and each window lies on the screen's available area.
// The program runs as the desktop starts it for a user who enlarged the text
// or scaled the display (CTest runs it once per setting, under a window
// manager: tests/app/CMakeLists.txt).
#include "app/ContentView.h"
#include "app/MainWindow.h"
#include "app/QuilletApp.h"
#include "core/AccountStore.h"
#include "core/Settings.h"
#include "intake/AddAccountSheet.h"
#include "intake/BackupSectionMac.h"
#include "menubar/GeneralTab.h"
#include "menubar/HotKeysTab.h"
#include "menubar/MenuBarContent.h"
#include "menubar/SettingsWindow.h"
#include "menubar/TrayHost.h"
#include "platform/desktop/DesktopBackends.h"
#include "platform/desktop/WindowFocus.h"
#include "platform/files/UserDefaults.h"
#include "platform/look/AppGuards.h"
#include "system/AppLockMac.h"
#include "system/QuickLauncher.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"
#include "tests/support/WholeTexts.h"

#include <QAbstractButton>
#include <QDialog>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QScopeGuard>
#include <QtTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A name much longer than a row has room for, so that it must be cut.
const QString longIssuer = QStringLiteral("Example Corporation International Holdings");
const QString longName = QStringLiteral("someone.with.a.rather.long.name@example.com");

template <class T = QAbstractButton>
T* withText(QWidget* in, const QString& text) {
    for (T* widget : in->findChildren<T*>())
        if (widget->text() == text && widget->isVisibleTo(widget->window())) return widget;
    return nullptr;
}

// The program's windows and sheets, each opened as a user opens it.
struct Screens {
    QuilletApp& app;
    UserDefaults& defaults;
    std::vector<std::unique_ptr<QWidget>> own;

    ContentView* content() {
        app.openMainWindow();
        return app.mainWindow()->content();
    }
    template <class T>
    T* sheet(QWidget* over) {
        T* found = nullptr;
        (void)QTest::qWaitFor([&] { return (found = over->window()->findChild<T*>()) && found->isVisible(); },
                        QUILLET_TEST_WAIT_MS);
        return found;
    }
    QDialog* titled(QWidget* over, const QString& title) {
        QDialog* found = nullptr;
        const auto find = [&] {
            for (QDialog* dialog : over->window()->findChildren<QDialog*>())
                if (dialog->windowTitle() == title && dialog->isVisible()) return dialog;
            return static_cast<QDialog*>(nullptr);
        };
        (void)QTest::qWaitFor([&] { return (found = find()) != nullptr; }, QUILLET_TEST_WAIT_MS);
        return found;
    }
    AddAccountSheet* addSheet(int mode) {
        content()->showAddSheet();
        auto* sheet = this->sheet<AddAccountSheet>(app.mainWindow());
        if (sheet) sheet->findChild<QTabBar*>()->setCurrentIndex(mode);
        return sheet;
    }
    SettingsWindow* settings(int tab) {
        app.openSettings();
        SettingsWindow* window = app.settingsWindow();
        window->tabs()->setCurrentIndex(tab);
        return window;
    }
    QWidget* settingsSheet(GeneralTab::Sheet which) {
        GeneralTab* general = settings(0)->general();
        general->showSheet(which);
        (void)QTest::qWaitFor([&] { return general->sheet() && general->sheet()->isVisible(); },
                        QUILLET_TEST_WAIT_MS);
        return general->sheet();
    }
    template <class T>
    T* alone(T* widget) {
        own.emplace_back(widget);
        widget->show();
        return widget;
    }

    QWidget* open(const QString& screen) {
        if (screen == u"main window" || screen == u"lock overlay") {
            content();
            return app.mainWindow();
        }
        if (screen == u"add: scan screen") return addSheet(0);
        if (screen == u"add: image file") return addSheet(1);
        if (screen == u"add: paste link") return addSheet(2);
        if (screen == u"add: by hand") return addSheet(3);
        if (screen == u"add: by hand, counter, Steam") {
            AddAccountSheet* sheet = addSheet(3);
            withText(sheet, QStringLiteral("Counter (HOTP)"))->click();
            withText(sheet, QStringLiteral("This is a Steam Guard account (5-character code)"))
                ->click();
            return sheet;
        }
        if (screen == u"edit sheet") {
            content()->edit(app.store().accounts().first());
            return titled(app.mainWindow(), QStringLiteral("Edit account"));
        }
        if (screen == u"QR code") {
            content()->showQR(app.store().accounts().first());
            return app.mainWindow()->findChild<QDialog*>();
        }
        if (screen == u"settings: General") return settings(0);
        if (screen == u"settings: Hotkeys, none") return settings(1);
        if (screen == u"settings: Hotkeys") {
            SettingsWindow* window = settings(1);
            withText(window->hotKeys(), QStringLiteral("Add hotkey"))->click();
            return window;
        }
        if (screen == u"settings: folders") return settingsSheet(GeneralTab::Sheet::folders);
        if (screen == u"settings: Recently Deleted")
            return settingsSheet(GeneralTab::Sheet::recentlyDeleted);
        if (screen == u"settings: Security Checkup")
            return settingsSheet(GeneralTab::Sheet::checkup);
        if (screen == u"settings: Security Timeline")
            return settingsSheet(GeneralTab::Sheet::timeline);
        if (screen == u"settings: backup password") {
            GeneralTab* general = settings(0)->general();
            withText(general->backup(), QStringLiteral("Export encrypted backup…"))->click();
            return titled(general, QStringLiteral("Choose a backup password"));
        }
        if (screen == u"tray panel") {
            // As the tray shows it: a frameless panel at an icon in the
            // screen's top right corner.
            auto* panel = new MenuBarContent(app.store(), app.clock(), app.settings(),
                                             app.appLock(), app.updater(), defaults);
            own.emplace_back(panel);
            panel->setWindowFlags(WindowFocus::panelKind() | Qt::FramelessWindowHint |
                                  Qt::WindowStaysOnTopHint);
            panel->prepareToShow(true);
            const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
            const QRect icon(area.right() - 40, area.top(), 24, 24);
            panel->move(TrayHost::placement(icon, panel->size(), area).topLeft());
            panel->show();
            return panel;
        }
        if (screen == u"quick search") {
            QuickLauncher& launcher = QuickLauncher::shared();
            launcher.setStore(&app.store(), &defaults);
            launcher.setAppLock(&app.appLock());
            launcher.setAccessibilityCheck([] { return true; });
            // The panel steps aside when the program loses the keyboard
            // meanwhile (the window of the case before going away).
            (void)QTest::qWaitFor([&] {
                if (!launcher.isShown()) launcher.show();
                return launcher.panel()->isActiveWindow();
            }, QUILLET_TEST_WAIT_MS);
            return launcher.panel();
        }
        return nullptr;
    }
};

const QStringList screens = {
    u"main window"_s,          u"lock overlay"_s,
    u"add: scan screen"_s,     u"add: image file"_s,
    u"add: paste link"_s,      u"add: by hand"_s,
    u"add: by hand, counter, Steam"_s,
    u"edit sheet"_s,           u"QR code"_s,
    u"settings: General"_s,    u"settings: Hotkeys"_s,
    u"settings: Hotkeys, none"_s,
    u"settings: folders"_s,    u"settings: Recently Deleted"_s,
    u"settings: Security Checkup"_s, u"settings: Security Timeline"_s,
    u"settings: backup password"_s,
    u"tray panel"_s,           u"quick search"_s,
};

} // namespace

class WholeTextsTests : public QObject, TestSupport::VaultFixture {
    Q_OBJECT

private slots:
    // As the program starts: every window it shows is fitted to the screen.
    void initTestCase() {
        DesktopBackends::install(DesktopBackends::forSession());
        AppGuards::install();
    }
    void init() { openVault(); }

    void everyScreenShowsItsWholeText_data() {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<bool>("smallest");
        for (const QString& screen : screens)
            for (const bool smallest : {false, true})
                QTest::addRow("%s, %s size", qPrintable(screen), smallest ? "minimum" : "default")
                    << screen << smallest;
    }

    void everyScreenShowsItsWholeText() {
        QFETCH(QString, screen);
        QFETCH(bool, smallest);
        const bool locked = screen == u"lock overlay";
        defaults->setValue(Settings::appLockEnabled.key, locked);

        QuilletApp app(*defaults, *log);
        Account counter = TestSupport::makeAccount(longIssuer, u"counter."_s + longName);
        counter.type = OTPType::hotp;
        app.store().importAccounts({TestSupport::makeAccount(longIssuer, longName),
                                    TestSupport::makeAccount(u"GitHub"_s, u"me"_s), counter,
                                    TestSupport::makeAccount(longIssuer, u"gone"_s)});
        QTRY_COMPARE(app.store().accounts().size(), 4);
        app.store().deleteAccount(app.store().accounts().last().id);
        QCOMPARE(app.appLock().isLocked(), locked);

        // Sheets are closed before their windows, also after a failure:
        // the next screen starts from none.
        const auto closeSheets = qScopeGuard([] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (qobject_cast<QDialog*>(top) && top->isVisible()) top->close();
            QuickLauncher::shared().close();
            QuickLauncher::shared().setStore(nullptr, nullptr);
        });
        Screens screens{app, *defaults, {}};
        QPointer<QWidget> window = screens.open(screen);
        QVERIFY2(window, "the screen did not open");
        QVERIFY(QTest::qWaitForWindowExposed(window));
        if (smallest) {
            // As small as a window manager lets the user make it: never larger
            // than it already is (a window fitted to a small screen may be
            // below what its layout would like).
            const QSize least = window->minimumSizeHint()
                                    .expandedTo(window->minimumSize())
                                    .boundedTo(window->size());
            window->resize(least);
            QTRY_COMPARE(window->width(), least.width());
        }
        QUILLET_TRY_WHOLE(window);
    }
};

QUILLET_TEST_MAIN(WholeTextsTests)
#include "WholeTextsTests.moc"
