#include "core/Account.h"
#include "core/OTP.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QByteArray rfcKey20 = "12345678901234567890";
constexpr quint64 maxStep = std::numeric_limits<quint64>::max();
const QString steamAlphabet = QStringLiteral("23456789BCDFGHJKMNPQRTVWXY");

QDateTime at(double unixSeconds) {
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(unixSeconds * 1000)), Qt::UTC);
}

Account account(OTPType type, qint64 digits = 6, qint64 period = 30) {
    Account a;
    a.secret = rfcKey20;
    a.type = type;
    a.digits = digits;
    a.period = period;
    return a;
}

} // namespace

class OtpTests : public QObject {
    Q_OBJECT

private slots:
    void hotpRfc4226() {
        const char* expected[] = {"755224", "287082", "359152", "969429", "338314",
                                  "254676", "287922", "162583", "399871", "520489"};
        for (quint64 counter = 0; counter < 10; ++counter)
            QCOMPARE(OTP::hotp(rfcKey20, counter, 6, HashAlgorithm::sha1), expected[counter]);
        // The extreme digit counts: 10^9 is the largest modulus, leading zeros stay.
        QCOMPARE(OTP::hotp(rfcKey20, 0, 9, HashAlgorithm::sha1), "284755224");
        QCOMPARE(OTP::hotp(rfcKey20, 7, 9, HashAlgorithm::sha1), "082162583");
        QCOMPARE(OTP::hotp(rfcKey20, 0, 1, HashAlgorithm::sha1), "4");
        QCOMPARE(OTP::hotp(rfcKey20, 25193, 6, HashAlgorithm::sha1), "000039");
        QCOMPARE(OTP::hotp(rfcKey20, maxStep, 6, HashAlgorithm::sha1), "094451");
    }

    void totpRfc6238_data() {
        QTest::addColumn<int>("algorithm");
        QTest::addColumn<double>("time");
        QTest::addColumn<QString>("expected");
        const struct {
            double time;
            const char* codes[3]; // SHA-1, SHA-256, SHA-512
        } table[] = {
            {59, {"94287082", "46119246", "90693936"}},
            {1111111109, {"07081804", "68084774", "25091201"}},
            {1111111111, {"14050471", "67062674", "99943326"}},
            {1234567890, {"89005924", "91819424", "93441116"}},
            {2000000000, {"69279037", "90698825", "38618901"}},
            {20000000000, {"65353130", "77737706", "47863826"}},
        };
        for (const auto& row : table)
            for (int algorithm = 0; algorithm < 3; ++algorithm)
                QTest::addRow("%s @%.0f", qPrintable(toText(HashAlgorithm(algorithm))), row.time)
                    << algorithm << row.time << QString::fromLatin1(row.codes[algorithm]);
    }
    void totpRfc6238() {
        QFETCH(int, algorithm);
        QFETCH(double, time);
        QFETCH(QString, expected);
        // Each hash has its own key length in the RFC: 20, 32 and 64 bytes.
        const int keyLength[] = {20, 32, 64};
        Account a = account(OTPType::totp, 8);
        a.algorithm = HashAlgorithm(algorithm);
        a.secret = QByteArray("1234567890").repeated(7).left(keyLength[algorithm]);
        QCOMPARE(a.code(at(time)), expected);
        QCOMPARE(OTP::totp(a.secret, time + 0.999, 30, 8, a.algorithm), expected);
    }

    // Random keys, times, periods, digit counts and hashes against oathtool.
    void matchesOathtool() {
        const QString tool = QStringLiteral("/usr/bin/oathtool");
        if (!QFile::exists(tool)) QSKIP("oathtool is not installed");
        QRandomGenerator random(20240611);
        const auto run = [&](const QStringList& arguments) {
            QProcess process;
            process.start(tool, arguments);
            if (!process.waitForFinished(10000) || process.exitCode() != 0)
                return QStringLiteral("oathtool failed: ") + arguments.join(QLatin1Char(' '));
            return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
        };
        const qint64 periods[] = {1, 7, 30, 60, 3600};
        for (int i = 0; i < 300; ++i) {
            QByteArray secret(1 + random.bounded(64), Qt::Uninitialized);
            for (char& byte : secret)
                byte = char(random.bounded(256));
            const qint64 digits = 6 + random.bounded(3);
            const QStringList common = {QStringLiteral("-d"), QString::number(digits),
                                        QString::fromLatin1(secret.toHex())};
            if (i % 3 == 0) {
                const quint64 counter = random.generate64();
                QCOMPARE(OTP::hotp(secret, counter, digits, HashAlgorithm::sha1),
                         run(QStringList{"--hotp", "-c", QString::number(counter)} + common));
            } else {
                const auto algorithm = HashAlgorithm(random.bounded(3));
                const qint64 period = periods[random.bounded(5)];
                const qint64 time = qint64(random.generate64() % (quint64(1) << 35));
                const double fraction = random.generateDouble();
                QCOMPARE(
                    OTP::totp(secret, double(time) + fraction, period, digits, algorithm),
                    run(QStringList{"--totp=" + toText(algorithm), "-s", QString::number(period),
                                    "-N", "@" + QString::number(time)} +
                        common));
            }
        }
    }

