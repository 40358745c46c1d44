#include "platform/qr/QrImage.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <QPainter>
#include <exception>
#include <string>

namespace QrImage {

QImage make(const QByteArray& message, int moduleSize) {
    if (moduleSize <= 0) return {};
    ZXing::BitMatrix matrix;
    try {
        // Level 4 of the writer's 0-8 scale is correction level M.
        matrix = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                     .setEccLevel(4)
                     .setMargin(0)
                     .encode(std::string(message.constData(), size_t(message.size())), 0, 0);
    } catch (const std::exception&) {
        return {}; // longer than the largest QR version holds
    }
    const int modules = matrix.width();
    if (modules <= 0) return {};
    QImage image(modules * moduleSize, matrix.height() * moduleSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < matrix.height(); ++y)
        for (int x = 0; x < modules; ++x)
            if (matrix.get(x, y))
                painter.fillRect(x * moduleSize, y * moduleSize, moduleSize, moduleSize, Qt::black);
    return image;
}

} // namespace QrImage
