#include "intake/Importers.h"
#include "intake/OTPAuth.h"
#include "platform/crypto/Crypto.h"
#include "tests/intake/ImportSamples.h"
#include "tests/support/TestMain.h"

#include <QtTest>

using Importers::ImportError;
using namespace ImportSamples;

namespace {

// JSON written with single quotes, for readable fixtures.
QString js(const char* text) {
    return QString::fromUtf8(text).replace(QLatin1Char('\''), QLatin1Char('"'));
}

// 2FAS's first schema writes no token type or code settings, so every
// service reads as a six-digit SHA1 TOTP.
Want asTotp(Want w, qint64 digits = 6, qint64 period = 30, HashAlgorithm algorithm = sha1) {
    w.type = totp, w.steam = false, w.counter = 0, w.digits = digits, w.period = period,
    w.algorithm = algorithm;
    return w;
}

// The error a text gives, or none when accounts come back.
std::optional<ImportError> failure(const QString& text,
                                   const std::optional<QString>& password = std::nullopt) {
    try {
        Importers::parse(text, password);
        return std::nullopt;
    } catch (const ImportError& error) {
        return error;
    }
}
const ImportError unrecognized(ImportError::unrecognized);
const ImportError needs2FASPassword(ImportError::needsPassword, QStringLiteral("2FAS"));
const ImportError wrong2FASPassword(ImportError::wrongPassword, QStringLiteral("2FAS"));
const ImportError aegisEncrypted(ImportError::encrypted, QStringLiteral("Aegis"));

// A 2FAS "servicesEncrypted" text: sealed data, salt and nonce in Base64.
QString seal2FAS(const QByteArray& plaintext, const QString& password,
                 const QByteArray& salt = "0123456789abcdef",
                 const QByteArray& nonce = "nonce-twelve") {
    const auto key = Crypto::pbkdf2Sha256(password.toUtf8(), salt, 10000, 32);
    const QByteArray box = Crypto::aesGcmSeal(*key, nonce, plaintext)->mid(12);
    return QString::fromLatin1(box.toBase64() + ':' + salt.toBase64() + ':' + nonce.toBase64());
}

const QByteArray oneService =
    js("[{'name':'Svc','secret':'JBSWY3DPEHPK3PXP','otp':{'account':'bob'}}]").toUtf8();

} // namespace

class ImportersTests : public QObject {
    Q_OBJECT

    // One export of each format (full paths), and the accounts each gives.
    struct Exports {
        QString links, aegis, aegisEncrypted, twoFASv1, twoFASv2, twoFASSealed, bitwarden, proton;
        QList<Want> fromLinks, fromAegis, fromTwoFASv1, fromTwoFASv2, fromBitwarden, fromProton;
    };

