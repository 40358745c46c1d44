#include "platform/look/ScreenFit.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace {

// Set on a window from its show until the window manager has framed and
// placed it: until then, what it reports of its place is not yet final.
const char* const placingProperty = "_quillet_placing";

// The margins the window manager's frame adds around `window`, or, before it
// has framed it, those of another framed window of the program (the same
// window manager frames them alike); none for windows it leaves alone.
bool unframed(const QWidget* window) {
    const Qt::WindowType type = window->windowType();
    return window->windowFlags().testFlag(Qt::FramelessWindowHint) || type == Qt::Popup ||
           type == Qt::ToolTip || type == Qt::SplashScreen || type == Qt::Desktop;
}

QMargins frameOf(const QWidget* window) {
    if (unframed(window)) return {};
    const auto marginsOf = [](const QWidget* framed) {
        const QRect outer = framed->frameGeometry();
        const QRect inner = framed->geometry();
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                        outer.right() - inner.right(), outer.bottom() - inner.bottom());
    };
    if (const QMargins own = marginsOf(window); !own.isNull()) return own;
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other == window || !other->isVisible() || unframed(other))
            continue;
        if (const QMargins margins = marginsOf(other); !margins.isNull()) return margins;
    }
    return {};
}

QScreen* screenOf(const QWidget* window) {
    if (QScreen* at = QGuiApplication::screenAt(window->geometry().center())) return at;
    return window->screen() ? window->screen() : QGuiApplication::primaryScreen();
}

// How often, and how long at most, a window just shown is looked at until
// the window manager has framed and placed it.
constexpr int placingPollMs = 50;
constexpr int placingWaitMs = 10000;

bool framed(const QWidget* window) { return window->frameGeometry() != window->geometry(); }

bool onScreen(const QWidget* window) {
    const QScreen* screen = screenOf(window);
    return screen && screen->availableGeometry().contains(window->frameGeometry());
}

// Fits `window` again once the window manager has framed and placed it, and
// until it lies on the screen with its frame or the wait is over: Qt learns
// the frame from a property the window manager sets, which no event of the
// widget reports, and places a window by its frame only once it knows it.
void settle(QPointer<QWidget> window, int waited) {
    if (!window || !window->isVisible() || !window->property(placingProperty).toBool()) return;
    if (framed(window)) {
        ScreenFit::fit(window);
        if (onScreen(window)) {
            window->setProperty(placingProperty, false);
            return;
        }
    }
    if (waited >= placingWaitMs) {
        window->setProperty(placingProperty, false);
        return;
    }
    QTimer::singleShot(placingPollMs, window,
                       [window, waited] { settle(window, waited + placingPollMs); });
}

} // namespace

namespace ScreenFit {

QRect fitted(const QRect& outer, const QRect& area) {
    QRect result(outer.topLeft(), outer.size().boundedTo(area.size()));
    result.moveLeft(std::clamp(result.left(), area.left(), area.right() + 1 - result.width()));
    result.moveTop(std::clamp(result.top(), area.top(), area.bottom() + 1 - result.height()));
    return result;
}

void fit(QWidget* window) {
    QScreen* screen = screenOf(window);
    if (!screen || window->windowType() == Qt::Desktop) return;
    const QMargins frame = frameOf(window);
    const QRect area = screen->availableGeometry();
    const QRect outer = window->geometry().marginsAdded(frame);
    const QRect fittedOuter = fitted(outer, area);
    const QSize size = fittedOuter.marginsRemoved(frame).size();
    if (size != window->size()) {
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
    const bool placed = window->testAttribute(Qt::WA_Moved) || framed(window);
    if (placed && fittedOuter.topLeft() != outer.topLeft()) window->move(fittedOuter.topLeft());
}

void shown(QWidget* window) {
    fit(window);
    // A frameless window has its place already; later moves of a framed one
    // are the user's own.
    if (unframed(window) || window->property(placingProperty).toBool()) return;
    window->setProperty(placingProperty, true);
    QTimer::singleShot(0, window, [window = QPointer<QWidget>(window)] { settle(window, 0); });
}

} // namespace ScreenFit
