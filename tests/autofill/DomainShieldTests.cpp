// The issuer table, the rule that decides on a warning, and the warning as a
// user sees and answers it.
#include "autofill/DomainShield.h"
#include "autofill/DomainShieldWarningView.h"
#include "core/CredentialIdentitySync.h"
#include "core/Text.h"
#include "tests/support/TestMain.h"

#include <QAccessible>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QApplication>
#include <QtTest>

Q_DECLARE_METATYPE(DomainVerdict)

namespace {

Account accountOf(const QString& issuer) {
    Account account;
    account.issuer = issuer;
    account.name = QStringLiteral("me@example.org");
    return account;
}

QPushButton* button(QWidget& view, const QString& text) {
    for (auto* b : view.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

QStringList labelTexts(QWidget& view) {
    QStringList texts;
    for (auto* label : view.findChildren<QLabel*>())
        if (!label->text().isEmpty()) {
            QTextDocument document;
            document.setHtml(label->text());
            texts.append(label->textFormat() == Qt::RichText ? document.toPlainText()
                                                             : label->text());
        }
    return texts;
}

QString withoutIsolates(QString text) {
    return text.remove(QChar(0x2066)).remove(QChar(0x2067)).remove(QChar(0x2068)).remove(QChar(0x2069));
}

// What idn2 (IDNA2008 with UTS #46 processing) makes of a host: its ASCII
// form, or nothing when it refuses the host.
QString idn2(const QString& host) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("idn2"), {QStringLiteral("--"), host});
    if (!process.waitForFinished(10000)) return QStringLiteral("idn2 did not end");
    if (process.exitStatus() != QProcess::NormalExit) return QStringLiteral("idn2 failed");
    return process.exitCode() == 0 ? QString::fromUtf8(process.readAllStandardOutput()).trimmed()
                                   : QString();
}

} // namespace

// A value as the warning sets it into its sentence.
static QString iso(const QString& text) { return QChar(0x2068) + text + QChar(0x2069); }

class DomainShieldTests : public QObject {
    Q_OBJECT

private slots:
    void issuerTable() {
        const auto& table = IssuerDomains::table();
        QCOMPARE(table.size(), 50);
        for (auto it = table.begin(); it != table.end(); ++it) {
            QCOMPARE(it.key(), it.key().toLower());
            QVERIFY(!it.value().isEmpty());
            for (const QString& domain : it.value())
                QVERIFY2(domain.contains(QLatin1Char('.')) && domain == domain.toLower() &&
                             !domain.contains(QLatin1Char('/')) && !domain.contains(QLatin1Char(':')),
                         qPrintable(domain));
        }
        // Names of one service share its domain; every other name has its own.
        const QList<QStringList> shared = {{"google", "gmail"},
                                           {"aws", "amazon web services"},
                                           {"microsoft", "azure", "outlook"},
                                           {"apple", "icloud"},
                                           {"facebook", "meta"},
                                           {"epic games", "epic", "epicgames"},
                                           {"proton", "protonmail"}};
        for (const QStringList& group : shared)
            for (const QString& key : group)
                QCOMPARE(table.value(key), table.value(group.first()));
        const auto sameService = [&](const QString& a, const QString& b) {
            return std::any_of(shared.begin(), shared.end(), [&](const QStringList& group) {
                return group.contains(a) && group.contains(b);
            });
        };
        for (auto a = table.begin(); a != table.end(); ++a)
            for (auto b = table.begin(); b != table.end(); ++b)
                if (a.key() != b.key() && a.value() == b.value())
                    QVERIFY2(sameService(a.key(), b.key()), qPrintable(a.key() + " " + b.key()));
        // The old name and the new each keep their own first domain, and
        // sign in on both.
        QCOMPARE(table.value("twitter"), QStringList({"twitter.com", "x.com"}));
        QCOMPARE(table.value("x"), QStringList({"x.com", "twitter.com"}));
    }

