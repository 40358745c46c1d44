#pragma once

#include "core/Account.h"

#include <QHash>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class AccountListModel;
class AccountRow;
class AccountStore;
class CopiedMark;
class StoreProblemLine;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class RowsContainer;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class TickingClock;
class UserDefaults;

// The main window's content: the header with the folder filter, search and
// Add, then the accounts (or the empty or no-match state, or why the vault
// is not shown: opening, locked or unreadable), the error line at the
// bottom, and the notice after a deletion. It owns no account data: every
// refresh derives what it shows from the store and the clock.
class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr int copiedMarkMs = 1500;
    static constexpr int deletedToastMs = 2400;
    // Rows scrolled out of view that are kept for reuse.
    static constexpr int maxSpareRows = 8;

    ContentView(AccountStore& store, TickingClock& clock, UserDefaults& defaults,
                QWidget* parent = nullptr);

    QList<Account> visibleAccounts() const;
    bool canReorder() const;
    AccountSort sortOrder() const;

    void copy(const Account& account);
    void deleteAccount(const Account& account);
    // The list's move: source offsets and a destination offset in the list's
    // convention (the destination counts positions before the move).
    void move(const QList<int>& fromOffsets, int toOffset);
    void edit(const Account& account);
    // While concealed (the app is locked) the rows hold no codes, neither
    // drawn nor for a screen reader; they come back at the next change.
    void setConcealed(bool concealed);

    FolderFilter folderFilter() const;
    void setFolderFilter(const FolderFilter& filter);
    QString searchText() const;
    void setSearchText(const QString& text);
    QString folderMenuTitle() const;
    // What is listed: the store's accounts under the filter, search and order.
    AccountListModel& list() const { return *m_list; }
    std::optional<QUuid> copiedAccountID() const;
    // The notice at the bottom of the window: a deletion, or links an
    // import left out.
    std::optional<QString> deletedToast() const { return m_deletedToast; }

    // The rows on screen, in order (what the user sees): only the accounts in
    // view, and a few beyond each edge, have a row.
    QList<AccountRow*> rows() const;
    // The sheets over the window, one at a time: adding accounts, and an
    // account's QR code.
    void showAddSheet();
    void showQR(const Account& account);
    // Tests shorten how long the copied mark and the deletion notice stay.
    void setTimingsForTesting(int copiedMs, int toastMs);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildHeader();
    struct StatePage {
        QWidget* page;
        QVBoxLayout* column;
        QLabel* title;
        QLabel* message;
    };
    StatePage makeStatePage(const QString& title, const QString& message);
    QWidget* buildEmptyState();
    QWidget* buildNoMatchState();
    QWidget* buildVaultState();
    void refresh();
    void placeRows();
    int rowHeight();
    AccountRow* makeRow();
    void refreshHeader();
    void refreshVaultState();
    void refreshUnreadableLine();
    // Runs a store operation for the user; `what` says what was not stored
    // when it fails.
    void act(const std::function<bool()>& operation, const QString& what);
    void tick();
    // The time the rows show codes for; none while concealed.
    QDateTime shownNow() const;
    // Shows the notice, hidden again after a while unless a newer one came.
    void showNotice(const QString& text);
    void showToast(const QString& text);
    void hideToast();
    void placeToast();
    void startDrag(const QUuid& id);
    int dropIndexAt(const QPoint& position) const;

    AccountStore& m_store;
    TickingClock& m_clock;
    UserDefaults& m_defaults;

    AccountListModel* m_list;
    CopiedMark* m_copied;
    std::optional<QString> m_deletedToast;
    qint64 m_deletedToastGeneration = 0;
    int m_toastMs = deletedToastMs;
    QPointer<QDialog> m_sheet; // the sheet over the window, if any
    bool m_concealed = false;

    QToolButton* m_folderMenu;
    QLineEdit* m_search;
    QToolButton* m_clearSearch;
    QPushButton* m_add;
    QPushButton* m_emptyAdd;
    QStackedWidget* m_listArea;
    QWidget* m_emptyState;
    QWidget* m_noMatchState;
    QWidget* m_vaultState;
    QLabel* m_vaultTitle;
    QLabel* m_vaultMessage;
    QWidget* m_vaultBusy;
    QPushButton* m_tryAgain;
    QLabel* m_noMatchMessage;
    QPushButton* m_clearSearchLink;
    QWidget* m_listPage;
    QScrollArea* m_scroll;
    RowsContainer* m_rowsContainer;
    // The accounts listed, in order; rows exist for those in view.
    QList<Account> m_visible;
    int m_rowHeight = 0;
    QHash<QUuid, AccountRow*> m_rows; // by account, and spare ones by a random key
    QList<AccountRow*> m_orderedRows;
    StoreProblemLine* m_errorLine;
    QLabel* m_unreadableLine;
    QWidget* m_toastHost;
    QLabel* m_toast;
};
