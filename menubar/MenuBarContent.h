#pragma once

#include "core/Account.h"
#include "core/CorrectedClock.h"

#include <QHash>
#include <QList>
#include <QWidget>
#include <functional>
#include <limits>
#include <optional>

class AccountListModel;
class AccountStore;
class AppLockMac;
class CopiedMark;
class StoreProblemLine;
class AppSettings;
class MacClockDriftBanner;
class MenuBarRow;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;
class TickingClock;
class UpdaterManager;
class UserDefaults;

// The panel the tray's icon opens: a header with "Show codes" and a way to
// the main window, the clock-drift banner, a search field, the accounts
// chosen for the tray with their live codes (or the locked panel, or why
// there is nothing to list), and a footer with the program's commands. The
// accounts are listed in the stored order, never sorted, less those hidden
// from the tray; a click copies a code, the chevrons move an account among
// its neighbours, its context menu pins it.
class MenuBarContent : public QWidget {
    Q_OBJECT

public:
    // In points (Style::points), so that they follow the font.
    static constexpr int panelWidth = 340;
    static constexpr int listMaxHeight = 360;
    static constexpr int copiedMarkMs = 1500;
    // The drift the banner starts from, in seconds either way.
    static constexpr double driftBannerSeconds = 15.0;

    // What the main area shows, tested in this order. `keyring`: the vault
    // is opening, locked or unreadable, never shown as an empty vault.
    enum class Area { locked, keyring, noAccounts, noneShown, noMatches, list };

    MenuBarContent(AccountStore& store, TickingClock& clock, AppSettings& settings,
                   AppLockMac& lock, UpdaterManager& updater, UserDefaults& defaults,
                   QWidget* parent = nullptr);
    ~MenuBarContent() override;

    // The banner's drift from the clock's stored state, whatever the
    // measurement's age: none unless correction is on, a measurement was
    // made and the offset is 15 s or more either way (a clock ahead of the
    // reference has a negative offset and a positive drift).
    static std::optional<qint64> driftSeconds(const CorrectedClock::State& state);
    std::optional<qint64> driftSeconds() const;

    // The store's accounts less those hidden from the tray, stored order.
    const QList<Account>& menuAccounts() const;
    // Those of menuAccounts() that the search finds.
    const QList<Account>& filteredAccounts() const;

    Area area() const;
    // Brings everything up to date before the panel comes on screen, so that
    // it opens at its final size. A locked panel asks for the password once
    // per opening; `newOpening` false brings it back after the question (a
    // failed or cancelled answer) without asking again.
    void prepareToShow(bool newOpening = true);
    QString searchText() const;
    void setSearchText(const QString& text);
    std::optional<QUuid> copiedID() const;
    // The rows in view, in order (what the user sees; rows are made only for
    // the accounts in view).
    QList<MenuBarRow*> rows() const { return m_orderedRows; }

    // The row actions.
    void copy(const Account& account);
    void moveUp(const QUuid& id);
    void moveDown(const QUuid& id);
    void toggleFavorite(const QUuid& id);

    // Tests shorten how long the copied mark stays.
    void setTimingsForTesting(int copiedMs);

signals:
    void openMainWindowRequested();
    void settingsRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildSearch();
    QWidget* buildLocked();
    QWidget* buildKeyring();
    void refreshKeyring();
    QWidget* buildMessage(const QString& symbol, const QString& title, const QString& text,
                          int padding, QWidget** extra = nullptr);
    QWidget* buildList();
    QWidget* buildFooter();
    void refresh();
    void refreshRows();
    void placeRows();
    MenuBarRow* makeRow();
    void refreshDrift();
    void fitHeight();
    void tick(const QDateTime& now);
    void openMainWindow();
    // Runs a row's store operation; `what` says what was not stored when it
    // fails (the line above the footer, with the store's reason).
    void act(const std::function<void()>& operation, const QString& what);

    AccountStore& m_store;
    TickingClock& m_clock;
    AppSettings& m_settings;
    AppLockMac& m_lock;
    UpdaterManager& m_updater;
    UserDefaults& m_defaults;
    AccountListModel* m_list;

    CopiedMark* m_copied;
    std::optional<Area> m_shownArea;
    bool m_preparing = false;
    bool m_prepared = false;

    QCheckBox* m_reveal;
    QWidget* m_driftSlot;
    MacClockDriftBanner* m_banner;
    QWidget* m_searchSlot;
    QLineEdit* m_search;
    QToolButton* m_clearSearch;
    QWidget* m_locked;
    QWidget* m_keyring;
    QLabel* m_keyringTitle;
    QLabel* m_keyringMessage;
    QWidget* m_keyringBusy;
    QPushButton* m_tryAgain;
    QWidget* m_noAccounts;
    QWidget* m_noneShown;
    QWidget* m_noMatches;
    QScrollArea* m_listArea;
    QWidget* m_rowsContainer;
    int m_shortRowHeight = 0;
    int m_tallRowHeight = 0;
    // How tall the list may be so that the panel fits the screen's free area.
    int m_listRoom = std::numeric_limits<int>::max();
    // Where each listed account's row starts, and the list's end.
    QList<int> m_rowTops;
    // The rows made so far: those in view first, in order, then spare ones.
    QList<MenuBarRow*> m_rowPool;
    QList<MenuBarRow*> m_orderedRows;
    StoreProblemLine* m_failureLine;
    QToolButton* m_lockNow;
    QToolButton* m_checkUpdates;
};
