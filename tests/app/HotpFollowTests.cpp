// One HOTP account shown by the program (the main window, the tray's panel,
// the codes action on the bus) while larkspur-host processes fill its codes
// into sites, as a user meets it: over a real gnome-keyring (the private
// session of tests/with-session.sh) and over the keychain file, with the real
// clipboard of a private X server, and oathtool as the reference. No code the
// host filled is copied again, the hosts never fill the same code twice, and
// the window comes to show the next unused code.
#include "app/AccountRow.h"
#include "app/ContentView.h"
#include "app/MainWindow.h"
#include "app/QuilletApp.h"
#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "menubar/MenuBarContent.h"
#include "menubar/MenuBarRow.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/keychain/KeychainSecretService.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/UpdaterManager.h"
#include "tests/support/CodesBus.h"
#include "tests/support/Desktop.h"
#include "tests/support/Host.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

namespace {

const QByteArray secret("12345678901234567890");
constexpr quint64 firstCounter = 5;
constexpr int fillsPerHost = 20;

namespace Bus = TestSupport::CodesBus;

// The host's fills, in the order they ended.
struct Fills {
    QStringList codes;
    QStringList failures;
};

// Fills one code through a new host process, which it returns; `ended`
// hears the code, or nothing when the host did not fill.
QProcess* fillOnce(QObject* owner, const QUuid& id, const QString& backend,
                   std::function<void(const std::optional<QString>&)> ended) {
    auto* host = new QProcess(owner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLET_KEYCHAIN"), backend);
    host->setProcessEnvironment(env);
    host->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(host, &QProcess::finished, owner, [host, ended] {
        const QJsonObject answer = QJsonDocument::fromJson(host->readAllStandardOutput()).object();
        const QString code = answer.value(QLatin1String("code")).toString();
        ended(host->exitCode() == 0 && !code.isEmpty() ? std::optional(code) : std::nullopt);
        host->deleteLater();
    });
    host->start(QStringLiteral(LARKSPUR_HOST_PATH), {});
    const QJsonObject request = TestSupport::codeRequest("provideWithoutUserInteraction", id);
    host->write(QJsonDocument(request).toJson(QJsonDocument::Compact));
    host->closeWriteChannel();
    return host;
}

// A host filling `count` codes one after another, as a browser asking again
// and again; `running` is cleared after the last.
void fillInTurn(QObject* owner, const QUuid& id, const QString& backend, int count, Fills& fills,
                std::shared_ptr<int> running) {
    if (count == 0) {
        --*running;
        return;
    }
    fillOnce(owner, id, backend, [=, &fills](const std::optional<QString>& code) {
        if (code)
            fills.codes << *code;
        else
            fills.failures << QStringLiteral("a fill failed");
        fillInTurn(owner, id, backend, count - 1, fills, running);
    });
}

// The clipboard as another program reads it.
QString clipboard() { return QString::fromLatin1(TestSupport::clipboardText()); }

} // namespace

class HotpFollowTests : public QObject {
    Q_OBJECT

    // The codes of counters firstCounter... by oathtool, and back.
    QStringList reference;
    QHash<QString, quint64> counterOf;

    QString codeAt(quint64 counter) const { return reference.value(int(counter - firstCounter)); }

    // Copies through one of the program's ways that take no counter and
    // returns what the clipboard then holds; the store's use count tells that
    // the window's and the tray's copy has happened.
    QString copyThrough(const QString& way, QuilletApp& app, MenuBarContent& tray,
                        const Account& acme) {
        const qint64 uses = app.store().usage().value(acme.id).count;
        if (way == QLatin1String("window")) {
            QToolButton* copy = nullptr;
            for (AccountRow* row : app.mainWindow()->content()->rows())
                for (QToolButton* button : row->findChildren<QToolButton*>())
                    if (button->toolTip() == "Copy code" || button->toolTip() == "Copied!")
                        copy = button;
            if (!copy)
                return QStringLiteral("no copy button");
            QTest::mouseClick(copy, Qt::LeftButton);
        } else if (way == QLatin1String("tray")) {
            if (tray.rows().isEmpty())
                return QStringLiteral("no tray row");
            QTest::mouseClick(tray.rows().first()->copyButton(), Qt::LeftButton);
        } else {
            // The codes action, called as a script calls it.
            return Bus::call("GetCode", {Bus::id(acme)}).exitCode == 0
                       ? clipboard()
                       : QStringLiteral("the action failed");
        }
        const auto copied = [&] { return app.store().usage().value(acme.id).count > uses; };
        return QTest::qWaitFor(copied, QUILLET_TEST_WAIT_MS) ? clipboard()
                                                             : QStringLiteral("nothing copied");
    }

    static QString shownInWindow(QuilletApp& app) {
        const QList<AccountRow*> rows = app.mainWindow()->content()->rows();
        return rows.isEmpty() ? QString() : rows.first()->codeText().remove(QLatin1Char(' '));
    }

private slots:
    void initTestCase() {
        // Refuse to touch a keyring or a display that is not a throwaway one.
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_SESSION"))
            QFAIL("run through tests/with-session.sh and tests/with-xvfb.sh");
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QFAIL("needs an X server for the clipboard (tests/with-xvfb.sh)");
        const int codes = 2 * fillsPerHost + 4;
        reference = TestSupport::oathtool({"--hotp", "-c", QString::number(firstCounter), "-w",
                                           QString::number(codes), QString::fromLatin1(secret.toHex())})
                        .split(QLatin1Char('\n'));
        QCOMPARE(reference.size(), codes + 1);
        for (qsizetype i = 0; i < reference.size(); ++i)
            counterOf.insert(reference[i], firstCounter + quint64(i));
        QCOMPARE(counterOf.size(), reference.size()); // no two counters share a code here
        QCOMPARE(QDBusConnection::sessionBus().interface()->registerService(Bus::name).value(),
                 QDBusConnectionInterface::ServiceRegistered);
    }

