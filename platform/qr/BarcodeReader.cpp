#include "platform/qr/BarcodeReader.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

namespace BarcodeReader {

QStringList readQRCodes(const QImage& image) {
    if (image.isNull()) return {};
    // ZXing reads 32-bit pixels directly; anything else goes through grey.
    QImage pixels = image;
    ZXing::ImageFormat format = ZXing::ImageFormat::Lum;
    switch (pixels.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        format =
            Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? ZXing::ImageFormat::BGRX : ZXing::ImageFormat::XRGB;
        break;
    case QImage::Format_Grayscale8:
        break;
    default:
        pixels = pixels.convertToFormat(QImage::Format_Grayscale8);
        break;
    }
    const ZXing::ImageView view(pixels.constBits(), pixels.width(), pixels.height(), format,
                                int(pixels.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);

    QStringList payloads;
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid()) continue;
        const QString text = QString::fromStdString(result.text());
        if (!text.isEmpty()) payloads.append(text);
    }
    return payloads;
}

} // namespace BarcodeReader
