#include "platform/qr/BarcodeReader.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <QLineF>
#include <QList>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <vector>
#include <optional>

namespace BarcodeReader {

namespace {

// The detector pairs up finder patterns of neighbouring codes and gives up
// after a few such candidates, so a whole view of a grid of codes yields only
// some of them. A view that holds about one code reads it: tiles overlap by
// two thirds, so a code up to two thirds of a tile wide lies whole in one.
// Each size halves the last; the smallest is read at twice its size, where
// modules of one or two pixels become readable.
struct Level {
    int tile;
    int scale;
};
constexpr Level levels[] = {{768, 1}, {384, 1}, {192, 1}, {128, 2}};

// Pixels of tiles read beyond the whole view, at most: about as much work as
// reading a 4K screen image four times. A size whose tiles do not fit what
// is left is skipped whole, so no part of the image is searched less.
constexpr qint64 tilePixelBudget = 32'000'000;

// A tile this even (background, blanked codes) holds no code: not read.
constexpr int flatContrast = 48;

// Rounds of reading the symbols whose finder patterns still stand.
constexpr int symbolRounds = 4;

struct Code {
    QString text;
    QRectF area;
};

class Search {
public:
    explicit Search(const QImage& image) : m_grey(grey(image)) {}

    // Qt's own conversion to grey is slow for a screen-sized image; screen
    // captures and most files are 32-bit pixels, made grey here by their
    // luma (alpha ignored, as the detector read them before).
    static QImage grey(const QImage& image) {
        switch (image.format()) {
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
        case QImage::Format_ARGB32_Premultiplied:
            break;
        default:
            return image.convertToFormat(QImage::Format_Grayscale8);
        }
        QImage grey(image.size(), QImage::Format_Grayscale8);
        for (int y = 0; y < image.height(); ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            uchar* out = grey.scanLine(y);
            for (int x = 0; x < image.width(); ++x)
                out[x] = uchar((qRed(in[x]) * 77 + qGreen(in[x]) * 150 + qBlue(in[x]) * 29) >> 8);
        }
        return grey;
    }

    Scan run() {
        if (m_grey.isNull())
            return {};
        mapContrast();
        readView(m_grey.rect(), 1, true);
        for (const Level& level : levels)
            readLevel(level);
        // Symbols still standing are read one by one, also where the image
        // was too large to be searched in tiles; each round blanks what it
        // read, which may free the patterns of the next.
        QList<Symbol> left = symbolsLeft();
        for (int round = 0; round < symbolRounds && !left.isEmpty(); ++round) {
            bool found = false;
            for (const Symbol& symbol : std::as_const(left)) {
                const QRect area = symbol.area.toAlignedRect().intersected(m_grey.rect());
                const int scale = symbol.module < 3 ? 2 : 1;
                const qint64 cost = qint64(area.width()) * area.height() * scale * scale;
                if (area.isEmpty() || m_spent + cost > tilePixelBudget)
                    continue;
                m_spent += cost;
                readView(area, scale, false);
                found |= m_newInView;
            }
            if (!found)
                break;
            left = symbolsLeft();
        }
        return result(int(left.size()));
    }

private:
    // Reads one view of `area` at `scale`; notes in m_newInView whether it
    // found a code not seen before.
    void readView(const QRect& area, int scale, bool whole) {
        QImage upscaled;
        const uchar* bits = m_grey.constScanLine(area.top()) + area.left();
        int width = area.width(), height = area.height();
        qsizetype stride = m_grey.bytesPerLine();
        if (scale > 1) {
            upscaled = m_grey.copy(area).scaled(area.size() * scale, Qt::IgnoreAspectRatio,
                                                Qt::FastTransformation);
            bits = upscaled.constBits();
            width = upscaled.width();
            height = upscaled.height();
            stride = upscaled.bytesPerLine();
        }
        const ZXing::ImageView view(bits, width, height, ZXing::ImageFormat::Lum, int(stride));
        ZXing::DecodeHints hints;
        hints.setFormats(ZXing::BarcodeFormat::QRCode);
        hints.setTryHarder(true);
        // Only the whole view is also read turned and shrunk (for codes of
        // huge modules); a tile is small already, and a QR code reads in any
        // orientation.
        hints.setTryRotate(whole);
        hints.setTryDownscale(whole);

        m_newInView = false;
        QPainter blank;
        for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
            if (result.format() != ZXing::BarcodeFormat::QRCode || !result.isValid())
                continue;
            const QString text = QString::fromStdString(result.text());
            if (text.isEmpty())
                continue;
            QPolygonF corners;
            for (const ZXing::PointI& point : result.position())
                corners << QPointF(area.left() + qreal(point.x) / scale,
                                   area.top() + qreal(point.y) / scale);
            const QRectF box = corners.boundingRect();
            if (std::none_of(m_codes.cbegin(), m_codes.cend(),
                             [&](const Code& code) { return code.text == text; })) {
                m_codes.append({text, box});
                m_newInView = true;
            }
            // Out of every later view: its finder patterns no longer pair
            // with those of its neighbours.
            if (!blank.isActive())
                blank.begin(&m_grey);
            const QPointF centre = box.center();
            QPolygonF grown;
            for (const QPointF& corner : std::as_const(corners))
                grown << centre + (corner - centre) * 1.03;
            blank.setPen(Qt::NoPen);
            blank.setBrush(Qt::white);
            blank.drawPolygon(grown);
        }
    }

