#pragma once

#include "core/Account.h"

#include <QDialog>
#include <functional>
#include <optional>

class AccountStore;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

// The sheet that changes the descriptive parts of one account: service,
// account name, folder, recovery codes and note. The secret and the code
// settings are not shown and pass through untouched.
//
// Save hands the edited account to `onSave` and accepts the dialog; Cancel
// (or Escape) only rejects. The sheet never writes the account itself: the
// caller decides (normally AccountStore::update). It does create folders,
// through the "New folder…" prompt, a child dialog named "newFolderPrompt".
class EditAccountSheet : public QDialog {
    Q_OBJECT

public:
    // Limits in user-perceived characters, applied at Save to text the user
    // edited.
    static constexpr qsizetype noteLimit = 500;
    static constexpr qsizetype recoveryCodesLimit = 2000;

    EditAccountSheet(AccountStore& store, const Account& account,
                     std::function<void(const Account&)> onSave, QWidget* parent = nullptr);

private:
    void save();
    void createFolder();
    void fillFolders();
    static QString plainText(const QPlainTextEdit* edit);

    AccountStore& m_store;
    const Account m_account; // as it was when the sheet opened
    std::function<void(const Account&)> m_onSave;
    std::optional<QUuid> m_folderID;
    // What the text boxes showed when the sheet opened; the text box's own
    // form of the stored text, so that "untouched" compares like with like.
    QString m_startNote;
    QString m_startRecoveryCodes;

    QLineEdit* m_issuer = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_folder = nullptr;
    QPlainTextEdit* m_recoveryCodes = nullptr;
    QPlainTextEdit* m_note = nullptr;
    QDialog* m_prompt = nullptr;
    QLineEdit* m_newFolderName = nullptr;
};
