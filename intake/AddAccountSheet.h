#pragma once

#include "core/Account.h"
#include "intake/Importers.h"
#include "intake/QRImport.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <exception>
#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTabBar;
class QWidget;

// The four ways of bringing accounts in, in the order the sheet offers them.
enum class AddMode { scanScreen, imageFile, pasteLink, manual };

QList<AddMode> allAddModes();
// The segment's title ("Scan screen", ...), which also names the mode.
QString addModeTitle(AddMode mode);
// The symbol shown beside the title.
QString addModeSymbol(AddMode mode);
// The mode with exactly this title; nothing for any other text.
std::optional<AddMode> addModeFromTitle(const QString& title);

// The "Add account" sheet of the main window: scan the displays, read an
// image file, paste links or another authenticator's backup, or type a key.
// Whatever succeeds hands the new accounts to `onAdd`, which stores them and
// answers: the sheet closes once they are stored, and stays open with its
// input and the owner's error when they could not be. What fails here (and
// what is too large) is shown in the status line and the sheet stays open.
// The sheet stores nothing and looks for no duplicates: that is the owner's
// business.
//
// `onAdd` runs once at a time, and never after the sheet was dismissed: a
// screen scan still running when Cancel (or another import) closed the sheet
// hands nothing on when it ends.
class AddAccountSheet : public QDialog {
    Q_OBJECT

public:
    // Starts a screen scan whose result arrives through `done`, never once
    // `context` is gone. Tests put a fake in place of QRImport::scanScreen.
    using ScreenScanner = std::function<void(QObject* context, QRImport::ScanDone done)>;
    // The owner's answer to a hand-over: nothing when every account was
    // stored, or the sentence to show. Safe to call after the sheet is gone.
    using Reply = std::function<void(const std::optional<QString>& error)>;
    using AddHandler = std::function<void(const QList<Account>& accounts, Reply reply)>;

    AddAccountSheet(AddHandler onAdd, QWidget* parent = nullptr,
                    ScreenScanner scanner = QRImport::scanScreen);
    // While the owner stores the accounts: how many of how many are stored
    // (those already stored not counted); the last count is how many the
    // import added.
    void showStored(int stored, int total);
    // An owner that stores at once and never fails.
    AddAccountSheet(std::function<void(const QList<Account>&)> onAdd, QWidget* parent = nullptr,
                    ScreenScanner scanner = QRImport::scanScreen);

    void done(int result) override;

signals:
    // Accounts were handed on, but this many links or accounts of the import
    // could not be read or break the account rule and were left out; sent
    // before the sheet closes.
    void linksUnreadable(int count);
    // The accounts read from an image file were handed on and stored; sent
    // before the sheet closes, so that the owner says what was added.
    void imageImported();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildScanPane();
    QWidget* buildImagePane();
    QWidget* buildPastePane();
    QWidget* buildManualPane();

    void setMode(AddMode mode);
    void setStatus(const QString& status);
    void setWorking(bool working);
    void refresh();
    void primaryClicked();

    void scanScreen();
    void scanEnded(const QRImport::ScanResult& result);
    void chooseImage();
    void openFile();
    void importText(const QString& text, const std::optional<QString>& password);
    // Runs `work` on a pool thread while the sheet says "Reading…", then
    // `then(sheet, what work returned)` on the GUI thread, unless the sheet
    // is gone or dismissed by then.
    template <typename Work, typename Then> void readInBackground(Work work, Then then);
    // What the importers made of `text`, or why they could not.
    void imported(const QString& text, const Importers::Import& found, std::exception_ptr error);
    void decryptAndImport();
    void addManual();
    // `codes`: how the QR codes of an image or a scan fared.
    void finish(const QList<Account>& found, int unreadable = 0,
                const std::optional<QString>& refusal = std::nullopt,
                const std::optional<QRImport::CodeCounts>& codes = std::nullopt);
    // What became of the codes beyond the accounts handed on, when some
    // could not be read or gave no account; nothing when every code did.
    std::optional<QString> codesLeftOut(const QRImport::CodeCounts& codes, int refused) const;
    void stored(const std::optional<QString>& error);

    // The chosen file, or nothing when the dialog was cancelled or the sheet
    // went away while it was open.
    std::optional<QString> askForFile(const QStringList& nameFilters);
    QString linkText() const;

    AddHandler m_onAdd;
    ScreenScanner m_scanner;

    AddMode m_mode = AddMode::scanScreen;
    QString m_status;
    bool m_working = false;
    // The owner is storing what was handed over; nothing else is handed on.
    bool m_saving = false;
    // A large text is being read off the GUI thread; nothing else is read.
    bool m_reading = false;
    // Links of the import being stored that could not be read.
    int m_unreadable = 0;
    // Said once the accounts of a QR import are stored, in place of closing:
    // some of its codes came to nothing.
    struct CodesTold {
        int read = 0;
        int added = 0; // handed on, then as many as the owner stored
        QString leftOut;
    };
    std::optional<CodesTold> m_codesTold;
    // Set when the sheet closes or hands its accounts on; from then on
    // nothing reaches `onAdd`.
    bool m_dismissed = false;
    // A screen scan has been started and has not reported back yet.
    bool m_scanRunning = false;
    std::optional<QString> m_pendingEncryptedText;

    QTabBar* m_modePicker = nullptr;
    QWidget* m_panes[4] = {};
    QScrollArea* m_scroller = nullptr;
    QWidget* m_statusRow = nullptr;
    QLabel* m_statusSymbol = nullptr;
    QLabel* m_statusText = nullptr;
    QPushButton* m_primary = nullptr;
    QProgressBar* m_progress = nullptr;

    QPlainTextEdit* m_linkText = nullptr;
    QWidget* m_passwordPane = nullptr;
    QLabel* m_passwordTitle = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_decrypt = nullptr;

    QLineEdit* m_issuer = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_secret = nullptr;
    QCheckBox* m_steam = nullptr;
    QButtonGroup* m_type = nullptr;
    QButtonGroup* m_algorithm = nullptr;
    QButtonGroup* m_digits = nullptr;
    QSpinBox* m_period = nullptr;
    QList<QWidget*> m_codeRows;   // Type, Algorithm, Digits: hidden for Steam
    QList<QWidget*> m_periodRow;  // hidden for Steam and for HOTP
};