    void timeStep_data() {
        QTest::addColumn<double>("time");
        QTest::addColumn<qint64>("period");
        QTest::addColumn<quint64>("step");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("start") << 0.0 << qint64(30) << quint64(0);
        QTest::newRow("just before boundary") << 59.999 << qint64(30) << quint64(1);
        QTest::newRow("on boundary") << 60.0 << qint64(30) << quint64(2);
        QTest::newRow("period 0 is 1 s") << 5.5 << qint64(0) << quint64(5);
        QTest::newRow("negative period is 1 s") << 5.5 << qint64(-60) << quint64(5);
        QTest::newRow("huge period") << 2e9 << std::numeric_limits<qint64>::max() << quint64(0);
        QTest::newRow("before 1970") << -0.5 << qint64(30) << quint64(0);
        QTest::newRow("far before 1970") << -1e300 << qint64(1) << quint64(0);
        QTest::newRow("-inf") << -inf << qint64(30) << quint64(0);
        QTest::newRow("NaN") << nan << qint64(30) << quint64(0);
        QTest::newRow("2^63 steps") << 9223372036854775808.0 << qint64(1) << (quint64(1) << 63);
        QTest::newRow("2^64 steps") << 18446744073709551616.0 << qint64(1) << maxStep;
        QTest::newRow("beyond 2^64 steps") << 1e30 << qint64(30) << maxStep;
        QTest::newRow("+inf") << inf << qint64(30) << maxStep;
    }
    void timeStep() {
        QFETCH(double, time);
        QFETCH(qint64, period);
        QFETCH(quint64, step);
        QCOMPARE(OTP::timeStep(time, period), step);
    }

    void totpSteps() {
        for (qint64 period : {30, 60, 7}) {
            for (quint64 step : {1ULL, 2ULL, 56666666ULL}) {
                const double boundary = double(step * quint64(period));
                const QString before = OTP::hotp(rfcKey20, step - 1, 6, HashAlgorithm::sha1);
                const QString after = OTP::hotp(rfcKey20, step, 6, HashAlgorithm::sha1);
                const Account a = account(OTPType::totp, 6, period);
                QCOMPARE(a.code(at(boundary - period)), before);
                QCOMPARE(a.code(at(boundary - 0.001)), before);
                QCOMPARE(a.code(at(boundary)), after);
                QCOMPARE(a.code(at(boundary + period - 0.001)), after);
            }
        }
        // A period of 0 or below gives a new code every second.
        for (qint64 period : {0, -1, -30}) {
            const Account a = account(OTPType::totp, 6, period);
            for (quint64 second : {1000ULL, 1001ULL, 1002ULL})
                QCOMPARE(a.code(at(double(second) + 0.5)),
                         OTP::hotp(rfcKey20, second, 6, HashAlgorithm::sha1));
        }
        // Times before 1970 must still give a code of the right length.
        QCOMPARE(account(OTPType::totp).code(QDateTime(QDate(1900, 1, 1), QTime(), Qt::UTC)).size(),
                 6);
    }

    void hotpAccountIgnoresTime() {
        Account a = account(OTPType::hotp);
        a.counter = 5;
        for (double time : {0.0, 59.0, 1234567890.0, 20000000000.0})
            QCOMPARE(a.code(at(time)), "254676");
        a.counter = 6;
        QCOMPARE(a.code(at(59)), "287922");
    }

