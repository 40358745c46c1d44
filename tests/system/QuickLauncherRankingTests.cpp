// The quick-search ranking: which accounts a search lists, in which order.
#include "system/QuickLauncherRanking.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QtTest>

using namespace QuickLauncherRanking;
using TestSupport::labels;
using TestSupport::makeAccount;

namespace {

// Issuer and name of each account, in store order.
QList<Account> vault(const QList<std::pair<QString, QString>>& fields) {
    QList<Account> accounts;
    for (const auto& [issuer, name] : fields)
        accounts << makeAccount(issuer, name);
    return accounts;
}

// Two vaults with many look-alike names.
QList<Account> ghosts() {
    return vault({{"Google", "old ghost"}, {"GitHub", "work"}, {"Ghost", "blog"},
                  {"", "gh-pages deploy"}});
}

QList<Account> alices() {
    return vault({{"GitHub", "alice"}, {"Google", "alice.work"}, {"GitLab", "bob"}});
}

} // namespace

class QuickLauncherRankingTests : public QObject {
    Q_OBJECT

private slots:
    void listsTheAccountsBestFirst_data() {
        QTest::addColumn<QList<Account>>("accounts");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");

        const QStringList allGhosts{"Google: old ghost", "GitHub: work", "Ghost: blog",
                                    "gh-pages deploy"};
        // Start of a field before a word start; store order among equals;
        // GitHub lacks the substring and the fuzzy stage does not run.
        QTest::newRow("gh") << ghosts() << "gh"
                            << QStringList{"Ghost: blog", "gh-pages deploy", "Google: old ghost"};
        QTest::newRow("blanks and capitals") << ghosts() << "  GH "
                                             << QStringList{"Ghost: blog", "gh-pages deploy",
                                                            "Google: old ghost"};
        QTest::newRow("fuzzy only without substrings")
            << ghosts() << "ghb" << QStringList{"GitHub: work"};
        QTest::newRow("inside a word") << ghosts() << "hub" << QStringList{"GitHub: work"};
        QTest::newRow("empty") << ghosts() << "" << allGhosts;
        QTest::newRow("blank") << ghosts() << " \t " << allGhosts;

        QTest::newRow("fuzzy tie: store order")
            << alices() << "gb" << QStringList{"GitHub: alice", "GitLab: bob"};
        QTest::newRow("fuzzy run after a case change") << alices() << "gtl"
                                                       << QStringList{"GitLab: bob"};
        QTest::newRow("a substring beats any fuzzy match")
            << alices() << "gl" << QStringList{"Google: alice.work"};
        QTest::newRow("equal hits: store order")
            << alices() << "ali" << QStringList{"GitHub: alice", "Google: alice.work"};
        QTest::newRow("nothing") << alices() << "xq" << QStringList{};

        // A line break is not trimmed: it is part of what is searched for.
        QTest::newRow("line break kept") << alices() << "ali\n" << QStringList{};
        // Tier before position: a word start late in one field beats a
        // match inside a word early in another.
        QTest::newRow("tier before position")
            << vault({{"Xbox", "mybank"}, {"Big Bank", "me"}}) << "bank"
            << QStringList{"Big Bank: me", "Xbox: mybank"};
        // A word-final capital sigma lowers to the final form, as typed.
        QTest::newRow("final sigma, capitals stored")
            << vault({{"ΟΔΟΣ Bank", "me"}, {"Other", "x"}}) << "Οδος"
            << QStringList{"ΟΔΟΣ Bank: me"};
        QTest::newRow("final sigma, capitals typed")
            << vault({{"Οδος", "me"}, {"Other", "x"}}) << "ΟΔΟΣ" << QStringList{"Οδος: me"};
    }

    void listsTheAccountsBestFirst() {
        QFETCH(QList<Account>, accounts);
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QCOMPARE(labels(results(query, accounts)), expected);
    }

