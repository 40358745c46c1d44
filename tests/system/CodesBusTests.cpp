// "Get Authenticator Code" on the session bus, called as a script calls it
// (gdbus), against the real keyring of a private session
// (tests/with-session.sh) and the real clipboard of a private X server
// (tests/with-xvfb.sh), with oathtool as the reference for the codes.
#include "core/Base32.h"
#include "core/CorrectedClock.h"
#include "core/KeychainStore.h"
#include "core/Settings.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"
#include "platform/keychain/KeychainSecretService.h"
#include "system/AppLockMac.h"
#include "system/CodesBusAdaptor.h"
#include "tests/support/CodesBus.h"
#include "tests/support/Desktop.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using TestSupport::clipboardText;
using TestSupport::oathtool;
using TestSupport::xclip;
using TestSupport::CodesBus::Answer;
using TestSupport::CodesBus::call;
using TestSupport::CodesBus::Endpoint;
using TestSupport::CodesBus::id;

class CodesBusTests : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<AppLockMac> lock;
    std::unique_ptr<Endpoint> endpoint;
    Account totp, hotp, solo, deleted;

    static void emptyKeychain() {
        Keychain::Query everything = KeychainStore::baseQuery(QString());
        everything.account.reset();
        const Keychain::Status status = Keychain::remove(everything);
        QVERIFY(status == Keychain::success || status == Keychain::itemNotFound);
        QVERIFY(KeychainStore::loadAll().active.isEmpty());
    }

    void expectError(const Answer& answer, const QString& name, const QString& message) {
        QVERIFY2(answer.exitCode != 0, qPrintable(answer.out));
        QVERIFY2(answer.error.contains(name), qPrintable(answer.error));
        QVERIFY2(answer.error.contains(message), qPrintable(answer.error));
    }

