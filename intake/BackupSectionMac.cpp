#include "intake/BackupSectionMac.h"

#include "core/AccountStore.h"
#include "core/Limits.h"
#include "core/SecurityLog.h"
#include "intake/Backup.h"
#include "platform/files/RegularFile.h"
#include "platform/look/Style.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

QString unreadable() { return BackupSectionMac::tr("Couldn't read that file."); }

// Where the file dialogs start: the user's documents, else the home folder.
QString startFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

} // namespace

BackupSectionMac::BackupSectionMac(AccountStore& store, SecurityLog& log, QWidget* parent)
    : QWidget(parent), m_store(store), m_log(log) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(Style::label(tr("Backup"), Style::TextStyle::title3, std::nullopt,
                                   QFont::Bold));
    QLabel* caption = Style::label(tr("Save a password-protected copy of your accounts, or "
                                      "restore one. Keep the password safe — without it the file "
                                      "can't be opened."),
                                   Style::TextStyle::caption, Style::SemanticColor::secondary);
    caption->setWordWrap(true);
    column->addWidget(caption);
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    m_export = new QPushButton(tr("Export encrypted backup…"));
    connect(m_export, &QPushButton::clicked, this, &BackupSectionMac::startExport);
    row->addWidget(m_export);
    m_import = new QPushButton(tr("Import backup…"));
    connect(m_import, &QPushButton::clicked, this, &BackupSectionMac::startRestore);
    row->addWidget(m_import);
    row->addStretch(1);
    column->addLayout(row);

    connect(&m_sealing, &QFutureWatcher<Bytes>::finished, this, [this] {
        const Bytes sealed = m_sealing.result();
        if (sealed.error) {
            setBusy(false);
            report(*sealed.error);
            return;
        }
        // Locked while it was sealed: the file dialog waits for the user.
        whenOpen([this, data = sealed.data] { askWhereToSave(data); }, [this] { cancelled(); });
    });
    connect(&m_saving, &QFutureWatcher<std::optional<QString>>::finished, this, [this] {
        const std::optional<QString> error = m_saving.result();
        setBusy(false);
        // The system's error is a phrase; a refusal of the path is told in
        // its own sentence.
        if (error)
            report(error->endsWith(QLatin1Char('.')) ? *error
                                                     : tr("Couldn't save that file (%1).").arg(*error));
        else
            emit finished();
    });
    connect(&m_reading, &QFutureWatcher<Bytes>::finished, this, [this] {
        const Bytes read = m_reading.result();
        setBusy(false);
        if (read.error) {
            report(*read.error);
            return;
        }
        m_pendingImportData = read.data;
        askForPassword(Mode::restore);
    });
    connect(&m_opening, &QFutureWatcher<Opened>::finished, this, [this] {
        const Opened opened = m_opening.result();
        if (opened.error) {
            setBusy(false);
            report(*opened.error);
            return;
        }
        whenOpen([this, accounts = opened.accounts] { merge(accounts); }, [this] { cancelled(); });
    });

    connect(&m_store, &AccountStore::accountsChanged, this, &BackupSectionMac::refreshButtons);
    refreshButtons();
}

void BackupSectionMac::refreshButtons() {
    m_export->setEnabled(!m_busy && !m_store.accounts().isEmpty());
    m_import->setEnabled(!m_busy);
}

void BackupSectionMac::setBusy(bool busy) {
    m_busy = busy;
    refreshButtons();
}

void BackupSectionMac::report(const QString& message) {
    delete m_alert;
    auto* alert = new QMessageBox(this);
    m_alert = alert;
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setWindowTitle(tr("Backup"));
    alert->setText(message);
    alert->setTextFormat(Qt::PlainText);
    alert->setStandardButtons(QMessageBox::Ok);
    alert->open();
    emit finished();
}

// MARK: - The password sheet

