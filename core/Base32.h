#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// RFC 4648 Base32, lenient about case, spaces, hyphens and padding when
// reading, strict about every other character.
namespace Base32 {

// Nothing when the text is not Base32 (or nothing is left after cleaning);
// an empty byte string is a valid result ("A" holds fewer than 8 bits).
std::optional<QByteArray> decode(const QString& text);

// Upper case, without "=" padding.
QString encode(const QByteArray& bytes);

} // namespace Base32
