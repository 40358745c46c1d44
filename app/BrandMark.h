#pragma once

#include <QPainterPath>
#include <QRectF>
#include <QWidget>

// The product's logo: a rounded square with a diagonal purple gradient,
// carrying a pale shield with a dark keyhole. Every outline is defined in
// proportions of its rectangle, so the mark scales without loss. The widget
// keeps exactly its size whatever room its parent offers.
class BrandMark : public QWidget {
    Q_OBJECT
public:
    explicit BrandMark(qreal size, QWidget* parent = nullptr);

    // A flat-topped shield with small rounded top corners and a pointed
    // bottom at the centre of the rectangle's lower edge.
    static QPainterPath shieldPath(const QRectF& rect);
    // A round head (its radius follows the width only, so it stays a circle)
    // over a stem that widens downwards. Fill with the winding rule.
    static QPainterPath keyholePath(const QRectF& rect);

    qreal markSize() const { return size_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal size_;
};
