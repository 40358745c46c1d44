// Writing and restoring encrypted backups from the settings window, checked
// against an independent reader and writer (tests/intake/backup_tool.py,
// Python with python3-cryptography). PAM is wrapped (tests/with-pam.sh) for
// the app lock.
#include "core/AccountStore.h"
#include "core/Json.h"
#include "core/KeychainStore.h"
#include "core/Limits.h"
#include "core/SecurityLog.h"
#include "core/Settings.h"
#include "intake/Backup.h"
#include "intake/BackupSectionMac.h"
#include "menubar/GeneralTab.h"
#include "menubar/SettingsWindow.h"
#include "platform/files/UserDefaults.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "tests/support/BackupTool.h"
#include "tests/support/PasswordPrompt.h"
#include "tests/support/Screen.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"
#include "tests/support/WholeTexts.h"

#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace TestSupport;

namespace {

const QString backupPassword = QStringLiteral("tr0ub4dor & 3");

QPushButton* button(QWidget* in, const QString& text) { return shown<QPushButton>(in, text); }

QByteArray runTool(const QStringList& arguments, const QString& password, int* exitCode) {
    return runBackupTool(arguments, password, exitCode);
}

// Each account's id, label and Base64 secret, as the file's JSON gives them.
QStringList describe(const QJsonArray& accounts) {
    QStringList out;
    for (const QJsonValue& value : accounts) {
        const QJsonObject a = value.toObject();
        out << a["id"].toString() + " " + a["issuer"].toString() + ":" + a["name"].toString() +
                   " " + a["secret"].toString();
    }
    out.sort();
    return out;
}
QStringList describe(const QList<Account>& accounts) {
    QStringList out;
    for (const Account& a : accounts)
        out << a.id.toString(QUuid::WithoutBraces).toUpper() + " " + a.issuer + ":" + a.name +
                   " " + QString::fromLatin1(a.secret.toBase64());
    out.sort();
    return out;
}

} // namespace

class BackupSettingsTests : public QObject, TestSupport::VaultFixture {
    Q_OBJECT

    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppLockMac> lock;
    SettingsWindow* window = nullptr;
    BackupSectionMac* section = nullptr;
    QTemporaryDir files;

    void start(const QList<Account>& accounts) {
        seedVault(accounts);
        openStore();
        settings = std::make_unique<AppSettings>(*defaults);
        lock = std::make_unique<AppLockMac>(*defaults);
        window = new SettingsWindow(*store, *settings, *lock, *defaults, *log);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        section = window->general()->backup();
    }

    QList<Account> sample() {
        Account deleted = makeAccount("Gone", "old", QByteArray(20, 'g'));
        deleted.deletedAt = QDateTime::currentDateTimeUtc();
        Account hotp = makeAccount("", "counter", QByteArray(20, 'h'));
        hotp.type = OTPType::hotp;
        hotp.counter = 7;
        return {makeAccount("Acme", "ann@example.com", QByteArray(20, 'a')),
                makeAccount("Beta", "bob", QByteArray(32, 'b')), hotp, deleted};
    }

    QStringList events(const QString& type) {
        log->waitForIdle();
        QStringList found;
        for (const AuditEntry& entry : log->snapshot().entries)
            if (entry.type == type) found << entry.detail;
        return found;
    }

    // Types the password (and, on export, its confirmation) into the sheet
    // and presses its confirm button.
    void typePassword(const QString& title, const QString& password, bool twice) {
        QDialog* sheet = dialogTitled(title);
        QVERIFY(sheet);
        QTest::keyClicks(shown<QLineEdit>(sheet, "Password"), password);
        if (twice) QTest::keyClicks(shown<QLineEdit>(sheet, "Confirm password"), password);
        QVERIFY(!find<QLineEdit>(sheet, "Confirm password") || twice);
        QPushButton* confirm = button(sheet, twice ? "Export" : "Import");
        QVERIFY(confirm && confirm->isEnabled());
        click(confirm);
    }

