#include "menubar/SettingsParts.h"

#include "platform/Style.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
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

QWidget* roundedPanel(const QColor& fill) {
    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("roundedPanel"));
    panel->setAttribute(Qt::WA_StyledBackground);
    panel->setStyleSheet(QStringLiteral("#roundedPanel { background: %1; border-radius: 8px; }")
                             .arg(fill.name(QColor::HexArgb)));
    return panel;
}

QColor panelFill(const QWidget* on) {
    QColor fill = on->palette().color(QPalette::Base);
    fill.setAlphaF(fill.alphaF() * 0.5);
    return fill;
}

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

QDialog* sheet(QWidget* over, const QString& title, QSize size, QWidget* content) {
    auto* dialog = new QDialog(over);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(title);
    dialog->setFixedSize(size);
    auto* column = new QVBoxLayout(dialog);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->addWidget(Style::label(title, Style::TextStyle::headline));
    header->addStretch(1);
    auto* done = new QPushButton(QCoreApplication::translate("SettingsParts", "Done"));
    done->setDefault(true);
    QObject::connect(done, &QPushButton::clicked, dialog, &QDialog::accept);
    header->addWidget(done);
    column->addLayout(header);
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);
    column->addWidget(content, 1);
    return dialog;
}

} // namespace SettingsParts
