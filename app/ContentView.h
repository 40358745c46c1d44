#pragma once

#include "core/Account.h"

#include <QHash>
#include <QPointer>
#include <QWidget>
#include <optional>

class AccountRow;
class AccountStore;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class TickingClock;
class UserDefaults;

// The main window's content: the header with the folder filter, search and
// Add, then the accounts (or the empty or no-match state), the error line at
// the bottom, and the notice after a deletion. It owns no account data: every
// refresh derives what it shows from the store and the clock.
class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr int copiedMarkMs = 1500;
    static constexpr int deletedToastMs = 2400;

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

    FolderFilter folderFilter() const { return m_folderFilter; }
    void setFolderFilter(const FolderFilter& filter);
    QString searchText() const;
    void setSearchText(const QString& text);
    QString folderMenuTitle() const;
    std::optional<QUuid> copiedAccountID() const { return m_copiedAccountID; }
    // The notice at the bottom of the window: a deletion, or links an
    // import left out.
    std::optional<QString> deletedToast() const { return m_deletedToast; }

    // The rows on screen, in order (what the user sees).
    QList<AccountRow*> rows() const;
    // The sheets over the window, one at a time: adding accounts, and an
    // account's QR code.
    void showAddSheet();
    void showQR(const Account& account);
    // Tests shorten how long the copied mark and the deletion notice stay.
    void setTimingsForTesting(int copiedMs, int toastMs) {
        m_copiedMs = copiedMs;
        m_toastMs = toastMs;
    }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildEmptyState();
    QWidget* buildNoMatchState();
    void refresh();
    void refreshHeader();
    void tick();
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

    FolderFilter m_folderFilter;
    std::optional<QUuid> m_copiedAccountID;
    qint64 m_copiedGeneration = 0;
    std::optional<QString> m_deletedToast;
    qint64 m_deletedToastGeneration = 0;
    int m_copiedMs = copiedMarkMs;
    int m_toastMs = deletedToastMs;
    QPointer<QDialog> m_sheet; // the sheet over the window, if any

    QToolButton* m_folderMenu;
    QLineEdit* m_search;
    QToolButton* m_clearSearch;
    QPushButton* m_add;
    QPushButton* m_emptyAdd;
    QStackedWidget* m_listArea;
    QWidget* m_emptyState;
    QWidget* m_noMatchState;
    QLabel* m_noMatchMessage;
    QPushButton* m_clearSearchLink;
    QWidget* m_listPage;
    QWidget* m_rowsContainer;
    QVBoxLayout* m_rowsLayout;
    QHash<QUuid, AccountRow*> m_rows;
    QList<AccountRow*> m_orderedRows;
    QLabel* m_errorLine;
    QWidget* m_toastHost;
    QLabel* m_toast;
};