    void steam() {
        // Independently computed: HMAC-SHA-1 on a 30 s step, base 26 least
        // significant first.
        Account a = account(OTPType::hotp, 8, 60);
        a.isSteam = true;
        a.algorithm = HashAlgorithm::sha512;
        a.counter = 3;
        QCOMPARE(a.code(at(29)), "GG5F5");
        QCOMPARE(a.code(at(30)), "PV9M4");
        QCOMPARE(a.code(at(59.999)), "PV9M4");
        QCOMPARE(a.code(at(60)), "B26KJ");
        QCOMPARE(a.groupedCode(at(30)), "PV9M4"); // never grouped
        QCOMPARE(OTP::steam(rfcKey20, 1700000000), "R87JJ");
        QCOMPARE(OTP::steam({}, 0), "RYH4D");
        a.type = OTPType::totp;
        a.digits = 6;
        a.period = 0;
        a.algorithm = HashAlgorithm::sha1;
        QCOMPARE(a.code(at(30)), "PV9M4");
        for (int i = 0; i < 200; ++i) {
            const QString code = OTP::steam(QByteArray::number(i), 1e9 + i * 31);
            QCOMPARE(code.size(), 5);
            for (QChar c : code)
                QVERIFY(steamAlphabet.contains(c));
        }
    }

    void grouping_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("grouped");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("3") << QStringLiteral("123") << QStringLiteral("123");
        QTest::newRow("4") << QStringLiteral("1234") << QStringLiteral("12 34");
        QTest::newRow("5") << QStringLiteral("12345") << QStringLiteral("12 345");
        QTest::newRow("6") << QStringLiteral("123456") << QStringLiteral("123 456");
        QTest::newRow("7") << QStringLiteral("1234567") << QStringLiteral("123 4567");
        QTest::newRow("8") << QStringLiteral("12345678") << QStringLiteral("1234 5678");
    }
    void grouping() {
        QFETCH(QString, code);
        QFETCH(QString, grouped);
        QCOMPARE(OTP::grouped(code), grouped);
    }

    void nextGroupedCode() {
        const QDateTime t = at(1111111109.5);
        Account totp = account(OTPType::totp, 8, 60);
        QCOMPARE(totp.nextGroupedCode(t), totp.groupedCode(t.addSecs(60)));
        QCOMPARE(account(OTPType::totp, 8).groupedCode(at(59)), "9428 7082");
        QCOMPARE(account(OTPType::totp, 3).groupedCode(at(59)), "082");
        totp.period = 0;
        QCOMPARE(totp.nextGroupedCode(t), totp.groupedCode(t.addSecs(1)));

        Account steam = account(OTPType::totp, 6, 60);
        steam.isSteam = true;
        QCOMPARE(steam.nextGroupedCode(at(59)), "B26KJ"); // 30 s later, not 60
        steam.type = OTPType::hotp;
        QCOMPARE(steam.nextGroupedCode(at(59)), QString());
        QCOMPARE(account(OTPType::hotp).nextGroupedCode(t), QString());
    }

    void digitsOutsideRangeGiveNoCode() {
        for (qint64 digits :
             {qint64(0), qint64(-1), qint64(10), qint64(20), std::numeric_limits<qint64>::max(),
              std::numeric_limits<qint64>::min()}) {
            QCOMPARE(OTP::hotp(rfcKey20, 1, digits, HashAlgorithm::sha1), QString());
            for (OTPType type : {OTPType::totp, OTPType::hotp}) {
                const Account a = account(type, digits);
                QCOMPARE(a.code(at(59)), QString());
                QCOMPARE(a.groupedCode(at(59)), QString());
                QCOMPARE(a.nextGroupedCode(at(59)), QString());
            }
        }
    }

    void emptySecretGivesCode() {
        for (HashAlgorithm algorithm : allHashAlgorithms)
            for (qint64 digits = 1; digits <= 9; ++digits) {
                const QString code = OTP::hotp({}, 3198, digits, algorithm);
                QCOMPARE(code.size(), digits);
                QVERIFY(std::all_of(code.begin(), code.end(), [](QChar c) { return c.isDigit(); }));
            }
        QCOMPARE(OTP::hotp({}, 3198, 6, HashAlgorithm::sha1), "000529");
    }
};

QUILLET_TEST_GUILESS_MAIN(OtpTests)
#include "OtpTests.moc"
