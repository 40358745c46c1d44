#pragma once

#include <QLabel>
#include <functional>

class AccountStore;

// A red line for the screens opened over the settings window that change the
// vault: it says when the keyring could not be read (so that an empty list is
// not taken for an empty vault), and why the last change made from the
// screen was not stored. Hidden while there is nothing to say.
class StoreProblemLine : public QLabel {
    Q_OBJECT

public:
    explicit StoreProblemLine(AccountStore& store, QWidget* parent = nullptr);

    // Runs an operation of the store. When it failed, the line says `what`
    // and the store's reason; when it succeeded, an earlier failure is
    // cleared. Returns whether it succeeded.
    bool run(const std::function<void()>& operation, const QString& what);

    // What the screen says while the vault is not open, else nothing.
    static QString vaultProblem(const AccountStore& store);

private:
    void refresh();

    AccountStore& m_store;
    QString m_failure;
};
