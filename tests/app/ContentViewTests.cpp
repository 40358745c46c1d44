#include "app/AccountRow.h"
#include "app/CodeLabel.h"
#include "app/ContentView.h"
#include "app/TickingClock.h"
#include "app/TimerRing.h"
#include "core/AccountStore.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "intake/AccountQRView.h"
#include "intake/AddAccountSheet.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/files/UserDefaults.h"
#include "platform/look/Style.h"
#include "platform/qr/QrImage.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"
#include "tests/support/WholeTexts.h"

#include <QAbstractAnimation>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QStackedWidget>
#include <QTabBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using TestSupport::makeAccount;

namespace {

// The RFC 6238 test key: at Unix time 59 its six-digit SHA-1 code is 287082,
// then 359152 from 60 and 969429 from 90.
const QByteArray rfcKey = "12345678901234567890";

QDateTime at(double unixSeconds) {
    return QDateTime::fromMSecsSinceEpoch(qint64(unixSeconds * 1000), Qt::UTC);
}

template <typename T> T* findByText(QWidget* root, const QString& text) {
    for (T* widget : root->findChildren<T*>())
        if (widget->isVisibleTo(root) && widget->text() == text) return widget;
    return nullptr;
}

// Clicks the add sheet's tab of that way in.
void chooseMode(QWidget* sheet, const QString& mode) {
    auto* modes = sheet->findChild<QTabBar*>();
    for (int i = 0; i < modes->count(); ++i)
        if (modes->tabText(i) == mode)
            QTest::mouseClick(modes, Qt::LeftButton, {}, modes->tabRect(i).center());
}

} // namespace

class ContentViewTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<TickingClock> clock;
    std::unique_ptr<QMainWindow> window;
    ContentView* view = nullptr;
    QDateTime now;

    // `source` replaces the test's own settable time.
    void open(const QList<Account>& accounts, std::function<QDateTime()> source = {},
              AccountStore::Opening opening = AccountStore::Opening::now) {
        TestSupport::seedVault(accounts);
        openStore({}, opening);
        clock = std::make_unique<TickingClock>(source ? source : [this] { return now; });
        window = std::make_unique<QMainWindow>();
        view = new ContentView(*store, *clock, *defaults, window.get());
        view->setTimingsForTesting(50, 50);
        window->setCentralWidget(view);
        window->resize(600, 500);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
    }
    QStringList titles() const {
        QStringList out;
        for (AccountRow* row : view->rows())
            out << row->titleText() +
                       (row->subtitleText().isEmpty() ? "" : "/" + row->subtitleText());
        return out;
    }
    // Where a click on a row's code lands: the code column around it.
    static QWidget* codeColumn(AccountRow* row) {
        return row->findChild<CodeLabel*>()->parentWidget();
    }
    QWidget* currentState() const { return view->findChild<QStackedWidget*>()->currentWidget(); }
    bool showsText(const QString& text) const {
        for (QLabel* label : window->findChildren<QLabel*>())
            if (label->isVisible() && label->text() == text) return true;
        return false;
    }
    QString errorLine() const {
        QLabel* line = view->findChild<QLabel*>("errorLine");
        return line->isVisible() ? line->text() : QString();
    }
    QStringList events() {
        QStringList out;
        for (const AuditEntry& e : log->snapshot().entries)
            out << e.type + " " + e.detail;
        return out;
    }
    QLineEdit* search() const { return view->findChild<QLineEdit*>(); }

