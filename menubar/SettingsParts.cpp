#include "menubar/SettingsParts.h"

#include "platform/Style.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

namespace SettingsParts {

QLabel* heading(const QString& text) {
    return Style::label(text, Style::TextStyle::title3, std::nullopt, QFont::Bold);
}

QLabel* caption(const QString& text) {
    QLabel* label = Style::label(text, Style::TextStyle::caption, Style::SemanticColor::secondary);
    label->setWordWrap(true);
    return label;
}

QCheckBox* toggle(const QString& text) { return new QCheckBox(text); }

QWidget* divider() {
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 4, 0, 4);
    auto* line = new QFrame(holder);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    return holder;
}

} // namespace SettingsParts
