#include "platform/crypto/Crypto.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QtTest>

using Crypto::Digest;

namespace {
QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// The order n of the P-256 group and the generator G.
const QByteArray p256Order =
    hex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551");
const QByteArray generatorX =
    hex("6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296");
const QByteArray generatorY =
    hex("4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");

QByteArray scalar(int lastByte) { return QByteArray(31, '\0') + char(lastByte); }

// python3-cryptography verifies an ECDSA P-256 / SHA-256 signature.
// 1: valid, 0: invalid, -1: the oracle could not run.
int verifiedByCryptography(const QByteArray& publicKey, const QByteArray& message,
                           const QByteArray& signature) {
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-c"), QStringLiteral(R"(
import sys
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.exceptions import InvalidSignature
key, message, signature = (bytes.fromhex(a) for a in sys.argv[1:4])
public = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), b"\x04" + key)
try:
    public.verify(signature, message, ec.ECDSA(hashes.SHA256()))
    print("valid")
except InvalidSignature:
    print("invalid")
)"),
                   QString::fromLatin1(publicKey.toHex()), QString::fromLatin1(message.toHex()),
                   QString::fromLatin1(signature.toHex())});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return -1;
    const QByteArray answer = process.readAllStandardOutput().trimmed();
    return answer == "valid" ? 1 : answer == "invalid" ? 0 : -1;
}
} // namespace

