// When the program registers its AutoFill identities: as the main window
// appears, and as the number of accounts changes while it is open.
#include "app/ContentView.h"
#include "app/MainWindow.h"
#include "app/QuilletApp.h"
#include "core/AccountStore.h"
#include "core/CredentialIdentitySync.h"
#include "core/SecurityLog.h"
#include "platform/files/CredentialIdentityStore.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

namespace {

Account account(const QString& issuer) { return TestSupport::makeAccount(issuer, "me"); }

// How many identities a sync left, or -1 when none ran since the file was
// last removed.
qsizetype registered() {
    CredentialIdentitySync::waitForIdle();
    CredentialIdentityStore& store = CredentialIdentityStore::shared();
    if (!QFile::exists(store.path()))
        return -1;
    const auto identities = store.identities();
    return identities ? identities->size() : -2;
}

void forget() { QFile::remove(CredentialIdentityStore::shared().path()); }

} // namespace

class QuilletAppTests : public QObject, TestSupport::VaultFixture {
    Q_OBJECT

private slots:
    void initTestCase() {
        // main() points the data folder at a temporary one before Qt starts.
        QVERIFY(CredentialIdentityStore::shared().path().startsWith(
            qEnvironmentVariable("XDG_DATA_HOME")));
    }
    void init() { openVault(); }

    void registersWithTheMainWindowAndItsCount() {
        QuilletApp app(*defaults, *log);
        app.store().importAccounts({account("GitHub"), account("GitLab")});
        // No window yet: a change of count registers nothing.
        QCOMPARE(registered(), -1);

        app.openMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
        QCOMPARE(registered(), 2);

        forget();
        app.store().toggleFavorite(app.store().accounts().first().id);
        QCOMPARE(registered(), -1); // same number of accounts
        app.store().importAccounts({account("Steam")});
        QCOMPARE(registered(), 3);
        app.store().deleteAccount(app.store().accounts().first().id);
        QCOMPARE(registered(), 2);

        // The settings window does not register; a closed main window stops
        // the count from registering.
        forget();
        app.openSettings();
        QCOMPARE(registered(), -1);
        app.mainWindow()->close();
        QTRY_VERIFY(!app.mainWindow());
        app.store().importAccounts({account("Slack")});
        QCOMPARE(registered(), -1);
    }

    // The main window opens with no caret blinking in the search field (it
    // would wake the program twice a second for as long as the window is
    // open); Ctrl+F puts the focus there, as does opening it again later.
    void mainWindowOpensWithTheSearchFieldUnfocused() {
        QuilletApp app(*defaults, *log);
        app.store().importAccounts({account("GitHub")});
        for (int opening = 0; opening < 2; ++opening) {
            app.openMainWindow();
            QVERIFY(QTest::qWaitForWindowActive(app.mainWindow()));
            auto* search = app.mainWindow()->content()->findChild<QLineEdit*>();
            QVERIFY(search);
            QVERIFY(!search->hasFocus());
            QVERIFY(app.mainWindow()->isAncestorOf(QApplication::focusWidget()));
            QTest::keyClick(app.mainWindow(), Qt::Key_F, Qt::ControlModifier);
            QVERIFY(search->hasFocus());
            app.mainWindow()->close();
            QTRY_VERIFY(!app.mainWindow());
        }
    }

    // An import into a keyring that stores item by item lists its accounts
    // step by step; the identities are registered once, when it ends.
    void registersAnImportOnceWhenItEnds() {
        Keychain::setBackend(std::make_shared<TestSupport::ItemByItemKeychain>());
        QuilletApp app(*defaults, *log);
        app.openMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
        QTRY_COMPARE(registered(), 0); // once the vault is read
        forget();
        int steps = 0;
        bool registeredMeanwhile = false;
        connect(&app.store(), &AccountStore::accountsChanged, this, [&] {
            if (!app.store().importing())
                return;
            ++steps;
            registeredMeanwhile = registeredMeanwhile || registered() != -1;
        });
        QList<Account> many;
        for (int i = 0; i < 60; ++i)
            many.append(account(QStringLiteral("Service %1").arg(i)));
        QCOMPARE(app.store().importAccounts(many), 60);
        QVERIFY(steps >= 2);
        QVERIFY(!registeredMeanwhile);
        QCOMPARE(registered(), 60);
    }
};

int main(int argc, char** argv) {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    // A window's appearance also asks for a clock measurement: never outside.
    qputenv("QUILLET_TIME_REFERENCE_URL", "http://127.0.0.1:9/");
    QApplication application(argc, argv);
    TestSupport::Guarded<QuilletAppTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "QuilletAppTests.moc"
