// The X11 backend of ScreenCapture: Qt's own picture of each screen, taken
// with this program's windows out of the way.
#include "platform/desktop/ScreenCapture.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace ScreenCapture {

QList<QImage> grabScreens() {
    QList<QImage> images;
    for (QScreen* screen : QGuiApplication::screens()) {
        // Window 0 is the whole screen; the pixmap has the screen's device
        // pixels (null where the session does not allow reading the screen).
        const QPixmap pixmap = screen->grabWindow(0);
        if (pixmap.isNull()) continue;
        QImage image = pixmap.toImage();
        const QSize wanted = screen->geometry().size() * scaleFactor;
        if (image.size() != wanted)
            image = image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        if (image.format() != QImage::Format_RGB32)
            image = image.convertToFormat(QImage::Format_RGB32);
        images.append(image);
    }
    return images;
}

namespace {

// A window hidden for the capture, and where it stood.
struct Hidden {
    QPointer<QWidget> window;
    QPoint position; // of its frame, as move() takes it
};

// The tray icon's own window on an XEmbed tray: the tray holds it inside
// its panel, and once unmapped it would come back as a window of its own
// (the tray lets go of it) rather than as the icon. Nor does it cover
// anything worth reading.
bool isTrayIcon(const QWidget* widget) {
    return widget->inherits("QSystemTrayIconSys") ||
           widget->windowFlags().testFlag(Qt::BypassWindowManagerHint);
}

// Our visible windows, parents before the windows they own, so that showing
// them again in this order puts a sheet back on top of its window.
QList<Hidden> visibleWindows() {
    QList<QWidget*> windows;
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // Windows and sheets only: a popup closes by itself, and a transient
        // panel (the copy HUD) hides on its own timer, which showing it again
        // afterwards would undo.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            const Qt::WindowType type = widget->windowType();
            if (widget->isVisible() && !isTrayIcon(widget) &&
                (type == Qt::Window || type == Qt::Dialog || type == Qt::Sheet))
                windows.append(widget);
        }
    }
    auto depth = [](const QWidget* widget) {
        int d = 0;
        for (const QWidget* w = widget->parentWidget(); w; w = w->parentWidget())
            ++d;
        return d;
    };
    std::stable_sort(windows.begin(), windows.end(),
                     [&](QWidget* a, QWidget* b) { return depth(a) < depth(b); });
    QList<Hidden> result;
    for (QWidget* window : windows)
        result.append({window, window->pos()});
    return result;
}

} // namespace

namespace {

class X11Backend : public Backend {
public:
    void captureDisplays(QObject* context, std::function<void(QList<QImage>)> done) override {
        const QList<Hidden> hidden = visibleWindows();
        const QPointer<QWidget> active = QApplication::activeWindow();
        // Sheets first: hiding the windows they belong to must not be what hides
        // them, or they would come back without their modality.
        for (auto it = hidden.rbegin(); it != hidden.rend(); ++it)
            if (it->window) it->window->hide();
        const QPointer<QObject> guard(context);
        // The windows come back even when the context is gone by then.
        QTimer::singleShot(hidden.isEmpty() ? 0 : settleMs, QCoreApplication::instance(),
                           [hidden, active, guard, done = std::move(done)] {
                               const QList<QImage> images = grabScreens();
                               for (const Hidden& entry : hidden) {
                                   if (!entry.window) continue;
                                   // Mapped again, a window the user never moved
                                   // would be placed anew by the window manager:
                                   // it goes back where it stood.
                                   entry.window->move(entry.position);
                                   if (QWindow* handle = entry.window->windowHandle())
                                       handle->setFramePosition(entry.position);
                                   entry.window->show();
                               }
                               if (active) active->activateWindow();
                               if (guard) done(images);
                           });
    }
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

} // namespace ScreenCapture