    // The site an account's identity is registered for is one the warning
    // takes for the issuer's own, for every known service and for accounts
    // of any other issuer; a look-alike of either of a service's domains is
    // named as the one it imitates.
    void theRegisteredSiteNeverWarns() {
        QStringList issuers = IssuerDomains::table().keys();
        issuers << "Twitter" << " X " << "Google Workspace" << "My Bank";
        for (const QString& issuer : issuers) {
            Account account;
            account.issuer = issuer;
            const QString site = CredentialIdentitySync::domainForIssuer(issuer);
            QVERIFY2(!DomainShieldWarning::evaluate(account, QList<QString>{site}),
                     qPrintable(issuer + " on " + site));
            QVERIFY2(!DomainShieldWarning::evaluate(account, QList<QString>{"www." + site}),
                     qPrintable(issuer));
        }
        Account twitter;
        twitter.issuer = "Twitter";
        for (const QString& site : {QStringLiteral("twitter.com"), QStringLiteral("mobile.x.com")})
            QVERIFY(!DomainShieldWarning::evaluate(twitter, QList<QString>{site}));
        QCOMPARE(DomainShieldWarning::evaluate(twitter, QList<QString>{"tw1tter.com"})->knownDomain,
                 QStringLiteral("twitter.com"));
        const auto imitation =
            DomainShieldWarning::evaluate(twitter, QList<QString>{QString(QChar(0x0445)) + ".com"});
        QCOMPARE(imitation->verdict, DomainVerdict::spoof);
        QCOMPARE(imitation->knownDomain, QStringLiteral("x.com"));
        const auto other = DomainShieldWarning::evaluate(twitter, QList<QString>{"evil.example"});
        QCOMPARE(other->verdict, DomainVerdict::mismatch);
        QCOMPARE(other->knownDomain, QStringLiteral("twitter.com"));
    }