    // Rows of an export file, its password (empty: none), and either the
    // accounts it gives or the message of the error it gives: every format
    // read whole, the encrypted ones with their errors.
    static void addRows(const Exports& e) {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QList<Want>>("want");
        QTest::addColumn<QString>("error");
        const QString none;
        QTest::newRow("links") << e.links << none << e.fromLinks << none;
        QTest::newRow("aegis") << e.aegis << none << e.fromAegis << none;
        QTest::newRow("aegis encrypted") << e.aegisEncrypted << none << QList<Want>()
                                         << aegisEncrypted.message();
        QTest::newRow("2fas schema 1") << e.twoFASv1 << none << e.fromTwoFASv1 << none;
        QTest::newRow("2fas schema 2") << e.twoFASv2 << none << e.fromTwoFASv2 << none;
        QTest::newRow("2fas sealed") << e.twoFASSealed << "test" << e.fromTwoFASv2 << none;
        QTest::newRow("2fas sealed, no password") << e.twoFASSealed << none << QList<Want>()
                                                  << needs2FASPassword.message();
        QTest::newRow("2fas sealed, wrong password") << e.twoFASSealed << "Test" << QList<Want>()
                                                     << wrong2FASPassword.message();
        QTest::newRow("bitwarden") << e.bitwarden << none << e.fromBitwarden << none;
        QTest::newRow("proton") << e.proton << none << e.fromProton << none;
    }
    static void checkImport() {
        QFETCH(QString, path);
        QFETCH(QString, password);
        QFETCH(QList<Want>, want);
        QFETCH(QString, error);
        const QString text = QString::fromUtf8(ImportSamples::read(path));
        try {
            const Importers::Import got = Importers::read(
                text, password.isEmpty() ? std::nullopt : std::optional(password));
            QVERIFY2(error.isEmpty(), qPrintable("accounts, not the error: " + error));
            COMPARE_ACCOUNTS(got.accounts, want);
            QCOMPARE(got.unreadable, 0);
        } catch (const ImportError& e) {
            QCOMPARE(e.message(), error);
        }
    }

private slots:
    // The project's samples, field by field; what each gives follows the
    // readers' rules for what the file holds.
    void importsEverySample_data() {
        const QString dir = samplePath(QStringLiteral("exports/"));
        QList<Want> schema1;
        for (const Want& w : seven) schema1.append(asTotp(w));
        Want bitwardenSteam = boeing; // a steam:// secret: the item's name is the issuer
        bitwardenSteam.name.clear();
        addRows({.links = dir + "plain.txt",
                 .aegis = dir + "aegis_plain.json",
                 .aegisEncrypted = dir + "aegis_encrypted.json",
                 .twoFASv1 = dir + "2fas_schema1.json",
                 .twoFASv2 = dir + "2fas_plain.2fas",
                 .twoFASSealed = dir + "2fas_encrypted.2fas",
                 .bitwarden = dir + "bitwarden.json",
                 .proton = dir + "proton_authenticator.json",
                 .fromLinks = seven,
                 .fromAegis = seven,
                 .fromTwoFASv1 = schema1,
                 .fromTwoFASv2 = seven,
                 // A bare secret under "issuer: account", two links and a
                 // Steam secret; a secure note and a login without codes
                 // give nothing.
                 .fromBitwarden = {deno, spdx, airbnb, bitwardenSteam},
                 .fromProton = {deno, spdx, airbnb}});
    }
    void importsEverySample() { checkImport(); }

    // The same for the real exports of the applications themselves.
    void conformance_data() {
        if (conformanceDir().isEmpty())
            QSKIP("the real exports are read by the ImportersTests_conformance test");
        const QString dir = conformanceDir() + QStringLiteral("/exports/");
        Want plusCanada = airCanada; // a "+" in a link's issuer stays a plus sign
        plusCanada.issuer = QStringLiteral("Air+Canada");
        QList<Want> twoFASv1;
        for (const Want& w : {deno, spdx, airbnb, issuu, airCanada, wwe})
            twoFASv1.append(asTotp(w));
        Want bitwardenSteam = boeing;
        bitwardenSteam.issuer = QStringLiteral("Test Steam");
        bitwardenSteam.name.clear();
        addRows({.links = dir + "plain.txt",
                 .aegis = dir + "aegis_plain.json",
                 .aegisEncrypted = dir + "aegis_encrypted.json",
                 .twoFASv1 = dir + "2fas_authenticator.json",
                 .twoFASv2 = dir + "2fas_authenticator_plain.2fas",
                 .twoFASSealed = dir + "2fas_authenticator_encrypted.2fas",
                 .bitwarden = dir + "bitwarden.json",
                 .proton = dir + "proton_authenticator.json",
                 // Its Steam account comes as an otpauth://steam/ link.
                 .fromLinks = {deno, spdx, airbnb, issuu, plusCanada, wwe, boeing},
                 .fromAegis = seven,
                 .fromTwoFASv1 = twoFASv1,
                 // 2FAS left out SPDX, Air Canada and Boeing, and wrote no
                 // token type.
                 .fromTwoFASv2 = {asTotp(deno), asTotp(airbnb, 8, 50, sha512), asTotp(issuu),
                                  asTotp(wwe, 8, 30, sha512)},
                 .fromBitwarden = {deno, spdx, airbnb, bitwardenSteam},
                 .fromProton = {deno, spdx, airbnb}});
    }
    void conformance() { checkImport(); }

