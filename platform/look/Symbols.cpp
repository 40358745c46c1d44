#include "platform/look/Symbols.h"

#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPalette>
#include <QPixmapCache>
#include <QtMath>
#include <initializer_list>

namespace Symbols {

namespace {

// Glyphs are drawn on a 24 x 24 grid. Each is a list of shapes painted in
// order in one opaque colour; an erasing shape cuts a gap into what is already
// there (a badge's margin, a check mark inside a filled circle). The finished
// glyph gets its colour's opacity as a whole, so overlapping shapes never show
// darker seams in a translucent colour.
constexpr qreal grid = 24.0;
constexpr qreal stroke = 1.8;

struct Shape {
    QPainterPath path;
    bool erase = false;
};
using Glyph = QList<Shape>;

QPainterPath stroked(const QPainterPath& path, qreal width = stroke) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path);
}

QPainterPath polyline(std::initializer_list<QPointF> points, bool closed = false) {
    QPainterPath path;
    bool first = true;
    for (const QPointF& point : points) {
        if (first)
            path.moveTo(point);
        else
            path.lineTo(point);
        first = false;
    }
    if (closed) path.closeSubpath();
    return path;
}

QPainterPath line(QPointF from, QPointF to, qreal width = stroke) {
    return stroked(polyline({from, to}), width);
}

