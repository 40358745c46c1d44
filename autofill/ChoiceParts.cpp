#include "autofill/ChoiceParts.h"

#include "platform/look/FittedText.h"
#include "platform/look/Style.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QFrame>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>

namespace ChoiceParts {

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, Style::color(Style::SemanticColor::quaternary));
    line->setPalette(palette);
    return line;
}

QWidget* cancelFooter(QWidget* screen, std::function<void()> onCancel) {
    auto* footer = new QWidget;
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(10, 10, 10, 10);
    row->addStretch(1);
    auto* cancel = new QPushButton(QCoreApplication::translate("ChoiceParts", "Cancel"));
    cancel->setAutoDefault(false);
    row->addWidget(cancel);
    QObject::connect(cancel, &QPushButton::clicked, screen, [onCancel] { onCancel(); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), screen);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, cancel, &QPushButton::click);
    return footer;
}

QScrollArea* rowList(QVBoxLayout** rows) {
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(2);
    layout->addStretch(1);
    scroll->setWidget(column);
    // Never narrower than its rows: the window keeps them in view.
    Style::fitWidthToContent(scroll);
    *rows = layout;
    return scroll;
}

Row::Row(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    m_content = new QHBoxLayout(this);
    m_content->setContentsMargins(8, 6, 8, 6);
}

QSize Row::sizeHint() const {
    return m_content->sizeHint();
}

void Row::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void Row::leaveEvent(QEvent* event) {
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void Row::paintEvent(QPaintEvent*) {
    if (!m_hovered && !isDown() && !hasFocus()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = Style::color(Style::SemanticColor::accent, palette());
    fill.setAlphaF(isDown() ? 0.28f : m_hovered ? 0.14f : 0.08f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.fillPath(shape, fill);
    if (hasFocus()) {
        QColor ring = Style::color(Style::SemanticColor::accent, palette());
        painter.setPen(QPen(ring, 1.5));
        painter.drawPath(shape);
    }
}

} // namespace ChoiceParts
