#include "core/Base32.h"
#include "intake/OTPAuth.h"
#include "tests/support/TestMain.h"

#include <QRandomGenerator>
#include <QtTest>

using OTPAuth::ParseError;

namespace {

const QByteArray helloSecret = QByteArrayLiteral("Hello!\xDE\xAD\xBE\xEF"); // JBSWY3DPEHPK3PXP

// The error a link fails with, or -1 when it parses.
int errorOf(const QString& link) {
    try {
        OTPAuth::parse(link);
        return -1;
    } catch (const ParseError& error) {
        return error.kind();
    }
}

} // namespace

class OTPAuthTests : public QObject {
    Q_OBJECT

private slots:
    void parsesAStandardLink() {
        const Account a = OTPAuth::parse(QStringLiteral(
            "otpauth://totp/ACME%20Co:john.doe@email.com?secret=JBSWY3DPEHPK3PXP&issuer=ACME%20Co"
            "&algorithm=SHA256&digits=8&period=60"));
        QCOMPARE(a.issuer, QStringLiteral("ACME Co"));
        QCOMPARE(a.name, QStringLiteral("john.doe@email.com"));
        QCOMPARE(a.secret, helloSecret);
        QCOMPARE(a.type, OTPType::totp);
        QCOMPARE(a.algorithm, HashAlgorithm::sha256);
        QCOMPARE(a.digits, 8);
        QCOMPARE(a.period, 60);
        QCOMPARE(a.counter, 0u);
        QVERIFY(!a.isSteam && !a.isFavorite && !a.folderID && !a.deletedAt && !a.lastUsedAt);
        QVERIFY(qAbs(a.createdAt.secsTo(QDateTime::currentDateTimeUtc())) < 5);
        // Every parse makes a new account.
        QVERIFY(OTPAuth::parse(QStringLiteral("otpauth://totp/x?secret=JBSWY3DPEHPK3PXP")).id !=
                OTPAuth::parse(QStringLiteral("otpauth://totp/x?secret=JBSWY3DPEHPK3PXP")).id);
    }

