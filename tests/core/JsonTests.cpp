#include "core/Json.h"
#include "tests/support/TestMain.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>
#include <limits>

namespace {

using Json::DateForm;

QDateTime utc(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
}

} // namespace

class JsonTests : public QObject {
    Q_OBJECT

private slots:
    void strictBase64() {
        QCOMPARE(Json::strictBase64(""), QByteArray());
        QCOMPARE(Json::strictBase64("AA=="), QByteArray(1, '\0'));
        QCOMPARE(Json::strictBase64("AAEC"), QByteArray("\x00\x01\x02", 3));
        for (const char* text :
             {"AA", "AA=", "A===", "AA==AA==", "AA=A", "-_8=", "AA\n==AA", "ÄA=="})
            QVERIFY2(!Json::strictBase64(QString::fromUtf8(text)), text);
    }

    void toUuid() {
        const auto id = Json::toUuid(QStringLiteral("6f1c2a9e-0b3d-4e5f-8a7b-9c0d1e2f3a4b"));
        QVERIFY(id);
        QCOMPARE(Json::uuidText(*id), QStringLiteral("6F1C2A9E-0B3D-4E5F-8A7B-9C0D1E2F3A4B"));
        QCOMPARE(Json::toUuid(Json::uuidText(*id)), id);
        for (const char* text :
             {"{6f1c2a9e-0b3d-4e5f-8a7b-9c0d1e2f3a4b}", "6f1c2a9e0b3d4e5f8a7b9c0d1e2f3a4b",
              "urn:uuid:6f1c2a9e-0b3d-4e5f-8a7b-9c0d1e2f3a4b",
              "6f1c2a9e-0b3d-4e5f-8a7b-9c0d1e2f3a4g"})
            QVERIFY2(!Json::toUuid(QString::fromLatin1(text)), text);
        QVERIFY(!Json::toUuid(1));
    }

