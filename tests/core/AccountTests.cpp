#include "core/Account.h"
#include "tests/support/TestMain.h"

#include <QJsonArray>
#include <QtTest>
#include <functional>
#include <limits>

Q_DECLARE_METATYPE(Account)

namespace {

using Json::DateForm;
constexpr quint64 uint64Max = std::numeric_limits<quint64>::max();
const char* const someId = "6f1c2a9e-0b3d-4e5f-8a7b-9c0d1e2f3a4b";

QDateTime utc(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
}

Account make(const char* name, const char* issuer = "", bool favorite = false, qint64 uses = 0,
             std::optional<QDateTime> lastUsed = {}) {
    Account a;
    a.name = QString::fromUtf8(name);
    a.issuer = QString::fromUtf8(issuer);
    a.isFavorite = favorite;
    a.useCount = uses;
    a.lastUsedAt = lastUsed;
    a.createdAt = utc("2024-05-01T12:30:00Z");
    return a;
}

// Every field away from its default; whole-second dates so both forms keep them.
Account populated() {
    Account a = make("ann@example.com", "Exämple", true, 7, utc("1999-12-31T23:59:59Z"));
    a.id = QUuid::fromString(QLatin1String(someId));
    a.secret = QByteArray("\x00\xff", 2);
    a.type = OTPType::hotp;
    a.algorithm = HashAlgorithm::sha512;
    a.digits = 8;
    a.period = 60;
    a.counter = 42;
    a.note = QStringLiteral("note");
    a.folderID = QUuid::fromString(QStringLiteral("00000000-0000-4000-8000-0000000000AB"));
    a.isSteam = true;
    a.recoveryCodes = QStringLiteral("r1\nr2");
    a.deletedAt = utc("2024-06-01T00:00:00Z");
    return a;
}

// Through text, as stored records travel, so the big-integer path is included.
std::optional<Account> readText(const QByteArray& text, DateForm form) {
    const auto document = Json::parse(text);
    return document ? Account::fromJson(document->object(), form) : std::nullopt;
}

std::optional<Account> viaText(const Account& account, DateForm form) {
    return readText(Json::serialize(QJsonDocument(account.toJson(form))), form);
}

QJsonObject required() {
    return {{"id", someId}, {"name", "bob"}, {"issuer", "Acme"}, {"secret", "AAE="}};
}

} // namespace

