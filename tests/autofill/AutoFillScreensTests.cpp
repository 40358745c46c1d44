// The credential provider's choosing screens, as a user sees and works them:
// the account list with its search, and the passkey picker.
#include "autofill/DomainShieldWarningView.h"
#include "autofill/MacAutoFillListView.h"
#include "autofill/PasskeyPickerView.h"
#include "core/Text.h"
#include "tests/support/ChoiceScreens.h"
#include "tests/support/TestMain.h"
#include "tests/support/WholeTexts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <optional>

namespace {

Account account(const QString& issuer, const QString& name) {
    Account a;
    a.issuer = issuer;
    a.name = name;
    a.secret = QByteArray("12345678901234567890");
    return a;
}

PasskeyRecord passkey(char id, const QString& user, const QDateTime& created,
                      const QString& rpId = QStringLiteral("example.com")) {
    return {QByteArray(32, id), rpId, user, QByteArray("handle"), QByteArray(32, '\x07'), created};
}

// The rows on screen, each as its visible texts joined by " / ".
QStringList rows(QWidget& view) {
    QStringList shown;
    for (QAbstractButton* row : view.findChildren<QAbstractButton*>()) {
        if (qobject_cast<QPushButton*>(row) || !row->isVisible()) continue;
        QStringList texts;
        for (QLabel* label : row->findChildren<QLabel*>())
            if (label->isVisible() && !label->text().isEmpty()) texts.append(label->text());
        shown.append(texts.join(QStringLiteral(" / ")));
    }
    return shown;
}

QAbstractButton* row(QWidget& view, const QString& title) {
    return ChoiceScreens::rowShowing(&view, title);
}

QPushButton* button(QWidget& view, const QString& text) {
    return ChoiceScreens::buttonNamed(&view, text);
}

bool showsText(QWidget& view, const QString& text) {
    for (QLabel* label : view.findChildren<QLabel*>())
        if (label->isVisible() && label->text() == text) return true;
    return false;
}

} // namespace

class AutoFillScreensTests : public QObject {
    Q_OBJECT

