#pragma once

#include "core/Account.h"

#include <QDateTime>
#include <QFrame>
#include <functional>

class AccountAvatarView;
class CodeLabel;
class QLabel;
class QToolButton;
class TimerRing;

// What a row asks its owner to do; the row itself changes nothing.
struct AccountRowActions {
    std::function<void()> onCopy;
    std::function<void()> onDelete;
    std::function<void()> onIncrement;
    std::function<void()> onToggleFavorite;
    std::function<void()> onEdit;
    std::function<void(std::optional<QUuid>)> onSetFolder;
    std::function<void()> onShowQR;
};

// One account in the main window's list: who it is, its current code with
// the next one beneath, a countdown ring (or the HOTP button) and a copy
// button. Everything shown is derived from the account and the time given.
class AccountRow : public QFrame {
    Q_OBJECT

public:
    explicit AccountRow(QWidget* parent = nullptr);

    void setAccount(const Account& account);
    // An invalid time empties the codes (the app is locked).
    void setNow(const QDateTime& now);
    void setCopied(bool copied);
    void setCanReorder(bool canReorder);
    void setFolders(const QList<Folder>& folders);
    void setActions(AccountRowActions actions) { m_actions = std::move(actions); }
    void setAlternate(bool alternate);

    const Account& account() const { return m_account; }
    bool isCopied() const { return m_copied; }

    QString titleText() const;
    QString subtitleText() const; // empty when not shown
    QString codeText() const;
    QString nextCodeText() const; // empty when not shown
    // The context menu as the user would see it (built afresh each time).
    QMenu* buildContextMenu(QWidget* parent);

signals:
    // The user started dragging the row by its handle.
    void dragStarted(const QUuid& id);

protected:
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshCodes();
    void refreshCopyButton();
    // The texts' colours for the row's background (plain or alternate) and
    // the palette: every text reaches WCAG AA's contrast there.
    void refreshTextColours();
    void chooseFolder(std::optional<QUuid> folderID);
    // By value: an action may lead the owner to hand the row new actions
    // (every store change does), which must not destroy the running one.
    static void call(std::function<void()> action) {
        if (action)
            action();
    }

    Account m_account;
    bool m_hasAccount = false;
    QDateTime m_now;
    bool m_copied = false;
    bool m_canReorder = false;
    bool m_handleDrawn = false;
    QList<Folder> m_folders;
    AccountRowActions m_actions;
    QPoint m_dragStart;

    QLabel* m_handle;
    AccountAvatarView* m_avatar;
    QLabel* m_star;
    QLabel* m_title;
    QLabel* m_subtitle;
    QWidget* m_codeColumn;
    CodeLabel* m_code;
    QLabel* m_next;
    TimerRing* m_ring;
    QToolButton* m_increment;
    QToolButton* m_copy;
};
