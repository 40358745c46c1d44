#include "menubar/SettingsParts.h"

#include "platform/look/FittedText.h"
#include "platform/look/Style.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>
#include <QtMath>
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

// Its text wraps rather than widen the page past its window at a large font.
QCheckBox* toggle(const QString& text) { return new Style::WrappingCheckBox(text); }

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

namespace {

// Word by word, and a word longer than a line (an e-mail address as an
// account's name) broken where the line ends rather than run past it.
QTextOption wrapOption() {
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

} // namespace

int wrappedHeight(const QFont& font, int width, const QString& text) {
    width = std::max(1, width);
    // One line is as tall as a laid-out line, rounded up as the layout's
    // bounds are.
    const QFontMetricsF line(font);
    const bool breaks = text.contains(QLatin1Char('\n')) || text.contains(QChar::LineSeparator);
    if (!breaks && line.horizontalAdvance(text) <= width)
        return qCeil(line.height());
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(lines, font);
    layout.setTextOption(wrapOption());
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine next = layout.createLine(); next.isValid(); next = layout.createLine()) {
        next.setLineWidth(width);
        next.setPosition(QPointF(0, height));
        height += next.height();
    }
    layout.endLayout();
    return std::max(qCeil(line.height()), qCeil(height));
}

void drawWrapped(QPainter* painter, const QRect& rect, const QString& text) {
    painter->drawText(QRectF(rect), text, wrapOption());
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
    dialog->setFixedSize(Style::points(size.width()), Style::points(size.height()));
    auto* column = new QVBoxLayout(dialog);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    QLabel* heading = Style::label(title, Style::TextStyle::headline);
    heading->setWordWrap(true);
    header->addWidget(heading, 1);
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