    void labelsAndIssuers_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("issuer");
        QTest::addColumn<QString>("name");
        const QString s = QStringLiteral("?secret=JBSWY3DPEHPK3PXP");
        QTest::newRow("capitals") << QStringLiteral("OTPAUTH://TOTP/Ab:Cd?SECRET=jbswy3dpehpk3pxp")
                                  << "Ab" << "Cd";
        QTest::newRow("spaces around colon") << "otpauth://totp/%20Acme%09:%20bob%20" + s << "Acme"
                                             << "bob";
        QTest::newRow("two colons") << "otpauth://totp/A:b:c" + s << "A" << "b:c";
        QTest::newRow("no colon keeps spaces") << "otpauth://totp/%20bob%20" + s << "" << " bob ";
        QTest::newRow("no path") << "otpauth://totp" + s << "" << "";
        QTest::newRow("issuer parameter wins") << "otpauth://totp/A:b" + s + "&issuer=Z" << "Z"
                                               << "b";
        QTest::newRow("empty issuer parameter keeps label")
            << "otpauth://totp/A:b" + s + "&issuer=" << "A" << "b";
        QTest::newRow("issuer parameter fills empty label issuer")
            << "otpauth://totp/bob" + s + "&issuer=Acme" << "Acme" << "bob";
        QTest::newRow("issuer holding a colon") << "otpauth://totp/A:B:bob" + s + "&issuer=A:B"
                                                << "A:B" << "bob";
        QTest::newRow("escaped percent decoded once") << "otpauth://totp/a%2541" + s << ""
                                                      << "a%41";
        QTest::newRow("plus stays plus") << "otpauth://totp/x" + s + "&issuer=a+b%2Bc" << "a+b+c"
                                         << "x";
        QTest::newRow("escaped delimiters") << "otpauth://totp/x" + s + "&issuer=A%26B%3DC"
                                            << "A&B=C" << "x";
        QTest::newRow("steam issuer is ordinary") << "otpauth://totp/Steam:me" + s << "Steam"
                                                  << "me";
    }
    void labelsAndIssuers() {
        QFETCH(QString, link);
        QFETCH(QString, issuer);
        QFETCH(QString, name);
        const Account a = OTPAuth::parse(link);
        QCOMPARE(a.issuer, issuer);
        QCOMPARE(a.name, name);
        QVERIFY(!a.isSteam);
    }

    void steamLinksGiveSteamAccounts() {
        // As Aegis and Ente export them; the code's form is always Steam's.
        for (const QString& query : {QString(), QStringLiteral("&digits=6&period=60&algorithm=SHA256")}) {
            const Account a =
                OTPAuth::parse("OTPAUTH://Steam/Steam:gamer?secret=JBSWY3DP&issuer=Steam" + query);
            QVERIFY(a.isSteam);
            QCOMPARE(a.type, OTPType::totp);
            QCOMPARE(a.algorithm, HashAlgorithm::sha1);
            QCOMPARE(a.digits, 5);
            QCOMPARE(a.period, 30);
            QCOMPARE(a.issuer, QStringLiteral("Steam"));
            QCOMPARE(a.name, QStringLiteral("gamer"));
            QCOMPARE(a.code(QDateTime::fromSecsSinceEpoch(59)).size(), 5);
        }
    }

    void parameters_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("algorithm");
        QTest::addColumn<qint64>("digits");
        QTest::addColumn<qint64>("period");
        QTest::addColumn<quint64>("counter");
        const auto sha1 = int(HashAlgorithm::sha1);
        QTest::newRow("defaults") << "" << sha1 << 6ll << 30ll << 0ull;
        QTest::newRow("lower-case algorithm") << "&algorithm=sha512" << int(HashAlgorithm::sha512)
                                              << 6ll << 30ll << 0ull;
        QTest::newRow("unknown algorithm") << "&algorithm=MD5" << sha1 << 6ll << 30ll << 0ull;
        QTest::newRow("empty algorithm") << "&algorithm=" << sha1 << 6ll << 30ll << 0ull;
        QTest::newRow("digits with plus") << "&digits=%2B7" << sha1 << 7ll << 30ll << 0ull;
        QTest::newRow("digits with space") << "&digits=%207" << sha1 << 6ll << 30ll << 0ull;
        QTest::newRow("digits with decimals") << "&digits=7.0" << sha1 << 6ll << 30ll << 0ull;
        QTest::newRow("period zero kept") << "&period=0" << sha1 << 6ll << 0ll << 0ull;
        QTest::newRow("period negative kept") << "&period=-15" << sha1 << 6ll << -15ll << 0ull;
        QTest::newRow("period overflow") << "&period=99999999999999999999" << sha1 << 6ll << 30ll
                                         << 0ull;
        QTest::newRow("counter max") << "&counter=9223372036854775807" << sha1 << 6ll << 30ll
                                     << 9223372036854775807ull;
        QTest::newRow("counter with plus") << "&counter=%2B7" << sha1 << 6ll << 30ll << 7ull;
        QTest::newRow("last occurrence wins") << "&digits=7&DIGITS=8" << sha1 << 8ll << 30ll
                                              << 0ull;
        QTest::newRow("bare name removes earlier") << "&digits=8&digits" << sha1 << 6ll << 30ll
                                                   << 0ull;
    }
    void parameters() {
        QFETCH(QString, query);
        QFETCH(int, algorithm);
        QFETCH(qint64, digits);
        QFETCH(qint64, period);
        QFETCH(quint64, counter);
        const Account a =
            OTPAuth::parse(QStringLiteral("otpauth://hotp/x?secret=JBSWY3DPEHPK3PXP") + query);
        QCOMPARE(int(a.algorithm), algorithm);
        QCOMPARE(a.digits, digits);
        QCOMPARE(a.period, period);
        QCOMPARE(a.counter, counter);
        QCOMPARE(a.type, OTPType::hotp);
    }

    // A counter that is given but is not one from 0 to 2^63-1 refuses the
    // link: started at 0, the account's codes would not match the server's.
    void countersThatAreNoCounterRefuseTheLink() {
        for (const char* counter : {"-1", "-5", "1.5", "1e19", "9223372036854775808",
                                    "18446744073709551615", "18446744073709551616", "x"}) {
            const QString link =
                QStringLiteral("otpauth://hotp/x?secret=JBSWY3DPEHPK3PXP&counter=") + counter;
            QVERIFY_THROWS_EXCEPTION(OTPAuth::ParseError, OTPAuth::parse(link));
        }
    }

    void secrets() {
        const QString base = QStringLiteral("otpauth://totp/x?");
        QCOMPARE(OTPAuth::parse(base + "secret=AAAA&secret=JBSWY3DPEHPK3PXP").secret, helloSecret);
        QCOMPARE(OTPAuth::parse(base + "secret=jbsw%20y3dp-ehpk3pxp====").secret, helloSecret);
        QCOMPARE(errorOf(base + "secret=JBSWY3DPEHPK3PXP&secret"), int(ParseError::missingSecret));
        QCOMPARE(errorOf(base + "issuer=x"), int(ParseError::missingSecret));
        QCOMPARE(errorOf(base + "secret="), int(ParseError::missingSecret));
        QCOMPARE(errorOf(base + "secret=JBSWY3DPEHPK3PX1"), int(ParseError::invalidSecret));
        QCOMPARE(errorOf(base + "secret===="), int(ParseError::invalidSecret));
        // Decodes, but to no bytes at all.
        QCOMPARE(errorOf(base + "secret=A"), int(ParseError::invalidSecret));
    }

    void refusals_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("error");
        QTest::newRow("not a url") << "otpauth://totp/a b?secret=JBSWY3DP"
                                   << int(ParseError::invalidURL);
        QTest::newRow("stray percent") << "otpauth://totp/a%?secret=JBSWY3DP"
                                       << int(ParseError::invalidURL);
        QTest::newRow("no scheme") << "totp/x?secret=JBSWY3DP" << int(ParseError::invalidURL);
        QTest::newRow("empty") << "" << int(ParseError::invalidURL);
        QTest::newRow("no host") << "otpauth:totp/x?secret=JBSWY3DP"
                                 << int(ParseError::invalidURL);
        QTest::newRow("web link") << "https://example.com/?secret=JBSWY3DP"
                                  << int(ParseError::unsupportedScheme);
        QTest::newRow("migration link") << "otpauth-migration://offline?data=CgA"
                                        << int(ParseError::unsupportedScheme);
        QTest::newRow("type before secret") << "otpauth://motp/x" << int(ParseError::unsupportedType);
        QTest::newRow("leading space kept") << " otpauth://totp/x?secret=JBSWY3DP"
                                            << int(ParseError::invalidURL);
        // Codes exist only for 1 to 9 digits.
        QTest::newRow("digits 0") << "otpauth://totp/x?secret=JBSWY3DP&digits=0"
                                  << int(ParseError::invalidURL);
        QTest::newRow("digits 10") << "otpauth://totp/x?secret=JBSWY3DP&digits=10"
                                   << int(ParseError::invalidURL);
        QTest::newRow("digits negative") << "otpauth://totp/x?secret=JBSWY3DP&digits=-6"
                                         << int(ParseError::invalidURL);
    }
    void refusals() {
        QFETCH(QString, link);
        QFETCH(int, error);
        QCOMPARE(errorOf(link), error);
    }

    void errorMessages() {
        QCOMPARE(ParseError(ParseError::invalidURL).message(), "Invalid otpauth URL.");
        QCOMPARE(ParseError(ParseError::unsupportedScheme).message(), "Unsupported URL scheme.");
        QCOMPARE(ParseError(ParseError::missingSecret).message(), "Missing secret in URL.");
        QCOMPARE(ParseError(ParseError::invalidSecret).message(),
                 "Could not decode secret (Base32).");
        QCOMPARE(ParseError(ParseError::unsupportedType).message(), "Unsupported OTP type.");
        QCOMPARE(ParseError(ParseError::migrationDecodeFailed).message(),
                 "Could not decode Google Authenticator export.");
    }

    // What the link writer produces, the parser reads back as the same account.
    void writtenLinksParseBack() {
        QRandomGenerator random(20261208);
        const QStringList pieces = {"a",   "Z",  "bob", " ", "/",   "?",   ":", "%",  "%41", "&",
                                    "=",   "+",  "#",   "é", "日本", "ß",  "@", "\t", ".",   "~",
                                    "😀", "\\", "'",   "\"", "[",  "]"};
        const auto text = [&](bool colons) {
            QString out;
            const int length = 1 + random.bounded(8);
            while (out.size() < length) {
                const QString piece = pieces[random.bounded(pieces.size())];
                if (!colons && piece == QLatin1String(":"))
                    continue;
                out += piece;
            }
            // Names keep surrounding blanks only without an issuer; keep them
            // out of both so the comparison is about encoding alone.
            while (!out.isEmpty() && (out.front().isSpace()))
                out.remove(0, 1);
            while (!out.isEmpty() && (out.back().isSpace()))
                out.chop(1);
            return out.isEmpty() ? QStringLiteral("x") : out;
        };
        for (int i = 0; i < 400; ++i) {
            Account account;
            account.issuer = i % 5 == 0 ? QString() : text(true);
            // Without an issuer the first colon of the label separates one.
            account.name = text(!account.issuer.isEmpty());
            account.secret = QByteArray(1 + random.bounded(64), Qt::Uninitialized);
            for (char& byte : account.secret)
                byte = char(random.bounded(256));
            account.type = i % 3 == 0 ? OTPType::hotp : OTPType::totp;
            account.algorithm = allHashAlgorithms[random.bounded(3)];
            account.digits = 1 + random.bounded(9);
            account.period = 1 + random.bounded(300);
            account.counter = random.generate64() >> 1; // links carry counters up to 2^63-1

            const QString link = account.otpauthURL();
            Account parsed;
            try {
                parsed = OTPAuth::parse(link);
            } catch (const ParseError& error) {
                QFAIL(qPrintable(link + ": " + error.message()));
            }
            QCOMPARE(parsed.name, account.name);
            QCOMPARE(parsed.issuer, account.issuer);
            QCOMPARE(parsed.secret, account.secret);
            QCOMPARE(parsed.type, account.type);
            QCOMPARE(parsed.algorithm, account.algorithm);
            QCOMPARE(parsed.digits, account.digits);
            if (account.type == OTPType::totp)
                QCOMPARE(parsed.period, account.period);
            else
                QCOMPARE(parsed.counter, account.counter);
        }
    }

};

QUILLET_TEST_GUILESS_MAIN(OTPAuthTests)
#include "OTPAuthTests.moc"