    void noCodeGoesOutTwice_data() {
        QTest::addColumn<QString>("backend");
        QTest::newRow("gnome-keyring") << QStringLiteral("secret-service");
        QTest::newRow("keychain file") << QStringLiteral("file");
    }
    void noCodeGoesOutTwice() {
        QFETCH(QString, backend);
        if (backend == QLatin1String("file"))
            Keychain::setBackend(
                std::make_shared<Keychain::FileBackend>(Keychain::FileBackend::defaultPath()));
        else
            Keychain::setBackend(std::make_shared<Keychain::SecretServiceBackend>());
        QTemporaryDir folder;
        UserDefaults defaults(folder.filePath(QStringLiteral("settings.conf")));
        SecurityLog log(folder.filePath(QStringLiteral("timeline.jsonl")));
        Account acme = TestSupport::makeAccount(QStringLiteral("Acme"), QStringLiteral("me"), secret);
        acme.type = OTPType::hotp;
        acme.counter = firstCounter;
        TestSupport::seedVault({acme});
        const auto forget = qScopeGuard([&] {
            Keychain::remove(KeychainStore::baseQuery(Json::uuidText(acme.id)));
        });

        QuilletApp app(defaults, log);
        app.openMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(app.mainWindow()));
        QTRY_VERIFY2(shownInWindow(app) == codeAt(firstCounter),
                     "the window does not show counter 5's code");
        MenuBarContent tray(app.store(), app.clock(), app.settings(), app.appLock(), app.updater(),
                            defaults);
        tray.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tray));
        const Bus::Endpoint endpoint(defaults, app.appLock());
        QVERIFY(endpoint.registered);

        // The host fills counter 5's code while the program, not yet
        // having heard of it, still lists counter 5: each way of copying
        // hands out counter 6's code, and the window comes to show it.
        // (Waiting without the event loop keeps the news from the program.)
        Fills fills;
        // The hosts' handlers write into fills: a test that fails part way
        // takes the hosts, and their handlers, with it.
        QObject hosts;
        const auto filled = [&](const std::optional<QString>& code) {
            if (code)
                fills.codes << *code;
        };
        QVERIFY(fillOnce(&hosts, acme.id, backend, filled)->waitForFinished(QUILLET_TEST_WAIT_MS));
        QVERIFY2(fills.codes == QStringList{codeAt(firstCounter)}, "the host did not fill counter 5");
        QVERIFY(shownInWindow(app) == codeAt(firstCounter));
        for (const char* way : {"window", "tray", "action"})
            QVERIFY2(copyThrough(way, app, tray, acme) == codeAt(firstCounter + 1), way);
        QTRY_VERIFY2(shownInWindow(app) == codeAt(firstCounter + 1),
                     "the window does not come to show counter 6's code");

        // Two hosts fill in turn while the program copies again and again:
        // no copy is a code filled before it was asked for.
        auto running = std::make_shared<int>(2);
        fillInTurn(&hosts, acme.id, backend, fillsPerHost, fills, running);
        fillInTurn(&hosts, acme.id, backend, fillsPerHost, fills, running);
        int copies = 0;
        const QStringList ways{"window", "tray", "action"};
        while (*running > 0) {
            const QString way = ways[copies++ % ways.size()];
            const QStringList filledBefore = fills.codes;
            const QString copied = copyThrough(way, app, tray, acme);
            QVERIFY2(counterOf.contains(copied),
                     qPrintable(way + ": " + (copied.isEmpty() || !copied.front().isDigit() ? copied : "no code of the account")));
            QVERIFY2(!filledBefore.contains(copied),
                     qPrintable(way + ": a code the host had filled was copied again"));
        }
        QVERIFY2(fills.failures.isEmpty(), qPrintable(fills.failures.join(", ")));
        QVERIFY(copies >= ways.size());

        // A last fill, after which nothing here copies or reads the counter:
        // the window and the tray come to show the next unused code only by
        // following the keyring themselves.
        QVERIFY(fillOnce(&hosts, acme.id, backend, filled)->waitForFinished(QUILLET_TEST_WAIT_MS));
        const int total = 2 * fillsPerHost + 2;
        QCOMPARE(fills.codes.size(), total);
        const QString next = codeAt(firstCounter + total);
        QTRY_VERIFY2(shownInWindow(app) == next,
                     "the window does not come to show the next unused code");
        const auto shownInTray = [&tray] {
            return tray.rows().isEmpty() ? QString()
                                         : tray.rows().first()->codeText().remove(QLatin1Char(' '));
        };
        QTRY_VERIFY2(shownInTray() == next, "the tray does not come to show the next unused code");

        // Every fill took a counter of its own, 5 onwards without a gap; the
        // keyring holds the next.
        QSet<quint64> counters;
        for (const QString& code : std::as_const(fills.codes))
            counters.insert(counterOf.value(code, 0));
        QCOMPARE(counters.size(), total);
        QCOMPARE(*std::min_element(counters.begin(), counters.end()), firstCounter);
        QCOMPARE(*std::max_element(counters.begin(), counters.end()), firstCounter + total - 1);
        for (const Account& stored : KeychainStore::loadAll().active)
            if (stored.id == acme.id)
                QCOMPARE(stored.counter, firstCounter + total);
    }
};

int main(int argc, char** argv) {
    // A window's appearance also asks for a clock measurement: never outside.
    qputenv("QUILLET_TIME_REFERENCE_URL", "http://127.0.0.1:9/");
    QApplication application(argc, argv);
    TestSupport::Guarded<HotpFollowTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "HotpFollowTests.moc"
