#include "intake/OTPAuth.h"
#include "tests/intake/ImportSamples.h"
#include "tests/support/TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

using OTPAuth::ParseError;
using namespace ImportSamples;

namespace {

// A small writer of the Protocol Buffers wire format, to build payloads the
// way Google Authenticator lays them out.
QByteArray varint(quint64 value) {
    QByteArray out;
    do {
        quint8 byte = value & 0x7F;
        value >>= 7;
        if (value)
            byte |= 0x80;
        out.append(char(byte));
    } while (value);
    return out;
}
QByteArray tag(quint64 field, int wireType) { return varint(field << 3 | quint64(wireType)); }
QByteArray lengthField(quint64 field, const QByteArray& value) {
    return tag(field, 2) + varint(quint64(value.size())) + value;
}
QByteArray varintField(quint64 field, quint64 value) { return tag(field, 0) + varint(value); }

struct Entry {
    QByteArray secret = QByteArrayLiteral("12345678901234567890");
    QByteArray name = "alice@example.com";
    QByteArray issuer = "Example";
    quint64 algorithm = 1, digits = 1, type = 2, counter = 0;

    QByteArray bytes() const {
        return lengthField(1, secret) + lengthField(2, name) + lengthField(3, issuer) +
               varintField(4, algorithm) + varintField(5, digits) + varintField(6, type) +
               varintField(7, counter);
    }
};

// A full export: entries, then version, batch size, index and a negative
// batch id (a ten-byte varint), as the exporting application writes them.
QByteArray payload(const QList<Entry>& entries) {
    QByteArray out;
    for (const Entry& entry : entries)
        out += lengthField(1, entry.bytes());
    return out + varintField(2, 1) + varintField(3, 1) + varintField(4, 0) +
           varintField(5, quint64(-123456789ll));
}

QString link(const QByteArray& payload, bool urlSafe = false) {
    QByteArray base64 = payload.toBase64(urlSafe ? QByteArray::Base64UrlEncoding
                                                    | QByteArray::OmitTrailingEquals
                                              : QByteArray::Base64Encoding);
    return QStringLiteral("otpauth-migration://offline?data=") +
           QString::fromLatin1(base64.toPercentEncoding());
}

int errorOf(const QString& text) {
    try {
        OTPAuth::parseMigration(text);
        return -1;
    } catch (const ParseError& error) {
        return error.kind();
    }
}

} // namespace

class MigrationTests : public QObject {
    Q_OBJECT

private slots:
    // A three-page export: two accounts in the first link, HOTP counters,
    // names that are not ASCII, batch ids of ten-byte varints.
    void decodesEverySampleLink() {
        const QStringList links = linesOfLinks(sample(QStringLiteral("migration/links.txt")));
        QList<Account> accounts;
        QList<qsizetype> perLink;
        for (const QString& link : links) {
            const QList<Account> found = OTPAuth::parseMigration(link);
            perLink << found.size();
            accounts += found;
        }
        QCOMPARE(perLink, (QList<qsizetype>{2, 1, 1}));
        COMPARE_ACCOUNTS(accounts, migrationLinks);
    }

    // The exporter's own links, against the accounts it listed for them.
    void conformance() {
        if (conformanceDir().isEmpty())
            QSKIP("the exporter's own links are read by the MigrationTests_conformance test");
        QList<Account> accounts;
        const QString links =
            ImportSamples::conformance(QStringLiteral("migration/example_export.txt"));
        for (const QString& link : linesOfLinks(links))
            accounts += OTPAuth::parseMigration(link);
        QList<Want> want;
        const QJsonArray listed = QJsonDocument::fromJson(ImportSamples::read(
            conformanceDir() + QStringLiteral("/migration/example_output.json"))).array();
        for (const QJsonValue& value : listed) {
            const QJsonObject w = value.toObject();
            want.append({w["issuer"].toString(), w["name"].toString(), w["secret"].toString(),
                         otpTypeFromText(w["type"].toString()).value(), false, HashAlgorithm::sha1,
                         6, 30, quint64(w["counter"].toInteger(0))});
        }
        QCOMPARE(want.size(), 6);
        COMPARE_ACCOUNTS(accounts, want);
    }

