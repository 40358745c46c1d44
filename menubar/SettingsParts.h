#pragma once

#include <QColor>
#include <QSize>
#include <QString>

class QCheckBox;
class QDialog;
class QFont;
class QFrame;
class QLabel;
class QWidget;

// The settings window's recurring building blocks, so that every section looks alike:
// a bold heading, a grey caption that wraps, a switch, a divider between
// sections.
class QPainter;
class QRect;

namespace SettingsParts {

QLabel* heading(const QString& text);
// Caption-sized secondary text, wrapping over as many lines as it needs.
QLabel* caption(const QString& text);
QCheckBox* toggle(const QString& text);
// A panel with rounded corners (radius 8) filled with `fill`; give it a
// layout of its own.
QWidget* roundedPanel(const QColor& fill);
// The fill of the security screens' panels: the text background at half its
// opacity.
QColor panelFill(const QWidget* on);

// How tall `text` in `font` stands wrapped at word boundaries into `width`
// (at least one line), a word longer than the width broken where the line
// ends, as drawWrapped() draws it in the security screens' list rows. A text
// that fits on one line is not laid out, which long lists notice.
int wrappedHeight(const QFont& font, int width, const QString& text);
// Draws `text` in the painter's font, wrapped into `rect` as wrappedHeight()
// measures it.
void drawWrapped(QPainter* painter, const QRect& rect, const QString& text);

// A horizontal line with 4 points of space above and below.
QWidget* divider();

// A screen opened over the settings window: a window-modal dialog of a fixed
// size (`size` in points, Style::points) holding a header (the title, a spacer and "Done", which Return
// presses), a divider and `content`. It is deleted, content and all, when it
// closes; it is not yet shown.
QDialog* sheet(QWidget* over, const QString& title, QSize size, QWidget* content);

} // namespace SettingsParts
