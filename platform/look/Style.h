#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <optional>

class QFrame;
class QLabel;
class QPoint;
class QWidget;

// The one place that turns the app's text styles and semantic colours into
// Qt fonts and colours, so every view agrees on sizes and tints.
namespace Style {

enum class TextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    body,
    callout,
    subheadline,
    footnote,
    caption,
    caption2
};

// The style's font, scaled so that `body` is the application font's size.
// `headline` is bold unless another weight than Normal is asked for.
// `monospacedDigits` makes every digit equally wide (codes must not jitter);
// `rounded` prefers a rounded face when one is installed.
QFont font(TextStyle style, QFont::Weight weight = QFont::Normal, bool monospacedDigits = false,
           bool rounded = false);

// A length the design gives in points (at 96 dots per inch a point is a
// pixel), in pixels at the resolution the desktop gives fonts: a window or
// panel sized to hold texts grows as a larger-text setting grows them.
int points(qreal length);

enum class SemanticColor {
    primary,
    secondary,
    tertiary,
    quaternary,
    accent,
    green,
    orange,
    red,
    yellow,
    blue,
    mint,
    indigo
};

// primary..quaternary: the palette's window text at decreasing opacity;
// accent: the palette's highlight; the rest: fixed system tints, a little
// brighter on dark palettes.
QColor color(SemanticColor c, const QPalette& palette = QPalette());

// The contrast ratio (1 to 21, as WCAG 2 defines it) of `text` drawn over
// `background`; a translucent text is first blended over the background.
double contrastRatio(const QColor& text, const QColor& background);

// The smallest contrast WCAG AA asks of body text.
inline constexpr double readableContrast = 4.5;

// `text` as it must be drawn over `background` to be read, opaque: `text`
// blended over the background when that reaches `ratio`, else darkened (on a
// light background) or lightened (on a dark one) just enough. Opaque, so
// that text painted again over itself keeps its colour.
QColor readable(const QColor& text, const QColor& background,
                double ratio = readableContrast);

// The widget helpers below live in quillet_platform_ui (StyleWidgets.cpp),
// so that fonts and colours need no Qt Widgets.

// Sets the colour a widget draws its text in.
void setTextColor(QWidget* widget, const QColor& colour);

// The colour a widget is drawn over: the background of the nearest of it and
// its parents that fills its background, else the palette's window colour.
QColor backdrop(const QWidget* widget);

// A label in a text style and, optionally, a semantic colour. Its text is
// always plain: account names and imported texts reach labels and must never
// be read as markup.
QLabel* label(const QString& text, TextStyle style,
              std::optional<SemanticColor> colour = std::nullopt,
              QFont::Weight weight = QFont::Normal);

// A symbol that only decorates (the words beside it say what it means):
// centred in its label and left out of what a screen reader announces.
QLabel* symbolLabel(const QString& name, int size, const QColor& colour, QWidget* parent);

// A thin sunken line across a column, between its parts.
QFrame* divider(QWidget* parent = nullptr);

// Puts a window that has not been shown yet in the middle of the screen
// holding `point` (the primary screen when none does), wholly inside what
// the screen leaves to windows, its frame included.
void centreOnScreen(QWidget* window, const QPoint& point);

// Keeps `window` as tall as its layout needs at the width it has, so that
// every wrapped label in it gets all its lines. Qt sizes a window for the
// width its layout would like and bounds it by a minimum height that knows
// nothing of wrapping; a window left narrower than that (by the screen, the
// user or a larger font) would cut off the last lines.
void fitHeightToWidth(QWidget* window);

// Whether this desktop puts a dialog's accepting button before its
// cancelling one, as its dialog button boxes lay them out.
bool acceptButtonFirst(const QWidget* widget);

} // namespace Style
