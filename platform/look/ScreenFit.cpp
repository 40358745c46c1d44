#include "platform/look/ScreenFit.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <optional>

namespace {

// Set on a window from its show until the window manager has framed and
// placed it: until then, what it reports of its place is not yet final.
const char* const placingProperty = "_quillet_placing";

// What the window system says of a window where the desktop layer can ask
// it (ScreenFit::useWindowServer); nothing until then.
ScreenFit::WindowServer& windowServer() {
    static ScreenFit::WindowServer server;
    return server;
}

std::optional<QMargins> serverFrame(const QWidget* window) {
    return windowServer().frame ? windowServer().frame(window) : std::nullopt;
}

std::optional<QRect> serverPlace(const QWidget* window) {
    return windowServer().place ? windowServer().place(window) : std::nullopt;
}

// The margins of the frame around `window`: as the window system tells them,
// read afresh (Qt reads them once and keeps what it read, which, read while
// the window manager was still framing the window, stays none, or negative,
// for good); otherwise Qt's own, where they are not negative.
QMargins ownFrame(const QWidget* window) {
    if (const std::optional<QMargins> told = serverFrame(window)) return *told;
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    const QMargins margins(inner.left() - outer.left(), inner.top() - outer.top(),
                           outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const bool sound = margins.left() >= 0 && margins.top() >= 0 && margins.right() >= 0 &&
                       margins.bottom() >= 0;
    return sound ? margins : QMargins();
}

// Windows the window manager leaves without a frame.
bool unframed(const QWidget* window) {
    const Qt::WindowType type = window->windowType();
    return window->windowFlags().testFlag(Qt::FramelessWindowHint) || type == Qt::Popup ||
           type == Qt::ToolTip || type == Qt::SplashScreen || type == Qt::Desktop;
}

// The margins of another framed window of the program, for a window the
// window manager has not framed yet (it frames them alike).
QMargins othersFrame(const QWidget* window) {
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other == window || !other->isVisible() || unframed(other))
            continue;
        if (const QMargins margins = ownFrame(other); !margins.isNull()) return margins;
    }
    return {};
}

// What one look at a window finds, each fact asked of the window system once:
// the frame's margins (its own, or before it has one another window's; none
// for windows the window manager leaves alone) and the window's own area.
struct Look {
    QMargins frame;
    bool framed = false;
    QRect place;
    bool onServer = false;
};

Look lookAt(const QWidget* window) {
    Look look;
    const std::optional<QRect> told = serverPlace(window);
    look.place = told.value_or(window->geometry());
    look.onServer = told.has_value();
    if (unframed(window)) return look;
    const QMargins own = ownFrame(window);
    look.framed = !own.isNull();
    look.frame = look.framed ? own : othersFrame(window);
    return look;
}

QScreen* screenOf(const QWidget* window) {
    if (QScreen* at = QGuiApplication::screenAt(window->geometry().center())) return at;
    return window->screen() ? window->screen() : QGuiApplication::primaryScreen();
}

// How often, and how long at most, a window just shown is looked at until
// the window manager has framed and placed it, and how long it must then
// stay on the screen unchanged.
constexpr int placingPollMs = 50;
constexpr int placingWaitMs = 10000;
constexpr int placingQuietMs = 500;

bool onScreen(const QWidget* window, const Look& look) {
    const QScreen* screen = screenOf(window);
    return screen && screen->availableGeometry().contains(look.place.marginsAdded(look.frame));
}

// Fits `window` as `look` found it; whether it asked for a change.
bool fitAsFound(QWidget* window, const Look& look) {
    QScreen* screen = screenOf(window);
    if (!screen || window->windowType() == Qt::Desktop) return false;
    const QRect outer = look.place.marginsAdded(look.frame);
    const QRect fittedOuter = ScreenFit::fitted(outer, screen->availableGeometry());
    const QSize size = fittedOuter.marginsRemoved(look.frame).size();
    bool asked = false;
    if (size != window->size()) {
        asked = true;
        if (window->minimumSize() == window->maximumSize()) {
            window->setFixedSize(size);
        } else {
            if (window->minimumWidth() > size.width()) window->setMinimumWidth(size.width());
            if (window->minimumHeight() > size.height()) window->setMinimumHeight(size.height());
            window->resize(size);
        }
    }
    // A window the window manager places itself is moved once it has been
    // placed (and framed), and only when it went off the screen. A window's
    // position is that of its frame.
    const bool placed = window->testAttribute(Qt::WA_Moved) || look.framed;
    if (!placed || fittedOuter.topLeft() == outer.topLeft()) return asked;
    const QPoint inside = fittedOuter.topLeft() + QPoint(look.frame.left(), look.frame.top());
    // Asked of the X server itself: Qt asks nothing when the window is
    // already where Qt believes it is. Elsewhere Qt places the frame by the
    // margins it believes in.
    if (look.onServer && windowServer().moveTo)
        windowServer().moveTo(window, inside);
    else
        window->move(inside - (window->geometry().topLeft() - window->pos()));
    return true;
}

// Fits `window` again once the window manager has framed and placed it, and
// until it lies on the screen with its frame or the wait is over: the frame
// comes as a property the window manager sets, which no event of the widget
// reports. The window manager may answer requests late, or an earlier one
// (the program's own resize) last: the window counts as placed only once it
// has stayed on the screen, unchanged, for a moment.
void settle(QPointer<QWidget> window, int waited, int quiet, QRect last) {
    if (!window || !window->isVisible() || !ScreenFit::placing(window)) return;
    if (const Look look = lookAt(window); look.framed) {
        const bool asked = fitAsFound(window, look);
        quiet = !asked && look.place == last && onScreen(window, look) ? quiet + placingPollMs : 0;
        last = look.place;
    }
    if (quiet >= placingQuietMs || waited >= placingWaitMs) {
        window->setProperty(placingProperty, false);
        return;
    }
    QTimer::singleShot(placingPollMs, window, [window, waited, quiet, last] {
        settle(window, waited + placingPollMs, quiet, last);
    });
}

} // namespace

namespace ScreenFit {

QRect fitted(const QRect& outer, const QRect& area) {
    QRect result(outer.topLeft(), outer.size().boundedTo(area.size()));
    result.moveLeft(std::clamp(result.left(), area.left(), area.right() + 1 - result.width()));
    result.moveTop(std::clamp(result.top(), area.top(), area.bottom() + 1 - result.height()));
    return result;
}

void fit(QWidget* window) { fitAsFound(window, lookAt(window)); }

QMargins frame(const QWidget* window) {
    if (unframed(window)) return {};
    const QMargins own = ownFrame(window);
    return own.isNull() ? othersFrame(window) : own;
}

bool placing(const QWidget* window) { return window->property(placingProperty).toBool(); }

void useWindowServer(const WindowServer& server) { windowServer() = server; }

void shown(QWidget* window) {
    fit(window);
    // A frameless window has its place already; later moves of a framed one
    // are the user's own.
    if (unframed(window) || placing(window)) return;
    window->setProperty(placingProperty, true);
    QTimer::singleShot(0, window,
                       [window = QPointer<QWidget>(window)] { settle(window, 0, 0, {}); });
}

} // namespace ScreenFit
