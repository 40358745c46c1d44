#pragma once

// Whether a window shows every text whole, measured on what its widgets
// really paint: the window is painted once more into a recording device that
// notes, for every text a painter draws, where its glyphs go and the area the
// painter may draw in there (the widget's visible part, cut by every parent,
// and any clip of the painter's own), and, for everything else drawn, its
// place. A text passes when
//  - its glyphs lie wholly inside that area, except that what a scroll area
//    holds may reach beyond its viewport downwards or upwards, where it
//    scrolls (never across: a text under the vertical scroll bar is cut);
//  - nothing a widget paints later (on top of it) covers it;
//  - it is either the whole text, or cut with "…" after a start of the whole
//    text, which the tooltip at that place and the accessible object there
//    hold.
// And the window lies wholly inside its screen's available area. Texts a user
// types (line edits, text boxes, spin boxes) scroll inside their field and
// are left out.
#include "platform/look/ScreenFit.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QStringList>
#include <QTextEdit>
#include <QToolTip>
#include <QWidget>
#include <QtTest>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include <xcb/xcb.h>

namespace WholeTexts {

// One thing a painter drew, in the window's coordinates.
struct Drawn {
    QPointer<QWidget> widget;
    int order = 0;      // the how-many-th widget painted
    QString text;       // empty for anything but a text
    QRectF extent;      // where it went
    QRectF clip;        // where the painter could draw it
};

// Notes what is drawn on the device it paints.
class Recorder : public QPaintEngine {
public:
    Recorder() : QPaintEngine(QPaintEngine::AllFeatures) {}

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    Type type() const override { return QPaintEngine::User; }

    void drawTextItem(const QPointF& at, const QTextItem& item) override {
        const QRectF glyphs(at.x(), at.y() - item.ascent(), item.width(),
                            item.ascent() + item.descent());
        note(glyphs, item.text());
    }
    void drawRects(const QRectF* rects, int count) override {
        for (int i = 0; i < count; ++i) note(rects[i]);
    }
    void drawRects(const QRect* rects, int count) override {
        for (int i = 0; i < count; ++i) note(QRectF(rects[i]));
    }
    void drawPath(const QPainterPath& path) override { note(path.boundingRect()); }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode) override {
        note(QPolygonF(QList<QPointF>(points, points + count)).boundingRect());
    }
    void drawPolygon(const QPoint* points, int count, PolygonDrawMode) override {
        note(QRectF(QPolygon(QList<QPoint>(points, points + count)).boundingRect()));
    }
    void drawEllipse(const QRectF& rect) override { note(rect); }
    void drawPixmap(const QRectF& target, const QPixmap&, const QRectF&) override { note(target); }
    void drawImage(const QRectF& target, const QImage&, const QRectF&,
                   Qt::ImageConversionFlags) override {
        note(target);
    }
    void drawTiledPixmap(const QRectF& target, const QPixmap&, const QPointF&) override {
        note(target);
    }
    void drawLines(const QLineF* lines, int count) override {
        for (int i = 0; i < count; ++i)
            note(QRectF(lines[i].p1(), lines[i].p2()).normalized());
    }
    void drawPoints(const QPointF* points, int count) override {
        for (int i = 0; i < count; ++i) note(QRectF(points[i], QSizeF(1, 1)));
    }

    QPointer<QWidget> widget;
    int order = 0;
    std::vector<Drawn> drawn;

private:
    void note(const QRectF& logical, const QString& text = QString()) {
        QPainter* painter = this->painter();
        if (!painter || !widget) return;
        const QTransform toDevice = painter->deviceTransform();
        QRectF clip = systemClip().isEmpty() ? QRectF(-1e6, -1e6, 2e6, 2e6)
                                             : QRectF(systemClip().boundingRect());
        if (painter->hasClipping()) clip &= toDevice.mapRect(painter->clipBoundingRect());
        drawn.push_back({widget, order, text, toDevice.mapRect(logical), clip});
    }
};

// A device the size of a window, with its resolution, that records.
class Canvas : public QPaintDevice {
public:
    explicit Canvas(QWidget* window) : m_window(window) {}
    QPaintEngine* paintEngine() const override { return &m_recorder; }
    Recorder& recorder() { return m_recorder; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth: return m_window->width();
        case PdmHeight: return m_window->height();
        case PdmWidthMM: return m_window->widthMM();
        case PdmHeightMM: return m_window->heightMM();
        case PdmNumColors: return m_window->colorCount();
        case PdmDepth: return m_window->depth();
        case PdmDpiX: return m_window->logicalDpiX();
        case PdmDpiY: return m_window->logicalDpiY();
        case PdmPhysicalDpiX: return m_window->physicalDpiX();
        case PdmPhysicalDpiY: return m_window->physicalDpiY();
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(QPaintDevice::devicePixelRatioFScale());
        default: return 0;
        }
    }

