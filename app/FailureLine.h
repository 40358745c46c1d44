#pragma once

#include <QLabel>
#include <QString>
#include <functional>
#include <optional>

class AccountStore;

// The red line under a list that says why something was not stored: what
// the user asked for, then the store's reason ("“Acme: ann” was not pinned.
// Your keyring is locked."). A failure that was not the user's action under
// way shows the reason alone. It stands while the store's error does, and
// only while the vault is open: a vault that could not be read is explained
// where the list would be.
class FailureLine : public QLabel {
    Q_OBJECT

public:
    explicit FailureLine(AccountStore& store, QWidget* parent = nullptr);

    // Runs a store operation for the user; `what` says what was not stored
    // when it fails.
    void act(const std::function<void()>& operation, const QString& what);
    void refresh();

private:
    AccountStore& m_store;
    std::optional<QString> m_failure;
    bool m_acting = false;
};
