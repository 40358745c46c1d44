#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "tests/support/Keyring.h"

#include <QByteArray>

namespace TestSupport {

KeyringCollection::KeyringCollection()
    : m_service(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr)),
      m_collection(m_service ? secret_collection_for_alias_sync(m_service, SECRET_COLLECTION_DEFAULT,
                                                                SECRET_COLLECTION_NONE, nullptr,
                                                                nullptr)
                             : nullptr) {}

KeyringCollection::~KeyringCollection() {
    if (m_collection)
        g_object_unref(m_collection);
    if (m_service)
        g_object_unref(m_service);
}

bool KeyringCollection::lock() {
    if (!m_collection)
        return false;
    GList objects = {m_collection, nullptr, nullptr};
    return secret_service_lock_sync(m_service, &objects, nullptr, nullptr, nullptr) == 1;
}

bool KeyringCollection::unlock() {
    if (!m_collection)
        return false;
    GDBusConnection* bus = g_dbus_proxy_get_connection(G_DBUS_PROXY(m_service));
    const auto call = [&](const char* path, const char* interface, const char* method,
                          GVariant* args) {
        return g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", path, interface, method,
                                           args, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
                                           nullptr);
    };
    GVariant* opened = call("/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
                            "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")));
    if (!opened)
        return false;
    const char* session = nullptr;
    g_variant_get_child(opened, 1, "&o", &session);
    const auto bytes = [](const QByteArray& data) {
        return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, data.constData(), data.size(), 1);
    };
    GVariant* reply = call(
        "/org/freedesktop/secrets", "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
        "UnlockWithMasterPassword",
        g_variant_new("(o(o@ay@ays))", g_dbus_proxy_get_object_path(G_DBUS_PROXY(m_collection)),
                      session, bytes({}), bytes("test"), "text/plain"));
    if (GVariant* closed = call(session, "org.freedesktop.Secret.Session", "Close", nullptr))
        g_variant_unref(closed);
    g_variant_unref(opened);
    if (reply)
        g_variant_unref(reply);
    return reply != nullptr;
}

} // namespace TestSupport
