#pragma once

#include <QImage>
#include <QStringList>

// QR-code detection in still images.
namespace BarcodeReader {

// What one search of an image found.
struct Scan {
    // The text of every code read, each text once, top to bottom and left to
    // right as the codes stand in the image.
    QStringList payloads;
    // Symbols found but not decoded (damaged, cut off, too blurred), each
    // counted once however many views of the image saw it.
    int unreadable = 0;
};

// Searches the whole image, then overlapping tiles of it, and small tiles
// also at twice their size: the detector loses codes that stand close
// together in a grid, and codes of small modules. Codes found are blanked out
// of the later views. The work is bounded: however large the image, the
// tiles read add up to a fixed number of pixels beside the one whole view,
// and no copy larger than one grey image of it is made. Codes that carry no
// text are skipped; a null image finds nothing. Safe to call on any thread.
Scan scan(const QImage& image);

// The image as the search reads it: one byte of luma a pixel. Scanning such
// an image makes no further copy of it before the first code is found.
QImage greyscale(const QImage& image);

// scan()'s payloads.
QStringList readQRCodes(const QImage& image);

} // namespace BarcodeReader