QPainterPath circle(QPointF centre, qreal radius) {
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

QPainterPath roundedRect(const QRectF& rect, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath rect(const QRectF& r) {
    QPainterPath path;
    path.addRect(r);
    return path;
}

Shape draw(const QPainterPath& path) {
    return {path, false};
}
Shape erase(const QPainterPath& path) {
    return {path, true};
}

Glyph folderOutline() {
    return {draw(stroked(
                polyline({{3, 19.5}, {3, 5}, {9, 5}, {11, 7.5}, {21, 7.5}, {21, 19.5}}, true))),
            draw(line({3, 10.5}, {21, 10.5}))};
}

Glyph key(bool filled) {
    if (filled)
        return {draw(circle({7, 12}, 5.2)), draw(roundedRect(QRectF(11, 10.6, 11, 2.8), 1)),
                draw(roundedRect(QRectF(16.2, 12, 2.6, 4.4), 0.8)),
                draw(roundedRect(QRectF(19.4, 12, 2.6, 3.4), 0.8)), erase(circle({5.6, 12}, 1.7))};
    return {draw(stroked(circle({7, 12}, 4.4))), draw(line({11.4, 12}, {21, 12})),
            draw(line({17.5, 12}, {17.5, 15.6})), draw(line({21, 12}, {21, 14.6}))};
}

QPainterPath checkmark(qreal x0, qreal y0, qreal x1, qreal y1, qreal x2, qreal y2, qreal width) {
    return stroked(polyline({{x0, y0}, {x1, y1}, {x2, y2}}), width);
}

// The closed outline through `count` points around the grid's centre, the
// i-th at `angle(i)` (radians) and `radius(i)` from `centre`.
template <typename Angle, typename Radius>
QPainterPath around(const QPointF& centre, int count, Angle angle, Radius radius) {
    QPainterPath path;
    for (int i = 0; i < count; ++i) {
        const QPointF point =
            centre + QPointF(radius(i) * qCos(angle(i)), radius(i) * qSin(angle(i)));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    return path;
}

QPainterPath star() {
    return around(
        {12, 12.8}, 10, [](int i) { return qDegreesToRadians(-90.0 + 36.0 * i); },
        [](int i) { return i % 2 == 0 ? 10.0 : 4.3; });
}

Glyph clockwiseArrowInCircle() {
    const QPointF centre(12, 12);
    const qreal radius = 5.2;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    // Qt's angles run counter-clockwise, so a negative sweep turns clockwise.
    const qreal start = 45, end = 105;
    QPainterPath arc;
    arc.arcMoveTo(box, start);
    arc.arcTo(box, start, -(360 - (end - start)));
    const qreal theta = qDegreesToRadians(end);
    const QPointF tip = centre + QPointF(radius * qCos(theta), -radius * qSin(theta));
    const QPointF ahead(qSin(theta), qCos(theta)); // direction of clockwise travel
    const QPointF across(-ahead.y(), ahead.x());
    const QPainterPath head = polyline(
        {tip + ahead * 2.6, tip + across * 2.5 - ahead * 0.5, tip - across * 2.5 - ahead * 0.5},
        true);
    return {draw(stroked(circle(centre, 9.8), 1.6)), draw(stroked(arc, 1.7)), draw(head),
            draw(stroked(head, 0.8))};
}

Glyph gear() {
    Glyph glyph{draw(circle({12, 12}, 6.8))};
    for (int i = 0; i < 8; ++i) {
        QTransform turn;
        turn.translate(12, 12);
        turn.rotate(45.0 * i);
        glyph.append(draw(turn.map(roundedRect(QRectF(-1.9, -10.2, 3.8, 5.5), 0.9))));
    }
    glyph.append(erase(circle({12, 12}, 3)));
    return glyph;
}

Glyph cloud() {
    QPainterPath body = circle({8, 14}, 4.5);
    body = body.united(circle({13, 10.5}, 5.5));
    body = body.united(circle({17.5, 14.5}, 4));
    body = body.united(rect(QRectF(8, 14.5, 9.5, 4)));
    return {draw(stroked(body, 1.7))};
}

Glyph wrench() {
    const QPointF centre(16, 8);
    const QPointF out(M_SQRT1_2, -M_SQRT1_2); // the jaw opens towards the upper right
    const QPointF side(M_SQRT1_2, M_SQRT1_2);
    const QPainterPath notch =
        polyline({centre + side * 1.9, centre - side * 1.9, centre - side * 1.9 + out * 7,
                  centre + side * 1.9 + out * 7},
                 true);
    return {draw(circle(centre, 5.2)), erase(circle(centre, 2.3)), erase(notch),
            draw(line({13, 11}, {4.8, 19.2}, 3.6))};
}

QPainterPath heart() {
    QPainterPath path;
    path.moveTo(12, 20.5);
    path.cubicTo(4, 15, 2.5, 11.5, 2.5, 8.5);
    path.cubicTo(2.5, 5.5, 4.8, 3.5, 7.5, 3.5);
    path.cubicTo(9.5, 3.5, 11, 4.7, 12, 6.5);
    path.cubicTo(13, 4.7, 14.5, 3.5, 16.5, 3.5);
    path.cubicTo(19.2, 3.5, 21.5, 5.5, 21.5, 8.5);
    path.cubicTo(21.5, 11.5, 20, 15, 12, 20.5);
    path.closeSubpath();
    return path;
}

// Four corner brackets, each the same corner turned a quarter further.
Glyph viewfinder() {
    QPainterPath corner;
    corner.moveTo(3, 8.5);
    corner.lineTo(3, 6);
    corner.arcTo(QRectF(3, 3, 6, 6), 180, -90);
    corner.lineTo(8.5, 3);
    Glyph glyph;
    for (int i = 0; i < 4; ++i) {
        QTransform turn;
        turn.translate(12, 12);
        turn.rotate(90.0 * i);
        turn.translate(-12, -12);
        glyph.append(draw(stroked(turn.map(corner))));
    }
    glyph.append(draw(circle({12, 12}, 1.4)));
    return glyph;
}

// Two links along the rising diagonal whose rounded ends overlap. Where the
// outlines cross, the upper link passes over the lower one at one crossing and
// under it at the other; two plain outlines would read as a figure eight
// rather than a chain. The gaps are cut out of the paths themselves, not
// erased and painted over, which would leave a faint seam around each cut.
Glyph chainLinks() {
    const qreal radius = 3, overlap = 1.5, straight = 5.5, gap = 0.6;
    QTransform turn;
    turn.translate(12, 12);
    turn.rotate(-45);
    auto link = [&](qreal from) {
        return turn.map(
            roundedRect(QRectF(from, -radius, straight + 2 * radius, 2 * radius), radius));
    };
    const QPainterPath lower = link(-overlap - straight - radius);
    const QPainterPath upper = link(overlap - radius);
    const qreal across = qSqrt(radius * radius - overlap * overlap);
    const QPainterPath nearOne = circle(turn.map(QPointF(0, -across)), 2.4);
    const QPainterPath nearOther = circle(turn.map(QPointF(0, across)), 2.4);
    const qreal cut = stroke + 2 * gap;
    // Qt flattens curves for path arithmetic at a fixed tolerance in path
    // units, which on this small grid leaves visible facets; cut at a finer scale.
    const QTransform fine = QTransform::fromScale(16, 16);
    auto strandUnder = [&](const QPainterPath& strand, const QPainterPath& over,
                           const QPainterPath& near) {
        const QPainterPath hole = fine.map(stroked(over, cut)).intersected(fine.map(near));
        return fine.inverted().map(fine.map(stroked(strand)).subtracted(hole));
    };
    return {draw(strandUnder(lower, upper, nearOne)), draw(strandUnder(upper, lower, nearOther))};
}

// The Command key's sign: a square whose sides run on into a loop at each
// corner. Unstroked, so that callers can scale it before stroking.
// `half` is half the inner square's side, `loop` a corner loop's radius.
QPainterPath commandSign(const QPointF& centre, qreal half, qreal loop) {
    QPainterPath path;
    const qreal inner = half;
    const qreal corner = inner + loop; // a loop's centre, from the middle
    // Each loop leaves out the quarter that faces the middle; `from` is where
    // its three quarters start.
    const struct {
        qreal dx, dy, from;
    } loops[] = {{-1, -1, 0}, {1, -1, 270}, {-1, 1, 90}, {1, 1, 180}};
    for (const auto& l : loops) {
        const QPointF c = centre + QPointF(l.dx * corner, l.dy * corner);
        const QRectF box(c.x() - loop, c.y() - loop, 2 * loop, 2 * loop);
        path.arcMoveTo(box, l.from);
        path.arcTo(box, l.from, 270);
    }
    for (qreal side : {-inner, inner}) {
        path.moveTo(centre + QPointF(side, -corner));
        path.lineTo(centre + QPointF(side, corner));
        path.moveTo(centre + QPointF(-corner, side));
        path.lineTo(centre + QPointF(corner, side));
    }
    return path;
}

// Arcs around one centre, each a little wider than the last, opening
// downwards: a fingertip's ridges.
Glyph fingerprint() {
    Glyph glyph;
    const QPointF centre(12, 13);
    int ring = 0;
    for (qreal radius : {2.6, 5.4, 8.2}) {
        const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        const qreal open = 70 - 12 * ring++; // degrees left out at the bottom
        QPainterPath arc;
        arc.arcMoveTo(box, 270 + open / 2);
        arc.arcTo(box, 270 + open / 2, 360 - open);
        glyph.append(draw(stroked(arc, 1.7)));
    }
    glyph.append(draw(line({12, 13}, {12, 18.5}, 1.7)));
    return glyph;
}

// A box open at the top with an arrow dropping into it, in front of a second
// box. The arrow passes in front of the back box, so the back box gets a
// margin cut around the arrow as well as around the front box.
Glyph arrowDownIntoStackedSquares() {
    const QRectF front(2.5, 8, 13.5, 13.5);
    const qreal middle = front.center().x();
    const qreal open = 3.2; // half the gap in the front box's top edge
    QPainterPath box;
    box.moveTo(middle - open, front.top());
    box.lineTo(front.left() + 2.2, front.top());
    box.arcTo(QRectF(front.left(), front.top(), 4.4, 4.4), 90, 90);
    box.lineTo(front.left(), front.bottom() - 2.2);
    box.arcTo(QRectF(front.left(), front.bottom() - 4.4, 4.4, 4.4), 180, 90);
    box.lineTo(front.right() - 2.2, front.bottom());
    box.arcTo(QRectF(front.right() - 4.4, front.bottom() - 4.4, 4.4, 4.4), 270, 90);
    box.lineTo(front.right(), front.top() + 2.2);
    box.arcTo(QRectF(front.right() - 4.4, front.top(), 4.4, 4.4), 0, 90);
    box.lineTo(middle + open, front.top());
    const QPainterPath shaft = polyline({{middle, 2.5}, {middle, 15.5}});
    const QPainterPath head =
        polyline({{middle - 3.4, 12.2}, {middle, 15.6}, {middle + 3.4, 12.2}});
    const qreal margin = 1.6;
    return {draw(stroked(roundedRect(QRectF(8, 2.5, 13.5, 13.5), 2.2), 1.6)),
            erase(roundedRect(front.adjusted(-margin, -margin, margin, margin), 2.2 + margin)),
            erase(stroked(shaft, 1.7 + 2 * margin)),
            draw(stroked(box, 1.6)),
            draw(stroked(shaft, 1.7)),
            draw(stroked(head, 1.7))};
}

QPainterPath shield() {
    QPainterPath path;
    path.moveTo(12, 2.5);
    path.lineTo(19.5, 5.5);
    path.lineTo(19.5, 11.5);
    path.cubicTo(19.5, 16, 16.5, 19.5, 12, 21.5);
    path.cubicTo(7.5, 19.5, 4.5, 16, 4.5, 11.5);
    path.lineTo(4.5, 5.5);
    path.closeSubpath();
    return path;
}

// A filled disc with `cut` taken out of it: the ".circle.fill" family.
Glyph cutOutOfDisc(std::initializer_list<QPainterPath> cut) {
    Glyph glyph{draw(circle({12, 12}, 10))};
    for (const QPainterPath& path : cut)
        glyph.append(erase(path));
    return glyph;
}

// A wavy-edged seal: a circle whose radius swells and shrinks twelve times.
QPainterPath seal() {
    const int steps = 96;
    const auto angle = [](int i) { return 2 * M_PI * i / steps; };
    return around({12, 12}, steps, angle, [&](int i) { return 9.6 + qCos(12 * angle(i)); });
}

// A clipboard with three bulleted lines.
Glyph bulletedClipboard() {
    Glyph glyph{draw(stroked(roundedRect(QRectF(4.5, 4, 15, 18), 2.2), 1.7)),
                erase(roundedRect(QRectF(8, 1.5, 8, 5), 1.6)),
                draw(roundedRect(QRectF(8.8, 2.3, 6.4, 3.4), 1.2))};
    for (qreal y : {10.5, 14.2, 17.9}) {
        glyph.append(draw(circle({8.4, y}, 1.05)));
        glyph.append(draw(line({11, y}, {16.5, y}, 1.5)));
    }
    return glyph;
}

// A disk drive's box with a check-marked badge at its lower right.
Glyph driveWithCheckBadge() {
    return {draw(roundedRect(QRectF(2, 6, 20, 10), 2.4)),
            erase(circle({6, 13}, 1.1)),
            erase(line({9.5, 13}, {13.5, 13}, 1.3)),
            erase(circle({18, 17.5}, 6.2)),
            draw(circle({18, 17.5}, 4.8)),
            erase(checkmark(15.7, 17.6, 17.4, 19.3, 20.4, 15.9, 1.6))};
}

// A tray filled solid, with an arrow dropping into it.
Glyph arrowDownIntoFilledTray() {
    return {draw(roundedRect(QRectF(3, 12.5, 18, 9), 2.2)),
            erase(stroked(polyline({{12, 2}, {12, 16}}), 4.6)),
            erase(stroked(polyline({{7.2, 11.4}, {12, 16.2}, {16.8, 11.4}}), 4.6)),
            draw(line({12, 2.5}, {12, 15.5}, 2)),
            draw(stroked(polyline({{8, 11.6}, {12, 15.6}, {16, 11.6}}), 2))};
}

const QHash<QString, Glyph>& glyphs() {
    static const QHash<QString, Glyph> table = [] {
        QHash<QString, Glyph> t;
        auto add = [&t](const char* name, Glyph glyph) { t.insert(QLatin1String(name), glyph); };

        add("key.horizontal.fill", key(true));
        add("key.horizontal", key(false));
        add("folder", folderOutline());
        add("folder.badge.plus",
            folderOutline() + Glyph{erase(circle({18, 17.5}, 5.8)),
                                    draw(line({18, 14.2}, {18, 20.8}, 1.9)),
                                    draw(line({14.7, 17.5}, {21.3, 17.5}, 1.9))});
        add("magnifyingglass", {draw(stroked(circle({10.5, 10.5}, 6.3), 2)),
                                draw(line({15.2, 15.2}, {20.5, 20.5}, 2.6))});
        add("xmark.circle.fill",
            {draw(circle({12, 12}, 10)), erase(line({8.3, 8.3}, {15.7, 15.7}, 2.2)),
             erase(line({15.7, 8.3}, {8.3, 15.7}, 2.2))});
        add("plus",
            {draw(line({12, 4.5}, {12, 19.5}, 2.2)), draw(line({4.5, 12}, {19.5, 12}, 2.2))});
        {
            QPainterPath shackle;
            shackle.moveTo(10.2, 11.5);
            shackle.lineTo(10.2, 9.6);
            shackle.arcTo(QRectF(10.2, 7.8, 3.6, 3.6), 180, -180);
            shackle.lineTo(13.8, 11.5);
            add("lock.shield", {draw(stroked(shield(), 1.7)), draw(stroked(shackle, 1.4)),
                                draw(roundedRect(QRectF(9, 11, 6, 5), 1))});
        }
        add("checkmark", {draw(checkmark(4.5, 12.5, 9.5, 17.5, 19.5, 6.5, 2.4))});
        add("checkmark.circle.fill",
            {draw(circle({12, 12}, 10)), erase(checkmark(7.5, 12.3, 10.7, 15.5, 16.5, 8.8, 2.3))});
        {
            Glyph grid2x2;
            for (qreal x : {3.5, 13.5})
                for (qreal y : {3.5, 13.5})
                    grid2x2.append(draw(stroked(roundedRect(QRectF(x, y, 7, 7), 1.8), 1.7)));
            add("square.grid.2x2", grid2x2);
        }
        add("tray",
            {draw(stroked(
                 polyline({{3, 13}, {5.5, 5}, {18.5, 5}, {21, 13}, {21, 19}, {3, 19}}, true), 1.7)),
             draw(stroked(
                 polyline({{3, 13}, {8.5, 13}, {9.5, 15.5}, {14.5, 15.5}, {15.5, 13}, {21, 13}}),
                 1.7))});
        add("line.3.horizontal", {draw(line({4, 7}, {20, 7}, 2)), draw(line({4, 12}, {20, 12}, 2)),
                                  draw(line({4, 17}, {20, 17}, 2))});
        add("star.fill", {draw(star()), draw(stroked(star(), 1.4))});
        add("arrow.clockwise.circle", clockwiseArrowInCircle());
        {
            const QRectF front(4, 7, 11.5, 14.5);
            add("doc.on.doc", {draw(stroked(roundedRect(QRectF(8.5, 2.5, 11.5, 14.5), 2), 1.6)),
                               erase(roundedRect(front.adjusted(-1.6, -1.6, 1.6, 1.6), 3)),
                               draw(stroked(roundedRect(front, 2), 1.6))});
        }
        {
            QPainterPath body;
            body.moveTo(5.5, 6);
            body.lineTo(6.6, 19);
            body.quadTo(6.8, 20.5, 8.3, 20.5);
            body.lineTo(15.7, 20.5);
            body.quadTo(17.2, 20.5, 17.4, 19);
            body.lineTo(18.5, 6);
            add("trash", {draw(line({3.5, 6}, {20.5, 6})),
                          draw(stroked(polyline({{9, 6}, {9.5, 3.5}, {14.5, 3.5}, {15, 6}}), 1.6)),
                          draw(stroked(body, 1.7)), draw(line({10, 9.5}, {10, 17}, 1.5)),
                          draw(line({14, 9.5}, {14, 17}, 1.5))});
        }
        {
            Glyph qr;
            for (const QPointF corner : {QPointF(3, 3), QPointF(14, 3), QPointF(3, 14)}) {
                qr.append(draw(stroked(roundedRect(QRectF(corner, QSizeF(7, 7)), 1), 1.6)));
                qr.append(draw(rect(QRectF(corner + QPointF(2.3, 2.3), QSizeF(2.4, 2.4)))));
            }
            for (const QPointF module : {QPointF(14, 14), QPointF(18.6, 14), QPointF(16.3, 16.3),
                                         QPointF(14, 18.6), QPointF(18.6, 18.6)})
                qr.append(draw(rect(QRectF(module, QSizeF(2.4, 2.4)))));
            add("qrcode", qr);
        }
        add("pencil",
            {draw(stroked(polyline({{4, 20}, {5, 15.5}, {15.5, 5}, {19, 8.5}, {8.5, 19}}, true),
                          1.7)),
             draw(line({13.5, 7}, {17, 10.5}, 1.6))});
        add("gearshape", gear());
        add("briefcase", {draw(stroked(roundedRect(QRectF(2.5, 7, 19, 13), 2.2), 1.7)),
                          draw(stroked(polyline({{8.5, 7}, {8.5, 4}, {15.5, 4}, {15.5, 7}}), 1.7)),
                          draw(line({2.5, 12.5}, {21.5, 12.5}, 1.5))});
        add("house", {draw(stroked(polyline({{2.5, 11.5}, {12, 3.5}, {21.5, 11.5}}))),
                      draw(stroked(polyline({{5.5, 9.5}, {5.5, 20}, {18.5, 20}, {18.5, 9.5}}))),
                      draw(stroked(polyline({{10, 20}, {10, 14.5}, {14, 14.5}, {14, 20}}), 1.6))});
        {
            QPainterPath shoulders;
            shoulders.moveTo(4.5, 20.5);
            shoulders.cubicTo(4.5, 16, 8, 13.8, 12, 13.8);
            shoulders.cubicTo(16, 13.8, 19.5, 16, 19.5, 20.5);
            shoulders.closeSubpath();
            add("person", {draw(stroked(circle({12, 8}, 4))), draw(stroked(shoulders))});
            // The filled person, with a small key in a gap at the lower right.
            QPainterPath body;
            body.moveTo(2.5, 20.5);
            body.cubicTo(2.5, 15.5, 6, 13, 10, 13);
            body.cubicTo(14, 13, 17.5, 15.5, 17.5, 20.5);
            body.closeSubpath();
            add("person.badge.key.fill",
                {draw(circle({10, 7.5}, 4.3)), draw(body), erase(roundedRect(QRectF(12.5, 12, 11.5, 11), 3)),
                 draw(circle({16.3, 17.5}, 2.6)), erase(circle({15.8, 17.5}, 0.9)),
                 draw(roundedRect(QRectF(18, 16.7, 5.2, 1.6), 0.5)),
                 draw(roundedRect(QRectF(21.4, 17.5, 1.5, 2.6), 0.4))});
        }
        add("arrow.up.left.square",
            {draw(stroked(roundedRect(QRectF(3.5, 3.5, 17, 17), 3.5), 1.7)),
             draw(line({15.5, 15.5}, {8.8, 8.8}, 1.8)),
             draw(stroked(polyline({{8.5, 14}, {8.5, 8.5}, {14, 8.5}}), 1.8))});
        add("creditcard",
            {draw(stroked(roundedRect(QRectF(2.5, 5, 19, 14), 2.2), 1.7)),
             draw(rect(QRectF(2.5, 8.3, 19, 2.6))), draw(line({5.5, 15.5}, {9.5, 15.5}, 1.6))});
        add("cart",
            {draw(stroked(
                 polyline({{2, 3.5}, {4.8, 3.5}, {7.4, 15}, {18, 15}, {20.3, 7}, {5.8, 7}}), 1.7)),
             draw(circle({9, 19.2}, 1.6)), draw(circle({16.8, 19.2}, 1.6))});
        add("gamecontroller",
            {draw(stroked(roundedRect(QRectF(2, 7, 20, 11), 5.5), 1.7)),
             draw(line({5.8, 12.5}, {9.6, 12.5}, 1.5)), draw(line({7.7, 10.6}, {7.7, 14.4}, 1.5)),
             draw(circle({15.6, 11}, 1.15)), draw(circle({17.8, 13.8}, 1.15))});
        {
            Glyph buildings{draw(stroked(rect(QRectF(3.5, 3, 10, 18)), 1.6)),
                            draw(stroked(rect(QRectF(13.5, 9, 7, 12)), 1.6)),
                            draw(line({2, 21}, {22, 21}, 1.6))};
            for (qreal y : {6.0, 9.8, 13.6})
                for (qreal x : {6.0, 9.7})
                    buildings.append(draw(rect(QRectF(x, y, 1.8, 1.8))));
            for (qreal y : {12.0, 15.6})
                buildings.append(draw(rect(QRectF(16.1, y, 1.8, 1.8))));
            add("building.2", buildings);
        }
        add("heart", {draw(stroked(heart()))});
        {
            QPainterPath meridian;
            meridian.addEllipse(QRectF(8, 2.5, 8, 19));
            add("globe",
                {draw(stroked(circle({12, 12}, 9.5), 1.6)), draw(stroked(meridian, 1.4)),
                 draw(line({2.5, 12}, {21.5, 12}, 1.4)), draw(line({3.8, 7.2}, {20.2, 7.2}, 1.4)),
                 draw(line({3.8, 16.8}, {20.2, 16.8}, 1.4))});
        }
        add("cloud", cloud());
        {
            const QPainterPath bolt = polyline(
                {{13.5, 2}, {4.5, 13.5}, {11, 13.5}, {10, 22}, {19.5, 10}, {13, 10}}, true);
            add("bolt", {draw(bolt), draw(stroked(bolt, 1.2))});
        }
        {
            QPainterPath cloth;
            cloth.moveTo(5, 4.5);
            cloth.cubicTo(9, 2.5, 12, 6.5, 19, 4.2);
            cloth.lineTo(19, 13.2);
            cloth.cubicTo(12, 15.5, 9, 11.5, 5, 13.5);
            cloth.closeSubpath();
            add("flag", {draw(line({5, 3}, {5, 21})), draw(stroked(cloth, 1.7))});
        }
        add("tag",
            {draw(stroked(
                 polyline({{3.5, 3.5}, {11.5, 3.5}, {20.5, 12.5}, {12.5, 20.5}, {3.5, 11.5}}, true),
                 1.7)),
             draw(circle({7.6, 7.6}, 1.5))});
        {
            QPainterPath pages;
            pages.moveTo(12, 6.5);
            pages.cubicTo(9.5, 4.8, 6, 4.3, 2.5, 4.8);
            pages.lineTo(2.5, 18.8);
            pages.cubicTo(6, 18.3, 9.5, 18.8, 12, 20.5);
            pages.moveTo(12, 6.5);
            pages.cubicTo(14.5, 4.8, 18, 4.3, 21.5, 4.8);
            pages.lineTo(21.5, 18.8);
            pages.cubicTo(18, 18.3, 14.5, 18.8, 12, 20.5);
            pages.moveTo(12, 6.5);
            pages.lineTo(12, 20.5);
            add("book", {draw(stroked(pages, 1.6))});
        }
        {
            QPainterPath base;
            base.moveTo(6, 11.2);
            base.lineTo(6, 16);
            base.cubicTo(8, 18.5, 16, 18.5, 18, 16);
            base.lineTo(18, 11.2);
            add("graduationcap",
                {draw(stroked(polyline({{12, 4}, {22.5, 9}, {12, 14}, {1.5, 9}}, true), 1.6)),
                 draw(stroked(base, 1.6)), draw(line({20.5, 10}, {20.5, 15.5}, 1.4))});
        }
        add("wrench", wrench());
        add("clock", {draw(stroked(circle({12, 12}, 9.5), 1.7)),
                      draw(stroked(polyline({{12, 6.5}, {12, 12}, {15.8, 14.2}}), 1.7))});
        add("exclamationmark.triangle",
            {draw(stroked(polyline({{12, 3}, {22, 20.5}, {2, 20.5}}, true))),
             draw(line({12, 9}, {12, 14.2}, 2)), draw(circle({12, 17.3}, 1.2))});
        {
            const QPainterPath triangle = polyline({{12, 3.6}, {21.2, 19.8}, {2.8, 19.8}}, true);
            add("exclamationmark.triangle.fill",
                {draw(triangle), draw(stroked(triangle, 2.6)),
                 erase(line({12, 9.2}, {12, 13.6}, 2.2)), erase(circle({12, 16.7}, 1.3))});
        }
        {
            const QPainterPath octagon = polyline({{8.3, 2.5}, {15.7, 2.5}, {21.5, 8.3}, {21.5, 15.7},
                                                   {15.7, 21.5}, {8.3, 21.5}, {2.5, 15.7}, {2.5, 8.3}},
                                                  true);
            add("exclamationmark.octagon.fill",
                {draw(octagon), draw(stroked(octagon, 1.4)),
                 erase(line({12, 7}, {12, 13.4}, 2.4)), erase(circle({12, 17}, 1.4))});
        }
        {
            QPainterPath body;
            body.moveTo(3.8, 9);
            body.lineTo(14.5, 9);
            body.arcTo(QRectF(9, 9, 11, 11), 90, -180);
            body.lineTo(8, 20);
            add("arrow.uturn.backward",
                {draw(stroked(polyline({{8.5, 4}, {3.5, 9}, {8.5, 14}}), 1.9)),
                 draw(stroked(body, 1.9))});
        }
        add("viewfinder", viewfinder());
        {
            // The hills run out to the frame's middle line and are cut there, so
            // their ends disappear into the frame instead of poking past it.
            const QPainterPath frame = roundedRect(QRectF(2.5, 4.5, 19, 15), 2.2);
            const QPainterPath hills =
                polyline({{1.5, 18}, {8.5, 11}, {13.5, 16}, {16, 13.5}, {22.5, 20}});
            add("photo", {draw(stroked(frame, 1.7)), draw(stroked(hills, 1.7).intersected(frame)),
                          draw(circle({16, 9}, 1.8))});
        }
        add("link", chainLinks());
        {
            QPainterPath page;
            page.moveTo(13.5, 2.5);
            page.lineTo(7, 2.5);
            page.quadTo(5, 2.5, 5, 4.5);
            page.lineTo(5, 19.5);
            page.quadTo(5, 21.5, 7, 21.5);
            page.lineTo(17, 21.5);
            page.quadTo(19, 21.5, 19, 19.5);
            page.lineTo(19, 8);
            page.closeSubpath();
            add("doc", {draw(stroked(page, 1.7)),
                        draw(stroked(polyline({{13.5, 3}, {13.5, 8}, {18.5, 8}}), 1.6))});
        }
        {
            QPainterPath shackle;
            shackle.moveTo(8, 11);
            shackle.lineTo(8, 7.5);
            shackle.arcTo(QRectF(8, 3.5, 8, 8), 180, -180);
            shackle.lineTo(16, 11);
            add("lock.fill",
                {draw(stroked(shackle)), draw(roundedRect(QRectF(5, 10.5, 14, 11), 2.2))});
        }
        add("square.and.arrow.down.on.square", arrowDownIntoStackedSquares());
        add("command", {draw(stroked(commandSign({12, 12}, 2.6, 3.2), 1.7))});
        add("command.circle", {draw(stroked(circle({12, 12}, 10), 1.6)),
                               draw(stroked(commandSign({12, 12}, 1.7, 2.1), 1.4))});
        {
            // A PC keyboard seen from above: two rows of keys and the space
            // bar (the settings' hotkeys carry no Command sign here).
            QList<Shape> keyboard{draw(stroked(roundedRect(QRectF(2.5, 6, 19, 12), 2.2), 1.6)),
                                  draw(line({8.5, 14.8}, {15.5, 14.8}, 1.6))};
            for (qreal y : {9.3, 12.0})
                for (qreal x : {6.0, 9.3, 12.6, 15.9})
                    keyboard.append(draw(roundedRect(QRectF(x - 0.8 + (y > 10 ? 1.6 : 0), y - 0.8,
                                                            1.6, 1.6), 0.3)));
            add("keyboard", keyboard);
        }
        add("info.circle.fill", {draw(circle({12, 12}, 10)), erase(circle({12, 7.4}, 1.4)),
                                 erase(line({12, 10.8}, {12, 17}, 2.3))});
        add("text.cursor", {draw(line({12, 4.5}, {12, 19.5}, 1.8)),
                            draw(stroked(polyline({{8.5, 3.5}, {10.5, 4.5}, {13.5, 4.5},
                                                   {15.5, 3.5}}), 1.6)),
                            draw(stroked(polyline({{8.5, 20.5}, {10.5, 19.5}, {13.5, 19.5},
                                                   {15.5, 20.5}}), 1.6))});
        add("touchid", fingerprint());
        add("xmark", {draw(line({5, 5}, {19, 19}, 2.2)), draw(line({19, 5}, {5, 19}, 2.2))});
        // The quick-search panel's hint for moving through the list.
        add("arrow.up.arrow.down",
            {draw(line({8, 4}, {8, 19}, 1.8)),
             draw(stroked(polyline({{4, 8}, {8, 4}, {12, 8}}), 1.8)),
             draw(line({16, 5}, {16, 20}, 1.8)),
             draw(stroked(polyline({{12, 16}, {16, 20}, {20, 16}}), 1.8))});
        add("chevron.up", {draw(stroked(polyline({{4.5, 16}, {12, 8}, {19.5, 16}}), 3))});
        add("chevron.down", {draw(stroked(polyline({{4.5, 8}, {12, 16}, {19.5, 8}}), 3))});
        {
            // A window with an arrow leaving it at the top right corner.
            QPainterPath frame;
            frame.moveTo(11, 4.5);
            frame.lineTo(6.5, 4.5);
            frame.quadTo(4, 4.5, 4, 7);
            frame.lineTo(4, 17.5);
            frame.quadTo(4, 20, 6.5, 20);
            frame.lineTo(17, 20);
            frame.quadTo(19.5, 20, 19.5, 17.5);
            frame.lineTo(19.5, 13);
            add("arrow.up.forward.app",
                {draw(stroked(frame, 1.7)), draw(line({11, 13}, {20, 4}, 1.8)),
                 draw(stroked(polyline({{14, 4}, {20, 4}, {20, 10}}), 1.8))});
        }
        {
            QPainterPath eye;
            eye.moveTo(2, 12);
            eye.quadTo(12, 2.5, 22, 12);
            eye.quadTo(12, 21.5, 2, 12);
            add("eye.slash", {draw(stroked(eye, 1.7)), draw(circle({12, 12}, 3.2)),
                              erase(line({4, 3}, {20, 21}, 4.4)), draw(line({4, 3}, {20, 21}, 1.8))});
        }
        {
            Glyph bullets;
            for (qreal y : {6.0, 12.0, 18.0}) {
                bullets.append(draw(circle({4.8, y}, 1.5)));
                bullets.append(draw(line({9, y}, {20.5, y}, 1.9)));
            }
            add("list.bullet", bullets);
        }
        {
            QPainterPath shackle;
            shackle.moveTo(8, 11);
            shackle.lineTo(8, 7.5);
            shackle.arcTo(QRectF(8, 3.5, 8, 8), 180, -180);
            shackle.lineTo(16, 11);
            add("lock", {draw(stroked(shackle)),
                         draw(stroked(roundedRect(QRectF(5, 11, 14, 10), 2.2), 1.7))});
        }
        add("arrow.down.circle",
            {draw(stroked(circle({12, 12}, 9.5), 1.7)), draw(line({12, 7}, {12, 16.5}, 1.8)),
             draw(stroked(polyline({{8, 12.8}, {12, 16.8}, {16, 12.8}}), 1.8))});
        add("circle.fill", {draw(circle({12, 12}, 9))});
        add("plus.circle.fill", cutOutOfDisc({line({12, 6.8}, {12, 17.2}, 2.3),
                                              line({6.8, 12}, {17.2, 12}, 2.3)}));
        add("pencil.circle.fill",
            cutOutOfDisc({polyline({{7, 17}, {7.6, 14.4}, {14.4, 7.6}, {16.4, 9.6}, {9.6, 16.4}},
                                   true)}));
        {
            QPainterPath can;
            can.moveTo(8.6, 9.2);
            can.lineTo(9.3, 16.6);
            can.lineTo(14.7, 16.6);
            can.lineTo(15.4, 9.2);
            can.closeSubpath();
            add("trash.circle.fill",
                cutOutOfDisc({can, line({7.4, 7.6}, {16.6, 7.6}, 1.5),
                              rect(QRectF(10.4, 5.6, 3.2, 1.4))}));
        }
        {
            QPainterPath body;
            body.moveTo(7.5, 10);
            body.lineTo(13.5, 10);
            body.arcTo(QRectF(10.5, 10, 6.5, 6.5), 90, -180);
            body.lineTo(9.5, 16.5);
            add("arrow.uturn.backward.circle.fill",
                cutOutOfDisc({stroked(polyline({{10.3, 7}, {7.3, 10}, {10.3, 13}}), 2),
                              stroked(body, 2)}));
        }
        add("checkmark.shield",
            {draw(stroked(shield(), 1.7)), draw(checkmark(8.4, 12, 11, 14.6, 15.8, 8.8, 1.9))});
        add("checkmark.seal.fill",
            {draw(seal()), erase(checkmark(7.6, 12.2, 10.7, 15.3, 16.4, 8.9, 2.2))});
        add("list.bullet.clipboard", bulletedClipboard());
        add("externaldrive.fill.badge.checkmark", driveWithCheckBadge());
        add("square.and.arrow.down.fill", arrowDownIntoFilledTray());
        return t;
    }();
    return table;
}

const Glyph& glyph(const QString& name) {
    const auto& table = glyphs();
    const auto found = table.constFind(name);
    return found != table.constEnd() ? *found : *table.constFind(QStringLiteral("folder"));
}

QColor resolved(const QColor& color) {
    return color.isValid() ? color : QGuiApplication::palette().color(QPalette::WindowText);
}

// The glyph in opaque `color` on a transparent square of `side` device pixels.
QImage render(const Glyph& shapes, int side, QColor color) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (side <= 0) return image;
    color.setAlpha(255);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.scale(side / grid, side / grid);
    for (const Shape& shape : shapes) {
        painter.setCompositionMode(shape.erase ? QPainter::CompositionMode_Clear
                                               : QPainter::CompositionMode_SourceOver);
        painter.fillPath(shape.path, color);
    }
    return image;
}

void paintGlyph(QPainter& painter, const QRectF& target, const QString& name, const QColor& color,
                qreal opacityFactor = 1.0) {
    const qreal side = qMin(target.width(), target.height());
    if (side <= 0) return;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QImage image = render(glyph(name), qCeil(side * ratio), color);
    const QRectF square(target.center().x() - side / 2, target.center().y() - side / 2, side, side);
    painter.save();
    painter.setOpacity(painter.opacity() * color.alphaF() * opacityFactor);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(square, image);
    painter.restore();
}

class SymbolIconEngine : public QIconEngine {
public:
    SymbolIconEngine(const QString& name, const QColor& color) : name_(name), color_(color) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        paintGlyph(*painter, rect, name_, resolved(color_), mode == QIcon::Disabled ? 0.4 : 1.0);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return result;
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(name_, color_); }
    QString key() const override { return QStringLiteral("QuilletSymbol"); }
    QString iconName() override { return name_; }

private:
    QString name_;
    QColor color_;
};

} // namespace

QIcon icon(const QString& name, const QColor& color) {
    return QIcon(new SymbolIconEngine(name, color));
}

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio) {
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int side = qMax(0, qCeil(size * ratio));
    // Every row of a list asks for the same few glyphs: each is drawn once.
    const QColor colour = resolved(color);
    const QString key = QStringLiteral("quillet-symbol/%1/%2/%3/%4")
                            .arg(name)
                            .arg(side)
                            .arg(colour.rgba(), 0, 16)
                            .arg(ratio);
    QPixmap result;
    if (QPixmapCache::find(key, &result))
        return result;
    result = QPixmap(side, side);
    result.fill(Qt::transparent);
    {
        QPainter painter(&result);
        paintGlyph(painter, QRectF(0, 0, side, side), name, colour);
    }
    result.setDevicePixelRatio(ratio);
    QPixmapCache::insert(key, result);
    return result;
}

bool isKnown(const QString& name) {
    return glyphs().contains(name);
}

} // namespace Symbols