    void mapsEveryField() {
        Entry hotp;
        hotp.algorithm = 3;
        hotp.digits = 2;
        hotp.type = 1;
        hotp.counter = 1ull << 63 | 5;
        hotp.name = "Example:bob";
        Entry other;
        other.algorithm = 2;
        other.name = "\xFF\xFE not utf-8";
        const QList<Account> accounts =
            OTPAuth::parseMigration(link(payload({hotp, other}), true));
        QCOMPARE(accounts.size(), 2);
        QCOMPARE(accounts[0].algorithm, HashAlgorithm::sha512);
        QCOMPARE(accounts[0].digits, 8);
        QCOMPARE(accounts[0].type, OTPType::hotp);
        QCOMPARE(accounts[0].counter, 1ull << 63 | 5);
        QCOMPARE(accounts[0].name, QStringLiteral("Example:bob")); // never split
        QCOMPARE(accounts[0].issuer, QStringLiteral("Example"));
        QCOMPARE(accounts[0].secret, QByteArrayLiteral("12345678901234567890"));
        QCOMPARE(accounts[1].algorithm, HashAlgorithm::sha256);
        QCOMPARE(accounts[1].name, QString());
        QVERIFY(accounts[0].id != accounts[1].id);
    }

    void unknownCodesFallBack_data() {
        QTest::addColumn<quint64>("code");
        for (quint64 code : {0ull, 1ull, 4ull, 99ull})
            QTest::addRow("code %llu", code) << code;
    }
    void unknownCodesFallBack() {
        QFETCH(quint64, code);
        Entry entry;
        entry.algorithm = code;
        entry.digits = code == 1 ? 3 : code;
        entry.type = code == 1 ? 2 : code;
        const QList<Account> accounts = OTPAuth::decodeMigrationPayload(payload({entry}));
        QCOMPARE(accounts.size(), 1);
        QCOMPARE(accounts[0].algorithm, HashAlgorithm::sha1);
        QCOMPARE(accounts[0].digits, 6);
        QCOMPARE(accounts[0].type, OTPType::totp);
        QCOMPARE(accounts[0].period, 30);
    }

