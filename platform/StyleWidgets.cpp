// The widget helpers of Style, kept apart from its fonts and colours so that
// code drawing without widgets links no Qt Widgets.
#include "platform/Style.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QStyle>
#include <QWidget>

namespace Style {

void setTextColor(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QLabel* label(const QString& text, TextStyle style, std::optional<SemanticColor> colour,
              QFont::Weight weight) {
    auto* label = new QLabel(text);
    label->setFont(font(style, weight));
    label->setTextFormat(Qt::PlainText);
    if (colour) setTextColor(label, color(*colour));
    return label;
}

bool acceptButtonFirst(const QWidget* widget) {
    const int layout = widget->style()->styleHint(QStyle::SH_DialogButtonLayout, nullptr, widget);
    return layout == QDialogButtonBox::WinLayout || layout == QDialogButtonBox::KdeLayout;
}

} // namespace Style