    // The contrast of each block of the image as it was first read, for
    // telling at little cost which tiles a size would read.
    static constexpr int block = 32;
    void mapContrast() {
        m_blocksWide = (m_grey.width() + block - 1) / block;
        m_contrast.assign(size_t(m_blocksWide) * ((m_grey.height() + block - 1) / block), 0);
        std::vector<uchar> low(m_contrast.size(), 255), high(m_contrast.size(), 0);
        for (int y = 0; y < m_grey.height(); y += 2) {
            const uchar* line = m_grey.constScanLine(y);
            const size_t row = size_t(y / block) * m_blocksWide;
            for (int x = 0; x < m_grey.width(); x += 2) {
                const size_t at = row + x / block;
                low[at] = std::min(low[at], line[x]);
                high[at] = std::max(high[at], line[x]);
            }
        }
        for (size_t i = 0; i < m_contrast.size(); ++i)
            m_contrast[i] = uchar(std::max(0, high[i] - low[i]));
    }
    // Whether no block that the area touches had contrast; a code has
    // contrast in every block it covers.
    bool mappedFlat(const QRect& area) const {
        for (int by = area.top() / block; by <= area.bottom() / block; ++by)
            for (int bx = area.left() / block; bx <= area.right() / block; ++bx)
                if (m_contrast[size_t(by) * m_blocksWide + bx] >= flatContrast)
                    return false;
        return true;
    }

    bool flat(const QRect& area) const {
        int low = 255, high = 0;
        for (int y = area.top(); y <= area.bottom(); y += 2) {
            const uchar* line = m_grey.constScanLine(y);
            for (int x = area.left(); x <= area.right(); x += 2) {
                low = std::min<int>(low, line[x]);
                high = std::max<int>(high, line[x]);
            }
            if (high - low >= flatContrast)
                return false;
        }
        return true;
    }

    // The tiles of one size, left to right and top to bottom, the last of a
    // row or column against the image's edge; none when the image is no
    // larger than a tile, or the size does not fit what is left of the budget.
    void readLevel(const Level& level) {
        const int width = m_grey.width(), height = m_grey.height();
        if (level.tile >= width && level.tile >= height)
            return;
        const int step = level.tile / 3;
        QList<QRect> tiles;
        qint64 cost = 0;
        for (int top = 0;; top += step) {
            const int y = std::max(0, std::min(top, height - level.tile));
            for (int left = 0;; left += step) {
                const int x = std::max(0, std::min(left, width - level.tile));
                const QRect tile = QRect(x, y, level.tile, level.tile).intersected(m_grey.rect());
                if (!mappedFlat(tile)) {
                    tiles.append(tile);
                    cost += qint64(tile.width()) * tile.height() * level.scale * level.scale;
                }
                if (left + level.tile >= width)
                    break;
            }
            if (top + level.tile >= height)
                break;
        }
        if (m_spent + cost > tilePixelBudget)
            return;
        m_spent += cost;
        for (const QRect& tile : std::as_const(tiles))
            if (!flat(tile)) // codes found meanwhile may have blanked it
                readView(tile, level.scale, false);
    }

