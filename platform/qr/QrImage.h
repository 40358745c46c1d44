#pragma once

#include <QByteArray>
#include <QImage>

// Drawing a QR code.
namespace QrImage {

// The QR code of `message`, UTF-8 text (error correction level M), black
// modules on white, each module `moduleSize` x `moduleSize` pixels, with no
// quiet zone around it. A null image when the message cannot be encoded (too
// long for any QR version) or `moduleSize` is not positive.
QImage make(const QByteArray& message, int moduleSize);

} // namespace QrImage