    // Answers the file dialog titled `title` with `path`, or cancels it.
    QString answerFileDialog(const QString& title, const QString& path) {
        auto* dialog = dialogTitled<QFileDialog>(title);
        if (!dialog) return QStringLiteral("no dialog");
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString proposed = name->text();
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            name->setText(path);
            static_cast<QDialog*>(dialog)->accept();
        }
        return proposed;
    }

    // Exports through the section into `path`; returns the proposed name.
    QString exportTo(const QString& path, const QString& password = backupPassword) {
        click(button(section, "Export encrypted backup…"));
        typePassword("Choose a backup password", password, true);
        const QString proposed = answerFileDialog("Export encrypted backup", path);
        if (!QTest::qWaitFor([this] { return !section->isBusy(); }, QUILLET_TEST_WAIT_MS))
            return QStringLiteral("still busy");
        return proposed;
    }

    // Restores `path` through the section; returns the alert's text.
    QString restore(const QString& path, const QString& password = backupPassword) {
        click(button(section, "Import backup…"));
        answerFileDialog("Import backup", path);
        typePassword("Enter the backup password", password, false);
        return alertText();
    }

    QString alertText() {
        auto* alert = dialogTitled<QMessageBox>("Backup");
        if (!alert) return QStringLiteral("no alert");
        const QString text = alert->text();
        answer(alert, "OK");
        (void)QTest::qWaitFor([alert = QPointer<QMessageBox>(alert)] { return !alert; }, 2000);
        return text;
    }

