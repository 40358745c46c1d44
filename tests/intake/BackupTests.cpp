#include "core/Limits.h"
#include "intake/Backup.h"
#include "platform/crypto/Crypto.h"
#include "tests/support/BackupTool.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using Backup::BackupError;

namespace {

const QString password = QStringLiteral("correct horse");

QList<Account> sampleAccounts() {
    Account full;
    full.name = QStringLiteral("ann/smith ¿äÄ?");
    full.issuer = QStringLiteral("Example Co");
    full.secret = QByteArray("\x00\xff/+=secret", 11);
    full.type = OTPType::hotp;
    full.algorithm = HashAlgorithm::sha512;
    full.digits = 8;
    full.period = 45;
    full.counter = ~quint64(0); // the whole unsigned range survives
    full.createdAt = QDateTime::fromMSecsSinceEpoch(1714566600123, Qt::UTC);
    full.isFavorite = true;
    full.note = QStringLiteral("note");
    full.folderID = QUuid::createUuid();
    full.recoveryCodes = QStringLiteral("1111 2222");
    full.deletedAt = QDateTime::fromMSecsSinceEpoch(978307199500, Qt::UTC); // before 2001
    full.useCount = 7;
    full.lastUsedAt = QDateTime::fromMSecsSinceEpoch(1714566700999, Qt::UTC);
    Account steam;
    steam.name = QStringLiteral("gamer");
    steam.secret = "steam-key";
    steam.isSteam = true;
    steam.digits = 5;
    steam.createdAt = QDateTime::fromMSecsSinceEpoch(1600000000000, Qt::UTC);
    return {full, steam};
}

int errorOf(const QByteArray& file, const QString& pass = password) {
    try {
        Backup::decrypt(file, pass);
        return -1;
    } catch (const BackupError& error) {
        return error.kind();
    }
}

// A container sealed by hand around any plaintext, to reach the checks that
// come after authentication.
QByteArray sealedAround(const QByteArray& plaintext) {
    const QByteArray salt(16, 's');
    return Backup::encodeContainer(
        {1, salt, *Crypto::aesGcmSeal(*Backup::deriveKey(password.toUtf8(), salt), plaintext)});
}

// Stand-ins for the random source: broken at once, broken after the salt,
// short by one byte for the salt, and predictable.
int randomCalls = 0;
std::optional<QByteArray> failing(qsizetype) {
    return std::nullopt;
}
std::optional<QByteArray> failsOnNonce(qsizetype n) {
    return ++randomCalls > 1 ? std::nullopt : std::optional(QByteArray(n, 'r'));
}
std::optional<QByteArray> shortSalt(qsizetype n) {
    return QByteArray(n == 16 ? 15 : n, 'r');
}
std::optional<QByteArray> fixed(qsizetype n) {
    return QByteArray(n, 'f');
}
struct RestoreRandomSource {
    ~RestoreRandomSource() { Backup::testing::setRandomSource(nullptr); }
};

QByteArray runTool(const QStringList& arguments, int* exitCode) {
    return TestSupport::runBackupTool(arguments, password, exitCode);
}

} // namespace

class BackupTests : public QObject {
    Q_OBJECT

private slots:
    void roundTripKeepsEveryField() {
        const QList<Account> accounts = sampleAccounts();
        const QByteArray first = Backup::encrypt(accounts, password);
        const QByteArray second = Backup::encrypt(accounts, password);
        QVERIFY(first != second); // fresh salt and nonce each time
        QCOMPARE(Backup::decrypt(first, password), accounts);
        QCOMPARE(Backup::decrypt(second, password), accounts);
        QCOMPARE(Backup::decrypt(Backup::encrypt({}, QString()), QString()), QList<Account>{});
    }

    void writesTheContainerForm() {
        const QByteArray file = Backup::encrypt(sampleAccounts(), password);
        static const QRegularExpression form(QStringLiteral(
            R"(^\{"v":1,"salt":"([A-Za-z0-9+=]|\\/)+","box":"([A-Za-z0-9+=]|\\/)+"\}$)"));
        QVERIFY(form.match(QString::fromLatin1(file)).hasMatch());
        QVERIFY(
            !QString::fromLatin1(file).contains(QRegularExpression(QStringLiteral(R"([^\\]/)"))));
        const auto container = Backup::parseContainer(file);
        QVERIFY(container);
        QCOMPARE(container->salt.size(), 16);
        QCOMPARE(container->box.size(), 12 + Backup::encodeAccounts(sampleAccounts()).size() + 16);
        // Inside: an array of accounts whose dates count seconds from 2001.
        const auto plaintext = Crypto::aesGcmOpen(
            *Backup::deriveKey(password.toUtf8(), container->salt), container->box);
        const QJsonObject first = QJsonDocument::fromJson(*plaintext).array().first().toObject();
        QCOMPARE(first.value("createdAt").toDouble(), 736259400.123);
        QCOMPARE(first.value("deletedAt").toDouble(), -0.5);
    }

