#include "platform/look/Picker.h"

#include <QEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>

Picker::Picker(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentTextChanged, this, &Picker::refreshTip);
}

QString Picker::shownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    // As the style draws the label: a pixel in from either side, after the
    // icon and its gap.
    field.adjust(1, 0, -1, 0);
    if (!option.currentIcon.isNull())
        field.setLeft(field.left() + option.iconSize.width() + 4);
    return fontMetrics().elidedText(currentText(), Qt::ElideRight, field.width());
}

void Picker::paintEvent(QPaintEvent*) {
    // QComboBox's own painting, with the label cut to fit.
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0 && !placeholderText().isEmpty()) {
        option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
        option.currentText = placeholderText();
    } else {
        option.currentText = shownText();
    }
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void Picker::resizeEvent(QResizeEvent* event) {
    QComboBox::resizeEvent(event);
    refreshTip();
}

void Picker::changeEvent(QEvent* event) {
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        refreshTip();
}

void Picker::refreshTip() {
    // Only a cut choice needs one: the tooltip would else repeat what shows.
    const QString whole = currentText();
    setToolTip(shownText() == whole ? QString() : whole);
}
