// What gnome-keyring itself needs for 1,000 items of the size of our account
// items: 1,000 CreateItem calls straight through libsecret, nothing else. The
// yardstick for importing 1,000 links into the Secret Service
// (quillet_import_bench): run both through tests/with-session.sh.
#define SECRET_WITH_UNSTABLE 1
#define SECRET_API_SUBJECT_TO_CHANGE 1
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "core/KeychainStore.h"
#include "platform/crypto/Crypto.h"

#include <benchmark/benchmark.h>

namespace {

GHashTable* properties(int i, const QString& account) {
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    const auto add = [&](const char* name, const QString& value) {
        g_variant_builder_add(&attributes, "{ss}", name, value.toUtf8().constData());
    };
    g_variant_builder_add(&attributes, "{ss}", "xdg:schema", "com.tarnwick.Quillet.KeychainItem");
    add("class", QStringLiteral("genp"));
    add("service", KeychainStore::service);
    add("account", account);
    add("accessGroup", KeychainStore::sharedAccessGroup);
    add("synchronizable", QStringLiteral("1"));
    add("accessible", QStringLiteral("afterFirstUnlock"));
    add("dataProtection", QStringLiteral("1"));
    GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr,
                                              reinterpret_cast<GDestroyNotify>(g_variant_unref));
    const QByteArray label = QStringLiteral("Quillet: %1 %2").arg(KeychainStore::service, account).toUtf8();
    g_hash_table_insert(table, const_cast<char*>("org.freedesktop.Secret.Item.Label"),
                        g_variant_ref_sink(g_variant_new_string(label.constData())));
    g_hash_table_insert(table, const_cast<char*>("org.freedesktop.Secret.Item.Attributes"),
                        g_variant_ref_sink(g_variant_builder_end(&attributes)));
    Q_UNUSED(i);
    return table;
}

void rawCreateItems(benchmark::State& state) {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        state.SkipWithError("no Secret Service on the session bus");
        return;
    }
    gchar* collection = secret_service_read_alias_dbus_path_sync(service, "default", nullptr, &error);
    const int count = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QList<QByteArray> secrets;
        QStringList names;
        for (int i = 0; i < count; ++i) {
            Account account;
            account.issuer = QStringLiteral("Service %1").arg(i);
            account.name = QStringLiteral("user%1@example.com").arg(i);
            account.secret = Crypto::randomBytes(20).value_or(QByteArray(20, 'k'));
            secrets.append(KeychainStore::encode(account));
            names.append(Json::uuidText(account.id));
        }
        QList<QByteArray> created;
        state.ResumeTiming();
        for (int i = 0; i < count; ++i) {
            GHashTable* table = properties(i, names[i]);
            SecretValue* value = secret_value_new(secrets[i].constData(), secrets[i].size(),
                                                  "application/octet-stream");
            gchar* path = secret_service_create_item_dbus_path_sync(
                service, collection, table, value, SECRET_ITEM_CREATE_NONE, nullptr, &error);
            secret_value_unref(value);
            g_hash_table_unref(table);
            if (!path) {
                state.SkipWithError("CreateItem failed");
                break;
            }
            created.append(path);
            g_free(path);
        }
        state.PauseTiming();
        for (const QByteArray& path : std::as_const(created))
            secret_service_delete_item_dbus_path_sync(service, path.constData(), nullptr, nullptr);
        state.ResumeTiming();
    }
    g_free(collection);
    g_clear_error(&error);
    g_object_unref(service);
}
BENCHMARK(rawCreateItems)->Arg(20)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