class AccountTests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void roundTrip_data() {
        QTest::addColumn<Account>("account");
        QTest::addColumn<int>("form");
        QTest::addColumn<int>("keyCount");
        Account top = make("a"), justAbove = make("b");
        top.counter = uint64Max;
        justAbove.counter = quint64(1) << 63;
        for (const auto form : {DateForm::iso8601, DateForm::referenceDate}) {
            const char* suffix = form == DateForm::iso8601 ? "iso" : "reference";
            QTest::addRow("populated, %s", suffix) << populated() << int(form) << 18;
            QTest::addRow("defaults, %s", suffix) << make("bob") << int(form) << 15;
            QTest::addRow("counter 2^64-1, %s", suffix) << top << int(form) << 15;
            QTest::addRow("counter 2^63, %s", suffix) << justAbove << int(form) << 15;
        }
    }
    void roundTrip() {
        QFETCH(Account, account);
        QFETCH(int, form);
        QFETCH(int, keyCount);
        const QJsonObject json = account.toJson(DateForm(form));
        QCOMPARE(json.size(), keyCount);
        for (const QJsonValue& value : json)
            QVERIFY(!value.isNull());
        const auto back = viaText(account, DateForm(form));
        QVERIFY(back);
        QCOMPARE(back->counter, account.counter);
        QVERIFY(*back == account);
    }

    void writtenForms() {
        Account a = populated();
        a.counter = uint64Max;
        const QByteArray text = Json::serialize(QJsonDocument(a.toJson(DateForm::iso8601)));
        for (const char* part :
             {R"("id":"6F1C2A9E-0B3D-4E5F-8A7B-9C0D1E2F3A4B")", R"("secret":"AP8=")",
              R"("type":"hotp")", R"("algorithm":"SHA512")", R"("counter":18446744073709551615,)",
              R"("createdAt":"2024-05-01T12:30:00Z")"})
            QVERIFY2(text.contains(part), part);
        QCOMPARE(a.toJson(DateForm::referenceDate).value("createdAt").toDouble(), 736259400.0);
    }

    void isoDropsFractions() {
        Account a = make("bob");
        a.createdAt = utc("2024-05-01T12:30:00.750Z");
        a.lastUsedAt = utc("2024-05-02T08:00:00.001Z");
        const auto iso = viaText(a, DateForm::iso8601);
        QVERIFY(iso && !(*iso == a));
        QCOMPARE(iso->createdAt, utc("2024-05-01T12:30:00Z"));
        QCOMPARE(*iso->lastUsedAt, utc("2024-05-02T08:00:00Z"));
        const auto reference = viaText(a, DateForm::referenceDate);
        QVERIFY(reference && *reference == a);
    }

    // `value` is raw JSON put under `key` in an otherwise valid record; an
    // empty value removes the key.
    void readingRules_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("ok");
        for (const char* key : {"id", "name", "issuer", "secret"})
            for (const char* value : {"", "null", "1"})
                QTest::addRow("%s: %s", key, value) << key << QByteArray(value) << false;
        const struct {
            const char* key;
            const char* value;
            bool ok;
        } rows[] = {
            {"issuer", R"("")", true},
            {"id", R"("6F1C2A9E-0B3D-4E5F-8A7B-9C0D1E2F3A4B")", true},
            {"secret", R"("AAE")", false},
            {"secret", R"("")", true},
            {"type", R"("TOTP")", false},
            {"type", "null", true},
            {"algorithm", R"("sha256")", false},
            {"digits", R"("6")", false},
            {"period", "6.5", false},
            {"counter", "-1", false},
            {"counter", "1.5", false},
            {"counter", "18446744073709551616", false},
            {"counter", R"("5")", false},
            {"createdAt", R"("2024-05-01T12:30:00.5Z")", false},
            {"createdAt", R"("2024-05-01T12:30:00")", false},
            {"isFavorite", "1", false},
            {"note", "[]", false},
            {"folderID", R"("work")", false},
            {"isSteam", R"("false")", false},
            {"recoveryCodes", "{}", false},
            {"deletedAt", "false", false},
            {"useCount", "2.5", false},
            {"lastUsedAt", "736259400", false},
            {"colour", R"({"x":1})", true},
        };
        for (const auto& row : rows)
            QTest::addRow("%s: %s", row.key, row.value)
                << row.key << QByteArray(row.value) << row.ok;
    }
    void readingRules() {
        QFETCH(QString, key);
        QFETCH(QByteArray, value);
        QFETCH(bool, ok);
        QJsonObject object = required();
        object.remove(key);
        QByteArray text = Json::serialize(QJsonDocument(object));
        if (!value.isEmpty()) text.insert(text.size() - 1, ",\"" + key.toUtf8() + "\":" + value);
        QCOMPARE(readText(text, DateForm::iso8601).has_value(), ok);
    }

    void defaults_data() {
        QTest::addColumn<bool>("nulls");
        QTest::newRow("keys missing") << false;
        QTest::newRow("keys null") << true;
    }
    void defaults() {
        QFETCH(bool, nulls);
        QJsonObject object = required();
        if (nulls)
            for (const char* key : {"type", "algorithm", "digits", "period", "counter", "createdAt",
                                    "isFavorite", "note", "folderID", "isSteam", "recoveryCodes",
                                    "deletedAt", "useCount", "lastUsedAt"})
                object.insert(key, QJsonValue::Null);
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const auto a = Account::fromJson(object, DateForm::iso8601);
        QVERIFY(a);
        QVERIFY(a->createdAt >= before && a->createdAt <= QDateTime::currentDateTimeUtc());
        QCOMPARE(a->secret, QByteArray("\x00\x01", 2));
        QVERIFY(a->type == OTPType::totp && a->algorithm == HashAlgorithm::sha1);
        QVERIFY(a->digits == 6 && a->period == 30 && a->counter == 0 && a->useCount == 0);
        QVERIFY(!a->isFavorite && !a->isSteam && a->note.isEmpty() && a->recoveryCodes.isEmpty());
        QVERIFY(!a->folderID && !a->deletedAt && !a->lastUsedAt);
    }

    void displayLabel() {
        QCOMPARE(make("bob").displayLabel(), QStringLiteral("bob"));
        QCOMPARE(make("", "Acme").displayLabel(), QStringLiteral("Acme: "));
        QCOMPARE(make("bob ", " Acme").displayLabel(), QStringLiteral(" Acme: bob "));
    }

    void sorted_data() {
        QTest::addColumn<int>("sort");
        QTest::addColumn<QList<Account>>("input");
        QTest::addColumn<QStringList>("expected");
        // Case variants in both input orders, so neither case wins a tie; "Éva"
        // sorts before "fay" by language rules but after it by code point.
        const QList<Account> people = {make("dan"),           make("fay"),          make("Alice"),
                                       make("zed", "", true), make("alice"),        make("Éva"),
                                       make("Dan"),           make("amy", "", true)};
        QTest::newRow("manual") << int(AccountSort::manual) << people
                                << QStringList{"dan",   "fay", "Alice", "zed",
                                               "alice", "Éva", "Dan",   "amy"};
        QTest::newRow("name") << int(AccountSort::name) << people
                              << QStringList{"amy", "zed", "Alice", "alice",
                                             "dan", "Dan", "Éva",   "fay"};
        // Long enough that an unstable sort would reorder the ties.
        QList<Account> ties;
        QStringList tieLabels;
        for (int i = 0; i < 40; ++i) {
            ties << make(i % 2 ? "x" : "X", qPrintable(QString::number(i)));
            tieLabels << ties.last().displayLabel();
        }
        QTest::newRow("name, many ties") << int(AccountSort::name) << ties << tieLabels;
        QTest::newRow("issuer") << int(AccountSort::issuer)
                                << QList<Account>{make("x", "beta"), make("zoe", "Acme"),
                                                  make("bob", "acme"), make("q")}
                                << QStringList{"q", "acme: bob", "Acme: zoe", "beta: x"};
        const QDateTime t = utc("2024-05-01T12:00:00Z");
        QTest::newRow("mostUsed") << int(AccountSort::mostUsed)
                                  << QList<Account>{make("a", "", false, 3),
                                                    make("b", "", false, 3, t),
                                                    make("c", "", false, 5),
                                                    make("d", "", false, 3, t.addSecs(1)),
                                                    make("e"),
                                                    make("f", "", false, 3),
                                                    make("g", "", true)}
                                  << QStringList{"g", "c", "d", "b", "a", "f", "e"};
    }
    void sorted() {
        QFETCH(int, sort);
        QFETCH(QList<Account>, input);
        QFETCH(QStringList, expected);
        QStringList labels;
        for (const Account& a : Account::sorted(input, AccountSort(sort)))
            labels << a.displayLabel();
        QCOMPARE(labels, expected);
    }

    void sortText() {
        for (const auto sort :
             {AccountSort::manual, AccountSort::name, AccountSort::issuer, AccountSort::mostUsed})
            QCOMPARE(accountSortFromText(toText(sort)), sort);
        QCOMPARE(toText(AccountSort::mostUsed), QStringLiteral("mostUsed"));
        for (const char* text : {"Name", "", "mostused", " name"})
            QVERIFY2(!accountSortFromText(QString::fromLatin1(text)), text);
    }

    void otpauthURL_data() {
        QTest::addColumn<Account>("account");
        QTest::addColumn<QString>("url");
        Account example = make("ann smith", "Example Co");
        example.secret = "12345678901234567890";
        QTest::newRow("example")
            << example
            << "otpauth://totp/Example%20Co:ann%20smith?secret=GEZDGNBVGY3TQOJQ"
               "GEZDGNBVGY3TQOJQ&issuer=Example%20Co&algorithm=SHA1&digits=6&period=30";
        Account hotp = make("bob");
        hotp.secret = "a";
        hotp.type = OTPType::hotp;
        hotp.algorithm = HashAlgorithm::sha256;
        hotp.digits = 8;
        hotp.counter = uint64Max;
        QTest::newRow("hotp, no issuer")
            << hotp
            << "otpauth://hotp/"
               "bob?secret=ME&algorithm=SHA256&digits=8&counter=18446744073709551615";
        // Steam accounts are written as plain TOTP links.
        Account odd = make("x?y%z:w é+&=-._~", "A/B:C");
        odd.isSteam = true;
        odd.algorithm = HashAlgorithm::sha512;
        odd.digits = 5;
        odd.period = 15;
        QTest::newRow("encoding, empty secret")
            << odd
            << "otpauth://totp/A%2FB:C:x%3Fy%25z:w%20%C3%A9%2B%26%3D-._~?secret=&issuer=A%2FB:C"
               "&algorithm=SHA512&digits=5&period=15";
    }
    void otpauthURL() {
        QFETCH(Account, account);
        QFETCH(QString, url);
        QCOMPARE(account.otpauthURL(), url);
    }

    void equality() {
        const Account base = populated();
        Account copy = base;
        copy.createdAt = base.createdAt.toOffsetFromUtc(7200); // same instant
        QVERIFY(copy == base);
        QCOMPARE(qHash(copy), qHash(base));

        const std::pair<const char*, std::function<void(Account&)>> edits[] = {
            {"id", [](Account& a) { a.id = QUuid::createUuid(); }},
            {"name", [](Account& a) { a.name += 'x'; }},
            {"issuer", [](Account& a) { a.issuer.clear(); }},
            {"secret", [](Account& a) { a.secret[0] = 1; }},
            {"type", [](Account& a) { a.type = OTPType::totp; }},
            {"algorithm", [](Account& a) { a.algorithm = HashAlgorithm::sha256; }},
            {"digits", [](Account& a) { a.digits = 6; }},
            {"period", [](Account& a) { a.period = 30; }},
            {"counter", [](Account& a) { ++a.counter; }},
            {"createdAt", [](Account& a) { a.createdAt = a.createdAt.addMSecs(1); }},
            {"isFavorite", [](Account& a) { a.isFavorite = false; }},
            {"note", [](Account& a) { a.note = "Note"; }},
            {"folderID", [](Account& a) { a.folderID.reset(); }},
            {"isSteam", [](Account& a) { a.isSteam = false; }},
            {"recoveryCodes", [](Account& a) { a.recoveryCodes.clear(); }},
            {"deletedAt", [](Account& a) { a.deletedAt.reset(); }},
            {"useCount", [](Account& a) { ++a.useCount; }},
            {"lastUsedAt", [](Account& a) { a.lastUsedAt = a.lastUsedAt->addSecs(1); }},
        };
        for (const auto& [field, edit] : edits) {
            Account changed = base;
            edit(changed);
            QVERIFY2(!(changed == base), field);
            QVERIFY2(qHash(changed) != qHash(base), field);
        }
        // Present with a null id is not the same as absent.
        Account noFolder = base, nullFolder = base;
        noFolder.folderID.reset();
        nullFolder.folderID = QUuid();
        QVERIFY(!(noFolder == nullFolder));
        QVERIFY(qHash(noFolder) != qHash(nullFolder));
    }

    void folders() {
        const auto work = Folder::fromJson({{"name", "Work"}});
        const auto again = Folder::fromJson({{"name", "Work"}});
        QVERIFY(work && again);
        QVERIFY(!work->id.isNull() && work->id != again->id);
        QCOMPARE(work->symbol, QStringLiteral("folder"));
        QVERIFY(!Folder::fromJson({{"symbol", "star"}}));
        QCOMPARE(work->toJson().keys(), (QStringList{"id", "name", "symbol"}));
        QCOMPARE(Folder::fromJson(work->toJson()), work);

        FolderCatalog catalog{{*work, Folder{QUuid::createUuid(), "Home", "house"}},
                              utc("2024-05-01T12:30:00Z")};
        for (const auto form : {DateForm::iso8601, DateForm::referenceDate})
            QCOMPARE(FolderCatalog::fromJson(catalog.toJson(form), form), catalog);
        QJsonObject noDate = catalog.toJson(DateForm::iso8601);
        noDate.remove("updatedAt");
        QVERIFY(!FolderCatalog::fromJson(noDate, DateForm::iso8601));
        QVERIFY(!FolderCatalog::fromJson({{"updatedAt", 0}}, DateForm::referenceDate));
        QVERIFY(!FolderCatalog::fromJson({{"folders", QJsonArray{QJsonObject{}}}, {"updatedAt", 0}},
                                         DateForm::referenceDate));
    }

    void folderFilter() {
        const QUuid a = QUuid::createUuid(), b = QUuid::createUuid();
        const FolderFilter strayAll{FolderFilter::Kind::all, a};
        QVERIFY(strayAll == FolderFilter::all());
        QCOMPARE(qHash(strayAll), qHash(FolderFilter::all()));
        QVERIFY(FolderFilter::folder(a) == FolderFilter::folder(a));
        QVERIFY(!(FolderFilter::folder(a) == FolderFilter::folder(b)));
        QVERIFY(!(FolderFilter::all() == FolderFilter::ungrouped()));
        QVERIFY(!(FolderFilter::folder(QUuid()) == FolderFilter::all()));
    }
};

QUILLET_TEST_GUILESS_MAIN(AccountTests)
#include "AccountTests.moc"
