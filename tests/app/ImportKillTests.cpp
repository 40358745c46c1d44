// The program killed (SIGKILL) while it imports 1,000 accounts through the
// add sheet into a keychain file that already holds 3,000: every account the
// window listed before the kill is in the file afterwards, the file is whole,
// and no temporary file with secrets is left once the program starts again.
//
// The window runs in a child process (this program with --import), which
// says on its standard output which accounts its list shows, as it shows
// them; the test kills it at varied moments after Add is clicked.
#include "app/ContentView.h"
#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "core/Base32.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "intake/AddAccountSheet.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/support/TestMain.h"

#include <QAbstractButton>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSet>
#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>

namespace {

constexpr int existing = 3000;
constexpr int imported = 1000;

Account account(const QString& issuer, int i) {
    Account a;
    a.issuer = issuer;
    a.name = QStringLiteral("user%1@example.com").arg(i);
    a.secret = QByteArray::number(i).rightJustified(20, 'k') + issuer.toUtf8();
    return a;
}

QString keychainPath(const QString& folder) { return folder + QStringLiteral("/keychain.json"); }

QStringList leftovers(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("keychain.json.tmp-*")},
                                  QDir::Files | QDir::Hidden);
}

// The child: the main window and its add sheet over the keychain file.
int runImport(const QString& folder) {
    Keychain::setBackend(std::make_shared<Keychain::FileBackend>(keychainPath(folder)));
    UserDefaults defaults(folder + QStringLiteral("/settings.conf"));
    SecurityLog log(folder + QStringLiteral("/timeline.jsonl"));
    AccountStore store(defaults, log);
    TickingClock clock;
    QMainWindow window;
    auto* view = new ContentView(store, clock, defaults, &window);
    window.setCentralWidget(view);
    window.show();

    // Says each account the list shows, once, as soon as it shows it.
    QSet<QUuid> said;
    const auto sayShown = [&] {
        QByteArray lines;
        for (const Account& a : view->visibleAccounts())
            if (!said.contains(a.id)) {
                said.insert(a.id);
                lines += "shown " + a.displayLabel().toUtf8() + '\n';
            }
        std::fwrite(lines.constData(), 1, size_t(lines.size()), stdout);
        std::fflush(stdout);
    };
    QObject::connect(&store, &AccountStore::accountsChanged, view, sayShown,
                     Qt::QueuedConnection);
    sayShown();

    QStringList links;
    for (int i = 0; i < imported; ++i) {
        const Account a = account(QStringLiteral("Imported"), i);
        links << QStringLiteral("otpauth://totp/%1:%2?secret=%3&issuer=%1")
                     .arg(a.issuer, a.name, Base32::encode(a.secret));
    }
    view->showAddSheet();
    auto* sheet = window.findChild<AddAccountSheet*>();
    auto* modes = sheet->findChild<QTabBar*>();
    for (int i = 0; i < modes->count(); ++i)
        if (modes->tabText(i) == QLatin1String("Paste link")) modes->setCurrentIndex(i);
    sheet->findChild<QPlainTextEdit*>()->setPlainText(links.join(QLatin1Char('\n')));
    std::printf("clicking\n");
    std::fflush(stdout);
    for (QAbstractButton* b : sheet->findChildren<QAbstractButton*>())
        if (b->text() == QLatin1String("Add") && b->isVisible()) b->click();
    return QApplication::exec();
}

} // namespace

class ImportKillTests : public QObject {
    Q_OBJECT

    // One import to its end: how long from Add until the list shows it.
    int importTimeMs() {
        QTemporaryDir folder;
        seedKeychain(folder.path());
        QProcess child;
        startChild(child, folder.path());
        QByteArray output;
        QElapsedTimer timer;
        while (!output.contains("shown Imported") && child.waitForReadyRead(60000)) {
            output += child.readAllStandardOutput();
            if (output.contains("clicking\n") && !timer.isValid()) timer.start();
        }
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished(10000);
        return int(timer.elapsed());
    }
    static void seedKeychain(const QString& folder) {
        Keychain::setBackend(std::make_shared<Keychain::FileBackend>(keychainPath(folder)));
        QList<Account> accounts;
        QList<QUuid> order;
        for (int i = 0; i < existing; ++i) {
            accounts << account(QStringLiteral("Existing"), i);
            order << accounts.last().id;
        }
        const auto errors = KeychainStore::saveAll(accounts, order);
        QVERIFY(std::none_of(errors.begin(), errors.end(), [](const auto& e) { return e; }));
    }
    static void startChild(QProcess& child, const QString& folder) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--import"), folder});
    }

