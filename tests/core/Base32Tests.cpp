#include "core/Base32.h"
#include "tests/support/TestMain.h"

#include <QRandomGenerator>
#include <QtTest>

class Base32Tests : public QObject {
    Q_OBJECT

private slots:
    void decode_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("bytes");
        const auto ok = [](const char* name, const QString& text, const QByteArray& bytes) {
            QTest::newRow(name) << text << true << bytes;
        };
        const auto bad = [](const char* name, const QString& text) {
            QTest::newRow(name) << text << false << QByteArray();
        };
        // RFC 4648 section 10, padded and unpadded
        ok("f", "MY======", "f");
        ok("fo", "MZXQ====", "fo");
        ok("foo", "MZXW6===", "foo");
        ok("foob", "MZXW6YQ=", "foob");
        ok("fooba", "MZXW6YTB", "fooba");
        ok("foobar", "MZXW6YTBOI", "foobar");
        ok("all values", "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567",
           QByteArray::fromHex("00443214c74254b635cf84653a56d7c675be77df"));
        // leniency: case, spaces, hyphens and "=" anywhere, white space at the ends
        ok("lower case", "mfrgg", "abc");
        ok("spaces", "mfr gg", "abc");
        ok("inner space", "MF RG G", "abc");
        ok("hyphen and LF", " MFR-GG\n", "abc");
        ok("padding everywhere", "M=F=R=G=G", "abc");
        ok("tab and LF at the ends", "\tMFRGG\n", "abc");
        ok("CRLF and U+2028 at the ends", QString::fromUtf16(u"\r\nMFRGG\u2028"), "abc");
        // leftover bits are dropped whatever their values; length is not checked
        ok("5 bits", "A", "");
        ok("5 bits set", "7", "");
        ok("10 bits", "ME", "a");
        ok("15 bits, one left over", "MFR", "a");
        ok("20 bits", "MFRA", "ab");
        ok("non-zero leftover", "MFRGH", "abc");
        // nothing left after cleaning
        bad("empty", "");
        bad("spaces", "  ");
        bad("padding only", "===");
        bad("hyphen space hyphen", "- -");
        bad("white space only", "\t\n");
        // characters outside the alphabet
        bad("inner tab", "MF\tRGG");
        bad("inner LF", "MF\nRGG");
        bad("digit 0", "MFRGG0");
        bad("digit 1", "MFRGG1");
        bad("digit 8", "8AAAAAAA");
        bad("digit 9", "AA9A");
        bad("punctuation", "MFR.GG");
        bad("underscore", "MFR_GG");
        bad("non-ASCII letter", QString::fromUtf16(u"MFR\u00c9GG"));
        bad("fullwidth letter", QString::fromUtf16(u"MFR\uff27G"));
    }
    void decode() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QByteArray, bytes);
        const auto decoded = Base32::decode(text);
        QCOMPARE(bool(decoded), valid);
        if (valid) QCOMPARE(decoded->toHex(), bytes.toHex());
    }

    void encode() {
        QCOMPARE(Base32::encode({}), QString());
        QCOMPARE(Base32::encode("abc"), QStringLiteral("MFRGG"));
        QCOMPARE(Base32::encode("foobar"), QStringLiteral("MZXW6YTBOI"));
        QCOMPARE(Base32::encode("\xff"), QStringLiteral("74")); // low bits padded with zeros
    }

    // ceil(8n / 5) characters, upper case, never "=", and decoding gives the bytes back.
    void roundTrip() {
        auto* random = QRandomGenerator::global();
        for (int length = 0; length <= 80; ++length) {
            for (int round = 0; round < 20; ++round) {
                QByteArray bytes(length, Qt::Uninitialized);
                for (char& byte : bytes)
                    byte = char(random->bounded(256));
                const QString text = Base32::encode(bytes);
                QCOMPARE(text.size(), (8 * length + 4) / 5);
                QVERIFY(!text.contains(QLatin1Char('=')));
                QCOMPARE(text, text.toUpper());
                if (length > 0)
                    QCOMPARE(Base32::decode(text).value_or("none").toHex(), bytes.toHex());
            }
        }
    }
};

QUILLET_TEST_GUILESS_MAIN(Base32Tests)
#include "Base32Tests.moc"
