#include "core/Base32.h"
#include "intake/AddAccountSheet.h"
#include "intake/Importers.h"
#include "platform/qr/QrImage.h"
#include "tests/intake/ImportSamples.h"
#include "tests/support/TestMain.h"
#include "tests/support/WholeTexts.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QMimeData>
#include <QFileDialog>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using Importers::ImportError;
using QRImport::QRImportError;

namespace {

const QString alice = u"otpauth://totp/Example:alice@example.com?secret=JBSWY3DPEHPK3PXP"
                      "&issuer=Example"_s;
const QString bob = u"otpauth://totp/Shop:bob?secret=GEZDGNBVGY3TQOJQ&issuer=Shop"_s;
// A valid Google Authenticator export that holds no account.
const QString emptyMigration = u"otpauth-migration://offline?data=EAE%3D"_s;
// The seven sample accounts, sealed with the password "test".
const QString sealed2FAS = ImportSamples::samplePath(u"exports/2fas_encrypted.2fas"_s);
const QString lockedPane = u"2FAS backup is password-protected"_s;
const QString openFile = u"Open a .2fas / .json / .txt file…"_s;

// What a button shows: "&&" draws one ampersand, a lone "&" marks the
// mnemonic and is not drawn.
QString shown(const QAbstractButton* button) {
    return button->text().replace(u"&&"_s, u"\x01"_s).remove(u'&').replace(u'\x01', u'&');
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

class AddAccountSheetTests : public QObject {
    Q_OBJECT

    std::unique_ptr<AddAccountSheet> sheet;
    QList<QList<Account>> handedOn;
    // The screen scan ends only when a test calls `scanDone`.
    int scansStarted = 0;
    QObject* scanContext = nullptr;
    QRImport::ScanDone scanDone;

    void openSheet(const QString& mode = u"Scan screen"_s) {
        sheet = std::make_unique<AddAccountSheet>(
            [this](const QList<Account>& accounts) { handedOn << accounts; }, nullptr,
            [this](QObject* context, QRImport::ScanDone done) {
                ++scansStarted, scanContext = context, scanDone = std::move(done);
            });
        sheet->show();
        QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
        click(mode);
    }
    QAbstractButton* button(const QString& text) {
        for (QAbstractButton* b : sheet->findChildren<QAbstractButton*>())
            if (shown(b) == text && b->isVisibleTo(sheet.get())) return b;
        return nullptr;
    }
    bool enabled(const QString& text) { return button(text) && button(text)->isEnabled(); }
    // A mode's tab, else a button.
    void click(const QString& text) {
        auto* modes = sheet->findChild<QTabBar*>();
        for (int i = 0; modes && i < modes->count(); ++i)
            if (modes->tabText(i) == text)
                return QTest::mouseClick(modes, Qt::LeftButton, {}, modes->tabRect(i).center());
        QVERIFY2(button(text), qPrintable(u"no button "_s + text));
        QTest::mouseClick(button(text), Qt::LeftButton);
    }
    bool shows(const QString& text) {
        for (const QLabel* label : sheet->findChildren<QLabel*>())
            if (label->text() == text && label->isVisibleTo(sheet.get())) return true;
        return false;
    }
    QLineEdit* field(const QString& placeholder) {
        for (QLineEdit* edit : sheet->findChildren<QLineEdit*>())
            if (edit->placeholderText() == placeholder) return edit;
        qFatal("no field \"%s\"", qPrintable(placeholder));
    }
    QLineEdit* password() { return field(u"Backup password"_s); }
    QPlainTextEdit* editor() { return sheet->findChild<QPlainTextEdit*>(); }
    void paste(const QString& text) { editor()->setPlainText(text); }
    void fillForm(const QString& name, const QString& secret) {
        field(u"e.g. you@example.com"_s)->setText(name);
        field(u"Base32 secret (no spaces)"_s)->setText(secret);
    }
    // Answers the next file dialog by typing `path` into its name field as a
    // user would, or cancels it when `path` is empty.
    void answerFileDialog(const QString& path, QStringList* filters = nullptr) {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, path, filters] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll->deleteLater();
            poll->stop();
            if (filters) *filters = dialog->nameFilters();
            if (path.isEmpty()) return dialog->reject();
            dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        poll->start(20);
    }
    Account added() {
        click(u"Add"_s);
        if (handedOn.size() != 1 || handedOn[0].size() != 1) qFatal("no account handed on");
        return handedOn[0][0];
    }

private slots:
    void init() {
        handedOn.clear();
        scansStarted = 0;
        scanDone = nullptr;
    }
    void cleanup() { sheet.reset(); }

    void modesAndTheirButtons() {
        QVERIFY(addModeFromTitle(u"Enter by hand"_s) == AddMode::manual);
        QVERIFY(!addModeFromTitle(u"enter by hand"_s));
        QCOMPARE(addModeSymbol(AddMode::imageFile), u"photo"_s);

        openSheet();
        QVERIFY(shows(u"Show the QR code somewhere on any of your displays — in a browser tab, on "
                      "your phone, in another app — then click Scan. Quillet's own windows are "
                      "hidden for a moment while it looks."_s));
        const QList<std::pair<QString, QString>> primaries{{u"Scan screen"_s, u"Scan"_s},
                                                           {u"Image file"_s, u"Choose image…"_s},
                                                           {u"Paste link"_s, u"Add"_s},
                                                           {u"Enter by hand"_s, u"Add"_s}};
        for (const auto& [mode, primary] : primaries) {
            click(mode);
            QVERIFY2(button(primary) && button(u"Cancel"_s), qPrintable(mode));
            QCOMPARE(sheet->width(), 540);
            const int paneHeight = sheet->findChild<QScrollArea*>()->height();
            QVERIFY(paneHeight >= 280 && paneHeight <= 360);
        }
        // Cancel and the primary button stand in the desktop's order, as a
        // dialog button box of this desktop places OK and Cancel.
        QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        box.resize(300, 40);
        box.show();
        const bool okFirst =
            box.button(QDialogButtonBox::Ok)->x() < box.button(QDialogButtonBox::Cancel)->x();
        QCOMPARE(button(u"Add"_s)->x() < button(u"Cancel"_s)->x(), okFirst);

        fillForm(u"ann"_s, u"JBSWY3DP"_s);
        click(u"Cancel"_s);
        QVERIFY(!sheet->isVisible());
        openSheet(u"Paste link"_s);
        paste(alice);
        QTest::keyClick(sheet.get(), Qt::Key_Escape);
        QVERIFY(!sheet->isVisible());
        QVERIFY(handedOn.isEmpty());
    }

    void pastedText() {
        openSheet(u"Paste link"_s);
        paste(u"  \n\t \n"_s);
        QVERIFY(!enabled(u"Add"_s));

        paste(u"hello"_s);
        click(u"Add"_s);
        const QString unrecognized = ImportError(ImportError::unrecognized).message();
        QVERIFY(shows(unrecognized));
        // Another mode and back: the message and the text are still there.
        click(u"Enter by hand"_s);
        click(u"Paste link"_s);
        QVERIFY(shows(unrecognized));
        QCOMPARE(editor()->toPlainText(), u"hello"_s);

        paste(emptyMigration);
        click(u"Add"_s);
        QVERIFY(shows(u"No accounts were imported."_s));
        QVERIFY(sheet->isVisible());

        paste(u"\n  "_s + alice + u"  \n"_s);
        click(u"Add"_s);
        QCOMPARE(handedOn.size(), 1);
        QCOMPARE(handedOn[0].size(), 1);
        QCOMPARE(handedOn[0][0].name, u"alice@example.com"_s);
        QVERIFY(!sheet->isVisible());
    }

    void passwordProtected2FASBackup() {
        QFile file(sealed2FAS);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString needs = ImportError(ImportError::needsPassword, u"2FAS"_s).message();
        const QString wrong = ImportError(ImportError::wrongPassword, u"2FAS"_s).message();
        openSheet(u"Paste link"_s);
        paste(QString::fromUtf8(file.readAll()));
        click(u"Add"_s);
        QVERIFY(shows(needs));
        QVERIFY(shows(lockedPane));
        QVERIFY(button(u"Decrypt & Import"_s) && !enabled(u"Decrypt & Import"_s));
        QTest::keyClick(password(), Qt::Key_Return); // an empty password is asked for again
        QVERIFY(shows(needs));

        QTest::keyClicks(password(), u"Test"_s);
        click(u"Decrypt & Import"_s);
        QVERIFY(shows(wrong));
        QVERIFY(shows(lockedPane));
        QCOMPARE(password()->text(), u"Test"_s);

        // The pane comes back with the paste pane, and Return in it decrypts
        // the waiting backup: it never falls through to "Add", which would
        // import the editor's new link.
        click(u"Scan screen"_s);
        QVERIFY(!shows(lockedPane));
        click(u"Paste link"_s);
        paste(bob);
        QTest::keyClick(password(), Qt::Key_Return);
        QVERIFY(shows(wrong));
        QVERIFY(handedOn.isEmpty());
        password()->setText(u"test"_s);
        QTest::keyClick(password(), Qt::Key_Return);
        QCOMPARE(handedOn.size(), 1);
        COMPARE_ACCOUNTS(handedOn[0], ImportSamples::seven);
        QVERIFY(!sheet->isVisible());
    }

    void openedFilesBypassTheEditor() {
        QTemporaryDir dir;
        write(dir.filePath(u"cut.txt"_s), "otpauth://totp/Caf\xc3"); // ends inside a character
        openSheet(u"Paste link"_s);
        paste(bob);

        answerFileDialog(QString());
        click(openFile);
        QVERIFY(sheet->isVisible());

        QStringList filters;
        answerFileDialog(dir.filePath(u"cut.txt"_s), &filters);
        click(openFile);
        QCOMPARE(filters, QStringList({"Backups and text (*.2fas *.json *.txt)", "All files (*)"}));
        QVERIFY(shows(u"The file “cut.txt” couldn’t be opened using text encoding Unicode "
                      "(UTF-8)."_s));

        // A file that cannot be read says the system's reason (read as root,
        // permissions would not stop it: this file fails every read).
        const QString unreadable = u"/proc/self/mem"_s;
        QFile probe(unreadable);
        QVERIFY(probe.open(QIODevice::ReadOnly));
        probe.readAll();
        QVERIFY(probe.error() != QFileDevice::NoError);
        answerFileDialog(unreadable);
        click(openFile);
        QVERIFY2(shows(u"The file “mem” couldn’t be opened: "_s + probe.errorString()),
                 qPrintable(probe.errorString()));

        answerFileDialog(sealed2FAS);
        click(openFile);
        QVERIFY(shows(lockedPane));
        password()->setText(u"test"_s);
        click(u"Decrypt & Import"_s);
        COMPARE_ACCOUNTS(handedOn.value(0), ImportSamples::seven);
        QCOMPARE(editor()->toPlainText(), bob);
    }

    // What another program can leave at a picked path: a FIFO (whose open
    // waits for a writer), a link to a device that never ends, a picture
    // past the bound. Each is told at once, on both roads that read a file,
    // and the sheet goes on answering.
    void filesThatAreNotFilesAreTold() {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(u"export.2fas"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString zero = dir.filePath(u"zero.png"_s);
        QVERIFY(QFile::link(u"/dev/zero"_s, zero));
        QFile huge(dir.filePath(u"huge.png"_s));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(256) << 20) + 1));
        huge.close();

