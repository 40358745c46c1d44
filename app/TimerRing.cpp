#include "app/TimerRing.h"

#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"

#include <QPainter>
#include <QPixmapCache>
#include <QPainterPath>
#include <cmath>

namespace {

constexpr qreal lineWidth = 2;
constexpr int labelPixelSize = 9;
// Rows of device pixels drawn at a time (see paintEvent).
constexpr int bandRows = 4;

} // namespace

TimerRing::State TimerRing::compute(double period, const QDateTime& now) {
    // Also catches NaN and infinity, which would leave no number to show.
    if (!(period >= 1.0) || !std::isfinite(period)) period = 1.0;
    const double t = double(now.toMSecsSinceEpoch()) / 1000.0;
    const double remaining = period - std::fmod(t, period);
    const double fraction = remaining / period;
    const State::Tint tint = fraction > 0.33   ? State::Tint::accent
                             : fraction > 0.16 ? State::Tint::orange
                                               : State::Tint::red;
    return {remaining, fraction, tint,
            QStringLiteral("%1").arg(static_cast<qlonglong>(std::ceil(remaining)))};
}

TimerRing::TimerRing(QWidget* parent)
    : QWidget(parent), now_(QDateTime::fromMSecsSinceEpoch(0, Qt::UTC)) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    ScreenReader::readAsText(this);
    refreshName();
}

void TimerRing::setPeriod(double seconds) {
    period_ = seconds;
    refreshName();
    update();
}

void TimerRing::setNow(const QDateTime& now) {
    now_ = now;
    refreshName();
    update();
}

void TimerRing::refreshName() {
    // The seconds it shows, as a screen reader reads them.
    const QString label = state().label;
    if (label != accessibleName())
        setAccessibleName(label);
}

TimerRing::State TimerRing::state() const {
    return compute(period_, now_);
}

QSize TimerRing::sizeHint() const {
    return QSize(22, 22);
}

namespace {

QColor arcColourOf(TimerRing::State::Tint tint, const QPalette& colours) {
    switch (tint) {
    case TimerRing::State::Tint::accent:
        return Style::color(Style::SemanticColor::accent, colours);
    case TimerRing::State::Tint::orange:
        return Style::color(Style::SemanticColor::orange, colours);
    case TimerRing::State::Tint::red:
        break;
    }
    return Style::color(Style::SemanticColor::red, colours);
}

// The seconds' colour before it is made readable over the backdrop: the
// arc's tint, secondary while time is ample.
QColor labelTintOf(TimerRing::State::Tint tint, const QPalette& colours) {
    return tint == TimerRing::State::Tint::accent
               ? Style::color(Style::SemanticColor::secondary, colours)
               : arcColourOf(tint, colours);
}

} // namespace

QColor TimerRing::labelColour() const {
    return Style::readable(labelTintOf(state().tint, palette()), Style::backdrop(this));
}

void TimerRing::paintEvent(QPaintEvent*) {
    const State s = state();
    const QPalette& colours = palette();
    const QColor arcColour = arcColourOf(s.tint, colours);
    const QColor labelTint = labelTintOf(s.tint, colours);
    const QColor ground = Style::backdrop(this);
    const QColor trackColour = Style::color(Style::SemanticColor::quaternary, colours);

    // Every ring of a long list is redrawn each second, and rings of the same
    // period look alike at any moment: each picture is drawn once and kept.
    // Antialiased strokes are costly to draw, a kept picture is a plain copy.
    const qreal ratio = devicePixelRatioF();
    // The label's readable colour follows from its tint and the backdrop,
    // so it is worked out only for a picture not kept yet.
    const QString key = QStringLiteral("quillet-ring/%1x%2@%3/%4/%5/%6/%7/%8/%9")
                            .arg(width())
                            .arg(height())
                            .arg(ratio)
                            .arg(qRound(s.fraction * 2000))
                            .arg(s.label)
                            .arg(arcColour.rgba())
                            .arg(labelTint.rgba())
                            .arg(ground.rgba())
                            .arg(trackColour.rgba());
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        picture = QPixmap(size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        // The circle fills the square frame; the stroke is kept inside it,
        // since a widget cannot draw beyond its own rectangle.
        const qreal side = qMin(width(), height());
        const QRectF frame((width() - side) / 2, (height() - side) / 2, side, side);
        const QRectF circle =
            frame.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::NoBrush);
        // From 12 o'clock clockwise: Qt's angles run counter-clockwise from
        // 3 o'clock, hence the start at 90 degrees and the negative sweep.
        QPainterPath arc;
        arc.arcMoveTo(circle, 90);
        arc.arcTo(circle, 90, -360.0 * s.fraction);
        // Qt's raster engine hands a fill of about a hundred spans or more
        // to its pool of threads and wakes them; a ring's antialiased
        // strokes come to a few hundred. Drawn a few rows at a time, no
        // fill comes near that, and a new picture wakes no other thread.
        for (int top = 0; top < picture.height(); top += bandRows) {
            painter.setClipRect(QRectF(0, top / ratio, width(), bandRows / ratio));
            painter.setPen(QPen(trackColour, lineWidth, Qt::SolidLine, Qt::FlatCap));
            painter.drawEllipse(circle);
            painter.setPen(QPen(arcColour, lineWidth, Qt::SolidLine, Qt::RoundCap));
            painter.drawPath(arc);
        }
        painter.setClipping(false);

        // Sizes here are in the ring's own units (logical pixels), so the
        // label keeps its place inside the 22-pixel ring whatever the DPI.
        QFont font = Style::font(Style::TextStyle::caption2, QFont::DemiBold, true, true);
        font.setPixelSize(labelPixelSize);
        painter.setFont(font);
        painter.setPen(Style::readable(labelTint, ground));
        painter.drawText(frame, Qt::AlignCenter, s.label);
        painter.end();
        QPixmapCache::insert(key, picture);
    }
    QPainter(this).drawPixmap(0, 0, picture);
}