    void issuerLookup_data() {
        QTest::addColumn<QString>("issuer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("exact") << "github" << "github.com";
        QTest::newRow("capitals and blanks") << " \tGitHub " << "github.com";
        QTest::newRow("two words") << "Amazon Web Services" << "aws.amazon.com";
        QTest::newRow("no word-wise match") << "Git Hub" << "";
        QTest::newRow("no first-word match") << "Google Workspace" << "";
        QTest::newRow("line break not trimmed") << "github\n" << "";
        QTest::newRow("empty") << "" << "";
    }
    void issuerLookup() {
        QFETCH(QString, issuer);
        QFETCH(QString, expected);
        QCOMPARE(IssuerDomains::domain(issuer).value_or(QString()), expected);
    }

    void evaluate_data() {
        QTest::addColumn<QString>("issuer");
        QTest::addColumn<QStringList>("hosts");
        QTest::addColumn<bool>("warns");
        QTest::addColumn<DomainVerdict>("verdict");
        QTest::addColumn<QString>("host");
        const auto none = DomainVerdict::unverified;
        QTest::newRow("matching host") << "GitHub" << QStringList{"github.com"} << false << none
                                       << "";
        QTest::newRow("issuer between blanks, matching")
            << " GITHUB " << QStringList{"gist.github.com"} << false << none << "";
        QTest::newRow("unknown issuer never warns")
            << "Git Hub" << QStringList{"evil.example"} << false << none << "";
        QTest::newRow("no hosts") << "github" << QStringList{} << false << none << "";
        QTest::newRow("an empty host differs")
            << "github" << QStringList{"", "evil.example"} << true << DomainVerdict::mismatch << "";
        QTest::newRow("a later match clears a mismatch")
            << "github" << QStringList{"evil.example", "github.com"} << false << none << "";
        QTest::newRow("first of two mismatches")
            << "github" << QStringList{"one.example", "two.example"} << true
            << DomainVerdict::mismatch << "one.example";
        QTest::newRow("spoof outranks an earlier mismatch")
            << "github" << QStringList{"one.example", "g1thub.com"} << true << DomainVerdict::spoof
            << "g1thub.com";
        QTest::newRow("spoof stays over a later mismatch")
            << "github" << QStringList{"g1thub.com", "two.example"} << true << DomainVerdict::spoof
            << "g1thub.com";
        QTest::newRow("last of two spoofs")
            << "github" << QStringList{"g1thub.com", "glthub.com"} << true << DomainVerdict::spoof
            << "glthub.com";
        // A host with no registrable domain is another site, in the same
        // order as any other.
        QTest::newRow("hosts without a registrable domain differ")
            << "github" << QStringList{".", ".."} << true << DomainVerdict::mismatch << ".";
        QTest::newRow("dots, then the site") << "github" << QStringList{"..", "github.com"} << false
                                             << none << "";
        QTest::newRow("dots, then a spoof")
            << "github" << QStringList{".", "g1thub.com"} << true << DomainVerdict::spoof
            << "g1thub.com";
        QTest::newRow("host kept exactly as requested")
            << "paypal" << QStringList{"WWW.PayPa1.com."} << true << DomainVerdict::spoof
            << "WWW.PayPa1.com.";
        QTest::newRow("AWS signs in under amazon.com")
            << "AWS" << QStringList{"signin.aws.amazon.com"} << false << none << "";
    }
    void evaluate() {
        QFETCH(QString, issuer);
        QFETCH(QStringList, hosts);
        QFETCH(bool, warns);
        QFETCH(DomainVerdict, verdict);
        QFETCH(QString, host);
        const auto warning = DomainShieldWarning::evaluate(accountOf(issuer), hosts);
        QCOMPARE(warning.has_value(), warns);
        if (warning) {
            QCOMPARE(warning->verdict, verdict);
            QCOMPARE(warning->requestHost, host);
            QCOMPARE(warning->knownDomain, *IssuerDomains::domain(issuer));
        }
    }

    void spoofWarningReads() {
        int filled = 0, refused = 0;
        DomainShieldWarningView view({DomainVerdict::spoof, "g1thub.com", "github.com"},
                                     "GitHub: me", [&] { ++filled; }, [&] { ++refused; });
        const QStringList texts = labelTexts(view);
        QVERIFY(texts.contains("This site looks like a fake"));
        QVERIFY(texts.contains(iso("g1thub.com") + " imitates " + iso("github.com") +
                               " \u2014 the real site for " + iso("GitHub: me") +
                               ". Entering a code here could hand your account to an attacker."));
        QVERIFY(button(view, "Don't Fill"));
        QVERIFY(button(view, "Fill Anyway"));
        QCOMPARE(DomainShieldWarningView::message({DomainVerdict::spoof, "g1thub.com", "github.com"},
                                                  "GitHub: me"),
                 "<div dir=\"ltr\"><b>" + iso("g1thub.com") + "</b> imitates <b>" + iso("github.com") +
                     "</b> \u2014 the real site for " + iso("GitHub: me") +
                     ". Entering a code here could hand your account to an attacker.</div>");
        QCOMPARE(view.sizeHint(), QSize(380, 340));
    }

    void mismatchWarningReads() {
        DomainShieldWarningView view({DomainVerdict::mismatch, "evil.example", "github.com"},
                                     "GitHub: me", [] {}, [] {});
        const QStringList texts = labelTexts(view);
        QVERIFY(texts.contains("Different website"));
        QVERIFY(texts.contains("This code belongs to " + iso("github.com") + " (" + iso("GitHub: me") +
                               "), but the request comes from " + iso("evil.example") + "."));
        QCOMPARE(DomainShieldWarningView::message({DomainVerdict::mismatch, "evil.example",
                                                   "github.com"},
                                                  "GitHub: me"),
                 "<div dir=\"ltr\">This code belongs to <b>" + iso("github.com") + "</b> (" +
                     iso("GitHub: me") + "), but the request comes from <b>" + iso("evil.example") +
                     "</b>.</div>");
    }

    // The host comes from the request: whatever it holds is shown as text.
    void markupInValuesIsShownLiterally() {
        const QString host = QStringLiteral("<img src=x>**a**%1.example");
        const QString label = QStringLiteral("Me & <i>you</i>");
        DomainShieldWarningView view({DomainVerdict::mismatch, host, "github.com"}, label, [] {},
                                     [] {});
        QVERIFY(labelTexts(view).contains("This code belongs to " + iso("github.com") + " (" +
                                          iso(label) + "), but the request comes from " +
                                          iso(host) + "."));
    }

    // A direction override in a name reverses only that name, never the
    // sentence around it: every inserted value stands between isolates. A
    // host's own invisible characters are written out: a request for
    // "\u202Emoc.elgoog" must not read as google.com.
    void namesCannotReorderTheSentence() {
        const QString host = QStringLiteral("evil\u202Emoc.elgoog");
        const QString message = DomainShieldWarningView::message(
            {DomainVerdict::mismatch, host, "google.com"}, QStringLiteral("\u202Eecila"));
        // The host, not plain ASCII, also left to right within.
        QVERIFY(message.contains(iso(QChar(0x2066) + QStringLiteral("evil\\u202Emoc.elgoog") + QChar(0x2069))));
        QVERIFY(message.contains(iso(QStringLiteral("\u202Eecila"))));
        QCOMPARE(message.count(QChar(0x2068)), 3);
        QCOMPARE(message.count(QChar(0x2069)), 4);
        // Controls, marks, overrides, isolates, zero-width characters, line
        // separators, and a tag beyond the first plane.
        for (const char32_t c : {0x07, 0x7F, 0x9B, 0x61C, 0x200B, 0x200D, 0x200E, 0x200F, 0x2028,
                                 0x202A, 0x202E, 0x2066, 0x2068, 0x2069, 0x2060, 0xFEFF, 0xE0001}) {
            QString hidden = QStringLiteral("a");
            hidden.append(QChar::fromUcs4(c)).append(QStringLiteral("b.example"));
            const QString shown = DomainShieldWarningView::message({DomainVerdict::mismatch, hidden,
                                                                    "google.com"}, "Google: me");
            QVERIFY2(shown.contains(QRegularExpression(
                         iso(QChar(0x2066) + QStringLiteral("?a(\\\\u[0-9A-F]{4}|\\\\U[0-9A-F]{8})b\\.example") +
                             QChar(0x2069) + QLatin1Char('?')))),
                     qPrintable(QString::number(uint(c), 16)));
        }
        QVERIFY(DomainShieldWarningView::message({DomainVerdict::spoof, "x\U000E0001.com", "x.com"}, "X")
                    .contains("x\\U000E0001.com"));
    }

    // Hosts that draw as another site, or as a site at all, read as what
    // they are: a mark on a letter, a variation selector, a joiner, a
    // filler, a space that is none are written out, and a host that is not
    // plain ASCII has the ASCII form IDNA gives it beside it (idn2's, where
    // idn2 takes the host), in both sentences, to the eye and to a screen
    // reader. An umlaut domain reads as itself.
    void hostsThatDrawAlikeReadApart_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("shown");  // the host itself, escaped
        QTest::addColumn<QString>("ascii");  // IDNA's form; "idn2": as idn2 gives it
        const QString oracle = QStringLiteral("idn2");
        QTest::newRow("combining dot") << "gi\u0307thub.com" << "gi\\u0307thub.com" << oracle;
        QTest::newRow("variation selector") << "git\uFE0Fhub.com" << "git\\uFE0Fhub.com" << oracle;
        QTest::newRow("soft hyphen") << "git\u00ADhub.com" << "git\\u00ADhub.com" << oracle;
        QTest::newRow("grapheme joiner") << "git\u034Fhub.com" << "git\\u034Fhub.com" << oracle;
        QTest::newRow("supplementary selector")
            << "git\U000E0100hub.com" << "git\\U000E0100hub.com" << oracle;
        QTest::newRow("overlay mark") << "go\u0338ogle.com" << "go\\u0338ogle.com" << oracle;
        QTest::newRow("Cyrillic a and o") << "\u0430pple.c\u043Em" << "\u0430pple.c\u043Em" << oracle;
        QTest::newRow("Cyrillic i") << "g\u0456thub.com" << "g\u0456thub.com" << oracle;
        QTest::newRow("Greek omicron") << "g\u03BF\u03BFgle.com" << "g\u03BF\u03BFgle.com" << oracle;
        QTest::newRow("umlaut") << "b\u00FCcher.de" << "b\u00FCcher.de" << oracle;
        QTest::newRow("umlaut as a mark") << "bu\u0308cher.de" << "bu\u0308cher.de" << oracle;
        QTest::newRow("sharp s") << "stra\u00DFe.de" << "stra\u00DFe.de" << oracle;
        QTest::newRow("Hebrew") << "\u05D0\u05D1.com" << "\u05D0\u05D1.com" << oracle;
        // IDNA refuses these: no ASCII form to give.
        QTest::newRow("Hangul filler") << "git\u3164hub.com" << "git\\u3164hub.com" << QString();
        QTest::newRow("Hangul choseong filler") << "git\u115Fhub.com" << "git\\u115Fhub.com" << QString();
        QTest::newRow("halfwidth filler") << "git\uFFA0hub.com" << "git\\uFFA0hub.com" << QString();
        QTest::newRow("no-break space") << "git\u00A0hub.com" << "git\\u00A0hub.com" << QString();
        QTest::newRow("lone surrogate")
            << QStringLiteral("git") + QChar(0xD800) + QStringLiteral("hub.com")
            << "git\\uD800hub.com" << QString();
        // Neither Qt nor idn2 gives these an ASCII form: every character
        // outside ASCII is written out, so none reads as the site it imitates.
        const QString refused = QStringLiteral("refused by idn2");
        QTest::newRow("capital Cyrillic palochka")
            << "\u0410\u0420\u0420\u04C0\u0415.COM" << "\\u0410\\u0420\\u0420\\u04C0\\u0415.COM" << refused;
        QTest::newRow("palochka among Latin") << "G\u04C0THUB.COM" << "G\\u04C0THUB.COM" << refused;
        QTest::newRow("one dot leader") << "github\u2024com" << "github\\u2024com" << refused;
        // Qt gives these an ASCII form that idn2 refuses (a leading mark, a
        // symbol, joiners outside the scripts that need them).
        QTest::newRow("mark alone") << "\u0301github.com" << "\\u0301github.com" << "xn--github-hxd.com";
        QTest::newRow("braille blank") << "git\u2800hub.com" << "git\\u2800hub.com" << "xn--github-r11d.com";
        QTest::newRow("ZWJ") << "git\u200Dhub.com" << "git\\u200Dhub.com" << "xn--github-rf0c.com";
        QTest::newRow("ZWNJ") << "git\u200Chub.com" << "git\\u200Chub.com" << "xn--github-kf0c.com";
    }