        openSheet(u"Paste link"_s);
        for (const QString& path : {fifo, zero}) {
            paste(alice.left(20));
            click(u"Add"_s); // a status of its own between the two
            answerFileDialog(path);
            click(openFile);
            const QString name = QFileInfo(path).fileName();
            QVERIFY2(shows(u"The file “%1” couldn’t be opened: it is not a regular file."_s.arg(name)),
                     qPrintable(path));
        }
        QImage blank(64, 64, QImage::Format_RGB32);
        blank.fill(Qt::white);
        QVERIFY(blank.save(dir.filePath(u"blank.png"_s)));
        click(u"Image file"_s);
        for (const QString& path : {fifo, zero, huge.fileName()}) {
            // A readable picture first, so that each refusal is told anew.
            answerFileDialog(dir.filePath(u"blank.png"_s));
            click(u"Choose image…"_s);
            // Images are read off the GUI thread: the answer comes later.
            QTRY_VERIFY_WITH_TIMEOUT(shows(QRImportError(QRImportError::noQRCodeFound).message()),
                                     30000);
            answerFileDialog(path);
            click(u"Choose image…"_s);
            QTRY_VERIFY2_WITH_TIMEOUT(shows(QRImportError(QRImportError::unreadableImage).message()),
                                      qPrintable(path), 30000);
        }
        QVERIFY(handedOn.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(enabled(u"Choose image…"_s), 30000);
    }

