// When the program registers its AutoFill identities: as the main window
// appears, and as the number of accounts changes while it is open.
#include "app/MainWindow.h"
#include "app/QuilletApp.h"
#include "core/AccountStore.h"
#include "core/CredentialIdentitySync.h"
#include "core/SecurityLog.h"
#include "platform/CredentialIdentityStore.h"
#include "tests/support/Vault.h"

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
};

int main(int argc, char** argv) {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    // A window's appearance also asks for a clock measurement: never outside.
    qputenv("QUILLET_TIME_REFERENCE_URL", "http://127.0.0.1:9/");
    QApplication application(argc, argv);
    QuilletAppTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "QuilletAppTests.moc"
