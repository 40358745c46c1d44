#include "app/EditAccountSheet.h"
#include "core/AccountStore.h"
#include "core/SecurityLog.h"
#include "platform/files/UserDefaults.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

using namespace Qt::StringLiterals;

class EditAccountSheetTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<EditAccountSheet> sheet;
    Folder work;
    Account original; // as the store holds it
    QList<Account> saved;

    // A store holding the folder "Work" and one account.
    void makeStore(Account a) {
        sheet.reset();
        store.reset();
        Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
        openStore();
        work = *store->addFolder(u"Work"_s);
        a.issuer = u"Acme"_s;
        a.name = u"ann@example.com"_s;
        a.secret = "12345678901234567890";
        store->importAccounts({a});
        original = store->accounts().first();
    }
    // The sheet wired as the main window wires it: Save goes to the store.
    void openSheet() {
        sheet = std::make_unique<EditAccountSheet>(*store, original, [this](const Account& a) {
            saved << a;
            store->update(a);
        });
        sheet->show();
        QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
    }
    template <class Edit> Edit* field(const QString& placeholder, QWidget* in = nullptr) {
        for (Edit* edit : (in ? in : sheet.get())->findChildren<Edit*>())
            if (edit->placeholderText() == placeholder) return edit;
        qFatal("no field \"%s\"", qPrintable(placeholder));
    }
    QLineEdit* issuer() { return field<QLineEdit>(u"Service (issuer)"_s); }
    QLineEdit* name() { return field<QLineEdit>(u"Account name"_s); }
    QPlainTextEdit* codes() {
        return field<QPlainTextEdit>(u"Paste the one-time backup codes the service gave you…"_s);
    }
    QPlainTextEdit* note() {
        return field<QPlainTextEdit>(u"Which email, hints, anything worth remembering…"_s);
    }
    QComboBox* folderPicker() { return sheet->findChild<QComboBox*>(); }
    QDialog* prompt() { return sheet->findChild<QDialog*>(u"newFolderPrompt"_s); }
    QLineEdit* folderName() { return field<QLineEdit>(u"Folder name"_s, prompt()); }
    QPushButton* button(QWidget* in, const QString& text) {
        for (QPushButton* b : in->findChildren<QPushButton*>())
            if (b->text() == text && b->window() == in->window()) return b;
        qFatal("no button \"%s\"", qPrintable(text));
    }
    void click(QWidget* in, const QString& text) {
        QTest::mouseClick(button(in, text), Qt::LeftButton);
    }
    static void clear(QWidget* edit) {
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
    }
    static void paste(QWidget* edit, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    }
    void createFolder(const QString& typed) {
        click(sheet.get(), u"New folder…"_s);
        QVERIFY(prompt()->isVisible());
        QTest::keyClicks(folderName(), typed);
        click(prompt(), u"Create"_s);
        QVERIFY(!prompt()->isVisible());
    }
    Account saveSheet() {
        click(sheet.get(), u"Save"_s);
        return saved.value(0);
    }

