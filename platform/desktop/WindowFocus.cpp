#include "platform/desktop/WindowFocus.h"

#include <QGuiApplication>
#include <QWidget>

namespace WindowFocus {

bool canTellWindows() { return backend().canTellWindows(); }
bool hasWindowManager() { return backend().hasWindowManager(); }
std::optional<quint32> activeWindow() { return backend().activeWindow(); }
bool exists(quint32 window) { return backend().exists(window); }
std::optional<QRect> geometry(quint32 window) { return backend().geometry(window); }
bool activate(quint32 window) { return backend().activate(window); }
bool hasInputFocus(quint32 window) { return backend().hasInputFocus(window); }

Qt::WindowType panelKind() { return canTellWindows() ? Qt::Tool : Qt::Window; }

namespace {
bool onWayland() { return QGuiApplication::platformName() == QLatin1String("wayland"); }
} // namespace

Qt::WindowType withoutKeyboardKind() { return onWayland() ? Qt::Tool : Qt::ToolTip; }

bool canShowWithoutKeyboard() { return !onWayland() || hasOnScreenDisplays(); }

bool showWithoutKeyboard(QWidget* window, const QPoint& position) {
    if (onWayland()) return showAsOnScreenDisplay(window, position);
    window->move(position);
    window->show();
    return true;
}

} // namespace WindowFocus
