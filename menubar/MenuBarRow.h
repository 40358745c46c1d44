#pragma once

#include "core/Account.h"

#include <QDateTime>
#include <QWidget>
#include <functional>

class AccountAvatarView;
class QAbstractButton;
class QLabel;
class QMenu;
class QToolButton;
class TimerRing;

// What a row of the tray's panel asks its owner to do; the row itself
// changes nothing.
struct MenuBarRowActions {
    std::function<void()> onCopy;
    std::function<void()> onMoveUp;
    std::function<void()> onMoveDown;
    std::function<void()> onToggleFavorite;
};

// One account in the tray's panel: two chevrons that move it among its
// neighbours, then one wide button that copies its code, showing the avatar,
// the service and account names, the code (or bullets while codes are
// hidden), a countdown ring for time-based accounts and a copy glyph that
// turns into a green check mark after a copy. Everything shown comes from
// the values it is given.
class MenuBarRow : public QWidget {
    Q_OBJECT

public:
    explicit MenuBarRow(QWidget* parent = nullptr);

    void setAccount(const Account& account);
    void setNow(const QDateTime& now);
    void setReveal(bool reveal);
    void setCopied(bool copied);
    void setMoves(bool canMoveUp, bool canMoveDown);
    void setActions(MenuBarRowActions actions) { m_actions = std::move(actions); }

    const Account& account() const { return m_account; }
    bool isCopied() const { return m_copied; }
    bool reveal() const { return m_reveal; }

    // What the user sees.
    QString titleText() const;
    QString subtitleText() const; // empty when there is none
    QString codeText() const;
    QString copyToolTip() const;
    QAbstractButton* copyButton() const;
    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }
    bool showsRing() const;
    // The context menu as the user would see it (built afresh each time).
    QMenu* buildContextMenu(QWidget* parent);

    // The bullets that stand for a code of `digits` characters: split after
    // half of them (rounded down) by one space, for every account.
    static QString hiddenCode(qint64 digits);

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void refreshCode();
    void refreshCopyGlyph();
    static void call(std::function<void()> action) {
        if (action)
            action();
    }

    Account m_account;
    bool m_hasAccount = false;
    QDateTime m_now;
    bool m_reveal = true;
    bool m_copied = false;
    MenuBarRowActions m_actions;

    QToolButton* m_up;
    QToolButton* m_down;
    QAbstractButton* m_copy;
    AccountAvatarView* m_avatar;
    QLabel* m_star;
    QLabel* m_title;
    QLabel* m_subtitle;
    QLabel* m_code;
    TimerRing* m_ring;
    QLabel* m_glyph;
};