private:
    QWidget* m_window;
    mutable Recorder m_recorder;
};

// Notes which widget paints while the window is painted into the canvas.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(Recorder& recorder) : m_recorder(recorder) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && object->isWidgetType()) {
            m_recorder.widget = static_cast<QWidget*>(object);
            ++m_recorder.order;
        }
        return false;
    }

private:
    Recorder& m_recorder;
};

// Everything `window` draws, as it draws it now.
inline std::vector<Drawn> drawnIn(QWidget* window) {
    Canvas canvas(window);
    PaintWatch watch(canvas.recorder());
    qApp->installEventFilter(&watch);
    window->render(&canvas, QPoint(), QRegion(), QWidget::DrawChildren);
    qApp->removeEventFilter(&watch);
    return std::move(canvas.recorder().drawn);
}

inline QString withoutMnemonic(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// Where a user types: what does not fit scrolls inside the field.
inline bool typedInto(QWidget* widget) {
    for (QWidget* up = widget; up; up = up->parentWidget())
        if (qobject_cast<QLineEdit*>(up) || qobject_cast<QTextEdit*>(up) ||
            qobject_cast<QPlainTextEdit*>(up) || qobject_cast<QAbstractSpinBox*>(up))
            return true;
    return false;
}

// The tooltip a pointer resting at `point` (in `window`) over `widget`
// brings up: Qt asks the widget under it and, while none shows one, its
// parents. (Asked of the widget that drew there: a text scrolled out of view
// is asked for as if scrolled in.)
inline QString tipAt(QWidget* window, QWidget* widget, QPoint point) {
    QWidget* target = widget;
    while (target->testAttribute(Qt::WA_TransparentForMouseEvents) && target->parentWidget())
        target = target->parentWidget();
    QHelpEvent help(QEvent::ToolTip, target->mapFrom(window, point), window->mapToGlobal(point));
    QToolTip::hideText();
    QCoreApplication::sendEvent(target, &help);
    const QString tip = QToolTip::isVisible() ? QToolTip::text() : QString();
    QToolTip::hideText();
    return tip;
}

// What a screen reader hears of `widget`, the objects inside it at `point`
// and those holding it.
inline QStringList namesAt(QWidget* window, QWidget* widget, QPoint point) {
    QStringList names;
    const QPoint global = window->mapToGlobal(point);
    for (QWidget* up = widget; up; up = up->parentWidget()) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(up);
        if (face) names << face->text(QAccessible::Name) << face->text(QAccessible::Value);
    }
    for (QWidget* from : {widget, window}) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(from);
        for (int depth = 0; face && depth < 64; ++depth) {
            names << face->text(QAccessible::Name) << face->text(QAccessible::Value);
            face = face->childAt(global.x(), global.y());
        }
    }
    return names;
}

// The texts a widget holds whole, any of which it may draw as it stands.
inline QStringList ownTexts(QWidget* widget) {
    QStringList texts;
    for (const char* name : {"text", "title", "currentText", "placeholderText", "windowTitle"})
        if (const QVariant value = widget->property(name); value.canConvert<QString>())
            texts << withoutMnemonic(value.toString()).simplified();
    return texts;
}