private slots:
    void init() {
        openVault();
        saved.clear();
        makeStore({});
    }
    void cleanup() {
        sheet.reset();
        store.reset();
        log.reset();
    }

    void showsEveryText() {
        openSheet();
        QCOMPARE(sheet->windowTitle(), u"Edit account"_s);
        QCOMPARE(sheet->size(), QSize(420, 560));
        QStringList groups;
        for (const QGroupBox* group : sheet->findChildren<QGroupBox*>())
            groups << group->title();
        QCOMPARE(groups, QStringList({"Account", "Folder", "", "Note"}));
        // The recovery codes' header is a row of its own, with the key symbol.
        const auto* recovery = sheet->findChildren<QGroupBox*>().at(2);
        QCOMPARE(recovery->accessibleName(), u"Recovery codes"_s);
        const QList<QLabel*> header = recovery->findChildren<QLabel*>();
        QVERIFY(!header.at(0)->pixmap().isNull());
        QCOMPARE(header.at(1)->text(), u"Recovery codes"_s);
        QStringList labels;
        for (const QLabel* label : sheet->findChildren<QLabel*>())
            labels << label->text();
        // The fields are labelled on screen, each by a name of its own, and
        // the folder picker's group says "Folder" once.
        QVERIFY(labels.contains(u"Service"_s));
        QVERIFY(labels.contains(u"Name"_s));
        QVERIFY(!labels.contains(u"Folder"_s));
        QCOMPARE(issuer()->accessibleName(), u"Service"_s);
        QCOMPARE(name()->accessibleName(), u"Name"_s);
        QCOMPARE(folderPicker()->accessibleName(), u"Folder"_s);
        QVERIFY(labels.contains(u"Kept encrypted with this account in your keyring. "
                                "If you ever lose your device, these get you back in."_s));
        QCOMPARE(folderPicker()->count(), 2);
        QCOMPARE(folderPicker()->itemText(0), u"None"_s);
        QCOMPARE(folderPicker()->itemText(1), u"Work"_s);
        QCOMPARE(folderPicker()->currentText(), u"None"_s);
        QCOMPARE(issuer()->text(), u"Acme"_s);
        QCOMPARE(name()->text(), u"ann@example.com"_s);
        QVERIFY(button(sheet.get(), u"Cancel"_s)->isEnabled());
        QVERIFY(button(sheet.get(), u"Save"_s)->isEnabled());
        clear(issuer());
        clear(name());
        QVERIFY(button(sheet.get(), u"Save"_s)->isEnabled()); // nothing is validated

        click(sheet.get(), u"New folder…"_s);
        QVERIFY(prompt()->isVisible());
        QCOMPARE(prompt()->windowTitle(), u"New folder"_s);
        QCOMPARE(prompt()->findChild<QLabel*>()->text(),
                 u"Group accounts you want to keep together."_s);
        QVERIFY(folderName()->isVisible());
        QVERIFY(button(prompt(), u"Cancel"_s)->isVisible());
        QVERIFY(button(prompt(), u"Create"_s)->isVisible());
    }

    void unchangedSaveHandsBackTheSameAccount() {
        Account a;
        a.note = u"work email\n  second line\u00a0(no-break space)\r\nthird"_s;
        a.recoveryCodes = u"abcd-1234\nefgh-5678\n"_s;
        a.type = OTPType::hotp;
        a.counter = 41;
        a.isFavorite = true;
        makeStore(a);
        store->setFolder(work.id, original.id);
        original = store->accounts().first();
        openSheet();
        QCOMPARE(folderPicker()->currentText(), u"Work"_s);
        QCOMPARE(saveSheet(), original);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(sheet->result(), int(QDialog::Accepted));
        QVERIFY(!sheet->isVisible());
    }

    void issuerAndNameLoseSurroundingSpacesAndTabsOnly() {
        openSheet();
        clear(issuer());
        paste(issuer(), u"  Acme  Corp\t"_s);
        QCOMPARE(issuer()->text(), u"  Acme  Corp\t"_s);
        clear(name());
        // An ideographic space, as a Japanese input method types it.
        QTest::sendKeyEvent(QTest::Click, name(), Qt::Key_unknown, u"\u3000"_s, Qt::NoModifier);
        QTest::keyClicks(name(), u"ann smith "_s);
        const Account a = saveSheet();
        QCOMPARE(a.issuer, u"Acme  Corp"_s);
        QCOMPARE(a.name, u"ann smith"_s);
    }

    void returnSavesAndAnEmptyNameIsKept() {
        openSheet();
        clear(name());
        QTest::keyClick(name(), Qt::Key_Return);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved[0].name, QString());
        QCOMPARE(store->accounts().first().name, QString());
    }

    void typedNoteIsCutTo500Characters() {
        openSheet();
        const QString typed = u"0123456789"_s.repeated(50) + u"x"_s;
        QTest::keyClicks(note(), typed);
        QCOMPARE(note()->toPlainText(), typed); // all of it shows while typing
        QCOMPARE(saveSheet().note, typed.left(500));
    }

    void untouchedLongNoteStaysWholeAndAnEditedOneIsCut() {
        Account a;
        a.note = u"n"_s.repeated(600);
        makeStore(a);
        openSheet();
        QTest::keyClicks(name(), u"2"_s);
        QCOMPARE(saveSheet().note, a.note);

        saved.clear();
        original = store->accounts().first();
        openSheet();
        QTest::keyClick(note(), Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(note(), u"!"_s);
        QCOMPARE(saveSheet().note, a.note.left(500));
    }

    void emojiNoteIsCutAfter500Emoji() {
        openSheet();
        const QString thumb = u"👍🏽"_s; // four UTF-16 units, one character
        paste(note(), thumb.repeated(501));
        QCOMPARE(saveSheet().note, thumb.repeated(500));
    }

    void recoveryCodesKeep2000Characters() {
        openSheet();
        const QString accented = u"e\u0301"_s; // a letter and a combining accent
        paste(codes(), accented.repeated(2000));
        QCOMPARE(saveSheet().recoveryCodes, accented.repeated(2000));

        saved.clear();
        original = store->accounts().first();
        openSheet();
        QTest::keyClick(codes(), Qt::Key_End, Qt::ControlModifier);
        paste(codes(), u"x"_s);
        QCOMPARE(saveSheet().recoveryCodes, accented.repeated(2000));
    }

    void textBoxesShowFourAndThreeLines() {
        openSheet();
        paste(codes(), u"1\n2\n3\n4"_s);
        paste(note(), u"1\n2\n3"_s);
        QCOMPARE(codes()->verticalScrollBar()->maximum(), 0);
        QCOMPARE(note()->verticalScrollBar()->maximum(), 0);
        paste(codes(), u"\n5"_s);
        paste(note(), u"\n4"_s);
        QCOMPARE(codes()->verticalScrollBar()->maximum(), 1);
        QCOMPARE(note()->verticalScrollBar()->maximum(), 1);
    }

    void folderIsChosenAndNoneClearsIt() {
        openSheet();
        QTest::keyClick(folderPicker(), Qt::Key_Down);
        QCOMPARE(folderPicker()->currentText(), u"Work"_s);
        QCOMPARE(saveSheet().folderID, work.id);

        saved.clear();
        original = store->accounts().first();
        openSheet();
        QCOMPARE(folderPicker()->currentText(), u"Work"_s);
        QTest::keyClick(folderPicker(), Qt::Key_Home);
        QCOMPARE(folderPicker()->currentText(), u"None"_s);
        QCOMPARE(saveSheet().folderID, std::nullopt);
    }

    void createdFolderIsSelectedAndACaseTwinSelectsTheExisting() {
        openSheet();
        createFolder(u" Travel "_s);
        QCOMPARE(store->folders().size(), 2);
        QCOMPARE(store->folders()[1].name, u"Travel"_s);
        QCOMPARE(folderPicker()->count(), 3);
        QCOMPARE(folderPicker()->currentText(), u"Travel"_s);
        QCOMPARE(folderName()->text(), QString());

        click(sheet.get(), u"New folder…"_s);
        QTest::keyClicks(folderName(), u"WORK"_s);
        QTest::keyClick(folderName(), Qt::Key_Return);
        QVERIFY(!prompt()->isVisible());
        QCOMPARE(store->folders().size(), 2);
        QCOMPARE(folderPicker()->currentText(), u"Work"_s);
        QCOMPARE(saveSheet().folderID, work.id);
    }

    void promptCancelClearsTheNameAndKeepsTheChoice() {
        openSheet();
        click(sheet.get(), u"New folder…"_s);
        QTest::keyClicks(folderName(), u"Temp"_s);
        click(prompt(), u"Cancel"_s);
        QVERIFY(!prompt()->isVisible());
        QCOMPARE(store->folders().size(), 1);
        QCOMPARE(folderPicker()->currentText(), u"None"_s);
        QCOMPARE(folderName()->text(), QString());
        QVERIFY(sheet->isVisible());
    }

    void cancelKeepsCreatedFolderAndTheAccountAsItWas() {
        openSheet();
        QTest::keyClicks(issuer(), u" Corp"_s);
        QTest::keyClicks(note(), u"changed"_s);
        createFolder(u"Travel"_s);
        click(sheet.get(), u"Cancel"_s);
        QCOMPARE(sheet->result(), int(QDialog::Rejected));
        QVERIFY(saved.isEmpty());
        QCOMPARE(store->folders().size(), 2);
        QCOMPARE(store->accounts().first(), original);

        openSheet();
        QTest::keyClicks(name(), u"x"_s);
        QTest::keyClick(name(), Qt::Key_Escape);
        QVERIFY(!sheet->isVisible());
        QVERIFY(saved.isEmpty());
    }

    void changesMadeElsewhereWhileOpenSurviveSave() {
        Account a;
        a.type = OTPType::hotp;
        a.counter = 7;
        a.note = u"old note"_s;
        makeStore(a);
        openSheet();
        // The hotkey advances the counter, the tray toggles the favourite,
        // another device rewrites the note: all while the sheet is open.
        store->advanceCounter(store->accounts().first());
        store->waitForPendingWork();
        store->toggleFavorite(original.id);
        Account elsewhere = store->accounts().first();
        elsewhere.note = u"newer note"_s;
        store->update(elsewhere);
        QTest::keyClicks(issuer(), u" Corp"_s);
        const Account result = saveSheet();
        QCOMPARE(result.counter, 8u);
        QVERIFY(result.isFavorite);
        QCOMPARE(result.note, u"newer note"_s);
        QCOMPARE(result.issuer, u"Acme Corp"_s);
        QCOMPARE(store->accounts().first(), result);
    }

    void accountGoneMeanwhileSavesTheEditedCopy() {
        openSheet();
        store->deleteAccount(original.id);
        QTest::keyClicks(name(), u"!"_s);
        Account expected = original;
        expected.name += u"!"_s;
        QCOMPARE(saveSheet(), expected);
    }
};

QUILLET_TEST_MAIN(EditAccountSheetTests)
#include "EditAccountSheetTests.moc"
