#include "app/SheetList.h"

#include "platform/look/Style.h"

#include <QLabel>
#include <QVBoxLayout>

SheetList::SheetList(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* page = new QWidget;
    m_column = new QVBoxLayout(page);
    m_column->setContentsMargins(16, 12, 16, 12);
    m_column->setSpacing(18);
    m_column->addStretch(1);
    setWidget(page);
}

SheetList::Section SheetList::addSection(const QString& header, const QString& footer) {
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    if (!header.isEmpty())
        column->addWidget(Style::label(header, Style::TextStyle::subheadline,
                                       Style::SemanticColor::secondary, QFont::DemiBold));
    auto* rows = new QVBoxLayout;
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(2);
    column->addLayout(rows);
    if (!footer.isEmpty()) {
        QLabel* note =
            Style::label(footer, Style::TextStyle::caption, Style::SemanticColor::secondary);
        note->setWordWrap(true);
        column->addWidget(note);
    }
    m_column->insertWidget(m_column->count() - 1, box); // before the closing stretch
    return {box, rows};
}

void SheetList::clearRows(QVBoxLayout* rows) {
    while (QLayoutItem* item = rows->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

SheetListRow::SheetListRow(QWidget* parent) : QFrame(parent) {
    setFocusPolicy(Qt::TabFocus);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    setFrameShape(QFrame::NoFrame);
}

// The row with the focus is tinted, so that the menu key's target is seen.
void SheetListRow::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    QColor tint = palette().color(QPalette::Highlight);
    tint.setAlphaF(0.15);
    QPalette shaded = palette();
    shaded.setColor(QPalette::Window, tint);
    setPalette(shaded);
    setAutoFillBackground(true);
}

void SheetListRow::focusOutEvent(QFocusEvent* event) {
    QFrame::focusOutEvent(event);
    setAutoFillBackground(false);
}