    void linkErrors_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        QTest::newRow("otpauth scheme") << "otpauth://totp/x?secret=JBSWY3DP"
                                        << int(ParseError::unsupportedScheme);
        QTest::newRow("no scheme") << "offline?data=CgA" << int(ParseError::unsupportedScheme);
        QTest::newRow("not a url") << "otpauth-migration://off line?data=CgA"
                                   << int(ParseError::invalidURL);
        QTest::newRow("no query") << "otpauth-migration://offline" << int(ParseError::invalidURL);
        QTest::newRow("no data") << "otpauth-migration://offline?x=1" << int(ParseError::invalidURL);
        QTest::newRow("empty data then data") << "otpauth-migration://offline?data&data=CgA"
                                              << int(ParseError::invalidURL);
        QTest::newRow("space in data") << "otpauth-migration://offline?data=Cg%20A"
                                       << int(ParseError::migrationDecodeFailed);
        QTest::newRow("line break in data") << "otpauth-migration://offline?data=Cg%0AA"
                                            << int(ParseError::migrationDecodeFailed);
        QTest::newRow("five characters") << "otpauth-migration://offline?data=CgABC"
                                         << int(ParseError::migrationDecodeFailed);
    }
    void linkErrors() {
        QFETCH(QString, text);
        QFETCH(int, error);
        QCOMPARE(errorOf(text), error);
    }

    void acceptsEitherAlphabetAndCase() {
        const QByteArray bytes = payload({Entry{}, Entry{}});
        QCOMPARE(OTPAuth::parseMigration(link(bytes, true)).size(), 2);
        QCOMPARE(OTPAuth::parseMigration(link(bytes, false)).size(), 2);
        QString upper = link(bytes);
        upper.replace(QLatin1String("otpauth-migration"), QLatin1String("OTPAUTH-MIGRATION"))
            .replace(QLatin1String("data="), QLatin1String("DATA="));
        QCOMPARE(OTPAuth::parseMigration(upper).size(), 2);
    }

    void damagedPayloadsKeepWhatCameBefore() {
        Entry noSecret;
        noSecret.secret.clear();
        const QByteArray good = lengthField(1, Entry{}.bytes());
        // Entries without a secret are dropped, their neighbours stay.
        QCOMPARE(OTPAuth::decodeMigrationPayload(good + lengthField(1, noSecret.bytes()) + good)
                     .size(),
                 2);
        QVERIFY(OTPAuth::decodeMigrationPayload({}).isEmpty());
        QVERIFY(OTPAuth::decodeMigrationPayload(varintField(2, 1)).isEmpty());
        // Skippable fields of every complete wire type, then a group ends it.
        const QByteArray skippable = varintField(9, 300) + tag(10, 1) + QByteArray(8, 'x') +
                                     tag(11, 5) + QByteArray(4, 'x') + lengthField(12, "abc");
        QCOMPARE(OTPAuth::decodeMigrationPayload(skippable + good + tag(13, 3) + good).size(), 1);
        QCOMPARE(OTPAuth::decodeMigrationPayload(good + tag(13, 7) + good).size(), 1);
        // A last entry whose length runs past the end.
        const QByteArray truncated = good + good.left(good.size() - 3);
        QCOMPARE(OTPAuth::decodeMigrationPayload(truncated).size(), 1);
        // A fixed-size field ending exactly at the end is complete.
        QCOMPARE(OTPAuth::decodeMigrationPayload(good + tag(10, 1) + QByteArray(8, 'x')).size(), 1);
        // A length claiming almost 2^64 bytes.
        QCOMPARE(OTPAuth::decodeMigrationPayload(good + tag(1, 2) + varint(~0ull) + "x").size(), 1);
        QCOMPARE(OTPAuth::decodeMigrationPayload(good + tag(1, 2) + varint(1ull << 63)).size(), 1);
    }

    void entryReaderRules() {
        const QByteArray base = Entry{}.bytes();
        // A failing known varint keeps the field and stops at the end.
        QVERIFY(OTPAuth::decodeOtpParameters(base + tag(7, 0) + "\xFF").has_value());
        // An unknown field that cannot be skipped rejects the entry.
        QVERIFY(!OTPAuth::decodeOtpParameters(base + tag(20, 0) + "\xFF").has_value());
        QVERIFY(!OTPAuth::decodeOtpParameters(base + tag(20, 2) + varint(50)).has_value());
        QVERIFY(!OTPAuth::decodeOtpParameters(base + tag(20, 1) + "1234").has_value());
        QVERIFY(!OTPAuth::decodeOtpParameters(base + tag(20, 3)).has_value());
        // The last occurrence of a field wins.
        const auto later = OTPAuth::decodeOtpParameters(base + lengthField(2, "second"));
        QCOMPARE(later->name, QStringLiteral("second"));
    }

    void varints() {
        OTPAuth::Reader max{varint(~0ull), 0};
        QCOMPARE(OTPAuth::readVarint(max), std::optional<quint64>(~0ull));
        QCOMPARE(max.position, 10);
        QByteArray bit63(9, '\x80');
        bit63.append('\x01');
        OTPAuth::Reader top{bit63, 0};
        QCOMPARE(OTPAuth::readVarint(top), std::optional<quint64>(1ull << 63));
        QByteArray tooLong(10, '\x80');
        tooLong.append('\x01');
        OTPAuth::Reader bad{tooLong, 0};
        QVERIFY(!OTPAuth::readVarint(bad));
        QCOMPARE(bad.position, 10);
        OTPAuth::Reader empty{{}, 0};
        QVERIFY(!OTPAuth::readVarint(empty));
        OTPAuth::Reader pastLength{varint(5) + "abc", 0};
        QVERIFY(!OTPAuth::readLengthDelimited(pastLength));
        QCOMPARE(pastLength.position, 1);
    }

    // Random and mutated payloads: whatever the bytes, the reader returns.
    void arbitraryBytesNeverCrash() {
        QRandomGenerator random(7);
        const QByteArray good = payload({Entry{}, Entry{}, Entry{}});
        for (int i = 0; i < 20000; ++i) {
            QByteArray bytes = good;
            const int flips = 1 + random.bounded(6);
            for (int f = 0; f < flips; ++f)
                bytes[random.bounded(bytes.size())] = char(random.bounded(256));
            bytes.truncate(random.bounded(bytes.size() + 1));
            const QList<Account> accounts = OTPAuth::decodeMigrationPayload(bytes);
            QVERIFY(accounts.size() <= 3 + bytes.size());
        }
    }
};

QUILLET_TEST_GUILESS_MAIN(MigrationTests)
#include "MigrationTests.moc"