// Why `text` at `extent` in `window` is not shown whole, if it is not.
inline std::optional<QString> notWhole(QWidget* window, const Drawn& text,
                                        const std::vector<Drawn>& all) {
    // A text's box is its font's ascent and descent, rounded to whole pixels
    // where a widget lays it out, and its glyphs reach the box's edges with
    // anti-aliasing at most: a pixel either way is no cut.
    const QRectF glyphs = text.extent.adjusted(1, 1, -1, -1);
    // Marks that take no room (a direction isolate) draw nothing to cut.
    if (glyphs.width() <= 0) return std::nullopt;
    QRectF clip = text.clip;
    for (QWidget* up = text.widget; up && up != window; up = up->parentWidget()) {
        auto* area = qobject_cast<QAbstractScrollArea*>(up->parentWidget());
        if (!area || area->viewport() != up ||
            area->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOff)
            continue;
        // Cut at the viewport's top or bottom edge, it scrolls into view.
        const QRectF port(up->mapTo(window, QPoint()), QSizeF(up->size()));
        if (std::abs(clip.top() - port.top()) < 1) clip.setTop(-1e6);
        if (std::abs(clip.bottom() - port.bottom()) < 1) clip.setBottom(1e6);
    }
    const auto where = [](const QRectF& r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    if (!clip.contains(glyphs))
        return QStringLiteral("drawn at %1, cut at %2").arg(where(text.extent), where(text.clip));
    for (const Drawn& over : all) {
        if (over.order <= text.order || !over.widget || over.widget == text.widget) continue;
        const QRectF covered =
            over.extent.intersected(over.clip).intersected(glyphs).intersected(text.clip);
        if (covered.width() >= 1 && covered.height() >= 1)
            return QStringLiteral("covered at %1 by %2").arg(where(covered),
                                                              over.widget->metaObject()->className());
    }
    const QString shown = text.text.simplified();
    const qsizetype ellipsis = shown.indexOf(QChar(0x2026));
    if (ellipsis < 0) return std::nullopt;
    for (const QString& own : ownTexts(text.widget))
        if (own.contains(shown)) return std::nullopt;
    // Cut with "…": the tooltip and a screen reader tell the whole of it.
    const QPoint middle = glyphs.center().toPoint();
    const QString tip = tipAt(window, text.widget, middle).simplified();
    if (tip.size() <= ellipsis || !tip.startsWith(shown.left(ellipsis)))
        return QStringLiteral("cut with \"…\", but the tooltip reads \"%1\"").arg(tip);
    for (const QString& name : namesAt(window, text.widget, middle))
        if (name.simplified().contains(tip)) return std::nullopt;
    return QStringLiteral("cut with \"…\", and no accessible name holds the whole text");
}

// Where `window` is drawn with its frame, in the program's coordinates: on
// X11 as the server has the window manager's frame (Qt keeps its own idea of
// the frame, which can be stale), elsewhere as Qt has it.
inline QRectF drawnFrame(QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection() || !window->windowHandle()) return window->frameGeometry();
    xcb_connection_t* connection = x11->connection();
    xcb_window_t outer = xcb_window_t(window->winId());
    xcb_window_t root = XCB_NONE;
    for (;;) {
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection, xcb_query_tree(connection, outer), nullptr);
        if (!tree) return window->frameGeometry();
        root = tree->root;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (parent == root || parent == XCB_NONE) break;
        outer = parent;
    }
    xcb_get_geometry_reply_t* size =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, outer), nullptr);
    xcb_translate_coordinates_reply_t* at = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, outer, root, 0, 0), nullptr);
    QRectF frame = window->frameGeometry();
    if (size && at) {
        const qreal ratio = window->devicePixelRatioF();
        frame = QRectF(at->dst_x / ratio, at->dst_y / ratio,
                       (size->width + 2 * size->border_width) / ratio,
                       (size->height + 2 * size->border_width) / ratio);
    }
    std::free(size);
    std::free(at);
    return frame;
}

// The texts `window` does not show whole, each with what cuts it.
inline QStringList cut(QWidget* window) {
    // What was shown or hidden last is laid out first.
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QStringList found;
    const std::vector<Drawn> all = drawnIn(window);
    for (const Drawn& text : all) {
        if (text.text.trimmed().isEmpty() || !text.widget || typedInto(text.widget)) continue;
        if (const auto why = notWhole(window, text, all))
            found << text.text.simplified() + QStringLiteral(" (") +
                         text.widget->metaObject()->className() + QStringLiteral(": ") + *why +
                         QLatin1Char(')');
    }
    const QRectF frame = drawnFrame(window);
    if (QScreen* screen = window->screen();
        screen && !QRectF(screen->availableGeometry()).adjusted(-0.5, -0.5, 0.5, 0.5).contains(frame))
        found << QStringLiteral("the window itself: %1,%2 %3x%4 beyond the screen's %5x%6")
                     .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())
                     .arg(screen->availableGeometry().width())
                     .arg(screen->availableGeometry().height());
    return found;
}

// Twice the application's font while it lives, for what is built meanwhile
// (a text styled when it was built keeps the size it had).
class LargeFont {
public:
    LargeFont() : m_font(QApplication::font()) {
        QFont large = m_font;
        large.setPointSizeF(m_font.pointSizeF() * 2);
        QApplication::setFont(large);
    }
    ~LargeFont() { QApplication::setFont(m_font); }
    LargeFont(const LargeFont&) = delete;
    LargeFont& operator=(const LargeFont&) = delete;

private:
    QFont m_font;
};

} // namespace WholeTexts

// Waits until the window manager has placed `window` (a window still being
// placed may look whole a moment before it moves) and it cuts off no text;
// fails naming those it cuts.
#define QUILLET_TRY_WHOLE(window)                                                                  \
    QTRY_VERIFY(!ScreenFit::placing(window));                                                      \
    QTRY_VERIFY2(WholeTexts::cut(window).isEmpty(),                                                \
                 qPrintable(WholeTexts::cut(window).join(QStringLiteral("; "))))