    void errorsNameTheApplication() {
        // An empty password is no password.
        QCOMPARE(failure(sample(QStringLiteral("exports/2fas_encrypted.2fas")), QString()),
                 needs2FASPassword);
        // A reader's error ends the dispatch, even with a link elsewhere in the file.
        QCOMPARE(failure(js("{'db':'x','l':'otpauth://totp/a?secret=JBSWY3DP'}")), aegisEncrypted);

        QCOMPARE(needs2FASPassword.message(),
                 "This 2FAS backup is password-protected. Enter its password to import.");
        QCOMPARE(wrong2FASPassword.message(),
                 QString::fromUtf8("Couldn't decrypt the 2FAS backup "
                                   "\u2014 check the password and try again."));
        QCOMPARE(aegisEncrypted.message(),
                 "This Aegis backup is password-encrypted. Decrypt/export "
                 "it without a password and try again.");
        QCOMPARE(unrecognized.message(),
                 "Couldn't recognize this backup. Supported: otpauth links, Google Authenticator, "
                 "2FAS, Aegis, Bitwarden, and Proton Authenticator.");
        QCOMPARE(QString::fromUtf8(wrong2FASPassword.what()), wrong2FASPassword.message());
    }

    void twoFASDecryptionFailures_data() {
        QTest::addColumn<QString>("sealed");
        const QString good = seal2FAS(oneService, "pw");
        const QStringList parts = good.split(':');
        QTest::newRow("fourth piece") << good + ":";
        QTest::newRow("blank in base64") << " " + good;
        QTest::newRow("11-byte nonce")
            << seal2FAS(oneService, "pw").section(':', 0, 1) + ":" + QByteArray(11, 'n').toBase64();
        QTest::newRow("empty salt") << parts[0] + "::" + parts[2];
        QTest::newRow("16-byte sealed data")
            << QByteArray(16, 's').toBase64() + ":" + parts[1] + ":" + parts[2];
        QTest::newRow("flipped byte") << QString(good).replace(0, 1, good[0] == 'A' ? "B" : "A");
    }
    void twoFASDecryptionFailures() {
        QFETCH(QString, sealed);
        QCOMPARE(failure(QJsonDocument(QJsonObject{{"servicesEncrypted", sealed}}).toJson(), "pw"),
                 wrong2FASPassword);
    }

    void twoFASReadingRules() {
        const QString sealed = seal2FAS(oneService, "pw");
        const auto doc = [](const QJsonObject& o) { return QString(QJsonDocument(o).toJson()); };
        const QJsonArray services = QJsonDocument::fromJson(oneService).array();
        // Plain services win over a sealed list; an empty list asks for the password.
        QCOMPARE(
            Importers::parse(doc({{"services", services}, {"servicesEncrypted", sealed}})).size(),
            1);
        QCOMPARE(failure(doc({{"services", QJsonArray()}, {"servicesEncrypted", sealed}})),
                 needs2FASPassword);
        const Account a =
            Importers::parse(doc({{"servicesEncrypted", sealed}}), QStringLiteral("pw")).value(0);
        QCOMPARE(a.issuer, "Svc"); // no otp issuer: the service name
        QCOMPARE(a.name, "bob");
        // A sealed payload that is not a list of services is not an import.
        QCOMPARE(failure(doc({{"servicesEncrypted", seal2FAS("{}", "pw")}}), "pw"), unrecognized);

        const auto service = [](const QJsonObject& otp) {
            return Importers::parse2FASServices({QJsonObject{{"secret", "JBSWY3DP"}, {"otp", otp}}})
                .value()
                .value(0);
        };
        const Account steam = service({{"tokenType", "steam"}});
        QVERIFY(steam.isSteam && steam.type == OTPType::totp && steam.digits == 6);
        const Account counter = service(
            {{"tokenType", "hotp"}, {"counter", 7.0}, {"algorithm", "sha256"}, {"issuer", ""}});
        QVERIFY(counter.type == OTPType::hotp && counter.counter == 7 &&
                counter.algorithm == sha256);
        QCOMPARE(counter.issuer, QString());
    }

