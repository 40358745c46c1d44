#include "menubar/MacClockDriftBanner.h"

#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

MacClockDriftBanner::MacClockDriftBanner(qint64 seconds, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(8);
    auto* symbol = new QLabel(this);
    const int side = QFontMetrics(Style::font(Style::TextStyle::caption)).height();
    symbol->setPixmap(Symbols::pixmap(QStringLiteral("exclamationmark.triangle.fill"), side,
                                      Style::color(Style::SemanticColor::orange),
                                      devicePixelRatioF()));
    ScreenReader::setHidden(symbol);
    row->addWidget(symbol, 0, Qt::AlignTop);
    m_message = Style::label(QString(), Style::TextStyle::caption, std::nullopt, QFont::DemiBold);
    m_message->setObjectName(QStringLiteral("driftMessage"));
    m_message->setWordWrap(true);
    row->addWidget(m_message, 1, Qt::AlignTop);
    setSeconds(seconds);
}

QString MacClockDriftBanner::messageFor(qint64 seconds) {
    // The number as digits, without grouping; minus seconds of a slow clock.
    // (Unsigned arithmetic: the magnitude of the most negative number too.)
    return seconds >= 0
               ? tr("Clock is %1s fast — codes auto-corrected").arg(QString::number(seconds))
               : tr("Clock is %1s slow — codes auto-corrected")
                     .arg(QString::number(quint64(0) - quint64(seconds)));
}

void MacClockDriftBanner::setSeconds(qint64 seconds) {
    m_seconds = seconds;
    m_message->setText(messageFor(seconds));
}

QString MacClockDriftBanner::message() const { return m_message->text(); }

void MacClockDriftBanner::paintEvent(QPaintEvent*) {
    QColor fill = Style::color(Style::SemanticColor::orange);
    fill.setAlphaF(0.12f);
    QPainter(this).fillRect(rect(), fill);
}
