// The vault checkup's findings and score, without any widget.
#include "menubar/SecurityCheckup.h"
#include "tests/support/TestMain.h"

#include <QtTest>

using namespace SecurityCheckup;

namespace {

// An account that draws no finding of its own: a 20-byte secret, an issuer,
// recovery codes, six digits.
Account healthy(const QString& issuer, const QString& name, char fill = 'a') {
    Account account;
    account.issuer = issuer;
    account.name = name;
    account.secret = QByteArray(20, fill);
    account.recoveryCodes = QStringLiteral("1111-2222");
    return account;
}

QList<Kind> kinds(const Result& result) {
    QList<Kind> out;
    for (const Finding& f : result.findings)
        out << f.kind;
    return out;
}

Finding ofSeverity(Severity severity) {
    return {QUuid::createUuid(), Kind::missingIssuer, severity, {}, {}, {}};
}

} // namespace

class SecurityCheckupTests : public QObject {
    Q_OBJECT

private slots:
    void rawValuesAndNames() {
        QCOMPARE(severityFromRaw(1), std::optional(Severity::info));
        QCOMPARE(severityFromRaw(3), std::optional(Severity::critical));
        QVERIFY(!severityFromRaw(0) && !severityFromRaw(4) && !severityFromRaw(-2));
        QVERIFY(Severity::info < Severity::warning && Severity::warning < Severity::critical);
        for (Kind kind : {Kind::duplicateSecret, Kind::weakSecret, Kind::missingIssuer,
                          Kind::noRecoveryCodes, Kind::nonStandardConfig})
            QCOMPARE(kindFromText(toText(kind)), std::optional(kind));
        QCOMPARE(toText(Kind::nonStandardConfig), QStringLiteral("nonStandardConfig"));
        QVERIFY(!kindFromText(QStringLiteral("DuplicateSecret")));
    }

    void anEmptyOrDeletedOnlyVaultIsPerfect() {
        QCOMPARE(analyze({}).score, 100);
        QVERIFY(analyze({}).findings.isEmpty());
        Account gone = healthy("", "x");
        gone.secret = "short";
        gone.deletedAt = QDateTime::currentDateTimeUtc();
        const Result result = analyze({gone, gone});
        QVERIFY(result.findings.isEmpty());
        QCOMPARE(result.score, 100);
        // With no active account even findings score 100.
        QCOMPARE(score({ofSeverity(Severity::critical)}, 0), 100);
    }

    void sharedSecretsAreOneCriticalFindingPerGroup() {
        Account a = healthy("Acme", "ann", 'k');
        Account b = healthy("", "bob", 'k');
        Account c = healthy("Corp", "cy", 'k');
        Account other = healthy("Else", "eve", 'z');
        Account pairA = healthy("P", "one", 'p');
        Account pairB = healthy("P", "two", 'p');
        Account deletedTwin = healthy("Gone", "dee", 'z');
        deletedTwin.deletedAt = QDateTime::currentDateTimeUtc();
        const Result result = analyze({pairA, a, other, b, deletedTwin, c, pairB});
        QCOMPARE(kinds(result), (QList<Kind>{Kind::duplicateSecret, Kind::duplicateSecret,
                                             Kind::missingIssuer}));
        // Groups in the order of their first account; members in vault order.
        const Finding& first = result.findings[0];
        QCOMPARE(first.severity, Severity::critical);
        QCOMPARE(first.accountIDs, (QList<QUuid>{pairA.id, pairB.id}));
        const Finding& second = result.findings[1];
        QCOMPARE(second.accountIDs, (QList<QUuid>{a.id, b.id, c.id}));
        QCOMPARE(second.title, QStringLiteral("Duplicate secret"));
        QCOMPARE(second.detail,
                 QStringLiteral("These accounts share the same secret key: Acme: ann, bob, "
                                "Corp: cy. If they aren't truly the same login, re-add one from "
                                "a fresh QR code."));
        // Each member still gets its own findings ("bob" has no issuer); the
        // deleted account sharing "eve"'s secret makes no group.
        QCOMPARE(result.findings[2].accountIDs, QList<QUuid>{b.id});
        QCOMPARE(result.score, 47);
    }