    void refusesDamagedFiles_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("error"); // -1: opens
        const QByteArray good = Backup::encrypt(sampleAccounts(), password);
        const Backup::Container c = *Backup::parseContainer(good);
        const QByteArray salt = c.salt.toBase64(), box = c.box.toBase64();
        const auto with = [](const QByteArray& members) { return "{" + members + "}"; };
        const QByteArray s = "\"salt\":\"" + salt + "\"", b = "\"box\":\"" + box + "\"";
        const int badFormat = BackupError::badFormat, badPassword = BackupError::badPassword;
        QTest::newRow("an image") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << badFormat;
        QTest::newRow("not an object") << QByteArray("[1]") << badFormat;
        QTest::newRow("no v") << with(s + "," + b) << badFormat;
        QTest::newRow("v as text") << with("\"v\":\"1\"," + s + "," + b) << badFormat;
        QTest::newRow("v beyond 64 bits")
            << with("\"v\":18446744073709551615," + s + "," + b) << badFormat;
        QTest::newRow("salt unpadded")
            << with("\"v\":1,\"salt\":\"" + salt.chopped(2) + "\"," + b) << badFormat;
        QTest::newRow("v 2, extra member, any order") << with(b + ",\"x\":[],\"v\":2," + s) << -1;
        QTest::newRow("27-byte box")
            << Backup::encodeContainer({1, c.salt, c.box.first(27)}) << badPassword;
        QTest::newRow("box cut short")
            << Backup::encodeContainer({1, c.salt, c.box.chopped(1)}) << badPassword;
        for (const qsizetype at : {qsizetype(0), qsizetype(12), c.box.size() - 1}) {
            QByteArray flipped = c.box;
            flipped[at] = char(flipped[at] ^ 0x01);
            QTest::addRow("flipped byte %lld", qint64(at))
                << Backup::encodeContainer({1, c.salt, flipped}) << badPassword;
        }
        QTest::newRow("plaintext an object") << sealedAround("{}") << badFormat;
        QTest::newRow("plaintext a bad account") << sealedAround("[{\"id\":1}]") << badFormat;
        QTest::newRow("plaintext empty list") << sealedAround("[]") << -1;
    }
    void refusesDamagedFiles() {
        QFETCH(QByteArray, file);
        QFETCH(int, error);
        QCOMPARE(errorOf(file), error);
    }

    void wrongPasswordAndMessages() {
        QCOMPARE(errorOf(Backup::encrypt(sampleAccounts(), password), password + ' '),
                 int(BackupError::badPassword));
        QCOMPARE(errorOf(Backup::encrypt(sampleAccounts(), QString()), QStringLiteral(" ")),
                 int(BackupError::badPassword));
        QCOMPARE(BackupError(BackupError::badPassword).message(),
                 "Wrong password, or the file is corrupted.");
        QCOMPARE(BackupError(BackupError::badFormat).message(),
                 "This isn't a Quillet backup file.");
        QCOMPARE(BackupError(BackupError::cryptoFailed).message(), "Could not encrypt the backup.");
    }

    // The export refuses, with its sentence, any file the import would
    // refuse as too large: the sealed file (a third larger than the
    // accounts' text) as well as the text alone.
    void theExportRefusesWhatTheImportCannotRead() {
        for (const qsizetype noteBytes : {Limits::maxBackupBytes * 4 / 5, Limits::maxBackupBytes + 1}) {
            QList<Account> accounts = sampleAccounts();
            accounts[0].note = QString(noteBytes, QLatin1Char('n'));
            try {
                Backup::encrypt(accounts, password);
                QFAIL("sealed a backup the import refuses");
            } catch (const BackupError& e) {
                QCOMPARE(e.kind(), BackupError::tooLarge);
                QCOMPARE(e.message(), "The backup would be larger than 32 MiB, more than Quillet "
                                      "can import again, so it was not made.");
            }
        }
        QCOMPARE(Limits::maxBackupBytes, qsizetype(32) << 20);
    }

    void failingRandomSourceStopsTheExport() {
        const RestoreRandomSource restore;
        for (const auto source : {&failing, &failsOnNonce, &shortSalt}) {
            randomCalls = 0;
            Backup::testing::setRandomSource(source);
            try {
                Backup::encrypt(sampleAccounts(), password);
                QFAIL("sealed without fresh random bytes");
            } catch (const BackupError& e) {
                QCOMPARE(e.kind(), BackupError::cryptoFailed);
            }
        }
        // The seam is the one source of both salt and nonce.
        Backup::testing::setRandomSource(&fixed);
        const auto container = Backup::parseContainer(Backup::encrypt({}, password));
        QCOMPARE(container->salt, QByteArray(16, 'f'));
        QCOMPARE(container->box.first(12), QByteArray(12, 'f'));
    }

    void independentToolReadsAndWritesTheFormat() {
        if (!TestSupport::backupToolAvailable())
            QSKIP("python3-cryptography is not importable");
        QTemporaryDir dir;
        const QList<Account> accounts = sampleAccounts();
        QFile backup(dir.filePath("a.qvault"));
        QVERIFY(backup.open(QIODevice::WriteOnly));
        backup.write(Backup::encrypt(accounts, password));
        backup.close();
        int exitCode = 0;
        const QByteArray printed = runTool({"decrypt", backup.fileName()}, &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(Backup::decodeAccounts(printed), accounts);

        QFile list(dir.filePath("accounts.json"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(Backup::encodeAccounts(accounts));
        list.close();
        runTool({"encrypt", list.fileName(), dir.filePath("b.qvault")}, &exitCode);
        QCOMPARE(exitCode, 0);
        QFile written(dir.filePath("b.qvault"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(Backup::decrypt(written.readAll(), password), accounts);
    }
};

QUILLET_TEST_APPLESS_MAIN(BackupTests)
#include "BackupTests.moc"