    // A host with a right-to-left label is drawn in the order it is
    // written, the order a screen reader says it in, also where the warning
    // sets it into its sentence: its first label stays on the left.
    void hostsAreDrawnInTheOrderTheyAreSaid() {
        const QString host = QStringLiteral("\u0645\u062B\u0627\u0644.github.com.evil.example");
        const QString set = Text::isolated(HostText::shown(host));
        QTextLayout layout(set, QApplication::font());
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(100000);
        layout.endLayout();
        const qsizetype first = set.indexOf(QChar(0x0645));
        const qsizetype github = set.indexOf(QStringLiteral("github"));
        QVERIFY(first >= 0 && github > first);
        QVERIFY2(line.cursorToX(int(first)) < line.cursorToX(int(github)),
                 qPrintable(QString::number(line.cursorToX(int(first))) + " " +
                            QString::number(line.cursorToX(int(github)))));
    }

    void hostsThatDrawAlikeReadApart() {
        QFETCH(QString, host);
        QFETCH(QString, shown);
        QFETCH(QString, ascii);
        if (ascii == QLatin1String("idn2")) {
            ascii = idn2(host);
            QVERIFY2(!ascii.isEmpty() && ascii.size() < host.size() + 20, qPrintable(ascii));
        } else if (ascii == QLatin1String("refused by idn2")) {
            QVERIFY2(idn2(host).isEmpty(), qPrintable(idn2(host)));
            ascii.clear();
        }
        const QString named = ascii.isEmpty() ? shown : shown + " (" + ascii + ")";
        QCOMPARE(withoutIsolates(HostText::shown(host)), named);
        for (const DomainVerdict verdict : {DomainVerdict::spoof, DomainVerdict::mismatch}) {
            DomainShieldWarningView view({verdict, host, "github.com"}, "GitHub: me", [] {}, [] {});
            const QString sentence =
                verdict == DomainVerdict::spoof
                    ? named + " imitates github.com \u2014 the real site for GitHub: me. Entering "
                              "a code here could hand your account to an attacker."
                    : "This code belongs to github.com (GitHub: me), but the request comes from " +
                          named + ".";
            QStringList shownTexts, read;
            for (const QString& text : labelTexts(view)) shownTexts << withoutIsolates(text);
            for (auto* label : view.findChildren<QLabel*>())
                read << QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
            QVERIFY2(shownTexts.contains(sentence), qPrintable(shownTexts.join('|')));
            QVERIFY2(read.contains(sentence), qPrintable(read.join('|')));
        }
    }