    void eachAccountIsTestedInOrder() {
        Account weak = healthy("", "lonely");
        weak.secret = QByteArray(10, 'w');
        weak.recoveryCodes.clear();
        Account twin = healthy("Twin", "t");
        twin.secret = weak.secret;
        const Result result = analyze({weak, twin});
        // The duplicate first, then the first account's findings in test
        // order, then the second's.
        QCOMPARE(kinds(result), (QList<Kind>{Kind::duplicateSecret, Kind::weakSecret,
                                             Kind::weakSecret, Kind::missingIssuer,
                                             Kind::noRecoveryCodes}));
        QCOMPARE(result.findings[1].accountIDs, QList<QUuid>{weak.id});
        QCOMPARE(result.findings[2].accountIDs, QList<QUuid>{twin.id});
        QCOMPARE(result.findings[1].detail,
                 QStringLiteral("lonely uses a 80-bit key. Where the site allows, re-enroll to "
                                "get a stronger one."));
        QCOMPARE(result.findings[3].detail,
                 QStringLiteral("lonely has no issuer, which makes it harder to recognize. Add "
                                "one under Edit."));
        QCOMPARE(result.findings[4].title, QStringLiteral("No recovery codes"));
        QCOMPARE(result.findings[4].detail,
                 QStringLiteral("lonely has no backup codes saved. If you lose this device, "
                                "recovery codes are the way back in."));
        // 100 - 25 - 2 x 10 - 2 x 3
        QCOMPARE(result.score, 49);
    }

    void secretLengths() {
        for (const auto& [bytes, bits] : QList<std::pair<int, int>>{{0, 0}, {10, 80}, {15, 120}}) {
            Account account = healthy("A", "a");
            account.secret = QByteArray(bytes, 's');
            const Result result = analyze({account});
            QCOMPARE(kinds(result), QList<Kind>{Kind::weakSecret});
            QCOMPARE(result.findings[0].severity, Severity::warning);
            QVERIFY(result.findings[0].detail.startsWith(
                QStringLiteral("A: a uses a %1-bit key.").arg(bits)));
        }
        Account strong = healthy("A", "a");
        strong.secret = QByteArray(16, 's');
        QVERIFY(analyze({strong}).findings.isEmpty());
    }

    void blanksTabsAndLineBreaks() {
        Account blankIssuer = healthy(QStringLiteral("  "), "name");
        const Result issuer = analyze({blankIssuer});
        QCOMPARE(kinds(issuer), QList<Kind>{Kind::missingIssuer});
        QCOMPARE(issuer.findings[0].severity, Severity::info);
        // The label keeps the issuer as stored.
        QVERIFY(issuer.findings[0].detail.startsWith(QStringLiteral("  : name has no issuer")));
        Account nbsp = healthy(QStringLiteral("\u00a0\t\u2003"), "n");
        QCOMPARE(kinds(analyze({nbsp})), QList<Kind>{Kind::missingIssuer});

        Account lineBreak = healthy("A", "a");
        lineBreak.recoveryCodes = QStringLiteral("\n");
        QVERIFY(analyze({lineBreak}).findings.isEmpty());
        Account blanks = healthy("A", "a");
        blanks.recoveryCodes = QStringLiteral(" \t ");
        QCOMPARE(kinds(analyze({blanks})), QList<Kind>{Kind::noRecoveryCodes});
    }

    void unusualCodeLengths() {
        Account seven = healthy("A", "a");
        seven.digits = 7;
        const Result result = analyze({seven});
        QCOMPARE(kinds(result), QList<Kind>{Kind::nonStandardConfig});
        QCOMPARE(result.findings[0].title, QStringLiteral("Unusual code length"));
        QCOMPARE(result.findings[0].detail,
                 QStringLiteral("A: a produces 7-digit codes; most sites expect 6."));
        for (qint64 digits : {6, 8}) {
            Account fine = healthy("A", "a");
            fine.digits = digits;
            QVERIFY(analyze({fine}).findings.isEmpty());
        }
        Account hotp = seven;
        hotp.type = OTPType::hotp;
        Account steam = seven;
        steam.isSteam = true;
        steam.secret = QByteArray(20, 'x');
        QVERIFY(analyze({hotp, steam}).findings.isEmpty());
    }

    void scoring() {
        QList<Finding> findings{ofSeverity(Severity::critical), ofSeverity(Severity::warning)};
        for (int i = 0; i < 5; ++i)
            findings << ofSeverity(Severity::info);
        QCOMPARE(score(findings, 3), 53); // information costs at most 12
        QCOMPARE(score({ofSeverity(Severity::info)}, 1), 97);
        QList<Finding> critical(5, ofSeverity(Severity::critical));
        QCOMPARE(score(critical, 5), 0); // never below 0
        QCOMPARE(score({}, 10), 100);
    }

    void everyRunMakesNewIdentifiers() {
        Account account = healthy("", "a");
        const Result one = analyze({account});
        const Result two = analyze({account});
        QCOMPARE(one.findings.size(), 1);
        QVERIFY(one.findings[0].id != two.findings[0].id);
        QVERIFY(!one.findings[0].id.isNull());
    }
};

QUILLET_TEST_APPLESS_MAIN(SecurityCheckupTests)
#include "SecurityCheckupTests.moc"
