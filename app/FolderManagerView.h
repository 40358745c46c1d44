#pragma once

#include "core/Account.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <optional>

class AccountStore;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class StoreProblemLine;

// The folder manager: the user's folders with the number of active accounts
// in each, adding, renaming and deleting them. Deleting a folder keeps its
// accounts; they become ungrouped. Everything goes straight to the store, so
// the main window's folder filter follows at once. It has no close button:
// whoever presents it supplies one. When the store refuses a change (a name
// over its size limit, a keychain write that failed), a line says why.
class FolderManagerView : public QWidget {
    Q_OBJECT

public:
    explicit FolderManagerView(AccountStore& store, QWidget* parent = nullptr);

    // Adds the folder named in the add field (trimmed), unless that is blank.
    void add();
    // Opens the rename prompt with the folder's current name.
    void startRename(const Folder& folder);
    // Renames the folder being renamed to the prompt's text, as typed (the
    // store trims it), and closes the prompt.
    void commitRename();
    void cancelRename();
    void remove(const QUuid& folderID);

    // The open rename prompt, if any.
    QDialog* renamePrompt() const { return m_prompt; }

private:
    void refresh();

    AccountStore& m_store;
    std::optional<Folder> m_renaming;
    QString m_renameText;
    QPointer<QDialog> m_prompt;

    StoreProblemLine* m_problem;
    QLabel* m_empty;
    QVBoxLayout* m_rows;
    QLineEdit* m_newName;
    QPushButton* m_add;
};