    void imageFiles() {
        QTemporaryDir dir;
        const QImage code = QrImage::make(alice.toUtf8(), 8);
        QImage framed(code.size() + QSize(64, 64), QImage::Format_RGB32);
        framed.fill(Qt::white);
        QVERIFY(framed.save(dir.filePath(u"blank.png"_s)));
        QPainter(&framed).drawImage(32, 32, code);
        QVERIFY(framed.save(dir.filePath(u"code.png"_s)));

        openSheet(u"Image file"_s);
        QStringList filters;
        answerFileDialog(dir.filePath(u"blank.png"_s), &filters);
        click(u"Choose image…"_s);
        QVERIFY(filters.value(0).startsWith(u"Images ("_s));
        QVERIFY(filters.value(0).contains(u"*.png"_s));
        QTRY_VERIFY(shows(QRImportError(QRImportError::noQRCodeFound).message()));

        answerFileDialog(dir.filePath(u"code.png"_s));
        click(u"Choose image…"_s);
        QTRY_COMPARE(handedOn.value(0).value(0).issuer, u"Example"_s);
        QVERIFY(!sheet->isVisible());
    }

    // A photo of 12 megapixels takes a while to decode and search: the sheet
    // reads it on a worker thread, so that the GUI thread's timers keep
    // running until the account arrives, and the sheet says what it is doing.
    void aLargeImageIsReadOffTheGuiThread() {
        QTemporaryDir dir;
        QImage photo(4000, 3000, QImage::Format_RGB32);
        photo.fill(QColor(0xe4, 0xe0, 0xd8));
        QPainter(&photo).drawImage(2600, 1900, QrImage::make(alice.toUtf8(), 12));
        const QString path = dir.filePath(u"photo.jpg"_s);
        QVERIFY(photo.save(path, "JPG", 85));
        photo = QImage();

        openSheet(u"Image file"_s);
        answerFileDialog(path);
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] { ticks += handedOn.isEmpty(); });
        tick.start(5);
        click(u"Choose image…"_s);
        QVERIFY(handedOn.isEmpty());
        QVERIFY(shows(u"Reading…"_s));
        QVERIFY(!enabled(u"Choose image…"_s));
        const int before = ticks;
        QTRY_COMPARE_WITH_TIMEOUT(handedOn.size(), 1, 60000);
        QCOMPARE(handedOn[0].value(0).issuer, u"Example"_s);
        QVERIFY2(ticks - before >= 2, qPrintable(u"%1 ticks while reading"_s.arg(ticks - before)));
    }

    // An image of several codes, some of which come to nothing: the sheet
    // hands on what it read, then stays open and says how many codes it read
    // and added, and what became of the rest. A grid read whole closes it.
    void imageOfSeveralCodes() {
        using namespace ImportSamples;
        QTemporaryDir dir;
        const int side = QrImage::make(gridLink(0).toUtf8(), 4).width();
        const int cell = side + 2 * 4;
        QImage damaged = qrGrid(3, 3, 4);
        // The middle code overpainted across half its width.
        QPainter(&damaged).fillRect(8 + cell + side / 4, 8 + cell + side / 4, side / 2, side / 2,
                                    Qt::white);
        QVERIFY(damaged.save(dir.filePath(u"damaged.png"_s)));
        QImage mixed = qrGrid(2, 2, 4);
        QPainter(&mixed).drawImage(8 + cell, 8, QrImage::make("https://example.com/", 4)
                                                    .scaled(side, side));
        QVERIFY(mixed.save(dir.filePath(u"mixed.png"_s)));
        QImage lone = damaged.copy(cell, cell, cell + 8, cell + 8);
        QVERIFY(lone.save(dir.filePath(u"lone.png"_s)));
        QVERIFY(qrGrid(3, 3, 4).save(dir.filePath(u"grid.png"_s)));

        openSheet(u"Image file"_s);
        answerFileDialog(dir.filePath(u"damaged.png"_s));
        click(u"Choose image…"_s);
        QTRY_VERIFY(shows(u"Read 8 QR codes and added 8 accounts. 1 QR code could not be read."_s));
        QCOMPARE(handedOn.size(), 1);
        QCOMPARE(handedOn[0].size(), 8);
        QCOMPARE(handedOn[0][4].name, u"user5@example.com"_s);
        QVERIFY(sheet->isVisible());

        answerFileDialog(dir.filePath(u"mixed.png"_s));
        click(u"Choose image…"_s);
        QTRY_VERIFY(shows(u"Read 4 QR codes and added 3 accounts. 1 QR code held no account "
                          "that could be added."_s));
        QCOMPARE(handedOn.value(1).size(), 3);

        answerFileDialog(dir.filePath(u"lone.png"_s));
        click(u"Choose image…"_s);
        QTRY_VERIFY(shows(u"No accounts were imported. 1 QR code could not be read."_s));
        QCOMPARE(handedOn.size(), 2);

        answerFileDialog(dir.filePath(u"grid.png"_s));
        click(u"Choose image…"_s);
        QTRY_VERIFY(!sheet->isVisible());
        QCOMPARE(handedOn.value(2).size(), 9);
    }

    void manualEntry() {
        openSheet(u"Enter by hand"_s);
        fillForm(u"  "_s, u"JBSWY3DP"_s);
        QVERIFY(!enabled(u"Add"_s));
        fillForm(u"ann"_s, u" \t"_s);
        QVERIFY(!enabled(u"Add"_s));

        for (const QString& bad : {u"JBSW!Y3DP"_s, u"A"_s /* no whole byte */}) {
            fillForm(u"ann"_s, bad);
            click(u"Add"_s);
            QVERIFY(shows(u"Secret is not valid Base32."_s));
            QCOMPARE(field(u"Base32 secret (no spaces)"_s)->text(), bad);
        }
        QVERIFY(handedOn.isEmpty());

        fillForm(u" ann\t"_s, u"JBSW Y3DP EHPK 3PXP"_s);
        QTest::keyClicks(field(u"e.g. Google"_s), u" Acme "_s);
        QTest::keyClick(field(u"e.g. Google"_s), Qt::Key_Return); // Add is the default button
        const Account a = handedOn.value(0).value(0);
        QCOMPARE(a.secret, *Base32::decode(u"JBSWY3DPEHPK3PXP"_s));
        QCOMPARE(a.name, u"ann"_s);
        QCOMPARE(a.issuer, u"Acme"_s);
        QCOMPARE(a.type, OTPType::totp);
        QCOMPARE(a.algorithm, HashAlgorithm::sha1);
        QCOMPARE(a.digits, qint64(6));
        QCOMPARE(a.period, qint64(30));
        QVERIFY(!a.isSteam);
    }

    void steamCounterAndPeriod() {
        const QStringList codeRows{u"Type"_s, u"Algorithm"_s, u"Digits"_s, u"Period"_s};
        openSheet(u"Enter by hand"_s);
        fillForm(u"gabe"_s, u"JBSWY3DPEHPK3PXP"_s);
        auto* period = sheet->findChild<QSpinBox*>();
        QCOMPARE(period->text(), u"30 seconds"_s);
        QTest::keyClicks(period, u"99"_s); // only stepping changes it
        for (int i = 0; i < 9; ++i) QTest::keyClick(period, Qt::Key_Down);
        QCOMPARE(period->text(), u"15 seconds"_s);
        for (int i = 0; i < 9; ++i) QTest::keyClick(period, Qt::Key_Up);
        QCOMPARE(period->text(), u"120 seconds"_s);
        click(u"SHA512"_s);
        click(u"8"_s);
        for (const QString& row : codeRows) QVERIFY(shows(row));
        click(u"This is a Steam Guard account (5-character code)"_s);
        for (const QString& row : codeRows) QVERIFY2(!shows(row), qPrintable(row));
        const Account steam = added();
        QVERIFY(steam.isSteam);
        QCOMPARE(steam.type, OTPType::totp);
        QCOMPARE(steam.algorithm, HashAlgorithm::sha1);
        QCOMPARE(steam.digits, qint64(5));
        QCOMPARE(steam.period, qint64(30));

        handedOn.clear();
        openSheet(u"Enter by hand"_s);
        fillForm(u"bob"_s, u"JBSWY3DPEHPK3PXP"_s);
        click(u"Counter (HOTP)"_s);
        QVERIFY(shows(u"Digits"_s) && !shows(u"Period"_s));
        click(u"7"_s);
        const Account counter = added();
        QCOMPARE(counter.type, OTPType::hotp);
        QCOMPARE(counter.digits, qint64(7));
        QCOMPARE(counter.period, qint64(30));
        QCOMPARE(counter.counter, quint64(0));
    }

    // The ways in are a tab list and the code's kind, hash and length radio
    // buttons, for a screen reader and for the keyboard alike.
    void theWaysInAreTabsAndTheChoicesRadioButtons() {
        openSheet();
        auto* modes = sheet->findChild<QTabBar*>();
        QVERIFY(modes);
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(modes);
        QCOMPARE(list->role(), QAccessible::PageTabList);
        QStringList tabs;
        for (int i = 0; i < list->childCount(); ++i)
            if (list->child(i)->role() == QAccessible::PageTab)
                tabs << list->child(i)->text(QAccessible::Name);
        QCOMPARE(tabs, QStringList({"Scan screen", "Image file", "Paste link", "Enter by hand"}));
        modes->setFocus();
        QTest::keyClick(modes, Qt::Key_Right);
        QVERIFY(shows(u"Read a QR code from an image"_s) && button(u"Choose image…"_s));
        QTest::keyClick(modes, Qt::Key_Right);
        QTest::keyClick(modes, Qt::Key_Right);
        QVERIFY(shows(u"Enter a key by hand"_s));

        for (const QString& choice : {u"Time-based (TOTP)"_s, u"Counter (HOTP)"_s, u"SHA1"_s,
                                      u"SHA256"_s, u"SHA512"_s, u"6"_s, u"7"_s, u"8"_s}) {
            QAccessibleInterface* radio = QAccessible::queryAccessibleInterface(button(choice));
            QCOMPARE(radio->role(), QAccessible::RadioButton);
            QCOMPARE(radio->text(QAccessible::Name), choice);
        }
        fillForm(u"kim"_s, u"JBSWY3DPEHPK3PXP"_s);
        // The arrow keys move each choice along.
        for (const auto& [from, presses] : {std::pair(u"Time-based (TOTP)"_s, 1),
                                            std::pair(u"SHA1"_s, 1), std::pair(u"6"_s, 2)}) {
            button(from)->setFocus();
            for (int i = 0; i < presses; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        }
        QVERIFY(button(u"Counter (HOTP)"_s)->isChecked() && !shows(u"Period"_s));
        const Account a = added();
        QCOMPARE(a.type, OTPType::hotp);
        QCOMPARE(a.algorithm, HashAlgorithm::sha256);
        QCOMPARE(a.digits, qint64(8));
    }

    // At twice the font, every pane, the password pane and a long message
    // show all their words within the sheet's width.
    void everyTextIsWholeAtALargeFont() {
        const WholeTexts::LargeFont large;
        openSheet();
        QFile file(sealed2FAS);
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QString& mode : {u"Scan screen"_s, u"Image file"_s, u"Paste link"_s,
                                    u"Enter by hand"_s}) {
            click(mode);
            QUILLET_TRY_WHOLE(sheet.get());
        }
        click(u"Counter (HOTP)"_s);
        QUILLET_TRY_WHOLE(sheet.get());
        click(u"This is a Steam Guard account (5-character code)"_s);
        QVERIFY(button(u"This is a Steam Guard account (5-character code)"_s)->isChecked());
        QUILLET_TRY_WHOLE(sheet.get());
        click(u"Paste link"_s);
        paste(QString::fromUtf8(file.readAll()));
        click(u"Add"_s);
        QVERIFY(shows(lockedPane));
        QUILLET_TRY_WHOLE(sheet.get());
    }

    void screenScan() {
        openSheet();
        click(u"Scan"_s);
        QVERIFY(shows(u"Scanning displays…"_s));
        QVERIFY(!enabled(u"Scan"_s));
        click(u"Image file"_s);
        QVERIFY(!enabled(u"Choose image…"_s));
        click(u"Scan screen"_s);
        QTRY_COMPARE(scansStarted, 1);
        QCOMPARE(scanContext, sheet.get());

        scanDone({{}, std::make_exception_ptr(QRImportError(QRImportError::noQRCodeFound)), {}});
        QVERIFY(shows(QRImportError(QRImportError::noQRCodeFound).message()));
        QVERIFY(enabled(u"Scan"_s));

        QTest::keyClick(sheet.get(), Qt::Key_Return);
        QTRY_COMPARE(scansStarted, 2);
        Account scanned;
        scanned.secret = "Hello";
        scanDone({{scanned}, nullptr, {}});
        QCOMPARE(handedOn.size(), 1);
        QVERIFY(!sheet->isVisible());
    }

    void aScanEndingAfterCancelHandsNothingOn() {
        openSheet();
        click(u"Scan"_s);
        QTRY_COMPARE(scansStarted, 1);
        click(u"Cancel"_s);
        scanDone({{Account()}, nullptr, {}});
        QVERIFY(handedOn.isEmpty());

        // Dismissed before the capture began: it never begins.
        openSheet();
        click(u"Scan"_s);
        QTest::keyClick(sheet.get(), Qt::Key_Escape);
        QTest::qWait(400);
        QCOMPARE(scansStarted, 1);

        // Presented as the main window does, the sheet is gone after Escape;
        // even a scanner that reports regardless reaches nobody.
        openSheet();
        click(u"Scan"_s);
        QTRY_COMPARE(scansStarted, 2);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        const QPointer<AddAccountSheet> presented(sheet.release());
        QTest::keyClick(presented, Qt::Key_Escape);
        QTRY_VERIFY(!presented);
        scanDone({{Account()}, nullptr, {}});
        QVERIFY(handedOn.isEmpty());
    }

    // The sheet closes only once the owner has stored what it handed over;
    // when that fails it stays open with the input and the owner's reason,
    // hands nothing more on meanwhile, and Add tries again.
    void waitsForTheOwnerAndKeepsItsInput() {
        QList<AddAccountSheet::Reply> replies;
        const auto open = [&] {
            sheet = std::make_unique<AddAccountSheet>(
                AddAccountSheet::AddHandler(
                    [&](const QList<Account>& accounts, AddAccountSheet::Reply reply) {
                        handedOn << accounts;
                        replies << reply;
                    }),
                nullptr, [](QObject*, QRImport::ScanDone) {});
            sheet->show();
            QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
            click(u"Paste link"_s);
            paste(alice + u'\n' + bob);
        };
        open();
        click(u"Add"_s);
        QCOMPARE(handedOn.size(), 1);
        QVERIFY(shows(u"Saving to your keyring…"_s));
        QVERIFY(!button(u"Add"_s)); // the indicator stands in its place
        QVERIFY(sheet->isVisible());

        const QString refused = u"Your keyring is locked, so nothing was added."_s;
        replies.takeFirst()(refused);
        QVERIFY(sheet->isVisible());
        QVERIFY(shows(refused));
        QCOMPARE(editor()->toPlainText(), alice + u'\n' + bob);
        QVERIFY(enabled(u"Add"_s));

        click(u"Add"_s);
        QCOMPARE(handedOn.size(), 2);
        replies.takeFirst()(std::nullopt);
        QVERIFY(!sheet->isVisible());

        // Closed while the owner stores: its answer later reaches nobody.
        open();
        click(u"Add"_s);
        QCOMPARE(replies.size(), 1);
        sheet.reset();
        replies.takeFirst()(u"too late"_s);
    }

    // What is too large is refused with what it is, before it is handed on
    // (and for a paste, before the editor takes it).
    void sizeLimits() {
        openSheet(u"Enter by hand"_s);
        fillForm(u"ann"_s, QString(1640, u'A'));
        click(u"Add"_s);
        QVERIFY(shows(u"A secret is longer than 1,024 bytes."_s));
        fillForm(u"ann"_s, QString(1639, u'A'));
        field(u"e.g. Google"_s)->setText(QString(1001, u'i'));
        click(u"Add"_s);
        QVERIFY(shows(u"An issuer name is longer than 1,000 characters."_s));
        QVERIFY(handedOn.isEmpty());
        field(u"e.g. Google"_s)->setText(QString(1000, u'i'));
        click(u"Add"_s);
        QCOMPARE(handedOn.value(0).value(0).secret.size(), 1024);

        openSheet(u"Paste link"_s);
        paste(u"otpauth://totp/"_s + QString(1001, u'n') + u"?secret=JBSWY3DPEHPK3PXP"_s);
        click(u"Add"_s);
        QVERIFY(shows(u"An account name is longer than 1,000 characters."_s));

        // A paste over 16 MiB, counted in UTF-8 (three bytes a character).
        paste(QString());
        auto* huge = new QMimeData; // the clipboard owns it
        huge->setText(QString(6 * 1024 * 1024, QChar(0x20AC)));
        QApplication::clipboard()->setMimeData(huge);
        editor()->setFocus();
        editor()->paste();
        QApplication::clipboard()->clear();
        QVERIFY(shows(u"The text is larger than 16 MiB."_s));
        QVERIFY(editor()->toPlainText().isEmpty());

        QTemporaryDir dir;
        QFile big(dir.filePath(u"big.txt"_s));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(16 * 1024 * 1024 + 1));
        big.close();
        answerFileDialog(big.fileName());
        click(openFile);
        QVERIFY(shows(u"The file “big.txt” is larger than 16 MiB."_s));
        QCOMPARE(handedOn.size(), 1);
    }

    // A 100,000-line export is read on a worker thread: the click returns at
    // once with the sheet saying so, a second Add cannot start another read,
    // and every account arrives.
    void aLargeExportIsReadOffTheGuiThread() {
        openSheet(u"Paste link"_s);
        QStringList lines;
        for (int i = 0; i < 100000; ++i)
            lines << u"otpauth://totp/Example:user%1?secret=JBSWY3DPEHPK3PXP"_s.arg(i);
        paste(lines.join(u'\n'));
        click(u"Add"_s);
        QVERIFY(shows(u"Reading…"_s));
        QVERIFY(!enabled(u"Add"_s));
        QTRY_COMPARE_WITH_TIMEOUT(handedOn.size(), 1, 60000);
        QCOMPARE(handedOn[0].size(), 100000);
        QCOMPARE(handedOn[0].last().name, u"user99999"_s);
    }

    void onlyTheFirstImportIsHandedOn() {
        openSheet();
        click(u"Scan"_s);
        QTRY_COMPARE(scansStarted, 1);
        click(u"Paste link"_s);
        paste(emptyMigration);
        click(u"Add"_s);
        QVERIFY(shows(u"No accounts were imported."_s));
        click(u"Scan screen"_s);
        // Finding nothing ends the working state, whatever found it; Scan
        // then waits for the scan still running instead of starting another.
        QVERIFY(enabled(u"Scan"_s));
        click(u"Scan"_s);
        QVERIFY(shows(u"Scanning displays…"_s));
        QTest::qWait(400);
        QCOMPARE(scansStarted, 1);

        click(u"Paste link"_s);
        paste(alice);
        click(u"Add"_s);
        scanDone({{Account()}, nullptr, {}});
        QCOMPARE(handedOn.size(), 1);
        QCOMPARE(handedOn[0][0].name, u"alice@example.com"_s);
    }
};

QUILLET_TEST_MAIN(AddAccountSheetTests)
#include "AddAccountSheetTests.moc"
