// Renders the brand mark as the program's icon for the desktop's icon theme:
// <folder>/hicolor/<n>x<n>/apps/quillet.png for each size a desktop looks
// for, and <folder>/hicolor/scalable/apps/quillet.svg.
#include "app/BrandMark.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

namespace {

constexpr int pngSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The mark alone: no window background behind its rounded corners.
void paintMark(QPaintDevice& device, int size) {
    BrandMark mark(size);
    QPainter painter(&device);
    mark.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
}

bool writePng(const QString& folder, int size) {
    const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(folder).arg(size);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    paintMark(image, size);
    return QDir().mkpath(dir) && image.save(dir + QStringLiteral("/quillet.png"));
}

bool writeSvg(const QString& folder) {
    const QString dir = folder + QStringLiteral("/hicolor/scalable/apps");
    if (!QDir().mkpath(dir)) return false;
    constexpr int size = 256;
    QSvgGenerator svg;
    svg.setFileName(dir + QStringLiteral("/quillet.svg"));
    svg.setSize(QSize(size, size));
    svg.setViewBox(QRect(0, 0, size, size));
    svg.setTitle(QStringLiteral("Quillet"));
    paintMark(svg, size);
    return QFileInfo(svg.fileName()).size() > 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("usage: quillet_render_icons <folder>\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    bool ok = writeSvg(folder);
    for (const int size : pngSizes)
        ok = writePng(folder, size) && ok;
    if (!ok) std::fprintf(stderr, "quillet_render_icons: could not write the icons in %s\n", argv[1]);
    return ok ? 0 : 1;
}
