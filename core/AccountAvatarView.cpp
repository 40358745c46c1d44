#include "core/AccountAvatarView.h"

#include "core/AccountAvatar.h"

#include <QPainter>
#include <QtMath>

AccountAvatarView::AccountAvatarView(qreal size, QWidget* parent)
    : QWidget(parent), size_(qMax<qreal>(0, size)) {
    setFixedSize(sizeHint());
}

void AccountAvatarView::setAccount(const Account& account) {
    account_ = account;
    update();
}

QSize AccountAvatarView::sizeHint() const {
    return QSize(qCeil(size_), qCeil(size_));
}

void AccountAvatarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF area = rect();
    AccountAvatar::paint(
        painter, QRectF(area.center() - QPointF(size_, size_) / 2, QSizeF(size_, size_)), account_);
}