private slots:
    void initTestCase() {
        if (!qEnvironmentVariableIsSet("PAM_WRAPPER"))
            QSKIP("needs PAM wrapped (run through tests/with-pam.sh)");
        if (!backupToolAvailable())
            QSKIP("python3-cryptography is not importable");
    }

    void init() {
        qputenv("QUILLET_PAM_SERVICE", "quillet-test");
        openVault();
    }

    void cleanup() {
        while (QDialog* dialog = PasswordPrompt::dialog()) dialog->reject();
        delete window;
        window = nullptr;
        store.reset();
    }

    void theRestoreMessageCountsWhatWasStored() {
        using Result = AccountStore::ImportResult;
        const auto message = [](qsizetype inFile, Result result) {
            return BackupSectionMac::restoredMessage(inFile, result);
        };
        QCOMPARE(message(1, {1, 0, {}}), "Imported 1 account.");
        QCOMPARE(message(0, {0, 0, {}}), "Imported 0 accounts.");
        QCOMPARE(message(12, {12, 0, {}}), "Imported 12 accounts.");
        QCOMPARE(message(3, {2, 0, {}}), "Imported 2 accounts. 1 was already in your vault.");
        QCOMPARE(message(5, {1, 2, QString("Your keyring is locked.")}),
                 "Imported 1 account. 2 were already in your vault. 2 could not be stored. Your "
                 "keyring is locked.");
        // Accounts that break the account rule are counted apart.
        QCOMPARE(message(14, {2, 0, {}, 12}), "Imported 2 accounts. 12 could not be imported.");
        QCOMPARE(message(3, {0, 0, QString("An account has no secret. Nothing was added."), 3}),
                 "No accounts were imported. 3 could not be imported.");
        // Refused whole: the reason alone, not "7 were already in your vault".
        QCOMPARE(message(7, {0, 0, QString("Your keyring is locked, so nothing was added.")}),
                 "Your keyring is locked, so nothing was added.");
    }

    void aCancelledSheetStartsEmptyNextTime() {
        start(sample());
        click(button(section, "Import backup…"));
        answerFileDialog("Import backup", QString());
        click(button(section, "Export encrypted backup…"));
        QDialog* sheet = dialogTitled("Choose a backup password");
        QTest::keyClicks(shown<QLineEdit>(sheet, "Password"), "typed");
        click(button(sheet, "Cancel"));
        QTRY_VERIFY(!section->passwordSheet());
        click(button(section, "Export encrypted backup…"));
        sheet = dialogTitled("Choose a backup password");
        QVERIFY(shown<QLineEdit>(sheet, "Password")->text().isEmpty());
        QVERIFY(shown<QLineEdit>(sheet, "Confirm password")->text().isEmpty());

        // At twice the font, its title and the warning show all their words.
        click(button(sheet, "Cancel"));
        QTRY_VERIFY(!section->passwordSheet());
        const WholeTexts::LargeFont large;
        click(button(section, "Export encrypted backup…"));
        sheet = dialogTitled("Choose a backup password");
        QTest::keyClicks(shown<QLineEdit>(sheet, "Password"), "typed");
        QTest::keyClicks(shown<QLineEdit>(sheet, "Confirm password"), "x");
        QVERIFY(label(sheet, "The passwords don't match."));
        QUILLET_TRY_WHOLE(sheet);
    }

    void theExportHoldsExactlyTheActiveAccounts() {
        ::umask(022);
        start(sample());
        QVERIFY(label(section, "Backup"));
        click(button(section, "Export encrypted backup…"));
        QDialog* sheet = dialogTitled("Choose a backup password");
        QVERIFY(sheet);
        QVERIFY(label(sheet, "Choose a backup password"));
        auto* first = shown<QLineEdit>(sheet, "Password");
        auto* second = shown<QLineEdit>(sheet, "Confirm password");
        QCOMPARE(first->echoMode(), QLineEdit::Password);
        QCOMPARE(second->echoMode(), QLineEdit::Password);
        QPushButton* exportButton = button(sheet, "Export");
        QVERIFY(!exportButton->isEnabled());
        // The password twice: Export waits until both agree.
        QTest::keyClicks(first, backupPassword);
        QVERIFY(!exportButton->isEnabled());
        QTest::keyClicks(second, backupPassword.left(4));
        QVERIFY(!exportButton->isEnabled());
        QVERIFY(absent(sheet, "The passwords don't match.")); // still on its way
        QTest::keyClicks(second, "x");
        QVERIFY(!exportButton->isEnabled());
        QVERIFY(label(sheet, "The passwords don't match."));
        QTest::keyClick(second, Qt::Key_Return); // the default button is disabled
        QVERIFY(sheet->isVisible());
        QTest::keyClick(second, Qt::Key_Backspace);
        QTest::keyClicks(second, backupPassword.mid(4));
        QVERIFY(exportButton->isEnabled());
        QVERIFY(absent(sheet, "The passwords don't match."));
        QTest::keyClick(second, Qt::Key_Return);

        // Nothing is recorded before the file is saved.
        auto* dialog = dialogTitled<QFileDialog>("Export encrypted backup");
        QVERIFY(dialog);
        QVERIFY(events("backup.exported").isEmpty());
        const QString path = files.filePath("mine.qvault");
        QCOMPARE(answerFileDialog("Export encrypted backup", path), "Quillet-backup.qvault");
        QTRY_VERIFY(!section->isBusy());
        QVERIFY(!dialogTitled<QMessageBox>("Backup", 200)); // success says nothing
        QCOMPARE(events("backup.exported"), QStringList{""});
        // The owner's alone, though the umask (022) would let others read it.
        QCOMPARE(QFile::permissions(path),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

        int exitCode = 0;
        const QByteArray json = runTool({"decrypt", path}, backupPassword, &exitCode);
        QCOMPARE(exitCode, 0);
        const QJsonArray accounts = QJsonDocument::fromJson(json).array();
        QCOMPARE(accounts.size(), 3);
        QVERIFY(describe(accounts) == describe(store->accounts())); // secrets: not printed
        QCOMPARE(accounts[2].toObject()["counter"].toInteger(), 7);
        // Another password does not open it.
        runTool({"decrypt", path}, "tr0ub4dor & 4", &exitCode);
        QCOMPARE(exitCode, 1);
    }

    void aSaveThatIsCancelledOrFailsRecordsNothing() {
        start(sample());
        QCOMPARE(exportTo(QString()), "Quillet-backup.qvault");
        QVERIFY(!dialogTitled<QMessageBox>("Backup", 200));
        QVERIFY(events("backup.exported").isEmpty());

        // Nothing can be created in /proc, not even by root.
        exportTo("/proc/quillet-backup.qvault");
        const QString failure = alertText();
        QVERIFY2(failure.startsWith("Couldn't save that file ("), qPrintable(failure));
        QVERIFY(events("backup.exported").isEmpty());
        QVERIFY(!QFile::exists("/proc/quillet-backup.qvault"));

        // A link to a device or to nothing is refused with a sentence: the
        // device stays one (also for root), and no file appears elsewhere.
        const QString toZero = files.filePath("zero-link.qvault");
        const QString toNothing = files.filePath("nothing-link.qvault");
        QVERIFY(QFile::link("/dev/zero", toZero));
        QVERIFY(QFile::link(files.filePath("gone/backup.qvault"), toNothing));
        QVERIFY(QDir().mkpath(files.filePath("gone")));
        for (const QString& link : {toZero, toNothing}) {
            click(button(section, "Export encrypted backup…"));
            typePassword("Choose a backup password", backupPassword, true);
            // The dialog asks, in a loop of its own, before replacing what
            // it sees there.
            QTimer replace;
            connect(&replace, &QTimer::timeout, this, [&replace] {
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (auto* box = qobject_cast<QMessageBox*>(top);
                        box && box->isVisible() && answer(box, "Yes"))
                        replace.stop();
            });
            if (link == toZero) replace.start(50);
            answerFileDialog("Export encrypted backup", link);
            const QString refused = alertText();
            QVERIFY2(refused.startsWith("Quillet does not write " + link + ": it is a symbolic link to"),
                     qPrintable(refused));
        }
        struct stat zero {};
        QVERIFY(::stat("/dev/zero", &zero) == 0 && S_ISCHR(zero.st_mode));
        QVERIFY(QDir("/dev").entryList({"zero?*"}, QDir::AllEntries | QDir::System).isEmpty());
        QVERIFY(QDir(files.filePath("gone")).isEmpty());
        QVERIFY(events("backup.exported").isEmpty());

        // Cancelling the password sheet neither asks where nor records.
        click(button(section, "Export encrypted backup…"));
        click(button(dialogTitled("Choose a backup password"), "Cancel"));
        QVERIFY(!dialogTitled<QFileDialog>("Export encrypted backup", 300));
        QVERIFY(events("backup.exported").isEmpty());
    }

    void aBackupWrittenElsewhereRestores() {
        start({makeAccount("Mine", "me", QByteArray(20, 'm'))});
        // The independent writer seals two accounts in its own container form.
        const QString plain = files.filePath("accounts.json");
        QFile json(plain);
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(R"([{"id":"0F3C1E6A-2B7D-4C1E-9A55-3D2B1C0E9F11","name":"ann","issuer":"Acme",)"
                   R"("secret":"MTIzNDU2Nzg5MDEyMzQ1Njc4OTA=","digits":8,"period":60},)"
                   R"({"id":"7A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9","name":"bob","issuer":"",)"
                   R"("secret":"c2Vjb25kIHNlY3JldCBieXRlcyE=","type":"hotp","counter":3}])");
        json.close();
        const QString path = files.filePath("python.qvault");
        int exitCode = 0;
        runTool({"encrypt", plain, path}, backupPassword, &exitCode);
        QCOMPARE(exitCode, 0);

        click(button(section, "Import backup…"));
        answerFileDialog("Import backup", path);
        QDialog* sheet = dialogTitled("Enter the backup password");
        QVERIFY(sheet);
        QVERIFY(!find<QLineEdit>(sheet, "Confirm password"));
        QVERIFY(!button(sheet, "Import")->isEnabled());
        QTest::keyClicks(shown<QLineEdit>(sheet, "Password"), backupPassword);
        click(button(sheet, "Import"));
        QCOMPARE(alertText(), QStringLiteral("Imported 2 accounts."));
        QCOMPARE(labels(store->accounts()), QStringList({"Mine: me", "Acme: ann", "bob"}));
        const Account& ann = store->accounts()[1];
        QVERIFY(ann.secret == "12345678901234567890");
        QCOMPARE(ann.digits, 8);
        QCOMPARE(ann.period, 60);
        QCOMPARE(store->accounts()[2].type, OTPType::hotp);
        QCOMPARE(store->accounts()[2].counter, 3u);
        QCOMPARE(KeychainStore::loadAll().active.size(), 3);
        QCOMPARE(events("account.imported"), QStringList{"2 accounts"});
    }

    // A forged backup: accounts that can make no code, or no right one, are
    // refused and counted; names lose their controls and direction
    // overrides; a folder this vault does not have is no folder.
    void aForgedBackupKeepsOnlyWorkingAccounts() {
        start({makeAccount("Mine", "me", QByteArray(20, 'm'))});
        const Folder work = *store->addFolder("Work");
        const QString secret = "MTIzNDU2Nzg5MDEyMzQ1Njc4OTA=";
        QJsonArray forged;
        const auto add = [&](const QString& name, const QJsonObject& fields) {
            QJsonObject a{{"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
                          {"name", name}, {"issuer", "Forged"}, {"secret", secret}};
            for (auto it = fields.begin(); it != fields.end(); ++it) a[it.key()] = it.value();
            forged.append(a);
        };
        add("hostile", {{"issuer", QString::fromUtf8("Ho\0st\x1b[2Jile\xe2\x80\xae"
                                                     "evil\xc2\x9b", 21)},
                        {"folderID", QUuid::createUuid().toString(QUuid::WithoutBraces)}});
        add("filed", {{"folderID", work.id.toString(QUuid::WithoutBraces).toUpper()}});
        for (const qint64 digits : {0ll, -1ll, 100ll, 1000000000ll})
            add("digits", {{"digits", digits}});
        for (const qint64 period : {0ll, -1ll}) add("period", {{"period", period}});
        add("no secret", {{"secret", ""}});
        QJsonDocument document(forged);
        QByteArray json = document.toJson(QJsonDocument::Compact);
        // Counters from 2^63 on, as written by a forger (our own writer never does).
        json.chop(1);
        for (const char* counter : {"9223372036854775808", "18446744073709551615"}) {
            QJsonObject big{{"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
                            {"name", "counter"}, {"issuer", "Forged"}, {"type", "hotp"},
                            {"secret", secret}, {"counter", 0}};
            json += ',' + QJsonDocument(big).toJson(QJsonDocument::Compact)
                              .replace("\"counter\":0", QByteArray("\"counter\":") + counter);
        }
        json += "]";
        const QString plain = files.filePath("forged.json");
        QFile file(plain);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        const QString path = files.filePath("forged.qvault");
        int exitCode = 0;
        runTool({"encrypt", plain, path}, backupPassword, &exitCode);
        QCOMPARE(exitCode, 0);

        QCOMPARE(restore(path), QStringLiteral("Imported 2 accounts. 9 could not be imported."));
        const QList<Account> stored = KeychainStore::loadAll().active;
        QCOMPARE(stored.size(), 3);
        QCOMPARE(labels(store->accounts()),
                 QStringList({"Mine: me", "Host[2Jileevil: hostile", "Forged: filed"}));
        QVERIFY(!store->accounts()[1].folderID);
        QCOMPARE(store->accounts()[2].folderID, std::optional<QUuid>(work.id));
        for (const Account& account : stored) QVERIFY(!account.code(QDateTime::currentDateTimeUtc()).isEmpty());
        QCOMPARE(events("account.imported"), QStringList{"2 accounts"});
    }

    void aWrongPasswordChangesNothing() {
        start(sample());
        const QString path = files.filePath("wrong.qvault");
        exportTo(path);
        const QList<Account> before = store->accounts();
        QCOMPARE(restore(path, "not it"), QStringLiteral("Wrong password, or the file is "
                                                        "corrupted."));
        QCOMPARE(store->accounts(), before);
        // Not a backup at all.
        QFile other(files.filePath("notes.txt"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("just some notes");
        other.close();
        QCOMPARE(restore(other.fileName()), QStringLiteral("This isn't a Quillet backup file."));
        // A file that cannot be read opens no sheet.
        click(button(section, "Import backup…"));
        answerFileDialog("Import backup", "/proc/self/mem");
        QCOMPARE(alertText(), QStringLiteral("Couldn't read that file."));
        QVERIFY(!dialogTitled("Enter the backup password", 200));
        // Nor does one far larger than any backup; it is not read whole.
        QFile huge(files.filePath("huge.qvault"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(Limits::maxBackupBytes + 1));
        huge.close();
        click(button(section, "Import backup…"));
        answerFileDialog("Import backup", huge.fileName());
        QCOMPARE(alertText(), QStringLiteral("The file “huge.qvault” is larger than 32 MiB."));
        QVERIFY(!dialogTitled("Enter the backup password", 200));
        // Nor what is no file at all: a FIFO (whose open waits for a writer)
        // and a link to a device that never ends. Each is told, and both
        // buttons come back.
        const QString fifo = files.filePath("backup.qvault");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString zero = files.filePath("zero.qvault");
        QVERIFY(QFile::link("/dev/zero", zero));
        for (const QString& path : {fifo, zero}) {
            click(button(section, "Import backup…"));
            answerFileDialog("Import backup", path);
            QCOMPARE(alertText(), QStringLiteral("Couldn't read that file."));
            QVERIFY(!dialogTitled("Enter the backup password", 200));
            QVERIFY(button(section, "Import backup…")->isEnabled());
            QVERIFY(button(section, "Export encrypted backup…")->isEnabled());
        }
    }

    // A vault of 50,000 accounts makes a backup past the bound of other
    // opened files (16 MiB), which its restore still reads whole.
    void aLargeVaultsBackupRestores() {
        // Seeded item by item into a scratch keychain and moved over at once:
        // the memory keychain checks each new item against all before it.
        QList<Keychain::Item> items;
        {
            auto scratch = std::make_shared<Keychain::MemoryBackend>();
            Keychain::setBackend(scratch);
            for (int i = 0; i < 50000; ++i) {
                Account a = makeAccount(QStringLiteral("Example Service %1").arg(i % 700),
                                        QStringLiteral("someone.%1@mail.example.com").arg(i),
                                        QByteArray(20, char('a' + i % 26)));
                a.note = QStringLiteral("Work account, desk %1").arg(i);
                KeychainStore::saveAccount(a);
                items.append(scratch->items().takeFirst());
            }
            Keychain::setBackend(memory);
        }
        memory->items() = items;
        items.clear();
        start({});
        QCOMPARE(store->accounts().size(), 50000);
        const QString path = files.filePath("large.qvault");
        exportTo(path);
        QVERIFY(!dialogTitled<QMessageBox>("Backup", 200));
        QVERIFY2(QFileInfo(path).size() > Limits::maxTextBytes,
                 qPrintable(QString::number(QFileInfo(path).size())));
        QCOMPARE(restore(path), QStringLiteral("Imported 0 accounts. 50000 were already in your "
                                               "vault."));
    }

    void restoringIntoTheSameVaultSaysWhatWasThere() {
        start(sample());
        const QString path = files.filePath("same.qvault");
        exportTo(path);
        QCOMPARE(restore(path), QStringLiteral("Imported 0 accounts. 3 were already in your "
                                               "vault."));
        QCOMPARE(store->accounts().size(), 3);
        // One deleted meanwhile comes back from Recently Deleted.
        store->deleteAccount(store->accounts()[0].id);
        QCOMPARE(restore(path), QStringLiteral("Imported 1 account. 2 were already in your "
                                               "vault."));
        QCOMPARE(store->accounts().size(), 3);
        QCOMPARE(events("account.restored").size(), 1);
        // Into an empty vault everything is added.
        delete window;
        openVault();
        start({});
        QVERIFY(!button(section, "Export encrypted backup…")->isEnabled()); // nothing to export
        QCOMPARE(restore(path), QStringLiteral("Imported 3 accounts."));
        QVERIFY(button(section, "Export encrypted backup…")->isEnabled());
    }

    // The alert counts what the keychain took; the list shows only that.
    void aRestoreWhoseWritesFailCountsWhatWasStored() {
        start({makeAccount("Mine", "me", QByteArray(20, 'm'))});
        const QList<Account> incoming = {makeAccount("Acme", "ann", QByteArray(20, 'a')),
                                         makeAccount("Beta", "bob", QByteArray(20, 'b')),
                                         makeAccount("Mine", "me", QByteArray(20, 'm'))};
        const QString path = files.filePath("partly.qvault");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Backup::encrypt(incoming, backupPassword));
        file.close();
        memory->failWith(Keychain::MemoryBackend::Operation::add, Keychain::ioError,
                         Json::uuidText(incoming[1].id));
        const QString text = restore(path);
        QVERIFY2(text.startsWith("Imported 1 account. 1 was already in your vault. 1 could not "
                                 "be stored. "),
                 qPrintable(text));
        QVERIFY2(text.contains("The disk is full or cannot be written."), qPrintable(text));
        QCOMPARE(labels(store->accounts()), QStringList({"Mine: me", "Acme: ann"}));
        QCOMPARE(KeychainStore::loadAll().active.size(), 2);
    }

    // Nothing is restored into a keyring that could not be read: the user
    // hears why, before picking a file.
    void restoringIntoAnUnreadVaultIsRefused() {
        memory->failWith(Keychain::MemoryBackend::Operation::open, Keychain::interactionNotAllowed);
        start({makeAccount("Mine", "me", QByteArray(20, 'm'))});
        QCOMPARE(store->vaultState(), AccountStore::VaultState::locked);
        QVERIFY(!button(section, "Export encrypted backup…")->isEnabled());
        click(button(section, "Import backup…"));
        QCOMPARE(alertText(), "Your keyring is locked, so nothing can be restored into it.");
        QVERIFY(!dialogTitled<QFileDialog>("Import backup", 200));

        delete window;
        openVault();
        memory->failWith(Keychain::MemoryBackend::Operation::copyMatching, Keychain::notAvailable);
        start({});
        QCOMPARE(store->vaultState(), AccountStore::VaultState::unreadable);
        click(button(section, "Import backup…"));
        QCOMPARE(alertText(), "Quillet could not read your keyring, so nothing can be restored "
                              "into it. Quillet could not reach your keyring.");
    }

    void exportingWhileLockedAsksFirst() {
        defaults->setValue(Settings::appLockEnabled.key, true);
        start(sample());
        QVERIFY(lock->isLocked());
        click(button(section, "Export encrypted backup…"));
        QVERIFY(PasswordPrompt::cancel());
        QVERIFY(!dialogTitled("Choose a backup password", 300));
        QVERIFY(lock->isLocked());
        // The settings window itself is never covered.
        QVERIFY(window->isVisible() && window->isEnabled());

        click(button(section, "Export encrypted backup…"));
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QVERIFY(dialogTitled("Choose a backup password"));
        QVERIFY(!lock->isLocked());
        click(button(dialogTitled("Choose a backup password"), "Cancel"));

        // Open, it asks nothing.
        click(button(section, "Export encrypted backup…"));
        QVERIFY(dialogTitled("Choose a backup password"));
        QVERIFY(!PasswordPrompt::dialog());
    }

    // What was open when the lock came steps aside; a press that reaches it
    // anyway asks first, and a cancel does nothing.
    void whatWasOpenAtTheLockActsOnlyAfterThePassword() {
        defaults->setValue(Settings::appLockEnabled.key, true);
        start(sample());
        lock->authenticate(window);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_VERIFY(!lock->isLocked());

        // The export's file dialog.
        click(button(section, "Export encrypted backup…"));
        typePassword("Choose a backup password", backupPassword, true);
        auto* files = dialogTitled<QFileDialog>("Export encrypted backup");
        QVERIFY(files);
        lock->relock();
        QVERIFY(!files->isVisible());
        const QString path = this->files.filePath("locked.qvault");
        files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(files)->accept();
        QVERIFY(PasswordPrompt::cancel());
        QTRY_VERIFY(!section->isBusy());
        QVERIFY(!QFile::exists(path));
        QVERIFY(events("backup.exported").isEmpty());

        // "Delete All" confirmed.
        lock->authenticate(window);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_VERIFY(!lock->isLocked());
        click(button(window->general(), "Recently Deleted…"));
        click(button(dialogTitled("Recently Deleted"), "Delete All Permanently"));
        const QPointer<QMessageBox> confirmation =
            dialogTitled<QMessageBox>("Delete all permanently?");
        QVERIFY(confirmation);
        QPushButton* deleteAll = button(confirmation, "Delete All");
        lock->relock();
        QVERIFY(!confirmation->isVisible());
        deleteAll->click();
        QVERIFY(PasswordPrompt::cancel());
        QCOMPARE(labels(store->deletedAccounts()), QStringList({"Gone: old"}));
        QVERIFY(events("account.erased").isEmpty());
        // Back after the unlock, as it was.
        lock->authenticate(window);
        QVERIFY(PasswordPrompt::answer(PasswordPrompt::rightPassword));
        QTRY_VERIFY(dialogTitled("Recently Deleted", 0));
        // What was answered while aside stays answered.
        QVERIFY(!files->isVisible() && !confirmation);
    }
};

QUILLET_TEST_MAIN(BackupSettingsTests)
#include "BackupSettingsTests.moc"
