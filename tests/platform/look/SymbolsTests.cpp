#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "tests/support/TestMain.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

// clang-format off
const QStringList usedNames = {
    "key.horizontal.fill", "key.horizontal", "folder", "folder.badge.plus", "magnifyingglass",
    "xmark.circle.fill", "plus", "lock.shield", "checkmark", "checkmark.circle.fill",
    "square.grid.2x2", "tray", "line.3.horizontal", "star.fill", "arrow.clockwise.circle",
    "doc.on.doc", "trash", "qrcode", "pencil", "gearshape", "briefcase", "house", "person",
    "creditcard", "cart", "gamecontroller", "building.2", "heart", "globe", "cloud", "bolt",
    "flag", "tag", "book", "graduationcap", "wrench", "clock", "exclamationmark.triangle",
    "arrow.uturn.backward", "xmark", "viewfinder", "photo", "link", "doc", "lock.fill",
    "square.and.arrow.down.on.square", "exclamationmark.triangle.fill", "command",
    "command.circle", "keyboard", "info.circle.fill", "text.cursor", "touchid", "circle.fill",
    "plus.circle.fill", "pencil.circle.fill", "trash.circle.fill",
    "arrow.uturn.backward.circle.fill", "checkmark.shield", "checkmark.seal.fill",
    "exclamationmark.octagon.fill", "list.bullet.clipboard", "externaldrive.fill.badge.checkmark",
    "person.badge.key.fill", "square.and.arrow.down.fill", "arrow.up.left.square", "chevron.up",
    "chevron.down", "arrow.up.forward.app", "eye.slash", "list.bullet", "lock",
    "arrow.down.circle", "arrow.up.arrow.down"};
// clang-format on

QImage image(const QString& name, int size = 24, const QColor& colour = Qt::black) {
    return Symbols::pixmap(name, size, colour).toImage().convertToFormat(QImage::Format_ARGB32);
}

// How much of the square the glyph covers, and in which colours.
struct Ink {
    int pixels = 0;
    QSet<QRgb> colours;
};

Ink ink(const QImage& picture) {
    Ink result;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (c.alpha() > 128) {
                ++result.pixels;
                result.colours.insert(c.rgb());
            }
        }
    return result;
}

} // namespace

class SymbolsTests : public QObject {
    Q_OBJECT

private slots:
    void everyUsedNameHasItsOwnGlyph() {
        QHash<QByteArray, QString> seen;
        for (const QString& name : usedNames) {
            QVERIFY2(Symbols::isKnown(name), qPrintable(name));
            const QImage picture = image(name, 32);
            const int covered = ink(picture).pixels;
            QVERIFY2(covered > 20 && covered < 32 * 32 * 3 / 4, qPrintable(name));
            const QByteArray bits(reinterpret_cast<const char*>(picture.constBits()),
                                  picture.sizeInBytes());
            QVERIFY2(!seen.contains(bits), qPrintable(name + " looks like " + seen.value(bits)));
            seen.insert(bits, name);
        }
    }

    void unknownNamesDrawTheFolder() {
        QVERIFY(!Symbols::isKnown("bicycle"));
        QVERIFY(!Symbols::isKnown(""));
        QCOMPARE(image("bicycle"), image("folder"));
        QCOMPARE(image(""), image("folder"));
        QVERIFY(!Symbols::icon("bicycle").isNull());
    }

    void glyphTakesTheGivenColour() {
        const Ink red = ink(image("star.fill", 24, QColor(200, 0, 0)));
        QVERIFY(red.pixels > 50);
        for (const QRgb c : red.colours)
            QCOMPARE(QColor(c).hue(), 0);
        // A translucent colour fades the glyph evenly: overlapping strokes
        // (the globe's lines on its circle) show no darker seams.
        const QImage faint = image("globe", 48, QColor(0, 0, 0, 100));
        int strongest = 0;
        for (int y = 0; y < faint.height(); ++y)
            for (int x = 0; x < faint.width(); ++x)
                strongest = qMax(strongest, faint.pixelColor(x, y).alpha());
        QVERIFY2(qAbs(strongest - 100) <= 2, qPrintable(QString::number(strongest)));
    }

