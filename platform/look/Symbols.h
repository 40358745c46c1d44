#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The symbol images the app names ("star.fill", "doc.on.doc", ...), drawn by
// us as single-colour glyphs. Names come partly from user data (a folder's
// symbol), so an unknown name draws the "folder" glyph rather than nothing.
namespace Symbols {

// An icon that draws the glyph at whatever size it is asked for. Without a
// colour it takes the application palette's text colour at paint time, so it
// follows a change of theme.
QIcon icon(const QString& name, const QColor& color = QColor());

// The glyph as a square pixmap of `size` logical pixels.
QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);

bool isKnown(const QString& name);

} // namespace Symbols