class CryptoTests : public QObject {
    Q_OBJECT

private slots:
    void hmacVectors_data() {
        QTest::addColumn<int>("digest");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray shortKey(20, '\x0b'), longKey1(80, '\xaa'), longKey2(131, '\xaa');
        const QByteArray bigKeyText = "Test Using Larger Than Block-Size Key - Hash Key First";
        // RFC 2202 (SHA-1), cases 1, 2 and 6
        QTest::newRow("sha1 1") << int(Digest::sha1) << shortKey << QByteArray("Hi There")
                                << hex("b617318655057264e28bc0b6fb378c8ef146be00");
        QTest::newRow("sha1 2") << int(Digest::sha1) << QByteArray("Jefe")
                                << QByteArray("what do ya want for nothing?")
                                << hex("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
        QTest::newRow("sha1 6") << int(Digest::sha1) << longKey1 << bigKeyText
                                << hex("aa4ae5e15272d00e95705637ce8a3b55ed402112");
        // RFC 4231 (SHA-256 and SHA-512)
        QTest::newRow("sha256 1")
            << int(Digest::sha256) << shortKey << QByteArray("Hi There")
            << hex("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
        QTest::newRow("sha256 2")
            << int(Digest::sha256) << QByteArray("Jefe")
            << QByteArray("what do ya want for nothing?")
            << hex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
        QTest::newRow("sha256 6")
            << int(Digest::sha256) << longKey2 << bigKeyText
            << hex("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
        QTest::newRow("sha512 1")
            << int(Digest::sha512) << shortKey << QByteArray("Hi There")
            << hex("87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
                   "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854");
        QTest::newRow("sha512 6")
            << int(Digest::sha512) << longKey2 << bigKeyText
            << hex("80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
                   "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598");
        // An empty key is a valid HMAC key (an account may have an empty secret).
        QTest::newRow("sha1 empty key") << int(Digest::sha1) << QByteArray() << QByteArray()
                                        << hex("fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
        QTest::newRow("sha256 empty key")
            << int(Digest::sha256) << QByteArray()
            << QByteArray("The quick brown fox jumps over the lazy dog")
            << hex("fb011e6154a19b9a4c767373c305275a5a69e8b68b0b4c9200c383dced19a416");
    }
    void hmacVectors() {
        QFETCH(int, digest);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, expected);
        // Twice, with another key in between: the per-thread context is re-keyed
        // every time and must never keep the previous key (an empty key included).
        QCOMPARE(Crypto::hmac(Digest(digest), key, message).toHex(), expected.toHex());
        Crypto::hmac(Digest(digest), "some other key", message);
        QCOMPARE(Crypto::hmac(Digest(digest), key, message).toHex(), expected.toHex());
    }

    void sha256() {
        QCOMPARE(Crypto::sha256({}).toHex(),
                 "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        QCOMPARE(Crypto::sha256("abc").toHex(),
                 "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    }

    void pbkdf2() {
        // RFC 7914, section 11
        QCOMPARE(Crypto::pbkdf2Sha256("passwd", "salt", 1, 64).value_or("none").toHex(),
                 "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
                 "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
        QVERIFY(!Crypto::pbkdf2Sha256("passwd", "salt", 0, 32));
        QVERIFY(!Crypto::pbkdf2Sha256("passwd", "salt", 1, 0));
    }

    void gcmVectors_data() {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("nonce");
        QTest::addColumn<QByteArray>("plaintext");
        QTest::addColumn<QByteArray>("sealed"); // ciphertext || tag
        // McGrew & Viega GCM test cases 13, 14 and 15 (256-bit key, no AAD)
        QTest::newRow("13") << QByteArray(32, 0) << QByteArray(12, 0) << QByteArray()
                            << hex("530f8afbc74536b9a963b4f1c4cb738b");
        QTest::newRow("14")
            << QByteArray(32, 0) << QByteArray(12, 0) << QByteArray(16, 0)
            << hex("cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919");
        QTest::newRow("15")
            << hex("feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308")
            << hex("cafebabefacedbaddecaf888")
            << hex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                   "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255")
            << hex("522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
                   "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad"
                   "b094dac5d93471bdec1a502270e3cc6c");
    }
    void gcmVectors() {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, nonce);
        QFETCH(QByteArray, plaintext);
        QFETCH(QByteArray, sealed);
        QCOMPARE(Crypto::aesGcmSeal(key, nonce, plaintext).value_or("none").toHex(),
                 (nonce + sealed).toHex());
        const auto opened = Crypto::aesGcmOpen(key, nonce, sealed.chopped(16), sealed.last(16));
        QVERIFY(opened); // an empty plaintext is a result, not a failure
        QCOMPARE(*opened, plaintext);
    }

    void gcmRoundTripAndTampering() {
        const QByteArray key = Crypto::randomBytes(32).value();
        const QByteArray message = "vault contents";
        const QByteArray combined = Crypto::aesGcmSeal(key, message).value();
        QCOMPARE(combined.size(), 12 + message.size() + 16);
        QCOMPARE(Crypto::aesGcmOpen(key, combined).value_or("none"), message);
        QCOMPARE(Crypto::aesGcmOpen(key, combined.first(12), combined.sliced(12, message.size()),
                                    combined.last(16))
                     .value_or("none"),
                 message);
        // Every single flipped bit, in the nonce, the ciphertext or the tag, must fail.
        for (qsizetype bit = 0; bit < combined.size() * 8; ++bit) {
            QByteArray damaged = combined;
            damaged[bit / 8] = char(damaged[bit / 8] ^ (1 << (bit % 8)));
            QVERIFY2(!Crypto::aesGcmOpen(key, damaged), qPrintable(QString::number(bit)));
        }
        QByteArray otherKey = key;
        otherKey[31] = char(otherKey[31] ^ 1);
        QVERIFY(!Crypto::aesGcmOpen(otherKey, combined));
        QVERIFY(!Crypto::aesGcmOpen(key, combined.chopped(1)));
        QVERIFY(!Crypto::aesGcmOpen(key, combined.first(27)));
        // A fresh nonce every time.
        QVERIFY(Crypto::aesGcmSeal(key, message).value().first(12) != combined.first(12));
    }

    void gcmRefusesWrongSizes() {
        const QByteArray key(32, 'k'), nonce(12, 'n');
        for (int keyLength : {0, 16, 31, 33})
            QVERIFY(!Crypto::aesGcmSeal(QByteArray(keyLength, 'k'), "x"));
        for (int nonceLength : {0, 11, 13, 16})
            QVERIFY(!Crypto::aesGcmSeal(key, QByteArray(nonceLength, 'n'), "x"));
        const QByteArray sealed = Crypto::aesGcmSeal(key, nonce, "x").value();
        QVERIFY(!Crypto::aesGcmOpen(key.chopped(1), sealed));
        QVERIFY(!Crypto::aesGcmOpen(key, nonce.chopped(1), sealed.sliced(12, 1), sealed.last(16)));
        QVERIFY(!Crypto::aesGcmOpen(key, nonce, sealed.sliced(12, 1), sealed.last(15)));
    }

    void randomBytes() {
        QCOMPARE(Crypto::randomBytes(0).value_or("none"), QByteArray());
        QVERIFY(!Crypto::randomBytes(-1));
        const auto a = Crypto::randomBytes(32), b = Crypto::randomBytes(32);
        QVERIFY(a && b);
        QCOMPARE(a->size(), 32);
        QVERIFY(*a != *b);
    }

    void p256PublicKeys() {
        QCOMPARE(Crypto::p256PublicKey(scalar(1)).value_or("none").toHex(),
                 (generatorX + generatorY).toHex());
        QCOMPARE(Crypto::p256PublicKey(scalar(2)).value_or("none").toHex(),
                 "7cf27b188d034f7e8a52380304b51ac3c08969e277f21b35a60b48fc47669978"
                 "07775510db8ed040293d9ac69f7430dbba7dade63ce982299e04b79d227873d1");
        // n - 1 is -1: the generator mirrored, (x, p - y).
        QByteArray last = p256Order;
        last[31] = char(quint8(last[31]) - 1);
        QCOMPARE(Crypto::p256PublicKey(last).value_or("none").toHex(),
                 generatorX.toHex() +
                     "b01cbd1c01e58065711814b583f061e9d431cca994cea1313449bf97c840ae0a");
    }

    void p256RefusesWhatIsNoKey_data() {
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("zero") << QByteArray(32, '\0');
        QTest::newRow("the order") << p256Order;
        QTest::newRow("above the order") << QByteArray(32, '\xff');
        QTest::newRow("31 bytes") << QByteArray(31, '\x01');
        QTest::newRow("33 bytes") << QByteArray(33, '\x01');
        QTest::newRow("empty") << QByteArray();
    }
    void p256RefusesWhatIsNoKey() {
        QFETCH(QByteArray, key);
        QVERIFY(!Crypto::p256PublicKey(key));
        QVERIFY(!Crypto::p256Sign(key, "message"));
    }

    void p256SignaturesVerify() {
        const auto key = Crypto::p256GeneratePrivateKey();
        const auto other = Crypto::p256GeneratePrivateKey();
        QVERIFY(key && other);
        QCOMPARE(key->size(), 32);
        QVERIFY(*key != *other);
        const QByteArray publicKey = Crypto::p256PublicKey(*key).value();
        QCOMPARE(publicKey.size(), 64);

        const QByteArray message = "authenticator data || client data hash";
        const QByteArray signature = Crypto::p256Sign(*key, message).value();
        // DER: SEQUENCE { INTEGER r, INTEGER s }, each of at most 33 bytes.
        QCOMPARE(quint8(signature[0]), quint8(0x30));
        QCOMPARE(int(quint8(signature[1])), int(signature.size()) - 2);
        QCOMPARE(quint8(signature[2]), quint8(0x02));
        QVERIFY(signature.size() <= 72);
        // A fresh nonce each time.
        QVERIFY(Crypto::p256Sign(*key, message).value() != signature);

        const int valid = verifiedByCryptography(publicKey, message, signature);
        if (valid < 0)
            QSKIP("python3-cryptography is not available");
        QCOMPARE(valid, 1);
        QCOMPARE(verifiedByCryptography(publicKey, message + "!", signature), 0);
        QCOMPARE(verifiedByCryptography(Crypto::p256PublicKey(*other).value(), message, signature),
                 0);
        QCOMPARE(verifiedByCryptography(publicKey, QByteArray(),
                                        Crypto::p256Sign(*key, QByteArray()).value()),
                 1);
    }
};

QUILLET_TEST_GUILESS_MAIN(CryptoTests)
#include "CryptoTests.moc"
