// CBOR, the COSE key, authenticator data and the attestation object, byte for
// byte, and as python3-cbor2 and python3-fido2 read them.
#include "autofill/Authenticator.h"
#include "autofill/CBOR.h"
#include "platform/crypto/Crypto.h"
#include "tests/support/TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

const QByteArray x32 = QByteArray(31, '\x11') + '\xA1';
const QByteArray y32 = QByteArray(31, '\x22') + '\xB2';

QString oraclePath() {
    return QStringLiteral(QUILLET_SOURCE_DIR "/tests/autofill/webauthn_oracle.py");
}

bool oracleAvailable() {
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"), QStringLiteral("import cbor2, fido2")});
    return probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

// What the oracle says: "ok" or its complaint.
QString askOracle(const QString& mode, const QJsonObject& request) {
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), {oraclePath(), mode});
    process.write(QJsonDocument(request).toJson(QJsonDocument::Compact));
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        return QStringLiteral("the oracle did not finish");
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed() +
           QString::fromUtf8(process.readAllStandardError()).trimmed();
}

// The JSON form of an expected value for the CBOR oracle.
QJsonValue text(const QString& s) { return QJsonObject{{"text", s}}; }
QJsonValue bytes(const QByteArray& b) { return QJsonObject{{"bytes", QString::fromLatin1(b.toHex())}}; }
QJsonValue array(const QJsonArray& items) { return QJsonObject{{"array", items}}; }
QJsonValue map(const QList<std::pair<QJsonValue, QJsonValue>>& pairs) {
    QJsonArray list;
    for (const auto& [k, v] : pairs)
        list.append(QJsonArray{k, v});
    return QJsonObject{{"map", list}};
}

