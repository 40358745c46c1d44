#pragma once

#include "core/Account.h"

#include <QWidget>

// The avatar as a fixed-size widget, for lists built from widgets.
class AccountAvatarView : public QWidget {
    Q_OBJECT
public:
    explicit AccountAvatarView(qreal size = 36, QWidget* parent = nullptr);

    void setAccount(const Account& account);
    const Account& account() const { return account_; }
    qreal avatarSize() const { return size_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal size_;
    Account account_;
};