private slots:
    void initTestCase() {
        // Refuse to touch a keyring or a display that is not a throwaway one.
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_SESSION"))
            QFAIL("run through tests/with-session.sh and tests/with-xvfb.sh");
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QFAIL("needs an X server for the clipboard (tests/with-xvfb.sh)");
        QCOMPARE(Keychain::backend().name(), QStringLiteral("secret-service"));
        QCOMPARE(QDBusConnection::sessionBus().interface()->registerService(TestSupport::CodesBus::name).value(),
                 QDBusConnectionInterface::ServiceRegistered);
        defaults = std::make_unique<UserDefaults>(folder.filePath("settings.conf"));
        lock = std::make_unique<AppLockMac>(*defaults);
        endpoint = std::make_unique<Endpoint>(*defaults, *lock);
        QVERIFY(endpoint->registered);
    }

    void init() {
        emptyKeychain();

        // The RFC 6238 / RFC 4226 test key.
        totp = TestSupport::makeAccount("RFC", "totp", "12345678901234567890");
        hotp = TestSupport::makeAccount("RFC", "hotp", "12345678901234567890");
        hotp.type = OTPType::hotp;
        hotp.counter = 5;
        solo = TestSupport::makeAccount("", "solo");
        deleted = TestSupport::makeAccount("Gone", "old");
        deleted.deletedAt = QDateTime::currentDateTimeUtc();
        TestSupport::seedVault({totp, hotp, solo, deleted});
        QGuiApplication::clipboard()->setText(QStringLiteral("sentinel"));
        QTRY_COMPARE(clipboardText(), QByteArray("sentinel"));
    }

    void theCodeIsCopiedWithTheMarkersAndAnnounced() {
        const QString secret = Base32::encode(totp.secret);
        const QString before = oathtool({"--totp", "-b", secret});
        const Answer answer = call("GetCode", {id(totp)});
        const QString after = oathtool({"--totp", "-b", secret});
        QCOMPARE(answer.exitCode, 0);
        const QStringList reply = answer.strings();
        QCOMPARE(reply.size(), 2);
        const QString code = reply[0];
        QVERIFY2(code == before || code == after, "the answer holds another code than oathtool's");
        QCOMPARE(reply[1], QStringLiteral("RFC: %1 — copied.").arg(code));

        QCOMPARE(clipboardText(), code.toUtf8());
        const QByteArray targets = xclip({"-o", "-selection", "clipboard", "-t", "TARGETS"});
        QVERIFY2(targets.contains("org.nspasteboard.ConcealedType"), targets.constData());
        QVERIFY2(targets.contains("org.nspasteboard.TransientType"), targets.constData());

        // An account without an issuer is announced by its name; lower-case
        // identifiers name the same account.
        const Answer byName = call("GetCode", {id(solo).toLower()});
        QCOMPARE(byName.exitCode, 0);
        QVERIFY(byName.strings().value(1).startsWith(QStringLiteral("solo: ")));
    }

    void hotpGivesTheSameCodeTwiceAndKeepsItsCounter() {
        const QString expected =
            oathtool({"--hotp", "-c", "5", "-b", Base32::encode(hotp.secret)});
        QCOMPARE(call("GetCode", {id(hotp)}).strings().value(0), expected);
        QCOMPARE(call("GetCode", {id(hotp)}).strings().value(0), expected);
        for (const Account& account : KeychainStore::loadAll().active)
            if (account.id == hotp.id) QCOMPARE(account.counter, quint64(5));
        QCOMPARE(clipboardText(), expected.toUtf8());
    }

    void anAccountItCannotFindNeedsAValue() {
        for (const QString& identifier :
             {id(deleted), QUuid::createUuid().toString(QUuid::WithoutBraces), QString("github"),
              QString()}) {
            expectError(call("GetCode", {identifier}),
                        QStringLiteral("com.tarnwick.Quillet.Error.NeedsValue"),
                        QStringLiteral("Which account?"));
        }
        QCOMPARE(clipboardText(), QByteArray("sentinel"));
    }

    // Accounts an earlier version kept with values that make no code (a
    // digit count of 0, no secret): an error, never an empty "copied".
    void anAccountThatMakesNoCodeIsAnError() {
        Account noDigits = TestSupport::makeAccount("Hostile", "zero", "12345678901234567890");
        noDigits.digits = 0;
        Account noSecret = TestSupport::makeAccount("Hostile", "empty");
        noSecret.secret.clear();
        QVERIFY(KeychainStore::saveAll({noDigits, noSecret}).value(0) == std::nullopt);
        for (const Account& account : {noDigits, noSecret})
            expectError(call("GetCode", {id(account)}),
                        QStringLiteral("com.tarnwick.Quillet.Error.NoCode"),
                        QStringLiteral("“Hostile” has no code"));
        QCOMPARE(clipboardText(), QByteArray("sentinel"));
    }

    void theQueryOffersTheActiveAccountsInStoredOrder() {
        QCOMPARE(call("Suggested").strings(),
                 (QStringList{id(totp), "RFC", id(hotp), "RFC", id(solo), "solo"}));
        // Stored order, each once, unknown and deleted ones left out.
        QCOMPARE(call("Entities", {QStringLiteral("['%1', '%2', '%1', 'nope', '%3']")
                                       .arg(id(solo), id(totp), id(deleted))})
                     .strings(),
                 (QStringList{id(totp), "RFC", id(solo), "solo"}));
        QCOMPARE(call("DefaultResult").strings(), (QStringList{id(totp), "RFC"}));

        emptyKeychain();
        QCOMPARE(call("Suggested").out, QStringLiteral("(@a(ss) [],)"));
        QCOMPARE(call("DefaultResult").out, QStringLiteral("(@a(ss) [],)"));
        expectError(call("GetCode", {id(totp)}),
                    QStringLiteral("com.tarnwick.Quillet.Error.NeedsValue"),
                    QStringLiteral("Which account?"));
    }

    void whileLockedNothingIsListedOrCopied() {
        QTemporaryDir lockedFolder;
        UserDefaults lockedDefaults(lockedFolder.filePath("settings.conf"));
        lockedDefaults.setValue(Settings::appLockEnabled.key, true);
        AppLockMac locked(lockedDefaults);
        QVERIFY(locked.isLocked());
        endpoint.reset();
        {
            Endpoint lockedEndpoint(lockedDefaults, locked);
            QVERIFY(lockedEndpoint.registered);
            for (const char* method : {"Suggested", "DefaultResult"})
                expectError(call(method), QStringLiteral("com.tarnwick.Quillet.Error.Locked"),
                            QStringLiteral("Quillet is locked."));
            expectError(call("GetCode", {id(totp)}),
                        QStringLiteral("com.tarnwick.Quillet.Error.Locked"),
                        QStringLiteral("Quillet is locked."));
            QCOMPARE(clipboardText(), QByteArray("sentinel"));
        }
        endpoint = std::make_unique<Endpoint>(*defaults, *lock);
        QVERIFY(endpoint->registered);
    }

    void anUnreadableKeychainIsAnErrorNotAnEmptyVault() {
        auto failing = std::make_shared<Keychain::MemoryBackend>();
        failing->failWith(Keychain::MemoryBackend::Operation::copyMatching,
                          Keychain::interactionNotAllowed);
        Keychain::setBackend(failing);
        const Answer list = call("Suggested");
        const Answer code = call("GetCode", {id(totp)});
        Keychain::setBackend(std::make_shared<Keychain::SecretServiceBackend>());
        // A sentence a caller can show, with the status after it.
        expectError(list, QStringLiteral("com.tarnwick.Quillet.Error.Keychain"),
                    QStringLiteral("Your keyring is locked."));
        expectError(code, QStringLiteral("com.tarnwick.Quillet.Error.Keychain"),
                    QStringLiteral("Your keyring is locked."));
        QCOMPARE(clipboardText(), QByteArray("sentinel"));
    }
};

QUILLET_TEST_MAIN(CodesBusTests)
#include "CodesBusTests.moc"