    void numbersAndTypesFallBack() {
        const auto aegis = [](const QJsonObject& info, const QString& type = "totp") {
            QJsonObject entry{{"type", type}, {"name", "n"}, {"info", info}};
            return Importers::parseAegis({{"db", QJsonObject{{"entries", QJsonArray{entry}}}}});
        };
        const auto one = [&](const QJsonObject& info, const QString& type = "totp") {
            const auto accounts = aegis(info, type);
            return accounts ? accounts->value(0) : Account{};
        };
        const QString s = "JBSWY3DP";
        QCOMPARE(one({{"secret", s}, {"digits", 8.0}, {"period", 30.5}}).digits, 8);
        QCOMPARE(one({{"secret", s}, {"period", 30.5}}).period, 30);
        QCOMPARE(one({{"secret", s}, {"digits", "8"}}).digits, 6);
        QCOMPARE(one({{"secret", s}, {"period", -5}}).period, -5); // copied; codes treat it as 1
        QCOMPARE(one({{"secret", s}, {"algo", "sha512"}}).algorithm, sha512);
        QCOMPARE(one({{"secret", s}, {"algo", 256}}).algorithm, sha1);
        QCOMPARE(one({{"secret", s}}, "HOTP").type, hotp);
        // Entries with no usable secret, a digit count no code has, or a
        // counter that is not a whole number from 0 to 2^63-1 are left out
        // and counted; the export is still recognized.
        const auto leftOut = [&](const QJsonObject& info) {
            int unreadable = 0;
            QJsonObject entry{{"type", "hotp"}, {"name", "n"}, {"info", info}};
            const auto accounts = Importers::parseAegis(
                {{"db", QJsonObject{{"entries", QJsonArray{entry}}}}}, &unreadable);
            return accounts && accounts->isEmpty() && unreadable == 1;
        };
        QVERIFY(leftOut({{"secret", 12}}));
        QVERIFY(leftOut({{"secret", "A"}})); // decodes to zero bytes
        QVERIFY(leftOut({{"secret", s}, {"digits", 0}}));
        const QList<QJsonValue> badCounters{-1, 1.5, "7", 1e19, 9223372036854775808.0,
                                            18446744073709551615.0, true};
        for (const QJsonValue& counter : badCounters)
            QVERIFY2(leftOut({{"secret", s}, {"counter", counter}}),
                     qPrintable(QJsonDocument(QJsonArray{counter}).toJson()));
        QCOMPARE(one({{"secret", s}, {"counter", qint64(9223372036854775807)}}, "HOTP").counter,
                 9223372036854775807ull);
        QCOMPARE(one({{"secret", s}, {"counter", QJsonValue()}}, "HOTP").counter, 0u);
    }

    void bitwardenAndProtonShapes() {
        const auto bitwarden = [](const QString& name, const QString& totp) {
            const QJsonObject item{{"name", name}, {"login", QJsonObject{{"totp", totp}}}};
            return Importers::parseBitwarden({{"items", QJsonArray{item}}});
        };
        Account a = bitwarden("Mail: alice", "jbsw y3dp\t").value().value(0);
        QVERIFY(a.issuer == "Mail" && a.name == "alice" && a.digits == 6 && !a.isSteam);
        a = bitwarden(" Mail ", "JBSWY3DP").value().value(0);
        QVERIFY(a.issuer == " Mail " && a.name.isEmpty());
        a = bitwarden("Game", "STEAM://JBSWY3DP").value().value(0);
        QVERIFY(a.issuer == "Game" && a.isSteam && a.digits == 5);
        QVERIFY(!bitwarden("x", "\t ").has_value());
        QVERIFY(bitwarden("x", "otpauth://totp/a?secret=!").value().isEmpty());
        QVERIFY(!Importers::parseBitwarden(
            {{"items", QJsonArray{QJsonObject{{"login", QJsonObject()}}}}}));

        // A Proton entry whose link fails is read from its own fields.
        const QJsonObject entry{{"content", QJsonObject{{"uri", "otpauth://totp/x?secret=!!"},
                                                        {"secret", "JBSWY3DP"},
                                                        {"issuer", "P"},
                                                        {"entry_type", "HOTP-SHA1"}}}};
        a = Importers::parseProton({{"entries", QJsonArray{entry}}}).value().value(0);
        QVERIFY(a.issuer == "P" && a.type == hotp && a.secret == "Hello");
        a = Importers::parseProton(
                {{"entries",
                  QJsonArray{QJsonObject{{"url", "otpauth://hotp/I:n?secret=JBSWY3DP"}}}}})
                .value()
                .value(0);
        QVERIFY(a.issuer == "I" && a.type == hotp);
    }