    void pixmapsAreSharpOnDenseScreens() {
        const QPixmap dense = Symbols::pixmap("checkmark", 16, Qt::black, 2.0);
        QCOMPARE(dense.size(), QSize(32, 32));
        QCOMPARE(dense.devicePixelRatio(), 2.0);
        QCOMPARE(dense.deviceIndependentSize(), QSizeF(16, 16));
    }

    void iconDrawsAtAnySizeInThePaletteTextByDefault() {
        QPalette palette = QGuiApplication::palette();
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        QGuiApplication::setPalette(palette);
        const QIcon icon = Symbols::icon("xmark.circle.fill");
        for (const int size : {12, 64}) {
            const QImage picture =
                icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(picture.size(), QSize(size, size));
            const Ink drawn = ink(picture);
            QVERIFY(drawn.pixels > size * size / 4);
            for (const QRgb c : drawn.colours)
                QCOMPARE(qBlue(c) > 200 && qRed(c) < 30, true);
        }
        // Disabled icons are drawn fainter.
        const QImage normal = icon.pixmap(32).toImage();
        const QImage disabled = icon.pixmap(32, QIcon::Disabled).toImage();
        QVERIFY(disabled.pixelColor(16, 4).alpha() < normal.pixelColor(16, 4).alpha());
    }

    void textStylesScaleFromTheBodySize() {
        const qreal body = Style::font(Style::TextStyle::body).pointSizeF();
        QCOMPARE(body, QGuiApplication::font().pointSizeF());
        QCOMPARE(Style::font(Style::TextStyle::largeTitle).pointSizeF(), body * 2);
        QVERIFY(Style::font(Style::TextStyle::title2).pointSizeF() > body);
        QVERIFY(Style::font(Style::TextStyle::caption2).pointSizeF() < body);
        QCOMPARE(Style::font(Style::TextStyle::headline).weight(), QFont::Bold);
        QCOMPARE(Style::font(Style::TextStyle::headline, QFont::DemiBold).weight(),
                 QFont::DemiBold);
        QCOMPARE(Style::font(Style::TextStyle::body, QFont::DemiBold).weight(), QFont::DemiBold);
    }

    void monospacedDigitsAreEquallyWide() {
        const QFontMetricsF metrics(
            Style::font(Style::TextStyle::title2, QFont::DemiBold, true, true));
        const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
        for (char digit = '1'; digit <= '9'; ++digit)
            QCOMPARE(metrics.horizontalAdvance(QLatin1Char(digit)), zero);
    }

    void semanticColoursFadeInOrder() {
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::white);
        palette.setColor(QPalette::WindowText, QColor(10, 20, 30));
        palette.setColor(QPalette::Highlight, QColor(0, 122, 255));
        using Style::SemanticColor;
        const QColor primary = Style::color(SemanticColor::primary, palette);
        QCOMPARE(primary, QColor(10, 20, 30));
        const QColor secondary = Style::color(SemanticColor::secondary, palette);
        const QColor tertiary = Style::color(SemanticColor::tertiary, palette);
        const QColor quaternary = Style::color(SemanticColor::quaternary, palette);
        QCOMPARE(secondary.rgb(), primary.rgb());
        QVERIFY(primary.alpha() > secondary.alpha() && secondary.alpha() > tertiary.alpha() &&
                tertiary.alpha() > quaternary.alpha() && quaternary.alpha() > 0);
        QCOMPARE(Style::color(SemanticColor::accent, palette), QColor(0, 122, 255));
        // System tints are fixed, whatever the palette's own colours.
        for (const auto tint : {SemanticColor::green, SemanticColor::orange, SemanticColor::red,
                                SemanticColor::yellow, SemanticColor::blue, SemanticColor::mint,
                                SemanticColor::indigo})
            QCOMPARE(Style::color(tint, palette).alpha(), 255);
        QCOMPARE(Style::color(SemanticColor::red, palette).hue(), 3);
        QVERIFY(Style::color(SemanticColor::green, palette).hue() > 100);
    }
};

QUILLET_TEST_MAIN(SymbolsTests)
#include "SymbolsTests.moc"
