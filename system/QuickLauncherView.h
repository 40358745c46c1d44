#pragma once

#include "core/Account.h"

#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class AccountListModel;
class AccountStore;
class AppLockMac;
class QLabel;
class QListView;
class QPropertyAnimation;
class QStackedWidget;
class UserDefaults;

namespace QuickLauncherParts {
class ResultsModel;
}

// The search line of the quick-search panel: it keeps the text focus while
// the arrows, Return and Escape act on the list and the panel. Every other
// key edits the text as in any line edit.
class CommandField : public QLineEdit {
    Q_OBJECT

public:
    explicit CommandField(QWidget* parent = nullptr);

signals:
    void moveUp();
    void moveDown();
    void submit();
    void cancel();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// What the quick-search panel shows: the search line, the matching accounts
// best first with their live codes, and a hint bar. Driven from the
// keyboard (arrows move the highlight, Enter picks, Esc closes) and by
// the mouse (hover highlights, a click picks). It lists the store's accounts
// in their stored order through the shared account list, and never changes
// the store itself. While the app lock is closed it lists nothing and asks
// to unlock first.
class QuickLauncherView : public QWidget {
    Q_OBJECT

public:
    // In points (Style::points), so that they follow the font.
    static constexpr int panelWidth = 560;
    static constexpr int panelHeight = 440;

    QuickLauncherView(AccountStore& store, UserDefaults& defaults, AppLockMac* lock,
                      std::function<bool()> canType, QWidget* parent = nullptr);
    ~QuickLauncherView() override;

    QString query() const;
    void setQuery(const QString& text);
    // A new opening of the kept panel: an empty search, ranked anew, the
    // first row highlighted. Give the search the keyboard once shown.
    void reopen();
    // The highlighted row; kept within the list.
    int selection() const { return m_selection; }
    // The ranked accounts for the current search; none while locked.
    const QList<Account>& results() const { return m_results; }

    void moveUp();
    void moveDown();
    // Picks the highlighted account; with nothing listed, nothing.
    void submit();

    CommandField* searchField() const { return m_field; }
    QListView* list() const { return m_list; }
    // "Autotype" or the copy hint, as the hint bar reads now.
    QString actionHint() const;
    // "0 codes", "1 code", "12 codes".
    QString countText() const;
    // The keys as the hint bar and the highlighted row name them, in the
    // words of a PC keyboard: "Enter", "Esc".
    static QString enterKey();
    static QString escKey();
    // What the list area says when nothing is listed ("No accounts yet",
    // "No matches", or why the keyring could not be read yet); empty while
    // rows are listed.
    QString emptyText() const;

signals:
    void picked(const Account& account);
    void closeRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The codes tick only while the panel is on screen.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool isLocked() const;
    // Ranks anew for the search text and the accounts as they are now.
    void rerank(bool resetSelection);
    void select(int row, bool animate = true);
    void refreshChrome();

    AccountListModel* m_accounts;
    QPointer<AppLockMac> m_lock;
    std::function<bool()> m_canType;
    QList<Account> m_results;
    int m_selection = 0;

    CommandField* m_field;
    QStackedWidget* m_body;
    QListView* m_list;
    QuickLauncherParts::ResultsModel* m_model;
    QLabel* m_empty;
    QLabel* m_actionHint;
    QLabel* m_count;
    QPropertyAnimation* m_scroll;
    QTimer m_tick;
};
