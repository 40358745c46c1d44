// The widget helpers of Style, kept apart from its fonts and colours so that
// code drawing without widgets links no Qt Widgets.
#include "platform/Style.h"

#include "platform/ScreenReader.h"
#include "platform/Symbols.h"

#include <QDialogButtonBox>
#include <QFrame>
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

QLabel* symbolLabel(const QString& name, int size, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::pixmap(name, size, colour, parent->devicePixelRatioF()));
    label->setAlignment(Qt::AlignCenter);
    ScreenReader::setHidden(label);
    return label;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

bool acceptButtonFirst(const QWidget* widget) {
    const int layout = widget->style()->styleHint(QStyle::SH_DialogButtonLayout, nullptr, widget);
    return layout == QDialogButtonBox::WinLayout || layout == QDialogButtonBox::KdeLayout;
}

} // namespace Style