    const QList<Account> vault{account("Acme", "admin"), account("", "acme-admin"),
                               account("GitHub", "octo"), account("Acme", ""),
                               account("Cafe\u0301", "barista")};

private slots:
    void filtering_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("titles");
        const QStringList all{"Acme / admin", "acme-admin", "GitHub / octo", "Acme",
                              "Caf\u00e9 / barista"};
        QTest::newRow("empty") << "" << all;
        QTest::newRow("blanks and tabs") << " \t \u00a0" << all;
        QTest::newRow("capitals between blanks") << "  ACME  " << QStringList{all[0], all[1], all[3]};
        QTest::newRow("inside the issuer") << "cme" << QStringList{all[0], all[1], all[3]};
        QTest::newRow("name only") << "octo" << QStringList{all[2]};
        QTest::newRow("composed finds decomposed") << "caf\u00e9" << QStringList{all[4]};
        QTest::newRow("no match") << "zebra" << QStringList{};
        QTest::newRow("line break is not trimmed") << "acme\n" << QStringList{};
    }

    void filtering() {
        QFETCH(QString, query);
        QFETCH(QStringList, titles);
        int picks = 0;
        MacAutoFillListView view(vault, [&](const Account&) { ++picks; }, [] {});
        view.resize(MacAutoFillListView::preferredSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QLineEdit* search = view.findChild<QLineEdit*>();
        QCOMPARE(search->placeholderText(), QStringLiteral("Search accounts"));
        // Typed; what a keyboard event cannot carry is entered as an input
        // method would.
        for (const QChar c : query) {
            if (c.unicode() < 0x7f && c.unicode() >= 0x20)
                QTest::keyClicks(search, QString(c));
            else
                search->insert(QString(c));
        }
        // The issuer's decomposed accent is shown as stored.
        QStringList expected;
        for (QString title : titles)
            expected.append(title.replace(QStringLiteral("Caf\u00e9"), QStringLiteral("Cafe\u0301")));
        QCOMPARE(rows(view), expected);
        // Return in the search field neither picks nor cancels.
        QTest::keyClick(search, Qt::Key_Return);
        QCOMPARE(picks, 0);
        QVERIFY(!showsText(view, QStringLiteral("No accounts yet \u2014 open Quillet to add one.")));
    }

    void aNameMatchDoesNotLookAtTheIssuer() {
        QCOMPARE(MacAutoFillListView::filteredAccounts(vault, QStringLiteral("admin")).size(), 2);
    }

    void noAccountsShowsTheMessage() {
        MacAutoFillListView view({}, [](const Account&) {}, [] {});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QString message = QStringLiteral("No accounts yet \u2014 open Quillet to add one.");
        QVERIFY(showsText(view, message));
        QLineEdit* search = view.findChild<QLineEdit*>();
        QTest::keyClicks(search, QStringLiteral("acme"));
        QCOMPARE(search->text(), QStringLiteral("acme"));
        QVERIFY(showsText(view, message));
        QVERIFY(rows(view).isEmpty());
    }

    void everyClickPicksAndCancelAnswersEscape() {
        QList<Account> picked;
        int cancels = 0;
        MacAutoFillListView view(vault, [&](const Account& a) { picked.append(a); },
                                 [&] { ++cancels; });
        view.resize(MacAutoFillListView::preferredSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QAbstractButton* github = row(view, QStringLiteral("GitHub"));
        QVERIFY(github);
        // The blank stretch before the trailing symbol picks as well.
        QTest::mouseClick(github, Qt::LeftButton, {}, QPoint(github->width() * 2 / 3, 10));
        QTest::mouseClick(github, Qt::LeftButton);
        QCOMPARE(picked.size(), 2);
        QCOMPARE(picked[0], vault[2]);
        QCOMPARE(picked[1], vault[2]);

        QPushButton* cancel = button(view, QStringLiteral("Cancel"));
        QVERIFY(cancel);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QCOMPARE(cancels, 1);
        // Escape, with the focus in the search field.
        QTest::keyClick(view.findChild<QLineEdit*>(), Qt::Key_Escape);
        QCOMPARE(cancels, 2);
        // Cancel sits at the trailing end of the footer.
        QVERIFY(cancel->mapTo(&view, QPoint(cancel->width(), 0)).x() > view.width() - 20);
    }

    void pickerShowsPasskeysInTheGivenOrder() {
        const QDateTime morning(QDate(2026, 3, 7), QTime(8, 0), Qt::LocalTime);
        const QDateTime evening(QDate(2026, 3, 7), QTime(20, 30), Qt::LocalTime);
        const QList<PasskeyRecord> candidates{
            passkey('\x01', QStringLiteral("alice"), evening),
            passkey('\x02', QStringLiteral("alice"), morning),
            passkey('\x03', QString(), morning.addYears(-1)),
        };
        QList<PasskeyRecord> picked;
        int cancels = 0;
        PasskeyPickerView view(QStringLiteral("example.com"), candidates,
                               [&](const PasskeyRecord& r) { picked.append(r); },
                               [&] { ++cancels; });
        view.resize(PasskeyPickerView::preferredSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(showsText(view, QStringLiteral("Choose a passkey")));
        QVERIFY(showsText(view, Text::isolated(QStringLiteral("example.com"))));
        const QString day = PasskeyPickerView::creationDate(morning.date());
        const QString yearBefore = PasskeyPickerView::creationDate(morning.date().addYears(-1));
        // Two passkeys of one user differ only in their day; the time is not shown.
        const QString alice = Text::isolated(QStringLiteral("alice"));
        QCOMPARE(rows(view), (QStringList{alice + " / " + day, alice + " / " + day,
                                          Text::isolated("example.com") + " / " + yearBefore}));
        // No user handle, credential ID or key anywhere.
        for (QLabel* label : view.findChildren<QLabel*>())
            QVERIFY(!label->text().contains(QStringLiteral("handle")));

        QList<QAbstractButton*> buttons;
        for (QAbstractButton* b : view.findChildren<QAbstractButton*>())
            if (!qobject_cast<QPushButton*>(b)) buttons.append(b);
        QTest::mouseClick(buttons[1], Qt::LeftButton);
        QTest::mouseClick(buttons[1], Qt::LeftButton, {}, QPoint(buttons[1]->width() - 4, 4));
        QCOMPARE(picked.size(), 2);
        QCOMPARE(picked[0], candidates[1]);
        QCOMPARE(picked[1], candidates[1]);
        QTest::keyClick(&view, Qt::Key_Escape);
        QCOMPARE(cancels, 1);
        QTest::mouseClick(button(view, QStringLiteral("Cancel")), Qt::LeftButton);
        QCOMPARE(cancels, 2);
    }

    // A stored name's direction override cannot turn the heading into
    // another site's name or a row into another user's; a site is written
    // as every host is shown, its override and its look-alike letters
    // plain to see, to the eye and to a screen reader.
    void pickerIsolatesStoredNames() {
        const QString rp = QStringLiteral("evil\u202Emoc.elgoog");
        const QString user = QStringLiteral("\u202Eecila");
        const QString lookAlike = QStringLiteral("g\u0456thub.com");
        PasskeyPickerView view(rp, {passkey('\x01', user, QDateTime::currentDateTimeUtc()),
                                    passkey('\x02', QString(), QDateTime::currentDateTimeUtc(), lookAlike)},
                               [](const PasskeyRecord&) {}, [] {});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QString shownRp = QStringLiteral("evil\\u202Emoc.elgoog");
        // Not plain ASCII, so left to right within its isolate.
        const auto leftToRight = [](const QString& text) { return QChar(0x2066) + text + QChar(0x2069); };
        QVERIFY(showsText(view, QChar(0x2068) + leftToRight(shownRp) + QChar(0x2069)));
        QVERIFY(rows(view).last().startsWith(
            Text::isolated(leftToRight(lookAlike) + QStringLiteral(" (xn--gthub-n2e.com)"))));
        const QList<QAbstractButton*> buttons = view.findChildren<QAbstractButton*>();
        const auto row = std::find_if(buttons.begin(), buttons.end(), [](QAbstractButton* b) {
            return !qobject_cast<QPushButton*>(b);
        });
        QVERIFY(row != buttons.end());
        // A screen reader gets the names without the isolates, which it
        // would announce.
        QVERIFY((*row)->accessibleName().startsWith(user + QStringLiteral(", ")));
        for (QWidget* widget : view.findChildren<QWidget*>())
            for (const QChar c : widget->accessibleName())
                QVERIFY2(c.unicode() < 0x2066 || c.unicode() > 0x2069,
                         qPrintable(widget->accessibleName()));
        bool named = false;
        for (QLabel* label : view.findChildren<QLabel*>())
            named = named || label->accessibleName() == shownRp;
        QVERIFY(named);
    }

    void pickerWithoutCandidates() {
        PasskeyPickerView view(QString(), {}, [](const PasskeyRecord&) {}, [] {});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(showsText(view, QStringLiteral("Choose a passkey")));
        QVERIFY(rows(view).isEmpty());
        QVERIFY(button(view, QStringLiteral("Cancel")));
    }

    void creationDateFollowsTheLocale_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("US") << "en_US" << "Mar 7, 2026";
        QTest::newRow("UK") << "en_GB" << "7 Mar 2026";
        QTest::newRow("German") << "de_DE" << "7. M\u00e4rz 2026";
    }

    void creationDateFollowsTheLocale() {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QCOMPARE(PasskeyPickerView::creationDate(QDate(2026, 3, 7), QLocale(locale)), expected);
    }

    // At the default font and at twice its size, at the window's size and
    // as small as it goes, every screen shows its whole text; a name too
    // long for its row is cut with "…" and whole in its tooltip.
    void everyScreenShowsItsWholeText_data() {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<bool>("large");
        QTest::addColumn<bool>("smallest");
        for (const char* screen : {"account list", "passkey picker", "domain warning"})
            for (const bool large : {false, true})
                for (const bool smallest : {false, true})
                    QTest::addRow("%s, %s font, %s size", screen, large ? "large" : "default",
                                  smallest ? "minimum" : "default")
                        << QString::fromLatin1(screen) << large << smallest;
    }

    void everyScreenShowsItsWholeText() {
        QFETCH(QString, screen);
        QFETCH(bool, large);
        QFETCH(bool, smallest);
        std::optional<WholeTexts::LargeFont> font;
        if (large) font.emplace();
        const QString longIssuer = QStringLiteral("Example Corporation International Holdings");
        const QString longName = QStringLiteral("someone.with.a.rather.long.name@example.com");
        std::unique_ptr<QWidget> view;
        if (screen == u"account list") {
            view = std::make_unique<MacAutoFillListView>(
                QList<Account>{account(longIssuer, longName), account("GitHub", "octo")},
                [](const Account&) {}, [] {});
        } else if (screen == u"passkey picker") {
            const QDateTime created(QDate(2026, 3, 7), QTime(8, 0), Qt::LocalTime);
            view = std::make_unique<PasskeyPickerView>(
                QStringLiteral("login.example-corporation-international.com"),
                QList<PasskeyRecord>{passkey('a', longName, created), passkey('b', "me", created)},
                [](const PasskeyRecord&) {}, [] {});
        } else {
            view = std::make_unique<DomainShieldWarningView>(
                DomainShieldWarning{DomainVerdict::mismatch, "sign-in.evil.example",
                                    "example-corporation-international.com"},
                longIssuer + ": " + longName, [] {}, [] {});
        }
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        if (smallest) {
            view->resize(1, 1);
            QTRY_COMPARE(view->size(), view->minimumSize().expandedTo(QSize(1, 1)));
        }
        QUILLET_TRY_WHOLE(view.get());
    }
};

QUILLET_TEST_MAIN(AutoFillScreensTests)
#include "AutoFillScreensTests.moc"
