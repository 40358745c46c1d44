#pragma once

#include "core/Account.h"

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <optional>

// The small square picture beside an account in every list: a known service's
// logo, or else up to two initials, in a colour that belongs to the service,
// on a tinted rounded square. Everything follows from the issuer and name.
namespace AccountAvatar {

// The issuer, or the name when the issuer is empty (not trimmed).
QString keyText(const Account& account);

// Maximal runs of characters that are letters or numbers; a character is a
// grapheme cluster and counts by its first code point.
QStringList words(const QString& text);

// The first characters of the key text's first two words, upper-cased; "?"
// when there is no word.
QString initials(const Account& account);

// The first brand keyword (in table order) among the key's words, else a
// palette colour chosen by a hash of the whole lower-cased key.
QColor brandColor(const Account& account);

// The logo of the first word (in text order) that names a known service.
std::optional<QString> logoAssetName(const Account& account);

// Every asset name the logo table can give, sorted.
QStringList logoAssetNames();

// Draws the avatar into `square` (its smaller side is the avatar's size).
void paint(QPainter& painter, const QRectF& square, const Account& account);

} // namespace AccountAvatar