private slots:
    void init() {
        openVault();
        now = at(59);
    }
    void cleanup() {
        window.reset();
        store.reset();
        log.reset();
    }

    void rowsShowTheCodesAndRollAtTheBoundary() {
        Account totp = makeAccount("Example", "alice", rfcKey);
        Account hotp = makeAccount("", "counter", rfcKey);
        hotp.type = OTPType::hotp;
        hotp.counter = 1;
        open({totp, hotp});
        QCOMPARE(titles(), QStringList({"Example/alice", "counter"}));
        AccountRow* row = view->rows().at(0);
        QCOMPARE(row->codeText(), QStringLiteral("287 082"));
        QCOMPARE(row->nextCodeText(), QStringLiteral("Next  359 152"));
        QVERIFY(view->rows().at(1)->nextCodeText().isEmpty());
        QCOMPARE(view->rows().at(1)->codeText(), QStringLiteral("287 082"));

        now = at(89.999);
        clock->tick();
        QCOMPARE(row->codeText(), QStringLiteral("359 152"));
        now = at(90);
        clock->tick();
        QCOMPARE(row->codeText(), QStringLiteral("969 429"));
        // The counter-based row only moves with its counter.
        QCOMPARE(view->rows().at(1)->codeText(), QStringLiteral("287 082"));
        QToolButton* next = nullptr;
        for (QToolButton* b : view->rows().at(1)->findChildren<QToolButton*>())
            if (b->toolTip() == "Generate next HOTP code") next = b;
        QVERIFY(next && next->isVisible());
        QTest::mouseClick(next, Qt::LeftButton);
        QTRY_COMPARE(view->rows().at(1)->codeText(), QStringLiteral("359 152"));
        QCOMPARE(store->accounts().at(1).counter, 2u);
    }

    // Every text of a row, on the plain and on the alternate (grey) row,
    // reaches WCAG AA's 4.5:1 in the palette the program starts with and in
    // a dark one the desktop may hand it (KDE's Breeze Dark colours).
    void rowTextsAreReadableOnBothRowColours() {
        // The ratio itself, against WCAG's own examples.
        QCOMPARE(Style::contrastRatio(Qt::black, Qt::white), 21.0);
        QCOMPARE(Style::contrastRatio(Qt::white, Qt::white), 1.0);
        QCOMPARE(qRound(Style::contrastRatio(QColor(0x77, 0x77, 0x77), Qt::white) * 100), 448);
        QCOMPARE(Style::contrastRatio(QColor(0, 0, 0, 0), QColor(0x77, 0x77, 0x77)), 1.0);

        const QPalette start = QApplication::palette();
        QPalette dark(QColor(0xfc, 0xfc, 0xfc), QColor(0x2a, 0x2e, 0x32));
        dark.setColor(QPalette::Base, QColor(0x1b, 0x1e, 0x20));
        dark.setColor(QPalette::AlternateBase, QColor(0x23, 0x26, 0x29));
        dark.setColor(QPalette::Text, QColor(0xfc, 0xfc, 0xfc));
        dark.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
        open({makeAccount("Example", "alice", rfcKey), makeAccount("Acme", "bob", rfcKey),
              makeAccount("Beta", "carol", rfcKey)});
        QStringList low;
        const auto check = [&](const QString& where, const QColor& text, const QColor& ground) {
            if (!text.isValid()) {
                low << where + " not shown";
                return;
            }
            const double ratio = Style::contrastRatio(text, ground);
            if (ratio < Style::readableContrast)
                low << QString("%1 %2 on %3: %4").arg(where, text.name(QColor::HexArgb),
                                                       ground.name()).arg(ratio, 0, 'f', 2);
        };
        for (const QPalette& palette : {start, dark}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            const QString name = &palette == &start ? "light" : "dark";
            for (int i : {0, 1}) {
                AccountRow* row = view->rows().at(i);
                const QPalette::ColorRole role = row->backgroundRole();
                QCOMPARE(role, i == 0 ? QPalette::Base : QPalette::AlternateBase);
                const QColor ground = row->palette().color(role);
                const QString where = QString("%1 row %2:").arg(name).arg(i);
                const auto text = [&](const QString& shown) {
                    QLabel* label = findByText<QLabel>(row, shown);
                    return label ? label->palette().color(label->foregroundRole()) : QColor();
                };
                check(where + " title", text(row->titleText()), ground);
                check(where + " name", text(row->subtitleText()), ground);
                check(where + " next code", text(row->nextCodeText()), ground);
                auto* code = row->findChild<CodeLabel*>();
                check(where + " code", code->palette().color(QPalette::WindowText), ground);
                row->setCopied(true);
                check(where + " copied code", code->color(), ground);
                row->setCopied(false);
                // The seconds in the ring, in each of its tints.
                for (double second : {31.0, 50.0, 55.0, 59.0}) {
                    now = at(second);
                    clock->tick();
                    check(where + QString(" ring at %1 s").arg(second),
                          row->findChild<TimerRing*>()->labelColour(), ground);
                }
            }
        }
        QApplication::setPalette(start);
        QVERIFY2(low.isEmpty(), qPrintable(low.join("; ")));
    }

    void searchFilterAndSort() {
        Account zed = makeAccount("Zeta", "zed");
        Account ann = makeAccount("acme", "ann");
        Account bob = makeAccount("Beta", "Bob Smith");
        Account fav = makeAccount("Gamma", "fav");
        fav.isFavorite = true;
        open({zed, fav, ann, bob});
        QCOMPARE(titles(), QStringList({"Zeta/zed", "Gamma/fav", "acme/ann", "Beta/Bob Smith"}));

        QTest::keyClicks(search(), "ACME");
        QCOMPARE(titles(), QStringList({"acme/ann"}));
        search()->clear();
        QTest::keyClicks(search(), " ");
        QCOMPARE(titles(), QStringList({"Beta/Bob Smith"}));
        QTest::keyClicks(search(), "zz");
        QCOMPARE(currentState()->findChild<QLabel*>() != nullptr, true);
        QVERIFY(findByText<QLabel>(currentState(), QStringLiteral("No accounts match “ zz”.")));
        // The link clears the field and leaves the focus in it.
        search()->setFocus();
        QTRY_VERIFY(search()->hasFocus());
        QTest::mouseClick(findByText<QPushButton>(currentState(), "Clear search"), Qt::LeftButton);
        QCOMPARE(search()->text(), QString());
        QVERIFY(search()->hasFocus());

        defaults->setValue(Settings::accountSortOrder.key, "name");
        QCOMPARE(titles(), QStringList({"Gamma/fav", "acme/ann", "Beta/Bob Smith", "Zeta/zed"}));
        QVERIFY(!view->canReorder());
        defaults->setValue(Settings::accountSortOrder.key, "Name"); // not an order: manual
        QCOMPARE(titles().first(), QStringLiteral("Zeta/zed"));
        QVERIFY(view->canReorder());
    }

    void folderFilter() {
        Account work = makeAccount("W", "work");
        Account loose = makeAccount("L", "loose");
        Account dangling = makeAccount("D", "dangling");
        dangling.folderID = QUuid::createUuid(); // its folder was removed elsewhere
        open({work, loose, dangling});
        QToolButton* menu = view->findChild<QToolButton*>("folderFilter");
        QVERIFY(!menu->isVisible()); // no folders, no menu
        const Folder f = *store->addFolder("Work");
        store->setFolder(f.id, work.id);
        QVERIFY(menu->isVisible());
        QCOMPARE(menu->text(), QStringLiteral("All"));
        QStringList entries;
        for (QAction* a : menu->menu()->actions())
            entries << a->text();
        QCOMPARE(entries, QStringList({"All", "Work (1)", "", "Ungrouped"}));

        view->setFolderFilter(FolderFilter::folder(f.id));
        QCOMPARE(menu->text(), QStringLiteral("Work"));
        QCOMPARE(titles(), QStringList({"W/work"}));
        QVERIFY(!view->canReorder());
        view->setFolderFilter(FolderFilter::ungrouped());
        QCOMPARE(titles(), QStringList({"L/loose", "D/dangling"}));
        view->setFolderFilter(FolderFilter::folder(QUuid::createUuid()));
        QCOMPARE(menu->text(), QStringLiteral("All"));
        QVERIFY(currentState()->findChild<QPushButton*>() == nullptr ||
                !findByText<QPushButton>(currentState(), "Clear search"));
    }

    void reorderOnlyWhenAllowed() {
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b"),
                      c = makeAccount("C", "c");
        open({a, b, c});
        view->move({2}, 0);
        QCOMPARE(titles(), QStringList({"C/c", "A/a", "B/b"}));
        QCOMPARE(KeychainStore::loadAll().active.first().id, c.id);
        QTest::keyClicks(search(), "a");
        view->move({0}, 2);
        search()->clear();
        QCOMPARE(titles(), QStringList({"C/c", "A/a", "B/b"}));
    }

    void controlDigitsCopyTheVisibleCodes() {
        Account first = makeAccount("Example", "alice", rfcKey);
        open({first, makeAccount("B", "b"), makeAccount("C", "c"), makeAccount("D", "d")});
        QTest::keyClick(window.get(), Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(Pasteboard::text(), std::optional<QString>("287082"));
        QCOMPARE(view->copiedAccountID(), first.id);
        QVERIFY(view->rows().first()->isCopied());
        QCOMPARE(store->usage().value(first.id).count, 1);

        Pasteboard::writeConcealed("untouched");
        QTest::keyClick(window.get(), Qt::Key_5, Qt::ControlModifier);
        QCOMPARE(Pasteboard::text(), std::optional<QString>("untouched"));
        // After a search the first visible account is the one copied.
        QTest::keyClicks(search(), "d");
        QTest::keyClick(window.get(), Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(view->copiedAccountID(), store->accounts().at(3).id);
        QTRY_VERIFY(!view->copiedAccountID());
        QVERIFY(!view->rows().first()->isCopied());
    }

    void pinToTopMovesTheAccountFirstAndSavesTheOrder() {
        const Account a = makeAccount("A", "a"), b = makeAccount("B", "b"),
                      c = makeAccount("C", "c");
        open({a, b, c});
        // Chosen from the row's own menu, as the user does: the store's change
        // hands the row new actions while the chosen one still runs.
        QMenu* menu = view->rows().at(2)->buildContextMenu(window.get());
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Pin to Top"));
        menu->actions().first()->trigger();
        QCOMPARE(titles(), QStringList({"C/c", "A/a", "B/b"}));
        QVERIFY(view->rows().first()->account().isFavorite);
        QCOMPARE(KeychainStore::loadAll().active.first().id, c.id);
        // Unpinning leaves it where it is.
        menu = view->rows().first()->buildContextMenu(window.get());
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Unpin"));
        menu->actions().first()->trigger();
        QCOMPARE(titles(), QStringList({"C/c", "A/a", "B/b"}));
        QVERIFY(!store->accounts().first().isFavorite);
        // Moving to a folder from the menu works the same way.
        const Folder home = *store->addFolder("Home");
        menu = view->rows().at(1)->buildContextMenu(window.get());
        menu->actions().at(4)->menu()->actions().at(2)->trigger();
        QCOMPARE(store->accounts().at(1).folderID, std::optional<QUuid>(home.id));
    }

    void mostUsedOrderFollowsEachCopy() {
        const Account a = makeAccount("A", "a", rfcKey), b = makeAccount("B", "b", rfcKey),
                      c = makeAccount("C", "c", rfcKey);
        defaults->setValue(Settings::accountSortOrder.key, "mostUsed");
        open({a, b, c});
        QCOMPARE(titles(), QStringList({"A/a", "B/b", "C/c"}));
        QTest::mouseClick(codeColumn(view->rows().at(2)), Qt::LeftButton);
        QCOMPARE(titles(), QStringList({"C/c", "A/a", "B/b"}));
        QVERIFY(view->rows().first()->isCopied());
        // Equal counts: the latest use first.
        QTest::qWait(5);
        QTest::keyClick(window.get(), Qt::Key_3, Qt::ControlModifier); // B
        QCOMPARE(titles(), QStringList({"B/b", "C/c", "A/a"}));
        QTest::qWait(5);
        QTest::keyClick(window.get(), Qt::Key_3, Qt::ControlModifier); // A
        QCOMPARE(titles(), QStringList({"A/a", "B/b", "C/c"}));
        QTest::keyClick(window.get(), Qt::Key_2, Qt::ControlModifier); // B, now used twice
        QCOMPARE(titles(), QStringList({"B/b", "A/a", "C/c"}));
    }

    void aCopyAfterThePeriodEndsTakesTheNewCodeAndShowsIt() {
        open({makeAccount("Example", "alice", rfcKey)});
        now = at(89.9);
        clock->tick();
        QCOMPARE(view->rows().first()->codeText(), QStringLiteral("359 152"));
        now = at(90.01); // the period ended, no tick yet
        QTest::keyClick(window.get(), Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(Pasteboard::text(), std::optional<QString>("969429"));
        QCOMPARE(view->rows().first()->codeText(), QStringLiteral("969 429"));
        now = at(119.999);
        QTest::mouseClick(codeColumn(view->rows().first()), Qt::LeftButton);
        QCOMPARE(Pasteboard::text(), std::optional<QString>("969429"));
    }

    void steamCodesAreNeverClipped() {
        Account steam = makeAccount("Steam", "gamer", rfcKey);
        steam.isSteam = true;
        steam.digits = 5;
        // Two periods whose codes differ in width: one with the most digits,
        // one with the most wide letters.
        const auto wideLetters = [&](double t) {
            const QString code = steam.code(at(t));
            return int(code.count(QLatin1Char('M')) + code.count(QLatin1Char('W')));
        };
        double narrow = 0, wide = 0;
        for (double t = 30; t < 30 * 400; t += 30) {
            if (wideLetters(t) == 0 && steam.code(at(t)).count(QRegularExpression("[0-9]")) >= 3)
                narrow = t;
            if (wideLetters(t) >= 2 && steam.code(at(t)).front().isLetter())
                wide = t;
            if (narrow > 0 && wide > 0)
                break;
        }
        QVERIFY(narrow > 0 && wide > 0);
        now = at(narrow);
        open({steam});
        CodeLabel* code = view->rows().first()->findChild<CodeLabel*>();
        const auto leftEdgeIsBlank = [code] {
            const QImage image = code->grab().toImage();
            const QRgb blank = image.pixel(image.width() - 1, 0);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < 2; ++x)
                    if (image.pixel(x, y) != blank)
                        return false;
            return true;
        };
        QTRY_VERIFY(code->width() >= QFontMetrics(code->font()).horizontalAdvance(code->text()));
        QVERIFY(leftEdgeIsBlank());
        now = at(wide);
        clock->tick();
        QCOMPARE(code->text(), steam.code(at(wide)));
        QCOMPARE(code->accessibleName(), steam.code(at(wide)));
        QTRY_VERIFY(!code->isRolling());
        QTRY_VERIFY(code->width() >= QFontMetrics(code->font()).horizontalAdvance(code->text()));
        QVERIFY(leftEdgeIsBlank());
        // The next-code line has room for the whole next code as well.
        QLabel* next = view->rows().first()->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
        for (QLabel* label : view->rows().first()->findChildren<QLabel*>())
            if (label->text().startsWith("Next")) next = label;
        QVERIFY(next->width() >= QFontMetrics(next->font()).horizontalAdvance(next->text()));
    }

    void codesRollOverOnTheCorrectedBoundary() {
        // The corrected time runs 437 ms ahead of the system clock; a
        // two-second period rolls over at each even corrected second.
        constexpr qint64 offsetMs = 437;
        Account fast = makeAccount("Fast", "fast", rfcKey);
        fast.period = 2;
        open({fast}, [] { return QDateTime::currentDateTimeUtc().addMSecs(offsetMs); });
        AccountRow* row = view->rows().first();
        QList<qint64> lateness;
        QString shown = row->codeText();
        connect(clock.get(), &TickingClock::ticked, this, [&] {
            const qint64 corrected = QDateTime::currentMSecsSinceEpoch() + offsetMs;
            if (row->codeText() == shown)
                return;
            shown = row->codeText();
            lateness << corrected % 2000;
        });
        QTRY_VERIFY(lateness.size() >= 3);
        for (qint64 ms : std::as_const(lateness))
            QVERIFY2(ms < 50, qPrintable(QStringLiteral("rolled over %1 ms late").arg(ms)));
    }

    // An image's accounts: the sheet closes and the window says how many
    // were added (none when the image's account is listed already).
    void anImageImportSaysWhatItAdded() {
        open({});
        view->setTimingsForTesting(50, 20000); // the notice stays while it is looked for
        QTemporaryDir dir;
        const QImage code =
            QrImage::make("otpauth://totp/Example:alice?secret=JBSWY3DPEHPK3PXP", 8);
        QImage framed(code.size() + QSize(64, 64), QImage::Format_RGB32);
        framed.fill(Qt::white);
        QPainter(&framed).drawImage(32, 32, code);
        QVERIFY(framed.save(dir.filePath("code.png")));
        for (const char* said : {"Added 1 account from the image.",
                                 "The accounts in the image are already in your vault."}) {
            view->showAddSheet();
            auto* sheet = window->findChild<AddAccountSheet*>();
            QTRY_VERIFY(sheet && sheet->isVisible());
            chooseMode(sheet, "Image file");
            // The file dialog answered as a user would, once it is up.
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, [poll, &dir] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (!dialog) return;
                poll->stop();
                poll->deleteLater();
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(dir.filePath("code.png"));
                static_cast<QDialog*>(dialog)->accept();
            });
            poll->start(20);
            QTest::mouseClick(findByText<QPushButton>(sheet, "Choose image…"), Qt::LeftButton);
            QTRY_VERIFY(!window->findChild<AddAccountSheet*>());
            QCOMPARE(titles(), QStringList({"Example/alice"}));
            QTRY_COMPARE(view->deletedToast(), std::optional<QString>(said));
        }

        // Beside it a new code and one overpainted: the sheet stays open and
        // counts only what the vault did not hold already, also when it held
        // them all (the second time).
        const QImage bob = QrImage::make("otpauth://totp/Example:bob?secret=JBSWY3DPEHPK3PXP", 8);
        QImage three(framed.width() + 2 * (bob.width() + 32), framed.height() + 64,
                     QImage::Format_RGB32);
        three.fill(Qt::white);
        QPainter painter(&three);
        painter.drawImage(0, 0, framed);
        const int third = framed.width() + bob.width() + 32;
        painter.drawImage(framed.width(), 32, bob);
        painter.drawImage(third, 32, bob);
        painter.fillRect(third + bob.width() / 4, 32 + bob.height() / 4, bob.width() / 2,
                         bob.height() / 2, Qt::white);
        painter.end();
        QVERIFY(three.save(dir.filePath("three.png")));
        for (const char* said :
             {"Read 2 QR codes and added 1 account. 1 QR code could not be read.",
              "Read 2 QR codes and added 0 accounts. 1 QR code could not be read."}) {
            view->showAddSheet();
            auto* sheet = window->findChild<AddAccountSheet*>();
            QTRY_VERIFY(sheet && sheet->isVisible());
            chooseMode(sheet, "Image file");
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, [poll, &dir] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (!dialog) return;
                poll->stop();
                poll->deleteLater();
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(dir.filePath("three.png"));
                static_cast<QDialog*>(dialog)->accept();
            });
            poll->start(20);
            QTest::mouseClick(findByText<QPushButton>(sheet, "Choose image…"), Qt::LeftButton);
            QTRY_VERIFY(findByText<QLabel>(sheet, said));
            QVERIFY(sheet->isVisible());
            QCOMPARE(titles(), QStringList({"Example/alice", "Example/bob"}));
            sheet->reject();
            QTRY_VERIFY(!window->findChild<AddAccountSheet*>());
        }
    }

    void anImportThatLeftLinksOutSaysHowMany() {
        open({});
        // Long enough to be read on a slow machine, short enough to see it go.
        view->setTimingsForTesting(50, 1500);
        view->showAddSheet();
        auto* sheet = window->findChild<AddAccountSheet*>();
        QTRY_VERIFY(sheet && sheet->isVisible());
        chooseMode(sheet, "Paste link");
        sheet->findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral(
            "otpauth://totp/Acme:ann?secret=JBSWY3DPEHPK3PXP\n"
            "otpauth://yaotp/Yandex:bob?secret=JBSWY3DPEHPK3PXP\n"
            "otpauth://steam/Steam:gabe?secret=JBSWY3DPEHPK3PXP&issuer=Steam"));
        QTest::mouseClick(findByText<QPushButton>(sheet, "Add"), Qt::LeftButton);
        QTRY_VERIFY(!window->findChild<AddAccountSheet*>());
        QCOMPARE(titles(), QStringList({"Acme/ann", "Steam/gabe"}));
        QVERIFY(store->accounts().at(1).isSteam);
        QTRY_COMPARE(view->deletedToast(),
                     std::optional<QString>("1 account could not be imported."));
        QTRY_VERIFY(!view->deletedToast());
    }

    void theNoticeCastsAShadow() {
        open({makeAccount("Acme", "ann")});
        view->setTimingsForTesting(50, 5000);
        view->deleteAccount(store->accounts().first()); // the empty state, a plain background
        auto* notice = view->findChild<QLabel*>("deletedToast");
        // Slid in: its animation done.
        QTRY_VERIFY(notice->parentWidget()->findChildren<QAbstractAnimation*>().isEmpty());
        const QImage image = view->grab().toImage();
        const QRect bubble(notice->mapTo(view, QPoint(0, 0)), notice->size());
        const int y = bubble.bottom() + 3;
        const QColor under = image.pixelColor(bubble.center().x(), y);
        const QColor beside = image.pixelColor(2, y);
        QVERIFY2(under.lightness() < beside.lightness() - 5,
                 qPrintable(QStringLiteral("%1 vs %2").arg(under.lightness()).arg(beside.lightness())));
    }

    void deletingShowsTheNotice() {
        const Account a = makeAccount("Acme", "ann");
        open({a, makeAccount("B", "b")});
        view->rows().first()->setFocus();
        QTest::keyClick(view->rows().first(), Qt::Key_Delete);
        QCOMPARE(view->deletedToast(),
                 std::optional<QString>("Moved “Acme: ann” to Recently Deleted"));
        QCOMPARE(view->findChild<QLabel*>("deletedToast")->text(),
                 QStringLiteral("Moved “Acme: ann” to Recently Deleted"));
        QCOMPARE(titles(), QStringList({"B/b"}));
        QCOMPARE(store->deletedAccounts().first().id, a.id);
        QTRY_VERIFY(!view->deletedToast());
    }

    void contextMenuOffersTheRowCommands() {
        Account a = makeAccount("Acme", "ann");
        a.isFavorite = true;
        open({a});
        QMenu* menu = view->rows().first()->buildContextMenu(window.get());
        QStringList entries;
        for (QAction* action : menu->actions())
            entries << action->text();
        QCOMPARE(entries,
                 QStringList({"Unpin", "Copy Code", "Edit…", "Show QR Code…", "", "Delete"}));
        store->addFolder("Home");
        menu = view->rows().first()->buildContextMenu(window.get());
        QCOMPARE(menu->actions().at(4)->text(), QStringLiteral("Move to Folder"));
        menu->actions().first()->trigger();
        QVERIFY(!store->accounts().first().isFavorite);
    }

    void emptyVaultSearchAndErrors() {
        open({});
        QCOMPARE(search()->placeholderText(), QStringLiteral("Search (Ctrl+F)"));
        QCOMPARE(search()->accessibleName(), QStringLiteral("Search (Ctrl+F)"));
        // Add account is the empty state's prominent button.
        QVERIFY(findByText<QPushButton>(currentState(), "Add account")->isDefault());
        QTest::keyClicks(search(), "x");
        QVERIFY(findByText<QLabel>(currentState(), "No accounts yet"));
        QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(search()->hasFocus());
        QTest::keyClick(search(), Qt::Key_Escape);
        QCOMPARE(search()->text(), QString());
        QVERIFY(!search()->hasFocus());

        store->setLastError(QStringLiteral("Keychain error: -25308"));
        QLabel* error = view->findChild<QLabel*>("errorLine");
        QVERIFY(error->isVisible());
        QCOMPARE(error->text(), QStringLiteral("Keychain error: -25308"));
    }

    // What the keychain refused is not shown as done: the row stays, the
    // window says what was not saved and why; the add sheet stays open with
    // its input and the reason; nothing reaches the timeline.
    void whatIsNotStoredIsNotShown() {
        const Account a = makeAccount("Acme", "ann");
        open({a, makeAccount("B", "b")});
        using Op = Keychain::MemoryBackend::Operation;
        memory->failWith(Op::update, Keychain::interactionNotAllowed);
        view->rows().first()->setFocus();
        QTest::keyClick(view->rows().first(), Qt::Key_Delete);
        QVERIFY(!view->deletedToast());
        QCOMPARE(titles(), QStringList({"Acme/ann", "B/b"}));
        QCOMPARE(errorLine(), QStringLiteral("“Acme: ann” was not moved to Recently Deleted. Your "
                                             "keyring is locked."));
        view->rows().at(1)->buildContextMenu(window.get())->actions().first()->trigger();
        QCOMPARE(errorLine(), QStringLiteral("“B: b” was not pinned. Your keyring is locked."));
        QVERIFY(!store->accounts().at(1).isFavorite);

        memory->failWith(Op::update, Keychain::success);
        memory->failWith(Op::add, Keychain::ioError);
        view->showAddSheet();
        auto* sheet = window->findChild<AddAccountSheet*>();
        QTRY_VERIFY(sheet && sheet->isVisible());
        chooseMode(sheet, "Paste link");
        const QString link = QStringLiteral("otpauth://totp/New:one?secret=JBSWY3DPEHPK3PXP");
        sheet->findChild<QPlainTextEdit*>()->setPlainText(link);
        QTest::mouseClick(findByText<QPushButton>(sheet, "Add"), Qt::LeftButton);
        const QString why = QStringLiteral(
            "Nothing was added. The disk is full or cannot be written.");
        QTRY_VERIFY(findByText<QLabel>(sheet, why));
        QVERIFY(sheet->isVisible());
        QCOMPARE(sheet->findChild<QPlainTextEdit*>()->toPlainText(), link);
        QCOMPARE(titles(), QStringList({"Acme/ann", "B/b"}));

        memory->failWith(Op::add, Keychain::success);
        memory->failWith(Op::update, Keychain::success);
        QTest::mouseClick(findByText<QPushButton>(sheet, "Add"), Qt::LeftButton);
        QTRY_VERIFY(!window->findChild<AddAccountSheet*>());
        QCOMPARE(titles(), QStringList({"Acme/ann", "B/b", "New/one"}));
        QCOMPARE(errorLine(), QString());
        QCOMPARE(events(), QStringList({"account.added New: one"}));
    }

    // A long import counts what it stored in the sheet; a sheet closed
    // before the import ended leaves the outcome to the window's notice.
    void aLongImportAlwaysTellsHowItEnded() {
        Keychain::setBackend(std::make_shared<TestSupport::ItemByItemKeychain>());
        open({});
        view->setTimingsForTesting(50, 60000);
        view->showAddSheet();
        auto* sheet = window->findChild<AddAccountSheet*>();
        QTRY_VERIFY(sheet && sheet->isVisible());
        chooseMode(sheet, "Paste link");
        QStringList links;
        for (int i = 0; i < 60; ++i)
            links << QStringLiteral("otpauth://totp/Service%1:me?secret=JBSWY3DPEHPK3PXP").arg(i);
        sheet->findChild<QPlainTextEdit*>()->setPlainText(links.join('\n'));
        QTest::mouseClick(findByText<QPushButton>(sheet, "Add"), Qt::LeftButton);
        const QRegularExpression counted(QStringLiteral("^Saving to your keyring… [1-9]\\d* of 60 stored\\.$"));
        QTRY_VERIFY([&] {
            for (const QLabel* label : sheet->findChildren<QLabel*>())
                if (counted.match(label->text()).hasMatch()) return true;
            return false;
        }());
        sheet->reject();
        QVERIFY(store->importing());
        QTRY_VERIFY(!store->importing());
        QTRY_COMPARE(view->deletedToast(), QStringLiteral("60 accounts were added."));
        QCOMPARE(store->accounts().size(), 60);
    }

    // The window never says "No accounts yet" for a vault it could not read:
    // it is opening, locked or unreadable, and says so; Try Again opens it.
    void theVaultStateIsNeverTheEmptyVault() {
        struct Gate : Keychain::MemoryBackend {
            QSemaphore opened;
            Keychain::Status open() override {
                opened.acquire();
                return Keychain::MemoryBackend::open();
            }
        };
        auto gate = std::make_shared<Gate>();
        Keychain::setBackend(gate);
        using Op = Keychain::MemoryBackend::Operation;
        gate->failWith(Op::open, Keychain::interactionNotAllowed);
        open({makeAccount("Acme", "ann")}, {}, AccountStore::Opening::inBackground);
        QVERIFY(showsText("Opening your keyring…"));
        QVERIFY(!showsText("No accounts yet"));
        // The window answers while the keyring waits for the user.
        bool answered = false;
        QTimer::singleShot(10, window.get(), [&] { answered = true; });
        QTRY_VERIFY(answered);
        QVERIFY(showsText("Opening your keyring…"));
        QTest::keyClicks(search(), "a");
        QCOMPARE(search()->text(), QStringLiteral("a"));
        search()->clear();

        gate->opened.release();
        QTRY_VERIFY(showsText("Your keyring is locked."));
        QVERIFY(!showsText("No accounts yet"));
        QVERIFY(titles().isEmpty());
        QPushButton* tryAgain = findByText<QPushButton>(currentState(), "Try Again");
        QVERIFY(tryAgain);

        gate->failWith(Op::open, Keychain::success);
        gate->failWith(Op::copyMatching, Keychain::decodeFailed);
        gate->opened.release();
        QTest::mouseClick(tryAgain, Qt::LeftButton);
        QTRY_VERIFY(showsText("Quillet could not read your keyring."));
        QVERIFY(showsText("The keychain file is damaged."));
        QVERIFY(!showsText("No accounts yet"));

        gate->failWith(Op::copyMatching, Keychain::success);
        gate->opened.release();
        QTest::mouseClick(tryAgain, Qt::LeftButton);
        QTRY_COMPARE(titles(), QStringList({"Acme/ann"}));
        QCOMPARE(errorLine(), QString());
        window.reset();
        store.reset();
        Keychain::setBackend(memory);
    }

    void unreadableItemsAreCounted() {
        for (int i = 0; i < 2; ++i) {
            Keychain::Item damaged;
            damaged.service = KeychainStore::service;
            damaged.account = Json::uuidText(QUuid::createUuid());
            damaged.accessGroup = KeychainStore::sharedAccessGroup;
            damaged.synchronizable = damaged.dataProtection = true;
            damaged.data = "not an account";
            QCOMPARE(Keychain::add(damaged), Keychain::success);
        }
        open({makeAccount("Acme", "ann")});
        QVERIFY(showsText("2 account items in your keyring could not be read. Quillet leaves them "
                          "as they are."));
        QCOMPARE(titles(), QStringList({"Acme/ann"}));
    }

    // Only the rows in view exist: a long list shows, scrolls and ticks
    // without a widget per account.
    void longListsMakeRowsForWhatIsInView() {
        QList<Account> many;
        for (int i = 0; i < 1000; ++i)
            many << makeAccount(QStringLiteral("Service %1").arg(i, 4, 10, QLatin1Char('0')), "user",
                                rfcKey);
        open(many);
        QVERIFY(view->rows().size() < 40);
        QCOMPARE(view->rows().first()->titleText(), QStringLiteral("Service 0000"));
        QCOMPARE(view->rows().first()->codeText(), QStringLiteral("287 082"));
        auto* scroll = view->findChild<QScrollArea*>();
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        QCOMPARE(view->rows().last()->titleText(), QStringLiteral("Service 0999"));
        QCOMPARE(view->rows().last()->codeText(), QStringLiteral("287 082"));
        QVERIFY(view->rows().size() < 40);
        QVERIFY(view->rows().last()->isVisible());
        const QRect shown = view->rows().last()->geometry();
        QVERIFY(shown.bottom() <= scroll->widget()->height());

        QTest::keyClicks(search(), "0500");
        QCOMPARE(titles(), QStringList({"Service 0500/user"}));
    }

    void addSheetAndQRSheetOpenOverTheWindow() {
        open({});
        // The empty state's button opens the add sheet; a pasted link lands
        // in the store and the sheet closes.
        QTest::mouseClick(findByText<QPushButton>(currentState(), "Add account"), Qt::LeftButton);
        auto* sheet = window->findChild<AddAccountSheet*>();
        QVERIFY(sheet);
        QTRY_VERIFY(sheet->isVisible());
        chooseMode(sheet, "Paste link");
        QPlainTextEdit* editor = sheet->findChild<QPlainTextEdit*>();
        QVERIFY(editor);
        editor->setPlainText(QStringLiteral("otpauth://totp/Acme:ann?secret=JBSWY3DPEHPK3PXP"));
        QTest::mouseClick(findByText<QPushButton>(sheet, "Add"), Qt::LeftButton);
        QTRY_VERIFY(!window->findChild<AddAccountSheet*>());
        QCOMPARE(titles(), QStringList({"Acme/ann"}));

        // Command-N opens it too; one sheet at a time.
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
        QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
        QTRY_VERIFY(window->findChild<AddAccountSheet*>());
        view->showQR(store->accounts().first());
        QVERIFY(!window->findChild<AccountQRView*>());
        QTest::keyClick(window->findChild<AddAccountSheet*>(), Qt::Key_Escape);
        QTRY_VERIFY(!window->findChild<AddAccountSheet*>());
        QCOMPARE(store->accounts().size(), 1);

        // "Show QR Code…" opens the account's QR sheet, whole at a large
        // font; Done closes it.
        const WholeTexts::LargeFont large;
        QMenu* menu = view->rows().first()->buildContextMenu(window.get());
        QAction* showQR = menu->actions().at(3);
        QVERIFY(showQR->isEnabled());
        showQR->trigger();
        auto* qr = window->findChild<AccountQRView*>();
        QVERIFY(qr);
        QTRY_VERIFY(qr->isVisible());
        QVERIFY(findByText<QLabel>(qr, "Acme: ann"));
        QUILLET_TRY_WHOLE(qr);
        QTest::mouseClick(findByText<QPushButton>(qr, "Done"), Qt::LeftButton);
        QTRY_VERIFY(!window->findChild<AccountQRView*>());
    }
};

QUILLET_TEST_MAIN(ContentViewTests)
#include "ContentViewTests.moc"
