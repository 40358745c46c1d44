// The host program over a real gnome-keyring (the private session of
// tests/with-session.sh) that is locked the way a screen locker locks it.
// Without interface a request then needs the user; with interface the host
// asks the keyring to unlock, which here cannot prompt, and the request is
// refused as cancelled. Neither hangs, and neither reads as "no account".
#include "autofill/PasskeyStore.h"
#include "core/KeychainStore.h"
#include "tests/support/Host.h"
#include "tests/support/Keyring.h"
#include "tests/support/TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

using TestSupport::codeRequest;
using TestSupport::runHost;

namespace {

const QByteArray secret("12345678901234567890");

quint64 storedCounter(const QUuid& id) {
    for (const Account& account : KeychainStore::loadAll().active)
        if (account.id == id) return account.counter;
    return 0xdead;
}

} // namespace

class LockedKeyringHostTests : public QObject {
    Q_OBJECT

    Account bank;

private slots:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("QUILLET_TEST_SESSION"), "run through with-session.sh");
        qputenv("QUILLET_KEYCHAIN", "secret-service");
        bank.issuer = QStringLiteral("Bank");
        bank.name = QStringLiteral("me");
        bank.secret = secret;
        bank.type = OTPType::hotp;
        bank.counter = 5;
        KeychainStore::saveAccount(bank);
    }

    void aLockedKeyringIsRefusedNeverEmpty() {
        TestSupport::KeyringCollection keyring;
        QVERIFY(keyring.lock());
        const auto unlockAgain = qScopeGuard([&] { keyring.unlock(); });

        // Without interface nothing may ask: the request needs the user.
        const auto quiet = runHost(codeRequest("provideWithoutUserInteraction", bank.id));
        QCOMPARE(quiet.out.trimmed(), QByteArray("{\"refused\":100}"));
        QCOMPARE(quiet.status, 1);

        // With interface the host asks the keyring to open; with no way to
        // prompt it stays locked, and every kind of request is refused as
        // cancelled, at once.
        const QList<QJsonObject> requests{
            codeRequest("prepareInterface", bank.id),
            {{"entry", "credentialList"}, {"serviceIdentifiers", QJsonArray{}}},
            {{"entry", "credentialListWithParameters"},
             {"parameters", QJsonObject{{"relyingPartyIdentifier", "example.com"},
                                        {"clientDataHash", QString(44 - 1, 'A') + "="}}}},
            {{"entry", "registration"},
             {"request", QJsonObject{{"kind", "passkey"},
                                     {"relyingPartyIdentifier", "example.com"},
                                     {"userName", "alice"},
                                     {"userHandle", "YWxpY2U="},
                                     {"clientDataHash", QString(44 - 1, 'A') + "="},
                                     {"supportedAlgorithms", QJsonArray{-7}}}}},
        };
        for (const QJsonObject& request : requests) {
            const auto outcome = runHost(request);
            QVERIFY2(outcome.out.trimmed() == "{\"refused\":1}",
                     qPrintable(request.value("entry").toString() + ": " + outcome.out + outcome.err));
            QCOMPARE(outcome.status, 1);
            QVERIFY2(outcome.milliseconds < 20000, QByteArray::number(outcome.milliseconds));
        }

        QVERIFY(keyring.unlock());
        QCOMPARE(storedCounter(bank.id), quint64(5));
        QVERIFY(PasskeyStore::loadAll().isEmpty());
    }

    void anUnlockedKeyringServesAtOnce() {
        QProcess oathtool;
        oathtool.start(QStringLiteral("oathtool"),
                       {"--hotp", "-c", "5", QString::fromLatin1(secret.toHex())});
        QVERIFY(oathtool.waitForFinished(10000));
        const QByteArray expected = oathtool.readAllStandardOutput().trimmed();

        const auto filled = runHost(codeRequest("provideWithoutUserInteraction", bank.id));
        QCOMPARE(filled.out.trimmed(), "{\"code\":\"" + expected + "\",\"completed\":\"oneTimeCode\"}");
        QCOMPARE(filled.status, 0);
        QCOMPARE(storedCounter(bank.id), quint64(6));
    }
};

QUILLET_TEST_GUILESS_MAIN(LockedKeyringHostTests)
#include "LockedKeyringHostTests.moc"