QString base64url(const QByteArray& data) {
    return QString::fromLatin1(
        data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray clientData(const char* type, const QByteArray& challenge) {
    return QJsonDocument(QJsonObject{{"type", QLatin1String(type)},
                                     {"challenge", base64url(challenge)},
                                     {"origin", "https://example.com"}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

class PasskeyEncodersTests : public QObject {
    Q_OBJECT

private slots:
    void integers_data() {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("expected");
        const std::pair<quint64, const char*> unsignedCases[] = {
            {0, "00"},           {23, "17"},           {24, "1818"},
            {255, "18ff"},       {256, "190100"},      {65535, "19ffff"},
            {65536, "1a00010000"}, {4294967295u, "1affffffff"},
            {4294967296ull, "1b0000000100000000"},
            {18446744073709551615ull, "1bffffffffffffffff"},
        };
        for (const auto& [value, bytes] : unsignedCases)
            QTest::addRow("uint %llu", value) << CBOR::uint(value) << hex(bytes);
        const std::pair<qint64, const char*> negativeCases[] = {
            {-1, "20"},    {-7, "26"},     {-24, "37"},
            {-25, "3818"}, {-256, "38ff"}, {-257, "390100"},
            {std::numeric_limits<qint64>::min(), "3b7fffffffffffffff"},
        };
        for (const auto& [value, bytes] : negativeCases)
            QTest::addRow("negInt %lld", value) << CBOR::negInt(value) << hex(bytes);
        QTest::newRow("head of major type 7") << CBOR::head(7, 20) << hex("f4");
    }
    void integers() {
        QFETCH(QByteArray, encoded);
        QFETCH(QByteArray, expected);
        QCOMPARE(encoded.toHex(), expected.toHex());
    }

    void stringsAndContainers() {
        QCOMPARE(CBOR::byteString({}).toHex(), "40");
        QCOMPARE(CBOR::textString({}).toHex(), "60");
        QCOMPARE(CBOR::array({}).toHex(), "80");
        QCOMPARE(CBOR::map({}).toHex(), "a0");
        QCOMPARE(CBOR::textString(QStringLiteral("é")).toHex(), "62c3a9");
        QCOMPARE(CBOR::textString(QStringLiteral("fmt")).toHex(), "63666d74");
        QCOMPARE(CBOR::byteString(QByteArray(24, 'a')).left(2).toHex(), "5818");
        QCOMPARE(CBOR::array({hex("01"), hex("6161")}).toHex(), "82016161");
    }

    // Length first, then the bytes as unsigned values; equal keys keep their
    // order.
    void mapOrder() {
        QCOMPARE(CBOR::map({{CBOR::uint(100), hex("01")},
                            {CBOR::negInt(-1), hex("02")},
                            {CBOR::uint(10), hex("03")}})
                     .toHex(),
                 "a30a03200218640" "1");
        QCOMPARE(CBOR::map({{CBOR::negInt(-25), hex("01")}, {CBOR::uint(100), hex("02")}}).toHex(),
                 "a2186402381801");
        QCOMPARE(CBOR::map({{hex("41ff"), hex("01")}, {hex("4101"), hex("02")}}).toHex(),
                 "a241010241ff01");
        QCOMPARE(CBOR::map({{hex("01"), hex("0a")}, {hex("01"), hex("0b")}}).toHex(), "a2010a010b");
    }

    void coseKey() {
        const QByteArray key = COSEKey::es256(x32, y32);
        QCOMPARE(key.size(), 77);
        QCOMPARE(key.toHex(), (hex("a50102032620012158 20").toHex() + x32.toHex() + "225820" +
                               y32.toHex()));
    }

    void registrationBytes_data() {
        QTest::addColumn<bool>("verified");
        QTest::addColumn<int>("flags");
        QTest::newRow("verified") << true << 0x5D;
        QTest::newRow("not verified") << false << 0x59;
    }
    void registrationBytes() {
        QFETCH(bool, verified);
        QFETCH(int, flags);
        const QByteArray id = QByteArray::fromHex(QByteArray(64, 'c'));
        const QByteArray object =
            Passkey::registrationAttestationObject("example.com", id, x32, y32, verified);
        QCOMPARE(object.size(), 194);
        QCOMPARE(object.left(28).toHex(),
                 "a363666d74646e6f6e656761747453746d74a068617574684461746" "1");
        QCOMPARE(object.mid(28, 2).toHex(), "58a4");
        const QByteArray authData = object.mid(30);
        QCOMPARE(authData.size(), 164);
        QCOMPARE(authData.left(32), AttestationObject::rpIdHash("example.com"));
        QCOMPARE(authData.left(32).toHex(),
                 "a379a6f6eeafb9a55e378c118034e2751e682fab9f2d30ab13d2125586ce1947");
        QCOMPARE(quint8(authData[32]), quint8(flags));
        QCOMPARE(authData.mid(33, 4 + 16 + 2).toHex(), QByteArray(40, '0') + "0020");
        QCOMPARE(authData.mid(55, 32), id);
        QCOMPARE(authData.mid(87), COSEKey::es256(x32, y32));
    }

    void assertionBytes() {
        const QByteArray verified = Passkey::assertionAuthenticatorData("example.com", 0, true);
        QCOMPARE(verified.size(), 37);
        QCOMPARE(verified.left(32), AttestationObject::rpIdHash("example.com"));
        QCOMPARE(verified.mid(32).toHex(), "1d00000000");
        QCOMPARE(Passkey::assertionAuthenticatorData("example.com", 0, false).mid(32).toHex(),
                 "1900000000");
        QCOMPARE(Passkey::assertionAuthenticatorData("example.com", 1, true).mid(33).toHex(),
                 "00000001");
        // The identifier is hashed as given, not lowercased or trimmed.
        QVERIFY(AttestationObject::rpIdHash("Example.com") != AttestationObject::rpIdHash("example.com"));
        QVERIFY(AttestationObject::rpIdHash(" example.com") != AttestationObject::rpIdHash("example.com"));
    }

    void authenticatorDataLayout() {
        using namespace AuthenticatorData::Flags;
        QCOMPARE(syncedPasskeyRegistration, quint8(0x5D));
        QCOMPARE(int(userPresent | userVerified | backupEligible | backedUp | attestedData), 0x5D);
        const QByteArray hash(32, '\x07');
        const QByteArray cose = COSEKey::es256(x32, y32);
        const QByteArray empty =
            AuthenticatorData::make(hash, 0x41, 0x01020304, Passkey::anonymousAAGUID(), {}, cose);
        QCOMPARE(empty.size(), 32 + 1 + 4 + 16 + 2 + 77);
        QCOMPARE(empty.mid(32, 5).toHex(), "4101020304");
        QCOMPARE(empty.mid(53, 2).toHex(), "0000");
        QCOMPARE(empty.mid(55), cose);
        QCOMPARE(Passkey::anonymousAAGUID(), QByteArray(16, '\0'));
    }

    // cbor2 decodes our items to the values we meant, and its own canonical
    // encoding of those values is byte for byte ours.
    void cbor2AgreesWithEveryItem() {
        if (!oracleAvailable())
            QSKIP("python3-cbor2 and python3-fido2 are not installed");
        QJsonArray items;
        const auto add = [&](const QByteArray& encoded, const QJsonValue& value) {
            items.append(QJsonObject{{"hex", QString::fromLatin1(encoded.toHex())}, {"value", value}});
        };
        for (quint64 v : {0ull, 23ull, 24ull, 255ull, 256ull, 65535ull, 65536ull, 4294967295ull,
                          4294967296ull, 9007199254740991ull})
            add(CBOR::uint(v), QJsonValue(qint64(v)));
        for (qint64 v : {-1ll, -7ll, -24ll, -25ll, -256ll, -257ll, -65537ll, -4294967297ll})
            add(CBOR::negInt(v), QJsonValue(v));
        add(CBOR::byteString({}), bytes({}));
        add(CBOR::byteString(QByteArray(300, 'z')), bytes(QByteArray(300, 'z')));
        add(CBOR::textString(QStringLiteral("é and 💡")), text(QStringLiteral("é and 💡")));
        add(CBOR::array({CBOR::uint(1), CBOR::textString("aa"), CBOR::array({})}),
            array({1, text("aa"), array({})}));
        add(CBOR::map({{CBOR::uint(100), CBOR::uint(1)},
                       {CBOR::negInt(-1), CBOR::uint(2)},
                       {CBOR::uint(10), CBOR::uint(3)},
                       {CBOR::textString("b"), CBOR::map({})},
                       {CBOR::textString("a"), CBOR::uint(5)}}),
            map({{100, 1}, {-1, 2}, {10, 3}, {text("b"), map({})}, {text("a"), 5}}));
        add(COSEKey::es256(x32, y32), map({{1, 2}, {3, -7}, {-1, 1}, {-2, bytes(x32)}, {-3, bytes(y32)}}));
        const QByteArray authData = Passkey::assertionAuthenticatorData("example.com", 0, true);
        add(AttestationObject::none(authData),
            map({{text("fmt"), text("none")}, {text("attStmt"), map({})}, {text("authData"), bytes(authData)}}));
        QCOMPARE(askOracle("cbor", {{"items", items}}), QStringLiteral("ok"));
        // The oracle does refuse what it should.
        QVERIFY(askOracle("cbor", {{"items", QJsonArray{QJsonObject{{"hex", "190017"}, {"value", 23}}}}}) !=
                "ok");
    }

    // A real relying party (python-fido2's server) accepts a passkey made and
    // used with our key, encoders and signatures.
    void fido2AcceptsRegistrationAndAssertion_data() {
        QTest::addColumn<bool>("verified");
        QTest::newRow("user verified") << true;
        QTest::newRow("user present only") << false;
    }
    void fido2AcceptsRegistrationAndAssertion() {
        QFETCH(bool, verified);
        if (!oracleAvailable())
            QSKIP("python3-cbor2 and python3-fido2 are not installed");
        const auto privateKey = Crypto::p256GeneratePrivateKey();
        QVERIFY(privateKey);
        const auto publicKey = Crypto::p256PublicKey(*privateKey);
        QVERIFY(publicKey);
        const QByteArray credentialID = *Crypto::randomBytes(32);
        const QByteArray registration = clientData("webauthn.create", *Crypto::randomBytes(32));
        const QByteArray attestation = Passkey::registrationAttestationObject(
            "example.com", credentialID, publicKey->left(32), publicKey->mid(32), verified);
        const QByteArray assertion = clientData("webauthn.get", *Crypto::randomBytes(32));
        const QByteArray authData = Passkey::assertionAuthenticatorData("example.com", 0, verified);
        const auto signature = Crypto::p256Sign(*privateKey, authData + Crypto::sha256(assertion));
        QVERIFY(signature);

        QJsonObject request{
            {"rpId", "example.com"},
            {"userVerified", verified},
            {"credentialId", QString::fromLatin1(credentialID.toHex())},
            {"registrationClientData", QString::fromLatin1(registration.toHex())},
            {"attestationObject", QString::fromLatin1(attestation.toHex())},
            {"registrationFlags", verified ? 0x5D : 0x59},
            {"assertionClientData", QString::fromLatin1(assertion.toHex())},
            {"assertionAuthData", QString::fromLatin1(authData.toHex())},
            {"assertionFlags", verified ? 0x1D : 0x19},
            {"signature", QString::fromLatin1(signature->toHex())},
        };
        QCOMPARE(askOracle("webauthn", request), QStringLiteral("ok"));

        // A signature over other bytes is refused.
        QByteArray forged = *Crypto::p256Sign(*privateKey, authData + Crypto::sha256(registration));
        request["signature"] = QString::fromLatin1(forged.toHex());
        QVERIFY(askOracle("webauthn", request).contains("signature"));
    }
};

QUILLET_TEST_GUILESS_MAIN(PasskeyEncodersTests)
#include "PasskeyEncodersTests.moc"
