#pragma once

#include "core/Account.h"
#include "core/AccountStore.h"

#include <QByteArray>
#include <QDialog>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class QPushButton;
class SecurityLog;

// The settings' backup block: saves the active accounts as one
// password-encrypted file, and restores such a file into the vault. The key
// derivation, the encryption and the file's reading and writing run on worker
// threads, so the window keeps answering; "backup exported" goes into the
// security timeline once the file is saved, and only then.
class BackupSectionMac : public QWidget {
    Q_OBJECT

public:
    enum class Mode { exportBackup, restore };

    inline static const QString defaultFileName = QStringLiteral("Quillet-backup.qvault");

    BackupSectionMac(AccountStore& store, SecurityLog& log, QWidget* parent = nullptr);

    // Runs before each step that takes the secrets out or puts accounts in
    // (asking for the export's password, choosing where to save, writing
    // the file, decrypting and storing a backup), at the moment it acts: it
    // goes on only when `proceed` is called (the app lock asks the user first
    // while it is locked); `refused` ends it with nothing done. Without a
    // gate it goes on at once.
    using Gate = std::function<void(QWidget* over, std::function<void()> proceed,
                                    std::function<void()> refused)>;
    void setExportGate(Gate gate) { m_gate = std::move(gate); }

    // "Export encrypted backup…" and "Import backup…".
    void startExport();
    void startRestore();

    // Encrypting, decrypting, reading or writing is under way.
    bool isBusy() const { return m_busy; }
    // The open password sheet, and the open result alert, if any.
    QDialog* passwordSheet() const { return m_sheet; }
    QMessageBox* alert() const { return m_alert; }

    // The alert's text after a restore of a file of `inFile` accounts: how
    // many were stored, how many were there already, and why any could not
    // be stored.
    static QString restoredMessage(qsizetype inFile, const AccountStore::ImportResult& result);
    // Why nothing can be restored into the vault now (its keyring is locked
    // or could not be read); nothing while it is open or opening.
    static std::optional<QString> refusal(const AccountStore& store);

signals:
    // The work has ended; the result alert (if any) is up.
    void finished();

private:
    struct Bytes {
        QByteArray data;
        std::optional<QString> error;
    };
    struct Opened {
        QList<Account> accounts;
        std::optional<QString> error;
    };

    void askForPassword(Mode mode);
    // Through the gate; both run only while this section lives.
    void whenOpen(std::function<void()> proceed, std::function<void()> refused = {});
    // A step refused: nothing saved or stored, and the section is free.
    void cancelled();
    void confirmed(Mode mode, const QString& password);
    void exportWith(const QString& password);
    QFileDialog* fileDialog(QFileDialog::AcceptMode mode);
    void askWhereToSave(const QByteArray& data);
    void saveChosen(const QString& path);
    void save(const QByteArray& data, const QString& path);
    void readPickedFile(const QString& path);
    void restoreWith(const QString& password);
    void merge(const QList<Account>& accounts);
    void report(const QString& message);
    void setBusy(bool busy);
    void refreshButtons();

    AccountStore& m_store;
    SecurityLog& m_log;
    Gate m_gate;
    bool m_busy = false;
    std::optional<QByteArray> m_pendingImportData;
    QPointer<QDialog> m_sheet;
    QPointer<QMessageBox> m_alert;
    QPointer<QFileDialog> m_saveDialog;
    QByteArray m_sealed; // the sealed backup while the user chooses where

    QPushButton* m_export;
    QPushButton* m_import;

    QFutureWatcher<Bytes> m_sealing;
    QFutureWatcher<std::optional<QString>> m_saving; // the error, if any
    QFutureWatcher<Bytes> m_reading;
    QFutureWatcher<Opened> m_opening;
};
