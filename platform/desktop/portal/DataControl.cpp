#include "platform/desktop/portal/DataControl.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <wayland-client.h>

namespace DataControl {

namespace {

const char* const plainTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                  "STRING", "TEXT"};

struct Connection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    zwlr_data_control_device_v1* device = nullptr;
    zwlr_data_control_offer_v1* offer = nullptr;
    QSocketNotifier* notifier = nullptr;

    // The source that holds the selection, and what it serves.
    zwlr_data_control_source_v1* source = nullptr;
    QString text;
    QList<std::pair<QByteArray, QByteArray>> data;

    bool usable() const { return device && wl_display_get_error(display) == 0; }

    void forgetSource() {
        if (source)
            zwlr_data_control_source_v1_destroy(source);
        source = nullptr;
        // The code leaves memory with the selection.
        text.fill(QChar(0));
        text.clear();
        for (auto& [type, bytes] : data)
            bytes.fill('\0');
        data.clear();
    }

    void flush() { wl_display_flush(display); }

    // Reads what the compositor sent, without waiting: the notifier says
    // there is something to read.
    void dispatch() {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        flush();
        wl_display_read_events(display);
        wl_display_dispatch_pending(display);
        if (wl_display_get_error(display) != 0)
            notifier->setEnabled(false);
    }
};

Connection& connection() {
    static Connection c;
    return c;
}

void registryGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                    uint32_t) {
    auto* c = static_cast<Connection*>(data);
    if (!c->seat && std::strcmp(interface, wl_seat_interface.name) == 0)
        c->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (!c->manager && std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
        c->manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
}

void registryGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener = {registryGlobal, registryGlobalRemove};

// Offers of other clients (and the compositor's view of ours) are not read:
// each is dropped when the next selection replaces it.
void deviceDataOffer(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {}

void deviceSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    auto* c = static_cast<Connection*>(data);
    if (c->offer)
        zwlr_data_control_offer_v1_destroy(c->offer);
    c->offer = offer;
}

void deviceFinished(void* data, zwlr_data_control_device_v1* device) {
    auto* c = static_cast<Connection*>(data);
    zwlr_data_control_device_v1_destroy(device);
    c->device = nullptr;
}

void devicePrimarySelection(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    if (offer)
        zwlr_data_control_offer_v1_destroy(offer);
}

const zwlr_data_control_device_v1_listener deviceListener = {deviceDataOffer, deviceSelection,
                                                             deviceFinished, devicePrimarySelection};

// A reader gets the bytes at once and its end closed. The fd is made
// non-blocking so that a reader that never reads cannot stall the program; a
// code is far below a pipe's atomic size, so one write delivers it whole.
void sourceSend(void* data, zwlr_data_control_source_v1* source, const char* type, int32_t fd) {
    auto* c = static_cast<Connection*>(data);
    if (source == c->source) {
        for (const auto& [offered, bytes] : c->data) {
            if (offered != type)
                continue;
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            ssize_t written;
            do
                written = ::write(fd, bytes.constData(), size_t(bytes.size()));
            while (written < 0 && errno == EINTR);
            break;
        }
    }
    close(fd);
}

void sourceCancelled(void* data, zwlr_data_control_source_v1* source) {
    auto* c = static_cast<Connection*>(data);
    if (source == c->source)
        c->forgetSource();
    else
        zwlr_data_control_source_v1_destroy(source);
}

const zwlr_data_control_source_v1_listener sourceListener = {sourceSend, sourceCancelled};

bool connect(Connection& c) {
    c.display = wl_display_connect(nullptr);
    if (!c.display)
        return false;
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &registryListener, &c);
    wl_display_roundtrip(c.display);
    if (!c.seat || !c.manager) {
        // GNOME's compositor, for one, offers no data control.
        if (c.seat)
            wl_seat_destroy(c.seat);
        if (c.manager)
            zwlr_data_control_manager_v1_destroy(c.manager);
        wl_registry_destroy(c.registry);
        wl_display_disconnect(c.display);
        c = Connection{};
        return false;
    }
    c.device = zwlr_data_control_manager_v1_get_data_device(c.manager, c.seat);
    zwlr_data_control_device_v1_add_listener(c.device, &deviceListener, &c);
    c.notifier = new QSocketNotifier(wl_display_get_fd(c.display), QSocketNotifier::Read);
    QObject::connect(c.notifier, &QSocketNotifier::activated, [&c] { c.dispatch(); });
    wl_display_roundtrip(c.display);
    return true;
}

} // namespace

bool available() {
    static const bool connected = connect(connection());
    return connected && connection().usable();
}

void write(const QString& text, const QList<std::pair<QByteArray, QByteArray>>& markers) {
    Connection& c = connection();
    // The old source goes only after the new one holds the selection, so
    // that the clipboard is never empty in between.
    zwlr_data_control_source_v1* previous = std::exchange(c.source, nullptr);
    c.forgetSource();
    c.text = text;
    const QByteArray utf8 = text.toUtf8();
    for (const char* type : plainTypes)
        c.data.append({QByteArray(type), utf8});
    c.data.append(markers);
    c.source = zwlr_data_control_manager_v1_create_data_source(c.manager);
    zwlr_data_control_source_v1_add_listener(c.source, &sourceListener, &c);
    for (const auto& [type, bytes] : c.data)
        zwlr_data_control_source_v1_offer(c.source, type.constData());
    zwlr_data_control_device_v1_set_selection(c.device, c.source);
    if (previous)
        zwlr_data_control_source_v1_destroy(previous);
    c.flush();
}

std::optional<QString> text() {
    const Connection& c = connection();
    if (!c.source)
        return std::nullopt;
    return c.text;
}

// An empty text rather than no selection: KWin 5.27 keeps offering a
// withdrawn selection, and a reader of it waits for data that never comes.
void clear() { write(QString(), {}); }

} // namespace DataControl