private slots:
    void killedDuringAnImport() {
        // Moments spread from the click to a little after the list showed
        // the import: before the write, while the file is written and
        // flushed, and after.
        const int span = importTimeMs();
        QVERIFY(span > 0);
        QList<int> delaysMs{0};
        for (int step = 8; step <= 24; step += 2) // most of them where the file is written
            delaysMs << span * step / 20;
        // And once right after the list showed it, however slow the machine.
        constexpr int afterShown = -1;
        delaysMs << afterShown;
        int roundsShowingImports = 0;
        int roundsLeavingTemporaries = 0;
        for (const int delay : delaysMs) {
            QTemporaryDir folder;
            const QString path = keychainPath(folder.path());
            seedKeychain(folder.path());
            QProcess child;
            startChild(child, folder.path());
            QByteArray output;
            QDeadlineTimer ready(60000);
            while (!output.contains("clicking\n") && !ready.hasExpired() &&
                   child.state() != QProcess::NotRunning) {
                child.waitForReadyRead(100);
                output += child.readAllStandardOutput();
            }
            QVERIFY2(output.contains("clicking\n"), "the child never got to Add");
            if (delay == afterShown) {
                QDeadlineTimer shownBy(60000);
                while (!output.contains("shown Imported") && !shownBy.hasExpired() &&
                       child.state() != QProcess::NotRunning) {
                    child.waitForReadyRead(20);
                    output += child.readAllStandardOutput();
                }
            } else {
                QThread::msleep(delay);
            }
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished(10000));
            output += child.readAllStandardOutput();

            QSet<QString> shown;
            // Only whole lines: the kill can cut the last one short.
            for (const QByteArray& line : output.left(output.lastIndexOf('\n')).split('\n'))
                if (line.startsWith("shown ")) shown.insert(QString::fromUtf8(line.mid(6)));
            const int shownImports = int(std::count_if(shown.begin(), shown.end(), [](const QString& l) {
                return l.startsWith(QLatin1String("Imported"));
            }));
            roundsShowingImports += shownImports > 0;
            roundsLeavingTemporaries += !leftovers(folder.path()).isEmpty();

            // Started again: the keychain opens, the file is whole and holds
            // everything that was shown, and no temporary file is left.
            Keychain::setBackend(std::make_shared<Keychain::FileBackend>(path));
            KeychainStore::resetMigrationFlagForTesting();
            UserDefaults defaults(folder.filePath(QStringLiteral("settings.conf")));
            SecurityLog log(folder.filePath(QStringLiteral("timeline.jsonl")));
            AccountStore restarted(defaults, log);
            QCOMPARE(restarted.vaultState(), AccountStore::VaultState::open);
            QVERIFY(!restarted.lastError());
            QVERIFY(QJsonDocument::fromJson([&] {
                        QFile file(path);
                        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                    }())
                        .isObject());
            QSet<QString> stored;
            for (const Account& a : restarted.accounts())
                stored.insert(a.displayLabel());
            QVERIFY2(stored.contains(shown),
                     qPrintable(QStringLiteral("killed after %1 ms: %2 shown, %3 stored")
                                    .arg(delay)
                                    .arg(shown.size())
                                    .arg(stored.size())));
            QVERIFY(stored.size() == existing || stored.size() == existing + imported);
            QCOMPARE(leftovers(folder.path()), QStringList());
            // The timeline tells the import once if the keychain holds it,
            // wherever the kill fell (its entry written before, or at this
            // start), and never if it does not.
            const bool importStored = stored.size() == existing + imported;
            const auto importEntries = [&log] {
                int found = 0;
                for (const AuditEntry& entry : log.snapshot().entries)
                    found += entry.type == QLatin1String("account.imported") &&
                             entry.detail == QStringLiteral("%1 accounts").arg(imported);
                return found;
            };
            const QString note = folder.filePath(QStringLiteral("timeline.jsonl.import"));
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(note), 30000);
            QVERIFY2(importEntries() == int(importStored),
                     qPrintable(QStringLiteral("killed after %1 ms: %2 import entries, import %3")
                                    .arg(delay)
                                    .arg(importEntries())
                                    .arg(importStored ? "stored" : "not stored")));
            QVERIFY(log.snapshot().intact());
        }
        qInfo("the import took %d ms; %d of %lld rounds were killed after the list showed it, "
              "%d left a temporary file behind",
              span, roundsShowingImports, static_cast<long long>(delaysMs.size()),
              roundsLeavingTemporaries);
        QVERIFY(roundsShowingImports > 0);
        QVERIFY(roundsShowingImports < delaysMs.size());
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && QByteArray(argv[1]) == "--import") {
        QApplication app(argc, argv);
        return runImport(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    TestSupport::Guarded<ImportKillTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "ImportKillTests.moc"