void BackupSectionMac::askForPassword(Mode mode) {
    delete m_sheet;
    auto* sheet = new QDialog(this);
    m_sheet = sheet;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    const bool exporting = mode == Mode::exportBackup;
    const QString title =
        exporting ? tr("Choose a backup password") : tr("Enter the backup password");
    sheet->setWindowTitle(title);
    sheet->setFixedWidth(320);
    auto* column = new QVBoxLayout(sheet);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    QLabel* heading = Style::label(title, Style::TextStyle::headline);
    heading->setWordWrap(true);
    column->addWidget(heading);

    const auto field = [&](const QString& placeholder) {
        auto* edit = new QLineEdit;
        edit->setEchoMode(QLineEdit::Password);
        edit->setPlaceholderText(placeholder);
        edit->setAccessibleName(placeholder);
        edit->setFixedWidth(260);
        column->addWidget(edit);
        return edit;
    };
    QLineEdit* password = field(tr("Password"));
    // A slip of the finger on export makes a file nobody can open: the
    // password is typed twice, and Export waits until both agree.
    QLineEdit* again = exporting ? field(tr("Confirm password")) : nullptr;
    QLabel* mismatch = nullptr;
    if (again) {
        mismatch = Style::label(tr("The passwords don't match."), Style::TextStyle::caption,
                                Style::SemanticColor::red);
        mismatch->setWordWrap(true);
        mismatch->hide();
        column->addWidget(mismatch);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(tr("Cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, sheet, &QDialog::reject);
    auto* confirm = new QPushButton(exporting ? tr("Export") : tr("Import"));
    // In the desktop's order, as in every other dialog.
    const bool confirmFirst = Style::acceptButtonFirst(sheet);
    buttons->addWidget(confirmFirst ? confirm : cancel);
    buttons->addWidget(confirmFirst ? cancel : confirm);
    column->addLayout(buttons);
    confirm->setDefault(true);

    const auto check = [password, again, mismatch, confirm] {
        const QString typed = password->text();
        bool ready = !typed.isEmpty();
        if (again) {
            ready = ready && again->text() == typed;
            // Said once the second entry can no longer become the first.
            mismatch->setVisible(!again->text().isEmpty() && !typed.startsWith(again->text()));
        }
        confirm->setEnabled(ready);
    };
    connect(password, &QLineEdit::textChanged, sheet, check);
    if (again)
        connect(again, &QLineEdit::textChanged, sheet, check);
    check();
    Style::fitHeightToWidth(sheet);
    connect(confirm, &QPushButton::clicked, this, [this, sheet, password, mode] {
        const QString typed = password->text();
        sheet->accept();
        confirmed(mode, typed);
    });
    sheet->open();
    password->setFocus();
}

void BackupSectionMac::confirmed(Mode mode, const QString& password) {
    whenOpen([this, mode, password] {
        if (mode == Mode::exportBackup)
            exportWith(password);
        else
            restoreWith(password);
    });
}

void BackupSectionMac::whenOpen(std::function<void()> proceed, std::function<void()> refused) {
    if (!m_gate) {
        proceed();
        return;
    }
    const QPointer<BackupSectionMac> self(this);
    m_gate(
        window(),
        [self, proceed = std::move(proceed)] {
            if (self) proceed();
        },
        [self, refused = std::move(refused)] {
            if (self && refused) refused();
        });
}

void BackupSectionMac::cancelled() {
    m_sealed.clear();
    m_pendingImportData.reset();
    setBusy(false);
    emit finished();
}

// MARK: - Export

void BackupSectionMac::startExport() {
    if (m_busy || m_store.accounts().isEmpty())
        return;
    whenOpen([this] {
        if (!m_busy)
            askForPassword(Mode::exportBackup);
    });
}

void BackupSectionMac::exportWith(const QString& password) {
    const QList<Account> accounts = m_store.accounts();
    setBusy(true);
    m_sealing.setFuture(QtConcurrent::run([accounts, password]() -> Bytes {
        try {
            return {Backup::encrypt(accounts, password), std::nullopt};
        } catch (const Backup::BackupError& error) {
            return {{}, error.message()};
        } catch (const std::exception&) {
            return {{}, Backup::BackupError(Backup::BackupError::cryptoFailed).message()};
        }
    }));
}

QFileDialog* BackupSectionMac::fileDialog(QFileDialog::AcceptMode mode) {
    auto* dialog = new QFileDialog(this);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                        : QFileDialog::ExistingFile);
    dialog->setDirectory(startFolder());
    const bool saving = mode == QFileDialog::AcceptSave;
    dialog->setWindowTitle(saving ? tr("Export encrypted backup") : tr("Import backup"));
    connect(dialog, &QDialog::finished, this, [this, dialog, saving](int result) {
        const QString path =
            result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
        if (saving)
            saveChosen(path);
        else if (!path.isEmpty())
            readPickedFile(path);
    });
    return dialog;
}

void BackupSectionMac::askWhereToSave(const QByteArray& data) {
    m_sealed = data;
    // One save dialog, kept while the section lives: taking it down waits
    // for its folder reader, which stalled the window at the end of every
    // export. Its name field is reset each time.
    if (!m_saveDialog)
        m_saveDialog = fileDialog(QFileDialog::AcceptSave);
    m_saveDialog->selectFile(defaultFileName);
    m_saveDialog->open();
}

void BackupSectionMac::saveChosen(const QString& path) {
    const QByteArray data = std::exchange(m_sealed, {});
    if (path.isEmpty()) {
        setBusy(false); // cancelled: nothing saved, nothing recorded
        emit finished();
        return;
    }
    // The lock may have come while the dialog was open.
    whenOpen([this, data, path] { save(data, path); }, [this] { cancelled(); });
}

void BackupSectionMac::save(const QByteArray& data, const QString& path) {
    SecurityLog* log = &m_log;
    m_saving.setFuture(QtConcurrent::run([data, path, log]() -> std::optional<QString> {
        // Written beside the target and moved over it whole, so that a
        // failed write leaves an existing backup as it was; never through a
        // link to a device, a FIFO, a folder or nothing, which it would
        // replace or leave where no restore reads.
        if (const std::optional<QString> refused = RegularFile::writeRefusal(path))
            return *refused;
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return file.errorString();
        // Only the owner reads it, whatever the umask or the file it
        // replaces allowed: set before a byte of the backup is written.
        if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
            const QString error = QString::fromLocal8Bit(std::strerror(errno));
            file.cancelWriting();
            return error;
        }
        if (file.write(data) != data.size()) {
            const QString error = file.errorString();
            file.cancelWriting();
            return error;
        }
        if (!file.commit())
            return file.errorString();
        log->record(SecurityEvent::exported());
        return std::nullopt;
    }));
}

// MARK: - Restore

void BackupSectionMac::startRestore() {
    if (m_busy)
        return;
    if (const auto refused = refusal(m_store)) {
        report(*refused);
        return;
    }
    QFileDialog* dialog = fileDialog(QFileDialog::AcceptOpen);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void BackupSectionMac::readPickedFile(const QString& path) {
    setBusy(true);
    m_reading.setFuture(QtConcurrent::run([path]() -> Bytes {
        // A backup is a few hundred kilobytes; a huge file picked by mistake
        // is not read into memory whole, and a FIFO or a device (which would
        // never end, or never begin) is not read at all.
        QByteArray data;
        // The bound is the export's own, so every backup Quillet wrote reads.
        switch (RegularFile::read(path, Limits::maxBackupBytes, &data)) {
        case RegularFile::Status::ok:
            return {data, std::nullopt};
        case RegularFile::Status::tooLarge:
            return {{}, Limits::fileTooLarge(QFileInfo(path).fileName(), Limits::maxBackupBytes)};
        case RegularFile::Status::missing:
        case RegularFile::Status::notAFile:
        case RegularFile::Status::unreadable:
            break;
        }
        return {{}, unreadable()};
    }));
}

void BackupSectionMac::restoreWith(const QString& password) {
    if (!m_pendingImportData)
        return;
    // The keyring may have been locked while the password was typed.
    if (const auto refused = refusal(m_store)) {
        report(*refused);
        return;
    }
    const QByteArray data = *m_pendingImportData;
    setBusy(true);
    m_opening.setFuture(QtConcurrent::run([data, password]() -> Opened {
        try {
            return {Backup::decrypt(data, password), std::nullopt};
        } catch (const Backup::BackupError& error) {
            return {{}, error.message()};
        } catch (const std::exception&) {
            return {{}, Backup::BackupError(Backup::BackupError::badFormat).message()};
        }
    }));
}

void BackupSectionMac::merge(const QList<Account>& accounts) {
    // The store writes off this thread and answers once the accounts are
    // stored and listed (or were refused); the alert counts those stored.
    const qsizetype inFile = accounts.size();
    const QPointer<BackupSectionMac> self(this);
    m_store.importAccounts(accounts, [self, inFile](const AccountStore::ImportResult& result) {
        if (!self)
            return;
        self->setBusy(false);
        self->report(restoredMessage(inFile, result));
    });
}

std::optional<QString> BackupSectionMac::refusal(const AccountStore& store) {
    switch (store.vaultState()) {
    case AccountStore::VaultState::opening:
    case AccountStore::VaultState::open:
        return std::nullopt;
    case AccountStore::VaultState::locked:
        return tr("Your keyring is locked, so nothing can be restored into it.");
    case AccountStore::VaultState::unreadable:
        return tr("Quillet could not read your keyring, so nothing can be restored into it.") +
               QLatin1Char(' ') + store.failureReason();
    }
    return std::nullopt;
}

QString BackupSectionMac::restoredMessage(qsizetype inFile, const AccountStore::ImportResult& result) {
    // Refused whole (a vault that could not be read, an account over the
    // size limits): the reason says that nothing was added.
    const bool nothingWritten = result.added == 0 && result.notAdded == 0;
    if (result.error && nothingWritten && result.refused <= 1)
        return *result.error;
    QString text = result.added == 0 && result.refused > 0 ? tr("No accounts were imported.")
                   : result.added == 1 ? tr("Imported 1 account.")
                                       : tr("Imported %1 accounts.").arg(result.added);
    const qsizetype already = inFile - result.added - result.notAdded - result.refused;
    if (already == 1)
        text += QLatin1Char(' ') + tr("1 was already in your vault.");
    else if (already > 1)
        text += QLatin1Char(' ') + tr("%1 were already in your vault.").arg(already);
    if (result.notAdded == 1)
        text += QLatin1Char(' ') + tr("1 could not be stored.");
    else if (result.notAdded > 1)
        text += QLatin1Char(' ') + tr("%1 could not be stored.").arg(result.notAdded);
    // Accounts that break the account rule (no secret, no possible code,
    // a broken counter) were never offered to the keyring.
    if (result.refused == 1)
        text += QLatin1Char(' ') + tr("1 could not be imported.");
    else if (result.refused > 1)
        text += QLatin1Char(' ') + tr("%1 could not be imported.").arg(result.refused);
    // With nothing written, the error is only the refusal counted above.
    if (result.error && !nothingWritten)
        text += QLatin1Char(' ') + *result.error;
    return text;
}
