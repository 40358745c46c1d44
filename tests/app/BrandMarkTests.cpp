#include "app/BrandMark.h"
#include "tests/support/TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QVBoxLayout>
#include <QtTest>

namespace {

const QColor light = QColor::fromRgbF(0.482f, 0.424f, 0.965f);
const QColor dark = QColor::fromRgbF(0.263f, 0.133f, 0.659f);
const QColor shield = QColor::fromRgbF(0.929f, 0.914f, 1.0f);

bool near(QColor actual, QColor expected, int tolerance = 4) {
    return qAbs(actual.red() - expected.red()) <= tolerance &&
           qAbs(actual.green() - expected.green()) <= tolerance &&
           qAbs(actual.blue() - expected.blue()) <= tolerance && actual.alpha() == 255;
}

// The tile's gradient runs along the diagonal of a square of side `size`.
QColor tileAt(QPointF p, qreal size) {
    const qreal t = (p.x() + p.y()) / (2 * size);
    auto mix = [t](float a, float b) { return a + (b - a) * t; };
    return QColor::fromRgbF(mix(light.redF(), dark.redF()), mix(light.greenF(), dark.greenF()),
                            mix(light.blueF(), dark.blueF()));
}

QList<QPointF> onCurvePoints(const QPainterPath& path) {
    QList<QPointF> points;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto e = path.elementAt(i);
        const bool lastOfCurve = e.type == QPainterPath::CurveToDataElement &&
                                 (i + 1 == path.elementCount() ||
                                  path.elementAt(i + 1).type != QPainterPath::CurveToDataElement);
        if (e.type == QPainterPath::MoveToElement || e.type == QPainterPath::LineToElement ||
            lastOfCurve)
            points.append(QPointF(e.x, e.y));
    }
    return points;
}

bool containsPoint(const QList<QPointF>& points, QPointF wanted) {
    for (const QPointF& p : points)
        if (qAbs(p.x() - wanted.x()) < 1e-9 && qAbs(p.y() - wanted.y()) < 1e-9) return true;
    return false;
}

QImage rendered(qreal size) {
    BrandMark mark(size);
    QImage image(mark.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    mark.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

class BrandMarkTests : public QObject {
    Q_OBJECT

private slots:
    void screenReadersPassOverIt() {
        // Decoration only: the product's name is written beside it.
        QWidget window;
        auto* mark = new BrandMark(32, &window);
        window.show();
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(mark);
        QVERIFY(read);
        QVERIFY(read->state().invisible);
        QVERIFY(read->text(QAccessible::Name).isEmpty());
    }

    void keepsItsSizeWhateverTheParentOffers() {
        for (const QSize offered : {QSize(400, 300), QSize(40, 40)}) {
            QWidget parent;
            auto* layout = new QVBoxLayout(&parent);
            auto* mark = new BrandMark(100);
            layout->addWidget(mark);
            parent.resize(offered);
            parent.show();
            QVERIFY(QTest::qWaitForWindowExposed(&parent));
            QCOMPARE(mark->size(), QSize(100, 100));
        }
        QCOMPARE(BrandMark(36).sizeHint(), QSize(36, 36));
    }

    void shieldOutline() {
        const QRectF r(10, 20, 55.4, 67.3);
        const QPainterPath path = BrandMark::shieldPath(r);
        QCOMPARE(path.boundingRect(), r); // touches all four sides
        const QList<QPointF> points = onCurvePoints(path);
        QVERIFY(containsPoint(points, {r.center().x(), r.bottom()})); // bottom point
        QVERIFY(
            containsPoint(points, {r.right(), r.top() + 0.526 * r.height()})); // straight sides end
        QVERIFY(containsPoint(points, {r.left(), r.top() + 0.526 * r.height()}));
        QVERIFY(path.contains(QPointF(r.right() - 0.01, r.top() + 0.52 * r.height())));
        // Rounded top corners, measured against the width: c = 3.08.
        QVERIFY(!path.contains(r.topLeft() + QPointF(0.3, 0.3)));
        QVERIFY(path.contains(r.topLeft() + QPointF(1.5, 1.5)));
        // Pointed bottom: beside the point there is nothing.
        QVERIFY(!path.contains(QPointF(r.center().x() - 2, r.bottom() - 0.3)));
    }

    void keyholeHeadIsACircleInAnyRectangle() {
        const QRectF r(0, 0, 100, 250); // not square
        const QPainterPath path = BrandMark::keyholePath(r);
        const QPointF head(50, 0.389 * 250);
        const qreal radius = 13.9; // 0.139 of the width only
        for (const QPointF direction : {QPointF(1, 0), QPointF(-1, 0), QPointF(0, -1)}) {
            QVERIFY(path.contains(head + direction * (radius - 0.3)));
            QVERIFY(!path.contains(head + direction * (radius + 0.3)));
        }
        // The stem widens downwards from 11.1 to 18.1 and ends at 69.1 % of the height.
        QVERIFY(path.contains(QPointF(50 + 8.5, 0.69 * 250)));
        QVERIFY(!path.contains(QPointF(50 + 8.5, 0.70 * 250)));
        QVERIFY(!path.contains(QPointF(50 + 8.5, 0.45 * 250)));
    }

    void keyholeIsSolidWhereStemMeetsHead() {
        const QRectF r(0, 0, 100, 100);
        const QPainterPath path = BrandMark::keyholePath(r);
        QCOMPARE(path.fillRule(), Qt::WindingFill);
        // Inside both the head (to 52.8) and the stem's top (from 42.9).
        QVERIFY(path.contains(QPointF(50, 47)));
    }

    void drawsTileShieldAndKeyhole() {
        const QImage image = rendered(100);
        QCOMPARE(image.size(), QSize(100, 100));
        // Rounded tile corners (22.37) leave the corner empty.
        QCOMPARE(image.pixelColor(2, 2).alpha(), 0);
        QCOMPARE(image.pixelColor(97, 97).alpha(), 0);
        // Gradient: lighter towards the top left, darker towards the bottom right.
        for (const QPoint p : {QPoint(10, 40), QPoint(50, 8), QPoint(90, 60), QPoint(50, 92)})
            QVERIFY2(near(image.pixelColor(p), tileAt(QPointF(p) + QPointF(0.5, 0.5), 100)),
                     qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
        // The emblem is 55.4 x 67.3, centred and 0.7 lower: shield from y 17.05.
        QVERIFY(near(image.pixelColor(30, 30), shield));
        QVERIFY(near(image.pixelColor(50, 18), shield));
        QVERIFY(near(image.pixelColor(50, 16), tileAt({50.5, 16.5}, 100), 6));
        QVERIFY(near(image.pixelColor(23, 40), shield)); // left side at x 22.3
        QVERIFY(near(image.pixelColor(21, 40), tileAt({21.5, 40.5}, 100), 6));
        // Keyhole in the dark gradient colour: head, the overlap, the stem.
        for (const QPoint p : {QPoint(50, 43), QPoint(50, 48), QPoint(50, 60)})
            QVERIFY2(near(image.pixelColor(p), dark), qPrintable(QString::number(p.y())));
    }
};

QUILLET_TEST_MAIN(BrandMarkTests)
#include "BrandMarkTests.moc"
