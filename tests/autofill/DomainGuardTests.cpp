// The domain guard's tables, and libidn2's idn2 as the reference for Punycode.
#include "autofill/DomainGuard.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

Q_DECLARE_METATYPE(DomainVerdict)

namespace {

QString ucs4(std::initializer_list<char32_t> points) {
    const std::vector<char32_t> list(points);
    return QString::fromUcs4(list.data(), qsizetype(list.size()));
}

// Runs idn2 over the lines, one output line per input line; nothing when
// idn2 is missing or refuses any of them.
std::optional<QStringList> idn2(const QStringList& arguments, const QStringList& lines) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("idn2"), arguments);
    if (!process.waitForStarted())
        return std::nullopt;
    process.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return std::nullopt;
    QStringList out = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (out.last().isEmpty())
        out.removeLast();
    return out;
}

// Lower-case letters of several scripts that IDNA2008 accepts anywhere in a
// label, so that idn2 takes every label made of them.
QString randomLabel(QRandomGenerator& random) {
    static const QList<std::pair<char32_t, char32_t>> ranges = {
        {U'a', U'z'},       {U'0', U'9'},       {0x00E0, 0x00F6}, {0x00F8, 0x00FF},
        {0x03B1, 0x03C9},   {0x0430, 0x044F},   {0x3041, 0x3093}, {0x4E00, 0x9FA5},
        {0x0101, 0x0101},   {0x0103, 0x0103},   {0xAC00, 0xD7A3},
    };
    QString label;
    // Short enough that the encoded label stays within 63 characters.
    const int length = random.bounded(1, 11);
    for (int i = 0; i < length; ++i) {
        const auto& [first, last] = ranges[random.bounded(int(ranges.size()))];
        const char32_t point = first + char32_t(random.bounded(int(last - first + 1)));
        label += QString::fromUcs4(&point, 1);
    }
    return label;
}

} // namespace

