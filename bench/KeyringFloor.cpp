// The least a client can spend reading our items from the Secret Service:
// the bare D-Bus calls of a read, with nothing around them (no Qt, no
// libsecret, no parsing of what comes back). bench/startup.sh runs it
// beside the program for each vault size, so that the README shows how much
// of a start's cost for many accounts is the keyring's own.
//
// Prints one line: the items found and the milliseconds of the session,
// the search, the attribute reads (all sent at once, 100 on the wire at a
// time) and the secrets (one call), measured from before connecting.
#include <gio/gio.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

GVariant* call(GDBusConnection* bus, const char* path, const char* interface, const char* member,
               GVariant* arguments) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", path, interface,
                                                  member, arguments, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
        std::fprintf(stderr, "keyring floor: %s: %s\n", member, error->message);
        g_error_free(error);
    }
    return reply;
}

} // namespace

int main() {
    const Clock::time_point start = Clock::now();
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "keyring floor: no session bus\n");
        return 1;
    }
    constexpr const char* service = "/org/freedesktop/secrets";
    constexpr const char* serviceInterface = "org.freedesktop.Secret.Service";

    // A plain session: no key exchange, no decryption.
    GVariant* opened = call(bus, service, serviceInterface, "OpenSession",
                            g_variant_new("(sv)", "plain", g_variant_new_string("")));
    if (!opened)
        return 1;
    GVariant* ignored = nullptr;
    const gchar* session = nullptr;
    g_variant_get(opened, "(v&o)", &ignored, &session);
    g_variant_unref(ignored);
    const double sessionMs = msSince(start);

    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&attributes, "{ss}", "xdg:schema", "com.tarnwick.Quillet.KeychainItem");
    g_variant_builder_add(&attributes, "{ss}", "class", "genp");
    GVariant* found = call(bus, service, serviceInterface, "SearchItems",
                           g_variant_new("(a{ss})", &attributes));
    if (!found)
        return 1;
    GVariantIter* unlocked = nullptr;
    GVariantIter* locked = nullptr;
    g_variant_get(found, "(aoao)", &unlocked, &locked);
    std::vector<const gchar*> paths;
    const gchar* path = nullptr;
    while (g_variant_iter_next(unlocked, "&o", &path))
        paths.push_back(path);
    const double searchMs = msSince(start);

    // Every item's attributes, at most 100 on the wire (the bus's limit on
    // the replies one connection awaits is 128).
    size_t next = 0;
    int remaining = 0;
    struct Waiting {
        GDBusConnection* bus;
        int* remaining;
    } waiting{bus, &remaining};
    while (next < paths.size() || remaining > 0) {
        while (remaining < 100 && next < paths.size()) {
            ++remaining;
            g_dbus_connection_call(
                bus, "org.freedesktop.secrets", paths[next++], "org.freedesktop.DBus.Properties",
                "Get", g_variant_new("(ss)", "org.freedesktop.Secret.Item", "Attributes"),
                G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                [](GObject*, GAsyncResult* result, gpointer data) {
                    auto* w = static_cast<Waiting*>(data);
                    GVariant* reply = g_dbus_connection_call_finish(w->bus, result, nullptr);
                    if (reply)
                        g_variant_unref(reply);
                    --*w->remaining;
                },
                &waiting);
        }
        g_main_context_iteration(nullptr, TRUE);
    }
    const double attributesMs = msSince(start);

    paths.push_back(nullptr);
    GVariant* secrets = call(bus, service, serviceInterface, "GetSecrets",
                             g_variant_new("(^aoo)", paths.data(), session));
    const double secretsMs = msSince(start);
    if (!secrets)
        return 1;

    std::printf("%zu items: session %.1f ms, search %.1f, attributes %.1f, secrets %.1f\n",
                paths.size() - 1, sessionMs, searchMs, attributesMs, secretsMs);
    g_variant_unref(secrets);
    g_variant_iter_free(unlocked);
    g_variant_iter_free(locked);
    g_variant_unref(found);
    g_variant_unref(opened);
    g_object_unref(bus);
    return 0;
}
