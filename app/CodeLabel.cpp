#include "app/CodeLabel.h"

#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"

#include <QPainter>

CodeLabel::CodeLabel(QWidget* parent) : QWidget(parent) {
    QFont codeFont = Style::font(Style::TextStyle::title2, QFont::DemiBold, true, true);
    codeFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    setFont(codeFont);
    m_roll.setDuration(250);
    m_roll.setStartValue(0.0);
    m_roll.setEndValue(1.0);
    m_roll.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_roll, &QVariantAnimation::valueChanged, this, [this] { update(); });
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    ScreenReader::readAsText(this);
}

void CodeLabel::setText(const QString& text) {
    if (text == m_text)
        return;
    const bool wasEmpty = m_text.isEmpty();
    const QSize before = sizeHint();
    m_previous = m_text;
    m_text = text;
    // Spoken as shown; a screen reader has no other way to the code.
    setAccessibleName(text);
    if (sizeHint() != before)
        updateGeometry();
    // Only codes on screen roll; a long list's hidden rows just change.
    if (!wasEmpty && isVisible() && !visibleRegion().isEmpty())
        m_roll.start();
    update();
}

void CodeLabel::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

int CodeLabel::widthFor(const QFontMetrics& metrics, const QString& text) {
    // Steam codes mix letters into the digits, and a letter such as M or W
    // is wider than any digit: each character counts at the widest of its
    // kind, and the text itself at its own width in case a face disagrees.
    const QChar wideLetter = metrics.horizontalAdvance(QLatin1Char('W')) >=
                                     metrics.horizontalAdvance(QLatin1Char('M'))
                                 ? QLatin1Char('W')
                                 : QLatin1Char('M');
    QString widest = text;
    for (QChar& c : widest) {
        if (c.isDigit())
            c = QLatin1Char('8');
        else if (c.isLetter())
            c = wideLetter;
    }
    return std::max(metrics.horizontalAdvance(widest), metrics.horizontalAdvance(text));
}

QSize CodeLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(widthFor(metrics, m_text) + 4, metrics.height());
}

void CodeLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font());
    const QColor color = m_color.isValid() ? m_color : palette().color(QPalette::WindowText);
    const QRect area = rect();
    const Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter;
    if (m_roll.state() != QAbstractAnimation::Running) {
        painter.setPen(color);
        painter.drawText(area, align, m_text);
        return;
    }
    // Only the characters that differ roll; unchanged ones stay put.
    const double progress = m_roll.currentValue().toDouble();
    const int shift = int(area.height() * progress);
    const QFontMetrics metrics(font());
    const int right = area.right();
    const int charsFromRight = int(std::max(m_text.size(), m_previous.size()));
    for (int i = 0; i < charsFromRight; ++i) {
        const qsizetype newIndex = m_text.size() - 1 - i;
        const qsizetype oldIndex = m_previous.size() - 1 - i;
        const QString newChar = newIndex >= 0 ? QString(m_text[newIndex]) : QString();
        const QString oldChar = oldIndex >= 0 ? QString(m_previous[oldIndex]) : QString();
        const QString suffix = newIndex >= 0 ? m_text.mid(newIndex + 1) : m_text;
        const int x = right - metrics.horizontalAdvance(suffix) - metrics.horizontalAdvance(newChar);
        const QRect cell(x, area.top(), metrics.horizontalAdvance(newChar.isEmpty() ? oldChar : newChar),
                         area.height());
        if (newChar == oldChar) {
            painter.setPen(color);
            painter.drawText(cell, Qt::AlignCenter, newChar);
            continue;
        }
        QColor fadingOut = color;
        fadingOut.setAlphaF(color.alphaF() * (1.0 - progress));
        painter.setPen(fadingOut);
        painter.drawText(cell.translated(0, -shift), Qt::AlignCenter, oldChar);
        QColor fadingIn = color;
        fadingIn.setAlphaF(color.alphaF() * progress);
        painter.setPen(fadingIn);
        painter.drawText(cell.translated(0, area.height() - shift), Qt::AlignCenter, newChar);
    }
}
