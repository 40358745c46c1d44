#pragma once

#include "core/Account.h"

#include <QDateTime>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class AccountStore;
class QPushButton;
class QVBoxLayout;
class QLabel;
class StoreProblemLine;

// Recently Deleted: the accounts the store keeps for thirty days after they
// were deleted. Each can be restored or erased at once; all of them can be
// erased after a confirmation. A change the keychain did not take is not
// shown as made: the list stays as the keychain holds it, and a line says
// why. It has no close button: whoever presents it supplies one.
class RecentlyDeletedView : public QWidget {
    Q_OBJECT

public:
    // `clock` gives the system time the deletion notes count from (tests
    // pass their own).
    explicit RecentlyDeletedView(AccountStore& store, std::function<QDateTime()> clock = {},
                                 QWidget* parent = nullptr);

    // "Deleted today", "Deleted yesterday", "Deleted 5 days ago", counting
    // whole spans of 24 hours; "Deleted" without a date.
    static QString deletedSubtitle(const std::optional<QDateTime>& deletedAt,
                                   const QDateTime& now);

    // Asks before erasing everything in Recently Deleted.
    void confirmEmpty();

    // Runs an erasure's or a restore's `proceed` when it may go ahead, at
    // the moment it acts (the settings window asks for the password first
    // while the app is locked). Without a gate it goes on at once.
    using Gate = std::function<void(QWidget* over, std::function<void()> proceed)>;
    void setEraseGate(Gate gate) { m_gate = std::move(gate); }
    // The open confirmation, if any.
    QMessageBox* confirmation() const { return m_confirmation; }

private:
    void refresh();
    void restoreAccount(const QUuid& id, const QString& label);
    void whenAllowed(std::function<void()> proceed);

    AccountStore& m_store;
    std::function<QDateTime()> m_clock;
    QPointer<QMessageBox> m_confirmation;
    Gate m_gate;

    StoreProblemLine* m_problem;
    QLabel* m_empty;
    QVBoxLayout* m_rows;
    QWidget* m_deleteAllSection;
};
