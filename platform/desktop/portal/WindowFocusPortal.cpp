// The portal backend of WindowFocus, which knows no other program's window,
// and the on-screen displays of KDE Plasma's shell protocol, for windows of
// Qt on Wayland that must never take the keyboard.
#include "platform/desktop/WindowFocus.h"

#include "plasma-shell-client-protocol.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <algorithm>
#include <cstring>
#include <wayland-client.h>

namespace WindowFocus {
namespace {

struct Global {
    uint32_t name = 0;
    uint32_t version = 0;
};

void announced(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
    if (std::strcmp(interface, org_kde_plasma_shell_interface.name) == 0)
        *static_cast<Global*>(data) = {name, version};
}
void removed(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener{announced, removed};

QPlatformNativeInterface* native() {
    return qGuiApp ? QGuiApplication::platformNativeInterface() : nullptr;
}

// KDE Plasma's shell, bound once on Qt's own connection (the surfaces it
// names are Qt's); none where the compositor does not offer it.
org_kde_plasma_shell* plasmaShell() {
    static org_kde_plasma_shell* const shell = []() -> org_kde_plasma_shell* {
        auto* display =
            native() ? static_cast<wl_display*>(native()->nativeResourceForIntegration("wl_display"))
                     : nullptr;
        if (!display) return nullptr;
        // The registry's round trip on a queue of its own: Qt's events stay
        // on Qt's queue, for Qt to dispatch.
        wl_event_queue* queue = wl_display_create_queue(display);
        auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
        wl_registry* registry = wl_display_get_registry(wrapper);
        Global found;
        wl_registry_add_listener(registry, &registryListener, &found);
        wl_display_roundtrip_queue(display, queue);
        org_kde_plasma_shell* bound = nullptr;
        if (found.name != 0) {
            // Version 5 has every request used here.
            bound = static_cast<org_kde_plasma_shell*>(wl_registry_bind(
                registry, found.name, &org_kde_plasma_shell_interface, std::min(found.version, 5u)));
            wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(bound), nullptr);
        }
        wl_registry_destroy(registry);
        wl_proxy_wrapper_destroy(wrapper);
        wl_event_queue_destroy(queue);
        return bound;
    }();
    return shell;
}

// Keeps the surface out of the taskbar and the window switcher, where the
// compositor's shell knows those flags.
void skipTaskLists(org_kde_plasma_surface* surface) {
    const uint32_t version = org_kde_plasma_surface_get_version(surface);
    if (version >= ORG_KDE_PLASMA_SURFACE_SET_SKIP_TASKBAR_SINCE_VERSION)
        org_kde_plasma_surface_set_skip_taskbar(surface, 1);
    if (version >= ORG_KDE_PLASMA_SURFACE_SET_SKIP_SWITCHER_SINCE_VERSION)
        org_kde_plasma_surface_set_skip_switcher(surface, 1);
}

// The role of a window's surface while it is shown. Qt gives a window a new
// surface each time it is shown, and the role goes with the surface.
class OnScreenDisplay : public QObject {
public:
    explicit OnScreenDisplay(QWidget* window) : QObject(window) { setObjectName(name()); }
    static QString name() { return QStringLiteral("onScreenDisplay"); }
    ~OnScreenDisplay() override { forget(); }

    org_kde_plasma_surface* role = nullptr;

    void forget() {
        if (role) org_kde_plasma_surface_destroy(role);
        role = nullptr;
    }
};

} // namespace

bool hasOnScreenDisplays() { return plasmaShell() != nullptr; }

bool showAsOnScreenDisplay(QWidget* window, const QPoint& position) {
    org_kde_plasma_shell* shell = plasmaShell();
    if (!shell) return false;
    auto* display = dynamic_cast<OnScreenDisplay*>(
        window->findChild<QObject*>(OnScreenDisplay::name(), Qt::FindDirectChildrenOnly));
    if (!display) display = new OnScreenDisplay(window);
    if (!window->isVisible() || !display->role) {
        // The surface has its role before Qt draws into it, which happens
        // only once the compositor answered: KWin decides whether a window
        // takes the keyboard when it first draws.
        display->forget();
        window->move(position);
        window->show();
        auto* surface = static_cast<wl_surface*>(
            native()->nativeResourceForWindow("surface", window->windowHandle()));
        if (!surface) {
            window->hide();
            return false;
        }
        display->role = org_kde_plasma_shell_get_surface(shell, surface);
        org_kde_plasma_surface_set_role(display->role,
                                        ORG_KDE_PLASMA_SURFACE_ROLE_ONSCREENDISPLAY);
        skipTaskLists(display->role);
    }
    // A client does not place its windows on Wayland; a shell's surface does.
    org_kde_plasma_surface_set_position(display->role, position.x(), position.y());
    return true;
}

namespace {

// The flags of a panel's surface, kept out of KWin's taskbar and window
// switcher, for as long as the window lives.
class OutOfTaskSwitching : public QObject {
public:
    OutOfTaskSwitching(QWidget* window, org_kde_plasma_surface* surface)
        : QObject(window), shellSurface(surface) {}
    ~OutOfTaskSwitching() override { org_kde_plasma_surface_destroy(shellSurface); }

    org_kde_plasma_surface* const shellSurface;
};

} // namespace

bool keepOutOfTaskSwitching(QWidget* window) {
    org_kde_plasma_shell* shell = plasmaShell();
    if (!shell || !window || !window->isVisible() || !window->windowHandle()) return false;
    auto* surface = static_cast<wl_surface*>(
        native()->nativeResourceForWindow("surface", window->windowHandle()));
    if (!surface) return false;
    // The surface keeps its ordinary role, and with it the keyboard KWin
    // gives a new window; only its entries in the task lists go.
    auto* flags = new OutOfTaskSwitching(window, org_kde_plasma_shell_get_surface(shell, surface));
    skipTaskLists(flags->shellSurface);
    return true;
}

namespace {

// No program can see or pick another's window in a Wayland session.
class PortalBackend : public Backend {
public:
    bool canTellWindows() const override { return false; }
    bool hasWindowManager() const override { return false; }
    std::optional<quint32> activeWindow() const override { return std::nullopt; }
    bool exists(quint32) const override { return false; }
    std::optional<QRect> geometry(quint32) const override { return std::nullopt; }
    bool activate(quint32) override { return false; }
    bool hasInputFocus(quint32) const override { return false; }
};

} // namespace

Backend& portalBackend() { return backendInstance<PortalBackend>(); }

} // namespace WindowFocus