    Scan result(int unreadable) const {
        // Rows: codes whose centres lie within half a code's height of the
        // row's first one; each row left to right.
        QList<Code> byHeight = m_codes;
        std::stable_sort(byHeight.begin(), byHeight.end(), [](const Code& a, const Code& b) {
            return a.area.center().y() < b.area.center().y();
        });
        Scan scan;
        for (qsizetype first = 0; first < byHeight.size();) {
            const QRectF& head = byHeight[first].area;
            qsizetype end = first + 1;
            while (end < byHeight.size() &&
                   byHeight[end].area.center().y() - head.center().y() < head.height() / 2)
                ++end;
            std::stable_sort(byHeight.begin() + first, byHeight.begin() + end,
                             [](const Code& a, const Code& b) {
                                 return a.area.center().x() < b.area.center().x();
                             });
            for (qsizetype i = first; i < end; ++i)
                scan.payloads.append(byHeight[i].text);
            first = end;
        }
        scan.unreadable = unreadable;
        return scan;
    }

    // A symbol's place, from its finder patterns, and its module size.
    struct Symbol {
        QRectF area;
        qreal module;
    };

    // ZXing 1.4 reports no QR code that it located but could not decode.
    // What is left of the image once every code read is blanked out is
    // searched for the three finder patterns of a symbol: each such set is a
    // code that stands there but has not been read.
    QList<Symbol> symbolsLeft() const {
        struct Finder {
            QPointF centre;
            qreal size;
            bool used = false;
        };
        QList<Finder> finders;
        const int width = m_grey.width(), height = m_grey.height();
        const auto dark = [this](int x, int y) { return m_grey.constScanLine(y)[x] < 128; };
        // Runs dark, light, dark (3 units), light, dark: the 1:1:3:1:1 of a
        // finder's rings, within half a unit each.
        const auto ringed = [](const int runs[5]) {
            const qreal unit = (runs[0] + runs[1] + runs[2] + runs[3] + runs[4]) / 7.0;
            if (unit < 1)
                return false;
            const qreal slack = unit / 2 + 0.5;
            return std::abs(runs[0] - unit) < slack && std::abs(runs[1] - unit) < slack &&
                   std::abs(runs[2] - 3 * unit) < 3 * slack && std::abs(runs[3] - unit) < slack &&
                   std::abs(runs[4] - unit) < slack;
        };
        // The same rings up and down the column through (x, y): the centre's
        // row and the rings' height, or nothing.
        const auto column = [&](int x, int y) -> std::optional<std::pair<qreal, int>> {
            if (!dark(x, y))
                return std::nullopt;
            int top = y, bottom = y;
            while (top > 0 && dark(x, top - 1)) --top;
            while (bottom < height - 1 && dark(x, bottom + 1)) ++bottom;
            int runs[5] = {0, 0, bottom - top + 1, 0, 0};
            int up = top - 1, down = bottom + 1;
            for (int ring : {1, 0}) {
                const bool wantDark = ring == 0;
                while (up >= 0 && dark(x, up) == wantDark) ++runs[ring], --up;
                while (down < height && dark(x, down) == wantDark) ++runs[4 - ring], ++down;
            }
            if (!ringed(runs))
                return std::nullopt;
            return std::pair{(top + bottom) / 2.0, runs[0] + runs[1] + runs[2] + runs[3] + runs[4]};
        };
        // The whole pattern, diagonals too: a dark core three units wide, a
        // light ring, a dark ring. Letters of text pass the runs of one row
        // and column now and then, never this.
        const auto square = [&](QPointF centre, qreal unit) {
            const auto at = [&](int dx, int dy) {
                const int x = qRound(centre.x() + dx * unit), y = qRound(centre.y() + dy * unit);
                return x >= 0 && y >= 0 && x < width && y < height ? int(dark(x, y)) : -1;
            };
            for (int dy = -3; dy <= 3; ++dy)
                for (int dx = -3; dx <= 3; ++dx) {
                    const int ring = std::max(std::abs(dx), std::abs(dy));
                    if (at(dx, dy) != (ring == 2 ? 0 : 1))
                        return false;
                }
            return true;
        };
        // Every other row: the core of a pattern is at least three rows high.
        for (int y = 0; y < height; y += 2) {
            const uchar* line = m_grey.constScanLine(y);
            int runs[5] = {};
            int filled = 0;
            bool wasDark = false;
            for (int x = 0; x <= width; ++x) {
                const bool isDark = x < width && line[x] < 128;
                if (x > 0 && x < width && isDark == wasDark) {
                    if (filled > 0)
                        ++runs[filled - 1];
                    continue;
                }
                // A run ended at x: when it was dark and closes five, test.
                if (filled == 5 && wasDark && ringed(runs)) {
                    const int size = runs[0] + runs[1] + runs[2] + runs[3] + runs[4];
                    const int centreX = x - runs[4] - runs[3] - runs[2] / 2 - 1;
                    if (const auto found = column(centreX, y);
                        found && found->second * 4 > size * 3 && found->second * 3 < size * 4 &&
                        square(QPointF(centreX, found->first), size / 7.0)) {
                        const QPointF centre(centreX, found->first);
                        const auto near =
                            std::find_if(finders.begin(), finders.end(), [&](const Finder& f) {
                                return QLineF(f.centre, centre).length() < f.size / 4;
                            });
                        if (near == finders.end())
                            finders.append({centre, qreal(size)});
                    }
                }
                if (x == width)
                    break;
                if (filled == 5) {
                    std::move(runs + 2, runs + 5, runs);
                    runs[3] = runs[4] = 0;
                    filled = 3;
                }
                if (filled > 0 || isDark)
                    runs[filled++] = 1;
                wasDark = isDark;
            }
        }
        // Three of like size, two at right angles from the third at the
        // same distance, as far apart as a symbol of 21 to 177 modules puts
        // them; the nearest such pair for each corner, as in a grid the
        // patterns of neighbouring symbols line up too. Each pattern counts
        // for one symbol.
        QList<Symbol> symbols;
        for (Finder& corner : finders) {
            if (corner.used)
                continue;
            const qreal module = corner.size / 7;
            const auto alike = [&](const Finder& f) {
                return !f.used && &f != &corner && f.size < corner.size * 1.25 &&
                       corner.size < f.size * 1.25;
            };
            Finder* bestA = nullptr;
            Finder* bestB = nullptr;
            qreal shortest = 0;
            for (Finder& a : finders) {
                if (!alike(a))
                    continue;
                const QPointF legA = a.centre - corner.centre;
                const qreal lengthA = std::hypot(legA.x(), legA.y());
                if (lengthA < 14 * module || lengthA > 170 * module ||
                    (bestA && lengthA >= shortest))
                    continue;
                for (Finder& b : finders) {
                    if (&b == &a || !alike(b))
                        continue;
                    const QPointF legB = b.centre - corner.centre;
                    const qreal lengthB = std::hypot(legB.x(), legB.y());
                    const qreal cosine =
                        (legA.x() * legB.x() + legA.y() * legB.y()) / (lengthA * lengthB);
                    if (std::abs(lengthA - lengthB) < lengthA * 0.1 && std::abs(cosine) < 0.1) {
                        bestA = &a, bestB = &b, shortest = lengthA;
                        break;
                    }
                }
            }
            if (!bestA)
                continue;
            corner.used = bestA->used = bestB->used = true;
            const QPointF fourth = bestA->centre + bestB->centre - corner.centre;
            QPolygonF centres({corner.centre, bestA->centre, bestB->centre, fourth});
            // From the patterns' centres out to the symbol's edge, and a
            // little beyond for the detector's sake.
            const qreal margin = corner.size;
            symbols.append({centres.boundingRect().adjusted(-margin, -margin, margin, margin),
                            module});
        }
        return symbols;
    }

    QImage m_grey;
    std::vector<uchar> m_contrast;
    int m_blocksWide = 0;
    QList<Code> m_codes;
    qint64 m_spent = 0;
    bool m_newInView = false;
};

} // namespace

QImage greyscale(const QImage& image) {
    return Search::grey(image);
}

Scan scan(const QImage& image) {
    if (image.isNull())
        return {};
    return Search(image).run();
}

QStringList readQRCodes(const QImage& image) {
    return scan(image).payloads;
}

} // namespace BarcodeReader
