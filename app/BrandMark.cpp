#include "app/BrandMark.h"

#include "platform/look/ScreenReader.h"

#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QtMath>

namespace {

const QColor& gradientLight() {
    static const QColor colour = QColor::fromRgbF(0.482f, 0.424f, 0.965f);
    return colour;
}

const QColor& gradientDark() {
    static const QColor colour = QColor::fromRgbF(0.263f, 0.133f, 0.659f);
    return colour;
}

const QColor& shieldColour() {
    static const QColor colour = QColor::fromRgbF(0.929f, 0.914f, 1.0f);
    return colour;
}

} // namespace

BrandMark::BrandMark(qreal size, QWidget* parent) : QWidget(parent), size_(qMax<qreal>(0, size)) {
    setFixedSize(sizeHint());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
    // Decoration: the product's name is always written beside it.
    ScreenReader::setHidden(this);
}

QSize BrandMark::sizeHint() const {
    return QSize(qCeil(size_), qCeil(size_));
}

QPainterPath BrandMark::shieldPath(const QRectF& rect) {
    const qreal x0 = rect.x(), y0 = rect.y(), w = rect.width(), h = rect.height();
    const qreal c = 0.0556 * w; // the corner spans the same length across and down
    QPainterPath path;
    path.moveTo(x0, y0 + c);
    path.quadTo(x0, y0, x0 + c, y0);
    path.lineTo(x0 + w - c, y0);
    path.quadTo(x0 + w, y0, x0 + w, y0 + c);
    path.lineTo(x0 + w, y0 + 0.526 * h);
    path.quadTo(x0 + w, y0 + 0.817 * h, x0 + 0.5 * w, y0 + h);
    path.quadTo(x0, y0 + 0.817 * h, x0, y0 + 0.526 * h);
    path.closeSubpath();
    return path;
}

QPainterPath BrandMark::keyholePath(const QRectF& rect) {
    const qreal x0 = rect.x(), y0 = rect.y(), w = rect.width(), h = rect.height();
    const qreal cx = x0 + 0.5 * w;
    const qreal cy = y0 + 0.389 * h;
    const qreal r = 0.139 * w;
    const qreal s = 0.0556 * w, t = 0.0903 * w;
    const qreal y1 = y0 + 0.429 * h, y2 = y0 + 0.691 * h;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    // Qt traces an ellipse clockwise on screen, as the stem below is traced,
    // so where the stem's top overlaps the head the winding rule fills both.
    path.addEllipse(QRectF(cx - r, cy - r, 2 * r, 2 * r));
    path.moveTo(cx - s, y1);
    path.lineTo(cx + s, y1);
    path.lineTo(cx + t, y2);
    path.lineTo(cx - t, y2);
    path.closeSubpath();
    return path;
}

void BrandMark::paintEvent(QPaintEvent*) {
    const qreal size = size_;
    const QRectF tile((width() - size) / 2, (height() - size) / 2, size, size);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    QLinearGradient gradient(tile.topLeft(), tile.bottomRight());
    gradient.setColorAt(0, gradientLight());
    gradient.setColorAt(1, gradientDark());
    QPainterPath tileOutline;
    tileOutline.addRoundedRect(tile, size * 0.2237, size * 0.2237);
    painter.fillPath(tileOutline, gradient);

    const QSizeF emblemSize(size * 0.554, size * 0.673);
    const QPointF emblemCentre = tile.center() + QPointF(0, size * 0.007);
    const QRectF emblem(emblemCentre - QPointF(emblemSize.width(), emblemSize.height()) / 2,
                        emblemSize);
    QPainterPath shield = shieldPath(emblem);
    shield.setFillRule(Qt::WindingFill);
    painter.fillPath(shield, shieldColour());
    painter.fillPath(keyholePath(emblem), gradientDark());
}