    void dispatchEdges_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count"); // accounts, or -1 for unrecognized
        const QString link = "otpauth://totp/A:b?secret=JBSWY3DP";
        QTest::newRow("blank") << " \n\r\n\u2029" << -1;
        QTest::newRow("one bad of two lines") << link + "\r\notpauth://totp/x?secret=!" << 1;
        QTest::newRow("tab joins two links into one bad piece") << link + "\t" + link << -1;
        QTest::newRow("links among words") << "see " + link + "\u2028and\u0085" + link << 2;
        QTest::newRow("only bad links") << "otpauth://totp/x otpauth://hotp/y?secret=1" << -1;
        QTest::newRow("steam link") << "otpauth://steam/x?secret=JBSWY3DP" << 1;
        QTest::newRow("generic walk") << js("{'a':{'b':[{'c':'") + link + js("'}]}}") << 1;
        QTest::newRow("top-level array") << "[\"" + link + "\"]" << -1;
        QTest::newRow("aegis, no valid secret")
            << js("{'db':{'entries':[{'info':{'secret':'!'}}]}}") << 0;
        QTest::newRow("wrong member types")
            << js("{'services':'x','db':[1],'items':{},'entries':[1]}") << -1;
        QTest::newRow("deep nesting") << QString(5000, '[') << -1;
        const QString aegisDigits =
            js("{'db':{'entries':[{'info':{'secret':'JBSWY3DP','digits':%1}}]}}");
        QTest::newRow("digits beyond 64 bits") << aegisDigits.arg("99999999999999999999999") << 1;
        QTest::newRow("digits at the 64-bit limit") << aegisDigits.arg("9223372036854775807") << 0;
        QTest::newRow("counter beyond 64 bits")
            << aegisDigits.arg("6,\"counter\":18446744073709551616") << 0;
        for (const char* file : {"aegis_plain.json", "2fas_schema1.json", "bitwarden.json",
                                 "proton_authenticator.json", "2fas_plain.2fas"}) {
            const QString whole = sample(QStringLiteral("exports/") + file);
            QTest::addRow("truncated %s", file) << whole.left(whole.size() / 2) << -1;
        }
    }
    void dispatchEdges() {
        QFETCH(QString, text);
        QFETCH(int, count);
        int got = -1;
        try {
            got = int(Importers::parse(text).size());
        } catch (const ImportError& e) {
            QCOMPARE(e, unrecognized);
        }
        QCOMPARE(got, count);
    }

    void unreadableLinksAreCounted() {
        const QString good = "otpauth://totp/A:b?secret=JBSWY3DP";
        const QString bad = "otpauth://yaotp/A:c?secret=JBSWY3DP";
        Importers::Import got = Importers::read(good + "\n" + bad + "\n" + bad);
        QCOMPARE(got.accounts.size(), 1);
        QCOMPARE(got.unreadable, 2);
        // Inside JSON of no known shape, and in a Bitwarden export.
        got = Importers::read(js("{'x':['") + good + js("','") + bad + js("']}"));
        QCOMPARE(got.accounts.size(), 1);
        QCOMPARE(got.unreadable, 1);
        got = Importers::read(js("{'items':[{'name':'A','login':{'totp':'") + bad +
                              js("'}},{'name':'B','login':{'totp':'JBSWY3DP'}}]}"));
        QCOMPARE(got.accounts.size(), 1);
        QCOMPARE(got.unreadable, 1);
    }

    // Every reader holds the account rule of a restore: the forged
    // values are left out and counted, names lose controls and overrides.
    void everyReaderRefusesWhatARestoreRefuses() {
        const QString hostile = QString::fromUtf8("Ho\0st\x1b[2Jile\xe2\x80\xae", 15);
        QJsonArray entries{QJsonObject{{"type", "totp"}, {"name", "ok"}, {"issuer", hostile},
                                       {"info", QJsonObject{{"secret", "JBSWY3DP"}}}}};
        for (const QJsonObject& info :
             {QJsonObject{{"digits", 0}}, QJsonObject{{"digits", -1}}, QJsonObject{{"digits", 100}},
              QJsonObject{{"digits", 1000000000}}, QJsonObject{{"period", 0}},
              QJsonObject{{"period", -1}}, QJsonObject{{"counter", -1}},
              QJsonObject{{"counter", 1.5}}, QJsonObject{{"counter", "7"}},
              QJsonObject{{"counter", 1e19}}}) {
            QJsonObject withSecret = info;
            withSecret["secret"] = "JBSWY3DP";
            entries.append(QJsonObject{{"type", "hotp"}, {"name", "bad"}, {"info", withSecret}});
        }
        entries.append(QJsonObject{{"name", "empty"}, {"info", QJsonObject{{"secret", ""}}}});
        const QString aegis =
            QJsonDocument(QJsonObject{{"db", QJsonObject{{"entries", entries}}}}).toJson();
        Importers::Import got = Importers::read(aegis);
        QCOMPARE(got.accounts.size(), 1);
        QCOMPARE(got.accounts[0].issuer, QStringLiteral("Host[2Jile"));
        QCOMPARE(got.unreadable, 11);

        // The same values in links, and a migration counter beyond 2^63-1.
        const QString base = "otpauth://hotp/I:n?secret=JBSWY3DP";
        got = Importers::read(base + "&period=0\n" + base + "&digits=0\n" + base +
                              "&counter=-1\n" + base + "&counter=9223372036854775808\n" + base +
                              "&issuer=%E2%80%AEI%1B%E2%80%A8J\n");
        QCOMPARE(got.accounts.size(), 1);
        QCOMPARE(got.accounts[0].issuer, QStringLiteral("I J")); // a line separator is a space
        QCOMPARE(got.unreadable, 4);
        // Everything refused: no account, the count and the first reason.
        got = Importers::read(base + "&period=0");
        QVERIFY(got.accounts.isEmpty());
        QCOMPARE(got.unreadable, 1);
        QCOMPARE(got.refusal, QStringLiteral("An account has a period shorter than one second."));
    }

    void severalMigrationLinksGiveEveryLinksAccounts() {
        const QStringList links = linesOfLinks(sample(QStringLiteral("migration/links.txt")));
        QCOMPARE(links.size(), 3);

        // One per line, as a multi-page export is pasted (CR LF too).
        Importers::Import got = Importers::read(links.join("\r\n") + "\n");
        COMPARE_ACCOUNTS(got.accounts, migrationLinks);
        QCOMPARE(got.unreadable, 0);
        // A damaged page among them is counted and the others still come.
        got = Importers::read(links[0] + "\notpauth-migration://offline?data=!\n" + links[1]);
        COMPARE_ACCOUNTS(got.accounts, migrationLinks.first(3));
        QCOMPARE(got.unreadable, 1);
        // Only damaged pages: the first one's error says why.
        try {
            Importers::read("otpauth-migration://offline?data=!\notpauth-migration://offline");
            QFAIL("no error");
        } catch (const OTPAuth::ParseError& e) {
            QCOMPARE(e, OTPAuth::ParseError(OTPAuth::ParseError::migrationDecodeFailed));
        }
        // A link broken across two lines is refused, not read in half.
        QVERIFY_THROWS_EXCEPTION(OTPAuth::ParseError,
                                 Importers::read(links[0].left(60) + "\n" + links[0].mid(60)));
    }

    void migrationLinksPassThrough() {
        const QString link = linesOfLinks(sample(QStringLiteral("migration/links.txt"))).value(2);
        // Capitals at the start still take the migration path, case kept.
        COMPARE_ACCOUNTS(Importers::parse("  OTPAUTH-MIGRATION" + link.mid(17) + "\n"),
                         {migrationLinks[3]});
        QVERIFY_THROWS_EXCEPTION(OTPAuth::ParseError,
                                 Importers::parse("otpauth-migration://offline?data=!"));
    }
};

QUILLET_TEST_APPLESS_MAIN(ImportersTests)
#include "ImportersTests.moc"