    void theWorkedScoresAndHits() {
        QCOMPARE(fuzzyScore("ghb", "GitHub"), 25); // 15 + (1 + 8) + 1
        QCOMPARE(fuzzyScore("gb", "GitHub"), 16);
        QCOMPARE(fuzzyScore("gb", "GitLab"), 16);
        QCOMPARE(fuzzyScore("gtl", "GitLab"), 30); // 15 + 1 + (6 + 8)
        QCOMPARE(fuzzyScore("gb", "Google"), std::nullopt);
        QCOMPARE(fuzzyScore("", ""), 0);
        QCOMPARE(fuzzyScore("a", ""), std::nullopt);
        // A word start after a separator, and directly after the previous match.
        QCOMPARE(fuzzyScore("ab", "x-a-b"), 9 + 9);
        QCOMPARE(fuzzyScore("ab", "xa-b"), 1 + 9);
        QCOMPARE(fuzzyScore("xab", "x-ab"), 15 + 9 + 6);
        QCOMPARE(fuzzyScore("xy", "x-Y"), 15 + 9);

        const QList<Account> g = ghosts();
        QCOMPARE(substringHit(g[2], 2, "gh"), (Hit{0, 0, 2}));
        QCOMPARE(substringHit(g[3], 3, "gh"), (Hit{0, 0, 3}));
        QCOMPARE(substringHit(g[0], 0, "gh"), (Hit{1, 4, 0}));
        QCOMPARE(substringHit(g[1], 1, "hub"), (Hit{2, 3, 1}));
        QCOMPARE(substringHit(g[1], 1, "gh"), std::nullopt);
        QCOMPARE(substringHit(alices()[1], 1, "gl"), (Hit{2, 3, 1}));
        QCOMPARE(fuzzyMatch(alices()[2], 2, "gtl"), (FuzzyMatch{30, 2}));
        QCOMPARE(fuzzyMatch(alices()[1], 1, "gtl"), std::nullopt);
        // The better field wins, the issuer on a tie.
        QCOMPARE(substringHit(makeAccount("mail", "Gmail"), 0, "mail"), (Hit{0, 0, 0}));
        QCOMPARE(substringHit(makeAccount("xmail", "mail"), 0, "mail"), (Hit{0, 0, 0}));
    }

    void onlyTheFirstOccurrenceCounts() {
        // "ab" occurs inside a word first and at a word start later.
        QCOMPARE(substringHit(makeAccount("xab ab", ""), 0, "ab"), (Hit{2, 1, 0}));
        // Greedy: the first "a" is taken although a later one would run on.
        QCOMPARE(fuzzyScore("ab", "a-xab"), 15 + 1);
    }

    void countsUserPerceivedCharacters() {
        // A decomposed é equals the composed one, and counts as one character.
        const QString decomposed = QStringLiteral("Cafe\u0301 Bank");
        QCOMPARE(substringHit(makeAccount(decomposed, ""), 0, normalizedQuery(QStringLiteral("CAFÉ"))),
                 (Hit{0, 0, 0}));
        QCOMPARE(substringHit(makeAccount(decomposed, ""), 0, "bank"), (Hit{1, 5, 0}));
        QCOMPARE(fuzzyScore(QStringLiteral("éb"), decomposed), 1 + 9);
        // An emoji of two code units (and a flag of four) is one character.
        QCOMPARE(substringHit(makeAccount(QStringLiteral("🔑Vault"), ""), 0, "vault"), (Hit{1, 1, 0}));
        QCOMPARE(substringHit(makeAccount(QStringLiteral("🇩🇪bank"), ""), 0, "bank"), (Hit{1, 1, 0}));
        QCOMPARE(fuzzyScore("b", QStringLiteral("🇩🇪bank")), 9);
        // Digits are part of words.
        QCOMPARE(substringHit(makeAccount("2fa hub", ""), 0, "fa"), (Hit{2, 1, 0}));
        // A letter whose lower case is longer (İ: i and a combining dot) neither
        // misaligns the count nor reads past the field.
        QCOMPARE(substringHit(makeAccount(QStringLiteral("İstanbul Bank"), ""), 0, "bank"), (Hit{1, 9, 0}));
        QVERIFY(fuzzyScore("sb", QStringLiteral("İstanbul Bank")).has_value());
    }
};

QUILLET_TEST_GUILESS_MAIN(QuickLauncherRankingTests)
#include "QuickLauncherRankingTests.moc"