    // Values as they appear in stored text; an empty expectation means refused.
    void integers_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("asInt64");
        QTest::addColumn<QString>("asUInt64");
        QTest::newRow("plain") << QByteArray("6") << "6"
                               << "6";
        QTest::newRow("whole decimal") << QByteArray("6.0") << "6"
                                       << "6";
        QTest::newRow("exponent") << QByteArray("1e3") << "1000"
                                  << "1000";
        QTest::newRow("fraction") << QByteArray("6.5") << ""
                                  << "";
        QTest::newRow("zero") << QByteArray("0") << "0"
                              << "0";
        QTest::newRow("negative zero") << QByteArray("-0.0") << "0"
                                       << "0";
        QTest::newRow("fraction near zero") << QByteArray("1e-300") << ""
                                            << "";
        QTest::newRow("text") << QByteArray(R"("6")") << ""
                              << "";
        QTest::newRow("bool") << QByteArray("true") << ""
                              << "";
        QTest::newRow("negative") << QByteArray("-3") << "-3"
                                  << "";
        QTest::newRow("int64 max") << QByteArray("9223372036854775807") << "9223372036854775807"
                                   << "9223372036854775807";
        QTest::newRow("int64 min") << QByteArray("-9223372036854775808") << "-9223372036854775808"
                                   << "";
        QTest::newRow("2^63") << QByteArray("9223372036854775808") << ""
                              << "9223372036854775808";
        QTest::newRow("2^64") << QByteArray("18446744073709551616") << ""
                              << "";
        QTest::newRow("huge negative") << QByteArray("-18446744073709551615") << ""
                                       << "";
    }
    void integers() {
        QFETCH(QByteArray, text);
        QFETCH(QString, asInt64);
        QFETCH(QString, asUInt64);
        const auto document = Json::parse('[' + text + ']');
        QVERIFY(document);
        const QJsonValue value = document->array().at(0);
        const auto signedValue = Json::toInt64(value);
        const auto unsignedValue = Json::toUInt64(value);
        QCOMPARE(signedValue ? QString::number(*signedValue) : QString(), asInt64);
        QCOMPARE(unsignedValue ? QString::number(*unsignedValue) : QString(), asUInt64);
    }

    void bigIntegersOnlyWhereNumbersAre() {
        const QByteArray text = R"({"a":"18446744073709551615","b":-18446744073709551615,)"
                                R"("c":18446744073709551615.5,"d":18446744073709551615,)"
                                "\"e\":\"x\\\"18446744073709551615\"}";
        const auto document = Json::parse(text);
        QVERIFY(document);
        const QJsonObject o = document->object();
        QCOMPARE(o.value("a").toString(), QStringLiteral("18446744073709551615"));
        QVERIFY(o.value("b").isDouble() && o.value("b").toDouble() < 0);
        QVERIFY(o.value("c").isDouble());
        QCOMPARE(Json::toUInt64(o.value("d")), std::numeric_limits<quint64>::max());
        QCOMPARE(o.value("e").toString(), QStringLiteral("x\"18446744073709551615"));

        const QByteArray written = Json::serialize(*document);
        QVERIFY(written.contains(R"("d":18446744073709551615,)"));
        QVERIFY(written.contains(R"("a":"18446744073709551615")"));
        QVERIFY(!written.contains("uint64"));
        QCOMPARE(Json::parse(written), document);
        QCOMPARE(Json::serialize(QJsonDocument(QJsonArray{Json::fromUInt64(5)})),
                 QByteArray("[5]"));

        QVERIFY(!Json::parse("[0123]"));
        // Protecting a big literal must not make a malformed one acceptable.
        QVERIFY(!Json::parse("[018446744073709551615]"));
    }

    void bigIntegersAreNeverStrings() {
        const auto document = Json::parse(R"({"name": 18446744073709551615, "note": "x"})");
        QVERIFY(document);
        QVERIFY(!Json::toString(document->object().value("name")));
        QCOMPARE(Json::toString(document->object().value("note")), QStringLiteral("x"));
        QVERIFY(!Json::toString(QJsonValue(5)));
    }

    // Text from outside can spell any control character; none of it may be
    // taken for the private form of a big integer, either way.
    void stringsNeverPassForBigIntegers() {
        for (const char* lookalike : {R"("uint64:5")", R"("uint64:5")"}) {
            const auto document = Json::parse(QByteArray("[") + lookalike + "]");
            QVERIFY(document);
            const QJsonValue value = document->array().first();
            QVERIFY(!Json::toUInt64(value));
            QCOMPARE(Json::parse(Json::serialize(*document))->array().first(), value);
        }
    }

    void isoDates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid = refused
        const QDateTime at = utc("2024-05-01T12:30:00Z");
        QTest::newRow("utc") << "2024-05-01T12:30:00Z" << at;
        QTest::newRow("east offset") << "2024-05-01T14:30:00+02:00" << at;
        QTest::newRow("west offset") << "2024-05-01T10:30:00-02:00" << at;
        QTest::newRow("leap day") << "2024-02-29T00:00:00Z" << utc("2024-02-29T00:00:00Z");
        const char* refused[] = {
            "2024-05-01T12:30:00.000Z", "2024-05-01T12:30:00",  "2024-05-01",
            "2024-05-01 12:30:00Z",     "2023-02-30T00:00:00Z", "2023-02-29T00:00:00Z",
            "2024-05-01T24:00:00Z",     "2024-05-01T23:60:00Z", "2024-05-01T12:30:00+24:00"};
        for (const char* text : refused)
            QTest::newRow(text) << text << QDateTime();
    }
    void isoDates() {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto date = Json::toDate(text, DateForm::iso8601);
        QCOMPARE(date.has_value(), expected.isValid());
        if (date) QCOMPARE(*date, expected);
    }

    void writtenDates() {
        QCOMPARE(Json::fromDate(utc("2024-05-01T14:30:00.999+02:00"), DateForm::iso8601),
                 QJsonValue("2024-05-01T12:30:00Z"));
        // Before 1970 the fraction is still dropped toward the past.
        QCOMPARE(Json::fromDate(utc("1969-12-31T23:59:59.500Z"), DateForm::iso8601),
                 QJsonValue("1969-12-31T23:59:59Z"));
        QCOMPARE(Json::fromDate(utc("2001-01-02T00:00:00.500Z"), DateForm::referenceDate),
                 QJsonValue(86400.5));
        QCOMPARE(Json::toDate(-1.25, DateForm::referenceDate), utc("2000-12-31T23:59:58.750Z"));
        QVERIFY(!Json::toDate("2024-05-01T12:30:00Z", DateForm::referenceDate));
        QVERIFY(!Json::toDate(1e300, DateForm::referenceDate));
        QVERIFY(!Json::toDate(736259400, DateForm::iso8601));
    }
};

QUILLET_TEST_GUILESS_MAIN(JsonTests)
#include "JsonTests.moc"