    // A right-to-left host at the start does not turn the sentence round:
    // it keeps the interface's direction. A screen reader hears no isolates.
    void rightToLeftHostsKeepTheSentenceInOrder() {
        const DomainShieldWarning warning{DomainVerdict::spoof, QStringLiteral("\u05D0\u05D1.com"),
                                          "github.com"};
        QTextDocument document;
        document.setHtml(DomainShieldWarningView::message(warning, "GitHub: me"));
        QCOMPARE(document.firstBlock().textDirection(), Qt::LeftToRight);
        DomainShieldWarningView view(warning, "GitHub: me", [] {}, [] {});
        QStringList read;
        for (auto* label : view.findChildren<QLabel*>())
            read << QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
        QVERIFY2(read.contains(QStringLiteral("\u05D0\u05D1.com (xn--4dbc.com) imitates github.com \u2014 the real "
                                              "site for GitHub: me. Entering a code here could "
                                              "hand your account to an attacker.")),
                 qPrintable(read.join('|')));
    }

    void buttonsAndReturn() {
        int filled = 0, refused = 0;
        DomainShieldWarningView view({DomainVerdict::mismatch, "evil.example", "github.com"},
                                     "GitHub: me", [&] { ++filled; }, [&] { ++refused; });
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.activateWindow();
        QVERIFY(QAccessible::queryAccessibleInterface(button(view, "Don't Fill"))->state().defaultButton);
        QTest::keyClick(&view, Qt::Key_Return);
        QCOMPARE(refused, 1);
        // Return refuses even with the focus on "Fill Anyway".
        button(view, "Fill Anyway")->setFocus();
        QTest::keyClick(button(view, "Fill Anyway"), Qt::Key_Return);
        QCOMPARE(refused, 2);
        QCOMPARE(filled, 0);
        QTest::mouseClick(button(view, "Fill Anyway"), Qt::LeftButton);
        QCOMPARE(filled, 1);
        QTest::mouseClick(button(view, "Don't Fill"), Qt::LeftButton);
        QCOMPARE(refused, 3);
        QCOMPARE(filled, 1);
    }
};

QUILLET_TEST_MAIN(DomainShieldTests)
#include "DomainShieldTests.moc"
