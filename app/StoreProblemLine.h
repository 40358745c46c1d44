#pragma once

#include <QLabel>
#include <functional>
#include <optional>

class AccountStore;
class UserDefaults;

// The red line that says why the store did not store a change: what the user
// asked for, then the store's reason ("“Acme: ann” was not pinned. Your
// keyring is locked."). Hidden while there is nothing to say.
class StoreProblemLine : public QLabel {
    Q_OBJECT

public:
    // Where the line stands decides what it speaks for.
    enum class Scope {
        // Under an account list: any failure of the store, while the store's
        // error stands and only while the vault is open (a vault that could
        // not be read is explained where the list would be). A failure that
        // was not the user's action under way shows the reason alone.
        list,
        // On a screen opened over the settings window: that the keyring could
        // not be read (so that an empty list is not taken for an empty
        // vault), else why the last change made from the screen was not
        // stored, until the next one succeeds.
        screen,
    };

    StoreProblemLine(AccountStore& store, Scope scope, QWidget* parent = nullptr);

    // Runs an operation of the store for the user; when it fails, the line
    // says `what` and the store's reason. Returns whether it succeeded.
    bool run(const std::function<void()>& operation, const QString& what);
    // The same for an operation whose outcome comes later, once it has.
    void settled(bool stored, const QString& what);

    // What a screen says while the vault is not open, else nothing.
    static QString vaultProblem(const AccountStore& store);

    // A line, beside the store's, that says while it holds that the settings
    // could not be kept in their file (and so last only until the program
    // quits); hidden otherwise.
    static QLabel* settingsLine(UserDefaults& defaults, QWidget* parent);
    // An orange notice line in the list's caption band, named `objectName`,
    // as the main window shows what it could not read or keep.
    static QLabel* noticeLine(const QString& objectName, QWidget* parent);

private:
    void refresh();

    AccountStore& m_store;
    const Scope m_scope;
    // What was not stored: on a list, the reason is read as the line shows;
    // on a screen, it is the reason the change failed with.
    std::optional<QString> m_failure;
    bool m_acting = false;
};
