#pragma once

#include <QImage>
#include <QStringList>

// QR-code detection in still images.
namespace BarcodeReader {

// The text of every QR code found in the image, in the detector's order.
// Codes that carry no text are skipped; an image without codes (or a null
// image) gives an empty list. Safe to call on any thread.
QStringList readQRCodes(const QImage& image);

} // namespace BarcodeReader