class DomainGuardTests : public QObject {
    Q_OBJECT

private slots:
    void punycodeDecode_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<std::optional<QString>>("expected");
        using Out = std::optional<QString>;
        QTest::newRow("empty is empty text") << QString() << Out(QString());
        QTest::newRow("bücher") << "bcher-kva" << Out(QStringLiteral("bücher"));
        QTest::newRow("capitals keep their case in the basic part")
            << "BCHER-KVA" << Out(QStringLiteral("BüCHER"));
        QTest::newRow("Cyrillic dze then hop") << "hop-ehd" << Out(ucs4({0x0455, 'h', 'o', 'p'}));
        QTest::newRow("Cyrillic o") << "shp-ted" << Out(ucs4({'s', 'h', 0x043E, 'p'}));
        QTest::newRow("leading delimiter, empty basic part")
            << "-abc" << Out(ucs4({0x0082, 0x0081, 0x0080}));
        QTest::newRow("no delimiter: deltas from the start") << "1xa" << Out(ucs4({0x03C0}));
        QTest::newRow("only a delimiter") << "-" << Out(QString());
        QTest::newRow("basic part alone") << "abc-" << Out(QStringLiteral("abc"));
        QTest::newRow("last hyphen is the delimiter") << "a-b-" << Out(QStringLiteral("a-b"));
        QTest::newRow("CR LF is one character, giving LF")
            << "a\r\nb-" << Out(QStringLiteral("a\nb"));
        QTest::newRow("ends inside a delta") << "zz" << Out();
        QTest::newRow("non-ASCII in the basic part") << "ü-abc" << Out();
        QTest::newRow("non-alphanumeric delta") << "ab-c!" << Out();
        QTest::newRow("delta with a combining mark") << QString("bcher-kv" + ucs4({'a', 0x0301}))
                                                     << Out();
        QTest::newRow("hyphen with a combining mark is no delimiter")
            << QString("abc" + ucs4({'-', 0x0301}) + "x") << Out();
        QTest::newRow("overflow in a digit run") << "99999999999999999999a" << Out();
        QTest::newRow("surrogate result") << "ib9b" << Out();
        QTest::newRow("beyond U+10FFFF") << "en32g" << Out();
        QTest::newRow("U+10FFFF itself") << "dn32g" << Out(ucs4({0x10FFFF}));
        QTest::newRow("surrogate after a basic code point") << "a-qo7g" << Out();
    }
    void punycodeDecode() {
        QFETCH(QString, input);
        QFETCH(std::optional<QString>, expected);
        const auto decoded = Punycode::decode(input);
        QCOMPARE(decoded.has_value(), expected.has_value());
        if (expected)
            QCOMPARE(*decoded, *expected);
    }

    void decodeHost_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one label") << "xn--bcher-kva.q" << "bücher.q";
        QTest::newRow("prefix in capitals, decoded in lower case")
            << "xn--BCHER-KVA.q" << "bücher.q";
        QTest::newRow("invalid label stays as it came") << "XN--zz.Q" << "XN--zz.Q";
        // Only an A-label as IDNA gives them out is decoded: never one
        // that decodes to plain ASCII, or another spelling of a text.
        QTest::newRow("bare prefix stays") << "xn--.q" << "xn--.q";
        QTest::newRow("decoding to ASCII stays") << "xn--github-.com" << "xn--github-.com";
        QTest::newRow("in capitals too") << "XN--GitHub-.com" << "XN--GitHub-.com";
        QTest::newRow("a leading delimiter is another spelling") << "xn---abc.q" << "xn---abc.q";
        QTest::newRow("a carriage return is another spelling") << "xn--a\r\nb-joa.q" << "xn--a\r\nb-joa.q";
        QTest::newRow("ASCII beside the decoded label")
            << "xn--github-.xn--bcher-kva.q" << "xn--github-.bücher.q";
        QTest::newRow("empty labels kept") << "a..b." << "a..b.";
        QTest::newRow("several labels")
            << "xn--hop-ehd.xn--bcher-kva.q" << QString(ucs4({0x0455}) + "hop.bücher.q");
        QTest::newRow("overflowing label stays") << "xn--99999999999999999999a.q"
                                                 << "xn--99999999999999999999a.q";
        QTest::newRow("no prefix") << "bcher-kva.q" << "bcher-kva.q";
        QTest::newRow("a label over 63 stays")
            << "xn--" + QString(56, u'a') + "-kva.q" << "xn--" + QString(56, u'a') + "-kva.q";
    }
    void decodeHost() {
        QFETCH(QString, host);
        QFETCH(QString, expected);
        QCOMPARE(Punycode::decodeHost(host), expected);
    }

    void normalize_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("expected");
        QTest::newRow("case, trailing dot and www") << "WWW.Shop.Q." << "shop.q";
        QTest::newRow("invalid Punycode lowercased only") << "XN--zz.Q" << "xn--zz.q";
        QTest::newRow("Punycode in capitals") << "xn--BCHER-KVA.q" << "bücher.q";
        QTest::newRow("www only at the start") << "q.www.shop.q" << "q.www.shop.q";
        QTest::newRow("www removed once") << "www.www.x" << "www.x";
        QTest::newRow("one trailing dot") << "shop.q.." << "shop.q.";
        QTest::newRow("no trimming") << " shop.q" << " shop.q";
        QTest::newRow("port stays") << "shop.q:443" << "shop.q:443";
        QTest::newRow("www. alone") << "www." << "www";
        QTest::newRow("capital I with dot above") << QString(ucs4({0x0130}) + "x.q")
                                                  << QString(ucs4({'i', 0x0307}) + "x.q");
    }
    void normalize() {
        QFETCH(QString, host);
        QFETCH(QString, expected);
        QCOMPARE(DomainGuard::normalize(host), expected);
    }

    void registrableDomain_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("expected");
        QTest::newRow("subdomains") << "a.b.shop.q" << "shop.q";
        QTest::newRow("inner www") << "q.www.shop.q" << "shop.q";
        QTest::newRow("under co.uk") << "a.b.shop.co.uk" << "shop.co.uk";
        QTest::newRow("co.uk alone") << "co.uk" << "co.uk";
        QTest::newRow("empty labels dropped") << "a..b.q" << "b.q";
        QTest::newRow("different site") << "shop.q.evil.r" << "evil.r";
        QTest::newRow("address like a name") << "10.0.0.1" << "0.1";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("a lone dot") << "." << "";
        QTest::newRow("uk alone is no suffix of two labels") << "a.b.uk" << "b.uk";
        QTest::newRow("suffix matched in lower case") << "A.B.CO.UK" << "b.co.uk";
        QTest::newRow("decomposed letters stay as given") << QString("x.cafe" + ucs4({0x0301}) + ".q")
                                                          << QString("cafe" + ucs4({0x0301}) + ".q");
        for (const char* suffix :
             {"co.uk", "org.uk", "gov.uk", "ac.uk", "co.jp", "co.kr", "com.au", "net.au", "org.au",
              "com.br", "com.mx", "com.tr", "co.in", "co.nz", "co.za", "com.sg", "com.hk",
              "com.cn", "co.il"})
            QTest::addRow("under %s", suffix)
                << QStringLiteral("login.site.%1").arg(QLatin1String(suffix))
                << QStringLiteral("site.%1").arg(QLatin1String(suffix));
    }
    void registrableDomain() {
        QFETCH(QString, host);
        QFETCH(QString, expected);
        QCOMPARE(DomainGuard::registrableDomain(host), expected);
    }

    void skeleton_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QList<std::pair<char32_t, char>> table = {
            {'0', 'o'},    {'1', 'l'},    {'5', 's'},    {'i', 'l'},    {'|', 'l'},
            {0x0430, 'a'}, {0x0435, 'e'}, {0x043E, 'o'}, {0x0440, 'p'}, {0x0441, 'c'},
            {0x0445, 'x'}, {0x0443, 'y'}, {0x0456, 'l'}, {0x0458, 'j'}, {0x0455, 's'},
            {0x051B, 'q'}, {0x051D, 'w'}, {0x0433, 'r'}, {0x03B1, 'a'}, {0x03BF, 'o'},
            {0x03C1, 'p'}, {0x03F2, 'c'}, {0x03C4, 't'}, {0x03C5, 'u'}, {0x03BD, 'v'},
            {0x03B9, 'l'}, {0x03BA, 'k'}, {0x03B2, 'b'}, {0x03B7, 'n'},
        };
        for (const auto& [from, to] : table)
            QTest::addRow("U+%04X", unsigned(from)) << ucs4({from}) << QString(QLatin1Char(to));
        QTest::newRow("Latin l stays") << "l" << "l";
        QTest::newRow("capitals fold after lowercasing")
            << ucs4({0x0410, 0x039F, 'I'}) << "aol";
        QTest::newRow("a word") << QString("p" + ucs4({0x0430}) + "yp" + ucs4({0x0430}) + "1")
                                << "paypal";
        QTest::newRow("letter with a combining mark is another character")
            << ucs4({0x043E, 0x0301}) << ucs4({0x043E, 0x0301});
        QTest::newRow("canonical singleton of iota") << ucs4({0x1FBE}) << "l";
        QTest::newRow("others unchanged") << "shop-2.q" << "shop-2.q";
    }
    void skeleton() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Confusables::skeleton(text), expected);
    }

    void verdict_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("known");
        QTest::addColumn<DomainVerdict>("expected");
        QTest::newRow("normalised host") << "WWW.Shop.Q." << "shop.q" << DomainVerdict::match;
        QTest::newRow("subdomain") << "a.b.shop.q" << "shop.q" << DomainVerdict::match;
        QTest::newRow("inner www") << "q.www.shop.q" << "shop.q" << DomainVerdict::match;
        QTest::newRow("known domain with more labels")
            << "login.shop.q" << "www.shop.q" << DomainVerdict::match;
        QTest::newRow("site under another") << "shop.q.evil.r" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("digit zero") << "sh0p.q" << "shop.q" << DomainVerdict::spoof;
        QTest::newRow("digit zero in capitals") << "SH0P.Q" << "shop.q" << DomainVerdict::spoof;
        QTest::newRow("Cyrillic dze") << "xn--hop-ehd.q" << "shop.q" << DomainVerdict::spoof;
        QTest::newRow("Cyrillic o") << "xn--shp-ted.q" << "shop.q" << DomainVerdict::spoof;
        QTest::newRow("Cyrillic a, written out")
            << QString("p" + ucs4({0x0430}) + "ypal.com") << "paypal.com" << DomainVerdict::spoof;
        QTest::newRow("digit one") << "paypa1.com" << "paypal.com" << DomainVerdict::spoof;
        QTest::newRow("look-alike under another suffix")
            << "paypal.co.uk" << "paypal.com" << DomainVerdict::mismatch;
        // Unverified only for a known domain that names no site; a host
        // without a registrable domain is another site.
        QTest::newRow("empty host") << "" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("blank known domain") << "shop.q" << " \t " << DomainVerdict::unverified;
        QTest::newRow("empty known domain") << "shop.q" << "" << DomainVerdict::unverified;
        QTest::newRow("known domain between blanks")
            << "shop.q" << QString(" shop.q") + QChar(0x00A0) << DomainVerdict::match;
        QTest::newRow("host is not trimmed") << " shop.q" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("line break is not trimmed")
            << "shop.q" << "shop.q\n" << DomainVerdict::mismatch;
        QTest::newRow("lone dot") << "." << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("two dots") << ".." << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("known domain of dots") << "shop.q" << "." << DomainVerdict::unverified;
        QTest::newRow("Punycode that decodes to the site")
            << "xn--github-.com" << "github.com" << DomainVerdict::mismatch;
        QTest::newRow("an empty label inside")
            << "shop..q" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("an empty label first") << ".a.shop.q" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("two trailing dots") << "shop.q.." << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("under the site, a label that decodes to ASCII")
            << "xn--login-.github.com" << "github.com" << DomainVerdict::match;
        QTest::newRow("canonically equivalent")
            << QString("cafe" + ucs4({0x0301}) + ".q") << ucs4({'c', 'a', 'f', 0x00E9, '.', 'q'})
            << DomainVerdict::match;
        QTest::newRow("unrelated") << "example.org" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("undecodable Punycode compared as it is")
            << "xn--zz.q" << "shop.q" << DomainVerdict::mismatch;
        // What no browser takes for a host name only reads like the site.
        QTest::newRow("a path that ends like the site")
            << "evil.r/a.shop.q" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("a vertical line") << "evil.r|shop.q" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("an escape") << "evil%2Fx.shop.q" << "shop.q" << DomainVerdict::mismatch;
        QTest::newRow("a look-alike with a vertical line")
            << "sh|p.q" << "shlp.q" << DomainVerdict::spoof;
        // Past the name system's limits: never decoded, never a match.
        QTest::newRow("a label of 63") << QString(63, u'a') + ".shop.q" << "shop.q" << DomainVerdict::match;
        QTest::newRow("a label of 64") << QString(64, u'a') + ".shop.q" << "shop.q" << DomainVerdict::mismatch;
        const QString fourLabels = (QString(50, u'a') + ".").repeated(4);
        QTest::newRow("a host of 253, and a trailing dot")
            << fourLabels + QString(42, u'e') + ".shop.q." << "shop.q" << DomainVerdict::match;
        QTest::newRow("a host of 254")
            << fourLabels + QString(43, u'e') + ".shop.q" << "shop.q" << DomainVerdict::mismatch;
    }
    void verdict() {
        QFETCH(QString, host);
        QFETCH(QString, known);
        QFETCH(DomainVerdict, expected);
        QCOMPARE(DomainGuard::verdict(host, known), expected);
    }

    void finalSigmaFoldsLikeUnicode() {
        // A capital sigma that ends a word lowercases to the final form; one
        // before a "." followed by a letter does not end the word.
        QCOMPARE(DomainGuard::normalize(ucs4({0x0391, 0x03A3})), ucs4({0x03B1, 0x03C2}));
        QCOMPARE(DomainGuard::normalize(ucs4({0x0391, 0x03A3, '.', 'q'})),
                 ucs4({0x03B1, 0x03C3, '.', 'q'}));
    }

    // idn2 decodes the hosts of the examples as we do, and what it refuses
    // as invalid Punycode we leave as it is written.
    void examplesAgreeWithIdn2() {
        if (!idn2({"--decode"}, {"xn--bcher-kva.q"}))
            QSKIP("idn2 is not installed");
        for (const QString host :
             {"xn--bcher-kva.q", "xn--BCHER-KVA.q", "xn--hop-ehd.q", "xn--shp-ted.q",
              "xn--pypal-4ve.com", "sh0p.q", "xn--9a.q", "xn--github-.com", "xn--GITHUB-.com",
              "xn--abc-.q", "xn---abc.q", "xn--.q", "xn--zz.q", "xn--a-.q", "xn--bcher-kva-.q",
              "xn--99999999999999999999a.q"}) {
            const auto decoded = idn2({"--decode"}, {host});
            QCOMPARE(DomainGuard::normalize(host), (decoded ? decoded->value(0) : host).toLower());
        }
    }

    // Labels far longer than any host holds decode as Python's codec
    // encodes them (long texts are where an insertion order goes wrong).
    void longLabelsRoundTripThroughPython() {
        QRandomGenerator random(23);
        QString text;
        while (text.size() < 5000)
            text += randomLabel(random);
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import sys; sys.stdout.write(sys.stdin.read().encode('punycode').decode())")});
        python.write(text.toUtf8());
        python.closeWriteChannel();
        if (!python.waitForFinished(20000) || python.exitCode() != 0)
            QSKIP("python3 cannot encode Punycode");
        const auto decoded = Punycode::decode(QString::fromLatin1(python.readAllStandardOutput()));
        QVERIFY(decoded);
        QVERIFY(*decoded == text);
    }

    // A thousand random labels in several scripts: idn2 encodes them, we
    // decode them back, and idn2 decodes them as we do.
    void randomLabelsRoundTripThroughIdn2() {
        QRandomGenerator random(17);
        QStringList labels;
        while (labels.size() < 1000) {
            const QString label = randomLabel(random);
            // A label made of digits and letters alone needs no encoding.
            if (!labels.contains(label))
                labels.append(label);
        }
        const auto encoded = idn2({"--no-tr46"}, labels);
        if (!encoded)
            QSKIP("idn2 is not installed");
        QCOMPARE(encoded->size(), labels.size());
        QStringList ace;
        for (qsizetype i = 0; i < labels.size(); ++i) {
            const QString& form = encoded->at(i);
            if (!form.startsWith(QLatin1String("xn--"))) {
                QCOMPARE(form, labels[i]);
                continue;
            }
            const auto decoded = Punycode::decode(form.mid(4));
            QVERIFY2(decoded, qPrintable(form));
            QCOMPARE(*decoded, labels[i]);
            QCOMPARE(DomainGuard::normalize(QStringLiteral("WWW.") + form.toUpper() +
                                            QStringLiteral(".Q.")),
                     labels[i] + QStringLiteral(".q"));
            ace.append(form);
        }
        QVERIFY(ace.size() > 900);
        const auto back = idn2({"--decode"}, ace);
        QVERIFY(back);
        QCOMPARE(back->size(), ace.size());
        for (qsizetype i = 0; i < ace.size(); ++i)
            QCOMPARE(Punycode::decodeHost(ace[i]), back->at(i));
    }
};

QUILLET_TEST_GUILESS_MAIN(DomainGuardTests)
#include "DomainGuardTests.moc"
