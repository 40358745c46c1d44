// glib names a struct member "signals", which Qt defines as a keyword macro;
// libsecret has to be seen before any Qt header.
// The D-Bus-path calls are the unstable part of libsecret's interface; they
// let a search read hundreds of items without a proxy object for each.
#define SECRET_WITH_UNSTABLE 1
#define SECRET_API_SUBJECT_TO_CHANGE 1
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "platform/keychain/KeychainSecretService.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace Keychain {

namespace {

// Every field of an item but its data is an attribute; the data is the secret.
const SecretSchema itemSchema = {
    "com.tarnwick.Quillet.KeychainItem",
    SECRET_SCHEMA_NONE,
    {
        {"class", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"accessGroup", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"synchronizable", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"accessible", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"dataProtection", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"label", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    // reserved
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The data is an opaque byte string (it may hold NULs); a text content type
// would invite the service or a keyring viewer to treat it as UTF-8.
constexpr const char* dataContentType = "application/octet-stream";

// How long isAvailable() waits for the service to answer. Long enough for
// the bus to start an activatable keyring daemon, short enough not to stall
// the program's start when nothing answers.
constexpr int availabilityTimeoutMs = 5000;

// The checks and writes of one operation belong together: add() looks for a
// duplicate before it creates the item, and two threads of this process must
// not both pass the check. Another process can still race us; the Secret
// Service has no way to make that atomic.
QMutex& operationMutex() {
    static QMutex mutex;
    return mutex;
}

// The prompt open() may be waiting on, so that cancelInteraction() can
// dismiss it; once cancelled (the program is quitting) no prompt is shown again.
QMutex interactionMutex;
GCancellable* pendingInteraction = nullptr;
std::atomic<bool> interactionCancelled = false;

// Whether an operation may ask the user (only open() does).
enum class Interaction { none, allowed };

// MARK: - Ownership of glib objects

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using ObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;

struct SecretValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, SecretValueUnref>;

// A NULL-terminated array of strings from glib.
struct StrvFree {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};
using StrvPtr = std::unique_ptr<gchar*, StrvFree>;

// One item the search found: its object path and its fields but the data.
struct Found {
    QByteArray path;
    Item item;
};

// MARK: - Errors

void warn(const char* what, const GError* error) {
    // The message comes from D-Bus or the service and never carries item data.
    std::fprintf(stderr, "Quillet: Secret Service: %s: %s\n", what,
                 error ? error->message : "no reason given");
}

// Whether the service answered with an error of its own, rather than the
// bus failing to carry the call.
bool serviceAnswered(const GError* error) {
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_DBUS_ERROR)) // a name GLib does not know
        return true;
    if (error->domain != G_DBUS_ERROR)
        return false;
    switch (error->code) {
    case G_DBUS_ERROR_FAILED:
    case G_DBUS_ERROR_NO_MEMORY:
    case G_DBUS_ERROR_ACCESS_DENIED:
    case G_DBUS_ERROR_AUTH_FAILED:
    case G_DBUS_ERROR_NOT_SUPPORTED:
    case G_DBUS_ERROR_LIMITS_EXCEEDED:
    case G_DBUS_ERROR_INVALID_ARGS:
        return true;
    default:
        return false;
    }
}

// A locked keyring that stays locked is interactionNotAllowed; a broken or
// vanished service or bus is notAvailable; anything else the service refused
// gets the caller's fallback (writeRefused for a write: the service's own
// reason, never a full disk it did not report).
Status statusFor(const GError* error, Status fallback) {
    if (!error)
        return fallback;
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED))
        return interactionNotAllowed;
    if (serviceAnswered(error))
        return fallback;
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR)
        return notAvailable;
    return fallback;
}

// MARK: - Attributes

QLatin1String flag(bool value) { return value ? QLatin1String("1") : QLatin1String("0"); }

AttributesPtr newAttributes() {
    return AttributesPtr(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
}

void insert(GHashTable* attributes, const char* name, const QString& value) {
    g_hash_table_replace(attributes, g_strdup(name), g_strdup(value.toUtf8().constData()));
}

AttributesPtr attributesOf(const Item& item) {
    AttributesPtr attributes = newAttributes();
    insert(attributes.get(), "class", item.itemClass);
    insert(attributes.get(), "service", item.service);
    insert(attributes.get(), "account", item.account);
    insert(attributes.get(), "accessGroup", item.accessGroup);
    insert(attributes.get(), "synchronizable", flag(item.synchronizable));
    insert(attributes.get(), "accessible", toText(item.accessible));
    insert(attributes.get(), "dataProtection", flag(item.dataProtection));
    // Also an attribute, so that a search reads it back with the others.
    if (!item.label.isEmpty())
        insert(attributes.get(), "label", item.label);
    return attributes;
}

// What the service can narrow a search down by: every attribute the query
// fixes. Keychain::matches() still has the last word on what the service
// returns.
AttributesPtr searchAttributes(const Query& query) {
    AttributesPtr attributes = newAttributes();
    insert(attributes.get(), "class", QStringLiteral("genp"));
    if (query.service)
        insert(attributes.get(), "service", *query.service);
    if (query.account)
        insert(attributes.get(), "account", *query.account);
    if (query.accessGroup)
        insert(attributes.get(), "accessGroup", *query.accessGroup);
    switch (query.synchronizable) {
    case Synchronizable::deviceLocal:
        insert(attributes.get(), "synchronizable", flag(false));
        break;
    case Synchronizable::yes:
        insert(attributes.get(), "synchronizable", flag(true));
        break;
    case Synchronizable::any:
        break;
    }
    insert(attributes.get(), "dataProtection", flag(query.useDataProtection));
    return attributes;
}

// The search that finds the items an add would collide with.
Query primaryKeyQuery(const Item& item) {
    Query query;
    query.service = item.service;
    query.account = item.account;
    query.accessGroup = item.accessGroup;
    query.synchronizable = item.synchronizable ? Synchronizable::yes : Synchronizable::deviceLocal;
    query.useDataProtection = item.dataProtection;
    query.matchLimit = Query::MatchLimit::all;
    return query;
}

// The item's fields but its data, as stored. An item of our schema missing an
// attribute (written by something else) comes out with that field empty and
// fails Keychain::matches() rather than being guessed at.
Item itemFrom(GHashTable* attributes) {
    Item item;
    const auto value = [&](const char* name) {
        const auto* text = static_cast<const char*>(g_hash_table_lookup(attributes, name));
        return text ? QString::fromUtf8(text) : QString();
    };
    item.itemClass = value("class");
    item.service = value("service");
    item.account = value("account");
    item.accessGroup = value("accessGroup");
    item.synchronizable = value("synchronizable") == QLatin1String("1");
    item.accessible =
        accessibilityFromText(value("accessible")).value_or(Accessibility::whenUnlocked);
    item.dataProtection = value("dataProtection") == QLatin1String("1");
    item.label = value("label");
    return item;
}

ValuePtr secretValue(const QByteArray& data) {
    return ValuePtr(secret_value_new(data.constData(), data.size(), dataContentType));
}

// MARK: - Service

// The shared session-bus connection (which libsecret uses too) would
// otherwise end the whole program when the bus goes away; losing the keychain
// is reported per operation instead, as notAvailable.
void keepRunningWithoutBus(GDBusConnection* bus) {
    if (bus)
        g_dbus_connection_set_exit_on_close(bus, FALSE);
}

// The shared connection to the Secret Service, with a session open for
// transferring secrets. libsecret keeps one per process and hands it out from
// any thread.
std::optional<ObjectPtr<SecretService>> connect(Status* status) {
    GError* rawError = nullptr;
    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &rawError);
    ErrorPtr error(rawError);
    if (!service) {
        warn("cannot connect", error.get());
        *status = notAvailable;
        return std::nullopt;
    }
    keepRunningWithoutBus(g_dbus_proxy_get_connection(G_DBUS_PROXY(service)));
    return ObjectPtr<SecretService>(service);
}

// Runs what is queued on the context and returns once nothing is: what the
// service sent before it answered a call is queued by the time the call
// returns.
void runPending(GMainContext* context) {
    while (g_main_context_iteration(context, FALSE)) {
    }
}

// The collection and item proxies an operation makes hear their signals on a
// context of the operation's own, which is run when it ends. On the default
// context their clean-up would wait for the GUI thread's loop, and what an
// operation at the program's end left there would never be freed. Made after
// connect(): the shared service proxy stays on the default context, which the
// GUI thread runs for the life of the process.
class OperationContext {
public:
    OperationContext() : context(g_main_context_new()) {
        g_main_context_push_thread_default(context);
    }
    ~OperationContext() {
        g_main_context_pop_thread_default(context);
        runPending(context);
        g_main_context_unref(context);
    }
    OperationContext(const OperationContext&) = delete;
    OperationContext& operator=(const OperationContext&) = delete;

private:
    GMainContext* context;
};

// Unlocks the objects (items or collections) through the service, which may
// prompt the user. Reports interactionNotAllowed when any stays locked: the
// prompt was dismissed, could not be shown, or the service refused.
Status unlock(SecretService* service, GList* objects, GCancellable* cancellable) {
    GError* rawError = nullptr;
    GList* unlocked = nullptr;
    const gint count =
        secret_service_unlock_sync(service, objects, cancellable, &unlocked, &rawError);
    ErrorPtr error(rawError);
    g_list_free_full(unlocked, g_object_unref);
    if (error) {
        warn("cannot unlock", error.get());
        const Status status = statusFor(error.get(), interactionNotAllowed);
        return status == notAvailable ? notAvailable : interactionNotAllowed;
    }
    if (count < 0 || guint(count) < g_list_length(objects))
        return interactionNotAllowed;
    return success;
}

enum class IfMissing { create, skip };

// The collection new items go into, unlocked. If the service has no default
// collection, only open() asks it to create one (on GNOME Keyring that takes
// a password prompt); an add without one fails with interactionNotAllowed, as
// it does while the collection is locked. Queries skip a missing one: nothing
// can be locked in it.
std::optional<ObjectPtr<SecretCollection>> defaultCollection(SecretService* service,
                                                             IfMissing ifMissing,
                                                             Interaction interaction,
                                                             GCancellable* cancellable,
                                                             Status* status) {
    GError* rawError = nullptr;
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable, &rawError);
    ErrorPtr error(rawError);
    if (error) {
        warn("cannot read the default collection", error.get());
        *status = statusFor(error.get(), notAvailable);
        return std::nullopt;
    }
    if (!collection && ifMissing == IfMissing::skip)
        return ObjectPtr<SecretCollection>();
    if (!collection && interaction == Interaction::none) {
        *status = interactionNotAllowed;
        return std::nullopt;
    }
    if (!collection) {
        collection =
            secret_collection_create_sync(service, "Login", SECRET_COLLECTION_DEFAULT,
                                          SECRET_COLLECTION_CREATE_NONE, cancellable, &rawError);
        error.reset(rawError);
        if (!collection) {
            warn("cannot create a default collection", error.get());
            *status = statusFor(error.get(), interactionNotAllowed);
            return std::nullopt;
        }
    }
    ObjectPtr<SecretCollection> owned(collection);
    if (secret_collection_get_locked(collection)) {
        if (interaction == Interaction::none) {
            *status = interactionNotAllowed;
            return std::nullopt;
        }
        GList objects = {collection, nullptr, nullptr};
        if (const Status unlocked = unlock(service, &objects, cancellable); unlocked != success) {
            *status = unlocked;
            return std::nullopt;
        }
        // The collection's Locked property as it is now, from the
        // operation's own context (never the GUI thread's default one).
        if (GMainContext* own = g_main_context_get_thread_default())
            runPending(own);
        if (secret_collection_get_locked(collection)) {
            *status = interactionNotAllowed;
            return std::nullopt;
        }
    }
    return owned;
}

Item itemFromAttributesReply(GVariant* reply) {
    GVariant* boxed = nullptr;
    g_variant_get(reply, "(v)", &boxed);
    AttributesPtr attributes = newAttributes();
    if (g_variant_is_of_type(boxed, G_VARIANT_TYPE("a{ss}"))) {
        GVariantIter iter;
        const gchar* name = nullptr;
        const gchar* value = nullptr;
        g_variant_iter_init(&iter, boxed);
        while (g_variant_iter_next(&iter, "{&s&s}", &name, &value))
            g_hash_table_replace(attributes.get(), g_strdup(name), g_strdup(value));
    }
    g_variant_unref(boxed);
    return itemFrom(attributes.get());
}

// The secrets of the items at `paths` (NULL-terminated), by path. libsecret
// before 0.21 never frees the reply of this call (some kilobytes a read, for
// good): the reply is taken from the call here and handed to libsecret's own
// decoding as a copy whose end this code sees, and freed here when libsecret
// left it behind. With a libsecret that frees it, nothing is freed twice.
GHashTable* getSecrets(SecretService* service, const gchar** paths, GError** error) {
    // Our own context, as in readAttributes(): only this call's replies run.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    const auto finish = [context] {
        // The tasks' own completions, queued here, run before it goes.
        runPending(context);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    };
    GAsyncResult* result = nullptr;
    secret_service_get_secrets_for_dbus_paths(
        service, paths, nullptr,
        [](GObject*, GAsyncResult* done, gpointer data) {
            *static_cast<GAsyncResult**>(data) = G_ASYNC_RESULT(g_object_ref(done));
        },
        &result);
    while (!result)
        g_main_context_iteration(context, TRUE);
    GVariant* reply = static_cast<GVariant*>(g_task_propagate_pointer(G_TASK(result), error));
    g_object_unref(result);
    if (!reply) {
        if (error && *error) g_dbus_error_strip_remote_error(*error);
        finish();
        return nullptr;
    }
    {
        struct Copy {
            GBytes* serialized;
            bool freed = false;
        } copy{g_variant_get_data_as_bytes(reply)};
        g_variant_unref(reply);
        GBytes* watched = g_bytes_new_with_free_func(
            g_bytes_get_data(copy.serialized, nullptr), g_bytes_get_size(copy.serialized),
            [](gpointer data) {
                auto* ended = static_cast<Copy*>(data);
                g_bytes_unref(ended->serialized);
                ended->freed = true;
            },
            &copy);
        GVariant* answer =
            g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE("(a{o(oayays)})"), watched,
                                                        FALSE));
        g_bytes_unref(watched);
        // What libsecret's finish expects: a task of the service, tagged as
        // its own calls tag it, holding the reply.
        GTask* task = g_task_new(service, nullptr, nullptr, nullptr);
        g_task_set_source_tag(task,
                              reinterpret_cast<gpointer>(&secret_service_get_secret_for_dbus_path));
        g_task_return_pointer(task, answer, reinterpret_cast<GDestroyNotify>(g_variant_unref));
        GHashTable* secrets = secret_service_get_secrets_for_dbus_paths_finish(
            service, G_ASYNC_RESULT(task), error);
        g_object_unref(task);
        finish();
        if (!copy.freed)
            g_variant_unref(answer);
        return secrets;
    }
}

// MARK: - What changed in the service

// The service's change signals (items created, deleted or changed, and the
// collections' own), heard on a context of our own that is run whenever the
// backend looks at them. They tell whether the keychain may have changed
// since a read, and which items' attributes read earlier can still be used:
// the Secret Service has no call that returns the attributes of many items,
// so a read of five hundred items costs five hundred property reads, once.
// Guarded by operationMutex().
struct Watch {
    GMainContext* context = nullptr;
    GDBusConnection* connection = nullptr;
    guint subscription = 0;
    QByteArray owner; // the service's unique name while subscribed
    quint64 changes = 0;
    QHash<QByteArray, Item> attributes; // by item path, without data
    // The paths of every item of our schema, all unlocked, as searched
    // when `changes` was `oursAt`.
    QList<QByteArray> ours;
    std::optional<quint64> oursAt;
    // `changes` when the default collection was last found unlocked (or
    // missing): it still is while the service announces nothing, as
    // locking a collection is announced.
    std::optional<quint64> collectionOpenAt;
};

Watch& watch() {
    static Watch* shared = new Watch; // lives as long as the process
    return *shared;
}

void heardSignal(GDBusConnection*, const gchar*, const gchar*, const gchar* interface,
                 const gchar* member, GVariant* parameters, gpointer) {
    Watch& w = watch();
    ++w.changes;
    const bool itemSignal = g_str_equal(interface, "org.freedesktop.Secret.Collection") &&
                            g_str_has_prefix(member, "Item") &&
                            g_variant_is_of_type(parameters, G_VARIANT_TYPE("(o)"));
    if (itemSignal) {
        const gchar* path = nullptr;
        g_variant_get(parameters, "(&o)", &path);
        w.attributes.remove(QByteArray(path));
    } else if (!g_str_equal(interface, "org.freedesktop.DBus.Properties")) {
        w.attributes.clear(); // a collection came, went or changed
    }
}

// Runs the signals heard so far.
void drainSignals() {
    Watch& w = watch();
    if (w.context)
        runPending(w.context);
}

// Subscribes to the service's signals, again after the service was
// replaced (whatever the old one said is void then). False when no
// subscription holds: nothing read earlier may be trusted.
bool watching(SecretService* service) {
    Watch& w = watch();
    GDBusProxy* proxy = G_DBUS_PROXY(service);
    gchar* rawOwner = g_dbus_proxy_get_name_owner(proxy);
    const QByteArray owner(rawOwner ? rawOwner : "");
    g_free(rawOwner);
    if (owner.isEmpty())
        return false;
    if (w.subscription && owner == w.owner) {
        drainSignals();
        return true;
    }
    if (w.subscription) {
        g_dbus_connection_signal_unsubscribe(w.connection, w.subscription);
        g_clear_object(&w.connection);
        w.subscription = 0;
    }
    w.attributes.clear();
    ++w.changes;
    if (!w.context)
        w.context = g_main_context_new();
    w.connection = G_DBUS_CONNECTION(g_object_ref(g_dbus_proxy_get_connection(proxy)));
    g_main_context_push_thread_default(w.context);
    w.subscription = g_dbus_connection_signal_subscribe(w.connection, owner.constData(), nullptr,
                                                        nullptr, nullptr, nullptr,
                                                        G_DBUS_SIGNAL_FLAGS_NONE, heardSignal,
                                                        nullptr, nullptr);
    g_main_context_pop_thread_default(w.context);
    w.owner = owner;
    return w.subscription != 0;
}

// The attributes of the items, read straight from their objects: plain
// property reads, all sent at once and then awaited, which costs one round
// trip instead of a proxy set-up (several round trips) per item.
Status readAttributesOf(SecretService* service, const QList<QByteArray>& paths,
                        QList<Item>* items) {
    struct Read {
        GDBusConnection* connection;
        int* remaining;
        Status status = success;
        Item item;
    };
    GDBusProxy* proxy = G_DBUS_PROXY(service);
    GDBusConnection* connection = g_dbus_proxy_get_connection(proxy);
    int remaining = 0;
    QList<Read> reads(paths.size(), Read{connection, &remaining, success, {}});

    // Replies are delivered to the context that is the thread's default when
    // the call is made: a private one, so that only these replies run here.
    // The bus limits the replies one connection may await (128 by default),
    // so at most `window` reads are out at a time.
    constexpr int window = 100;
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    const auto send = [&](qsizetype i) {
        ++remaining;
        g_dbus_connection_call(
            connection, g_dbus_proxy_get_name(proxy), paths[i].constData(),
            "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", "org.freedesktop.Secret.Item", "Attributes"),
            G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
            [](GObject*, GAsyncResult* result, gpointer data) {
                auto* read = static_cast<Read*>(data);
                GError* rawError = nullptr;
                GVariant* reply = g_dbus_connection_call_finish(read->connection, result, &rawError);
                ErrorPtr error(rawError);
                if (reply) {
                    read->item = itemFromAttributesReply(reply);
                    g_variant_unref(reply);
                } else {
                    warn("cannot read an item's attributes", error.get());
                    read->status = statusFor(error.get(), notAvailable);
                }
                --*read->remaining;
            },
            &reads[i]);
    };
    qsizetype next = 0;
    while (next < paths.size() || remaining > 0) {
        while (remaining < window && next < paths.size())
            send(next++);
        g_main_context_iteration(context, TRUE);
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);

    items->clear();
    for (const Read& read : std::as_const(reads)) {
        if (read.status != success)
            return read.status;
        items->append(read.item);
    }
    return success;
}

// The attributes of the items: those read before and not changed since
// from memory, the others from the service.
Status readAttributes(SecretService* service, const QList<QByteArray>& paths, QList<Item>* items) {
    Watch& w = watch();
    const bool trusted = watching(service);
    QList<QByteArray> unknown;
    for (const QByteArray& path : paths)
        if (!trusted || !w.attributes.contains(path))
            unknown.append(path);
    QList<Item> read;
    if (const Status status = readAttributesOf(service, unknown, &read); status != success)
        return status;
    if (!trusted) {
        *items = read;
        return success;
    }
    for (qsizetype i = 0; i < unknown.size(); ++i)
        w.attributes.insert(unknown[i], read[i]);
    items->clear();
    items->reserve(paths.size());
    for (const QByteArray& path : paths)
        items->append(w.attributes.value(path));
    // A change heard while reading drops what was just read.
    drainSignals();
    return success;
}

// What a search by these attributes finds: the unlocked items' paths, and
// whether any matching item is locked.
Status search(SecretService* service, GHashTable* attributes, QList<QByteArray>* unlocked,
              QList<QByteArray>* locked) {
    GError* rawError = nullptr;
    gchar** rawUnlocked = nullptr;
    gchar** rawLocked = nullptr;
    const bool searched = secret_service_search_for_dbus_paths_sync(
        service, &itemSchema, attributes, nullptr, &rawUnlocked, &rawLocked, &rawError);
    StrvPtr unlockedPaths(rawUnlocked);
    StrvPtr lockedPaths(rawLocked);
    ErrorPtr error(rawError);
    if (!searched) {
        warn("cannot search", error.get());
        return statusFor(error.get(), notAvailable);
    }
    for (gchar** p = unlockedPaths.get(); p && *p; ++p)
        unlocked->append(QByteArray(*p));
    for (gchar** p = lockedPaths.get(); p && *p; ++p)
        locked->append(QByteArray(*p));
    return success;
}

// Every item of our schema: the unlocked ones' paths, and the locked ones'.
// Kept while the service says nothing changed, when none is locked.
Status searchOurs(SecretService* service, QList<QByteArray>* unlocked, QList<QByteArray>* locked) {
    Watch& w = watch();
    const bool trusted = watching(service);
    const quint64 before = w.changes;
    const AttributesPtr ours = newAttributes();
    insert(ours.get(), "class", QStringLiteral("genp"));
    const Status status = search(service, ours.get(), unlocked, locked);
    drainSignals();
    // A change heard around the search may or may not be in its answer.
    if (status == success && trusted && locked->isEmpty() && w.changes == before) {
        w.ours = *unlocked;
        w.oursAt = before;
    }
    return status;
}

// The paths searchOurs() found, while nothing has changed since.
bool knownOurs(SecretService* service, QList<QByteArray>* paths) {
    Watch& w = watch();
    if (!watching(service) || w.oursAt != w.changes)
        return false;
    *paths = w.ours;
    return true;
}

// The items the query matches. A locked matching item, or nothing found while
// the default collection is locked, is interactionNotAllowed: a locked
// keyring never passes for an empty one, and unlocking is open()'s business.
// One search of all our items serves every query until something changes:
// the attributes of each item come from memory (or one read), and the
// query's own conditions are applied here.
Status findMatching(SecretService* service, const Query& query, QList<Found>* found) {
    QList<QByteArray> paths, locked;
    if (!knownOurs(service, &paths)) {
        if (const Status status = searchOurs(service, &paths, &locked); status != success)
            return status;
    }
    if (!locked.isEmpty()) {
        // Which of the locked items the query names only a narrower search
        // can tell.
        paths.clear();
        locked.clear();
        const AttributesPtr attributes = searchAttributes(query);
        if (const Status status = search(service, attributes.get(), &paths, &locked);
            status != success)
            return status;
    }
    // The search attributes cover every condition of matches(), so a locked
    // result is a matching item we cannot use.
    if (!locked.isEmpty())
        return interactionNotAllowed;

    QList<Item> items;
    if (const Status status = readAttributes(service, paths, &items); status != success)
        return status;
    found->clear();
    for (qsizetype i = 0; i < paths.size(); ++i)
        if (matches(query, items[i]))
            found->append({paths[i], items[i]});
    return found->isEmpty() ? itemNotFound : success;
}

// findMatching(), and nothing found is only itemNotFound while the default
// collection is unlocked. That is checked once while the service announces
// no change: a start asks several questions whose answer is "none" (the
// one-time moves).
Status findMatchingChecked(SecretService* service, const Query& query, QList<Found>* found) {
    const Status status = findMatching(service, query, found);
    if (status != itemNotFound)
        return status;
    Watch& w = watch();
    const bool trusted = watching(service);
    if (trusted && w.collectionOpenAt == w.changes)
        return itemNotFound;
    const quint64 before = w.changes;
    Status checked = success;
    const auto collection =
        defaultCollection(service, IfMissing::skip, Interaction::none, nullptr, &checked);
    drainSignals();
    if (collection && trusted && w.changes == before)
        w.collectionOpenAt = before;
    return collection ? itemNotFound : checked;
}

QByteArray labelOf(const Item& item) {
    return (item.label.isEmpty() ? QStringLiteral("Quillet: %1 %2").arg(item.service, item.account)
                                 : item.label)
        .toUtf8();
}

// gnome-keyring announces no change of an item's secret, only of its other
// properties: writing the label again (unchanged) after the data makes it
// send ItemChanged, so that our other processes see that the item changed.
void announceChange(SecretService* service, const Found& found, GError** error) {
    GDBusProxy* proxy = G_DBUS_PROXY(service);
    GVariant* reply = g_dbus_connection_call_sync(
        g_dbus_proxy_get_connection(proxy), g_dbus_proxy_get_name(proxy), found.path.constData(),
        "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "org.freedesktop.Secret.Item", "Label",
                      g_variant_new_string(labelOf(found.item).constData())),
        nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, error);
    if (reply)
        g_variant_unref(reply);
}

// Replaces the data of each found item.
Status setData(SecretService* service, const QList<Found>& found, const QByteArray& data) {
    const ValuePtr value = secretValue(data);
    for (const Found& each : found) {
        GError* rawError = nullptr;
        ObjectPtr<SecretItem> item(secret_item_new_for_dbus_path_sync(
            service, each.path.constData(), SECRET_ITEM_NONE, nullptr, &rawError));
        if (item && secret_item_set_secret_sync(item.get(), value.get(), nullptr, &rawError))
            announceChange(service, each, &rawError);
        ErrorPtr error(rawError);
        if (error || !item) {
            warn("cannot change an item", error.get());
            return statusFor(error.get(), writeRefused);
        }
    }
    return success;
}

// Creates the item in the collection with one call, without the proxy
// objects libsecret's own create makes: a batch of a thousand items costs a
// thousand calls, not several thousand.
Status createIn(SecretService* service, const char* collectionPath, const Item& item,
                QByteArray* createdPath) {
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    // As libsecret's schema-based calls store it, so that searches find it.
    g_variant_builder_add(&attributes, "{ss}", "xdg:schema", itemSchema.name);
    const AttributesPtr own = attributesOf(item);
    GHashTableIter iter;
    gpointer name = nullptr, text = nullptr;
    g_hash_table_iter_init(&iter, own.get());
    while (g_hash_table_iter_next(&iter, &name, &text))
        g_variant_builder_add(&attributes, "{ss}", static_cast<const char*>(name),
                              static_cast<const char*>(text));
    using PropertiesPtr = std::unique_ptr<GHashTable, HashTableUnref>;
    PropertiesPtr properties(g_hash_table_new_full(
        g_str_hash, g_str_equal, nullptr, reinterpret_cast<GDestroyNotify>(g_variant_unref)));
    g_hash_table_insert(properties.get(), const_cast<char*>("org.freedesktop.Secret.Item.Label"),
                        g_variant_ref_sink(g_variant_new_string(labelOf(item).constData())));
    g_hash_table_insert(properties.get(),
                        const_cast<char*>("org.freedesktop.Secret.Item.Attributes"),
                        g_variant_ref_sink(g_variant_builder_end(&attributes)));
    const ValuePtr value = secretValue(item.data);
    GError* rawError = nullptr;
    gchar* path = secret_service_create_item_dbus_path_sync(service, collectionPath, properties.get(),
                                                            value.get(), SECRET_ITEM_CREATE_NONE,
                                                            nullptr, &rawError);
    ErrorPtr error(rawError);
    if (!path) {
        warn("cannot store an item", error.get());
        return statusFor(error.get(), writeRefused);
    }
    *createdPath = path;
    g_free(path);
    return success;
}

} // namespace

bool SecretServiceBackend::isAvailable() {
    // g_bus_get_sync() fails at once when there is no session bus (no
    // address, nothing listening, no display to autolaunch one on).
    GError* rawError = nullptr;
    ObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
    ErrorPtr error(rawError);
    if (!bus)
        return false;
    keepRunningWithoutBus(bus.get());

    // Owning the name is not enough: ask the service something, with a bound
    // on the wait. The call also starts an activatable service.
    GVariant* reply = g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.secrets", "/org/freedesktop/secrets",
        "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.Secret.Service", "Collections"), nullptr,
        G_DBUS_CALL_FLAGS_NONE, availabilityTimeoutMs, nullptr, &rawError);
    error.reset(rawError);
    if (!reply)
        return false;
    g_variant_unref(reply);

    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &rawError);
    error.reset(rawError);
    if (!service)
        return false;
    g_object_unref(service);
    return true;
}

Status SecretServiceBackend::open() {
    // No operation lock: the prompt may take as long as the user does, and
    // the program's other calls must not wait for it.
    Status status = success;
    const auto service = connect(&status);
    if (!service)
        return status;
    const OperationContext operationContext;
    GCancellable* cancellable = g_cancellable_new();
    {
        QMutexLocker lock(&interactionMutex);
        if (interactionCancelled) {
            g_object_unref(cancellable);
            return interactionNotAllowed;
        }
        g_set_object(&pendingInteraction, cancellable);
    }

    // Our items wherever they are, locked ones unlocked; then the collection
    // new items go into, created if need be.
    QList<QByteArray> unlocked, locked;
    quint64 searchedAt = 0;
    {
        QMutexLocker lock(&operationMutex());
        status = searchOurs(service->get(), &unlocked, &locked);
        searchedAt = watch().changes;
    }
    if (status == success && !locked.isEmpty()) {
        GList* objects = nullptr;
        for (const QByteArray& path : std::as_const(locked)) {
            GError* rawError = nullptr;
            SecretItem* item = secret_item_new_for_dbus_path_sync(
                service->get(), path.constData(), SECRET_ITEM_NONE, cancellable, &rawError);
            ErrorPtr error(rawError);
            if (!item) {
                warn("cannot reach a locked item", error.get());
                status = statusFor(error.get(), interactionNotAllowed);
                break;
            }
            objects = g_list_append(objects, item);
        }
        if (status == success)
            status = unlock(service->get(), objects, cancellable);
        g_list_free_full(objects, g_object_unref);
    }
    if (status == success &&
        defaultCollection(service->get(), IfMissing::create, Interaction::allowed, cancellable,
                          &status)) {
        // Open, and nothing announced since the search: the reads that
        // follow need not ask again.
        QMutexLocker lock(&operationMutex());
        if (watching(service->get()) && watch().changes == searchedAt)
            watch().collectionOpenAt = searchedAt;
    }

    QMutexLocker lock(&interactionMutex);
    g_clear_object(&pendingInteraction);
    g_object_unref(cancellable);
    return status;
}

void SecretServiceBackend::cancelInteraction() {
    QMutexLocker lock(&interactionMutex);
    interactionCancelled = true;
    if (pendingInteraction)
        g_cancellable_cancel(pendingInteraction);
}

Status SecretServiceBackend::add(const Item& item) {
    QMutexLocker lock(&operationMutex());
    Status status = success;
    const auto service = connect(&status);
    if (!service)
        return status;
    const OperationContext operationContext;

    QList<Found> existing;
    status = findMatchingChecked(service->get(), primaryKeyQuery(item), &existing);
    if (status != success && status != itemNotFound)
        return status;
    for (const Found& other : std::as_const(existing))
        if (samePrimaryKey(other.item, item))
            return duplicateItem;

    const auto collection =
        defaultCollection(service->get(), IfMissing::create, Interaction::none, nullptr, &status);
    if (!collection)
        return status;
    const AttributesPtr attributes = attributesOf(item);
    const QByteArray label = labelOf(item);
    const ValuePtr value = secretValue(item.data);
    GError* rawError = nullptr;
    ObjectPtr<SecretItem> created(
        secret_item_create_sync(collection->get(), &itemSchema, attributes.get(), label.constData(),
                                value.get(), SECRET_ITEM_CREATE_NONE, nullptr, &rawError));
    ErrorPtr error(rawError);
    if (!created) {
        warn("cannot store an item", error.get());
        return statusFor(error.get(), writeRefused);
    }
    return success;
}

Status SecretServiceBackend::update(const Query& query, const QByteArray& data) {
    QMutexLocker lock(&operationMutex());
    Status status = success;
    const auto service = connect(&status);
    if (!service)
        return status;
    const OperationContext operationContext;

    QList<Found> found;
    status = findMatchingChecked(service->get(), query, &found);
    if (status != success)
        return status;
    return setData(service->get(), found, data);
}

QList<Status> SecretServiceBackend::upsert(const QList<Upsert>& writes, const Progress& progress) {
    Status status = success;
    const auto service = connect(&status);
    if (!service)
        return QList<Status>(writes.size(), status);
    const OperationContext operationContext;
    // The collection new items go into, looked up once for the batch: a
    // locked or missing one fails every write at once, as it would each.
    // Only its path is kept: its proxy would parse the collection's whole
    // item list again on every change the batch makes.
    QByteArray collectionPath;
    {
        const auto collection = defaultCollection(service->get(), IfMissing::create,
                                                  Interaction::none, nullptr, &status);
        if (!collection)
            return QList<Status>(writes.size(), status);
        collectionPath = g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection->get()));
    }

    // One search for every item the batch may touch: what the queries have
    // in common. The service searches by going through all its items, so a
    // search per write would make a large import take minutes.
    Query common;
    common.synchronizable = Synchronizable::any;
    if (!writes.isEmpty()) {
        const Query& first = writes.first().query;
        common.service = first.service;
        common.accessGroup = first.accessGroup;
        common.useDataProtection = first.useDataProtection;
        for (const Upsert& write : writes) {
            if (write.query.service != common.service) common.service.reset();
            if (write.query.accessGroup != common.accessGroup) common.accessGroup.reset();
            if (write.query.useDataProtection != common.useDataProtection)
                return Backend::upsert(writes, progress); // they share nothing worth a search
        }
    }
    QList<Found> candidates;
    {
        QMutexLocker lock(&operationMutex());
        status = findMatching(service->get(), common, &candidates);
    }
    if (status != success && status != itemNotFound)
        return QList<Status>(writes.size(), status);

    QList<Status> statuses;
    statuses.reserve(writes.size());
    for (const Upsert& write : writes) {
        // Item by item, so that the program's other calls wait for one write
        // at most, never for the whole batch.
        QMutexLocker lock(&operationMutex());
        QList<Found> found;
        bool collides = false;
        for (const Found& candidate : std::as_const(candidates)) {
            if (matches(write.query, candidate.item))
                found.append(candidate);
            collides = collides || samePrimaryKey(candidate.item, write.item);
        }
        Status one = success;
        if (!found.isEmpty()) {
            one = setData(service->get(), found, write.item.data);
        } else if (collides) {
            one = duplicateItem;
        } else {
            QByteArray path;
            one = createIn(service->get(), collectionPath.constData(), write.item, &path);
            if (one == success) {
                Item created = write.item;
                created.data.clear();
                candidates.append({path, created}); // a later write of it updates it
            }
        }
        statuses.append(one);
        lock.unlock();
        if (progress && !progress(statuses))
            break;
    }
    while (statuses.size() < writes.size())
        statuses.append(userCanceled);
    return statuses;
}

Status SecretServiceBackend::copyMatching(const Query& query, Results* results) {
    QMutexLocker lock(&operationMutex());
    Status status = success;
    const auto service = connect(&status);
    if (!service)
        return status;
    const OperationContext operationContext;

    QList<Found> found;
    status = findMatchingChecked(service->get(), query, &found);
    if (status != success)
        return status;
    if (query.matchLimit == Query::MatchLimit::one)
        found = found.first(1);

    // Secrets are fetched only for the items handed back, in one request.
    using SecretsPtr = std::unique_ptr<GHashTable, HashTableUnref>;
    SecretsPtr secrets;
    if (query.returnData) {
        QList<const gchar*> paths;
        for (const Found& each : std::as_const(found))
            paths.append(each.path.constData());
        paths.append(nullptr);
        GError* rawError = nullptr;
        secrets.reset(getSecrets(service->get(), paths.data(), &rawError));
        ErrorPtr error(rawError);
        if (!secrets) {
            warn("cannot read the items' data", error.get());
            return statusFor(error.get(), decodeFailed);
        }
    }
    Results out;
    for (const Found& each : std::as_const(found)) {
        Item item = each.item;
        if (query.returnData) {
            auto* value = static_cast<SecretValue*>(
                g_hash_table_lookup(secrets.get(), each.path.constData()));
            if (!value) {
                warn("cannot read an item's data", nullptr);
                return decodeFailed;
            }
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            item.data = QByteArray(bytes, qsizetype(length));
        }
        out.append(returned(query, item));
    }
    if (results)
        *results = out;
    return success;
}

void SecretServiceBackend::forgetReadAttributes() {
    QMutexLocker lock(&operationMutex());
    watch().attributes.clear();
}

std::optional<QByteArray> SecretServiceBackend::changeStamp() {
    QMutexLocker lock(&operationMutex());
    Status status = success;
    const auto service = connect(&status);
    if (!service || !watching(service->get()))
        return std::nullopt;
    return watch().owner + ' ' + QByteArray::number(watch().changes);
}

Status SecretServiceBackend::remove(const Query& query) {
    QMutexLocker lock(&operationMutex());
    Status status = success;
    const auto service = connect(&status);
    if (!service)
        return status;
    const OperationContext operationContext;

    QList<Found> found;
    status = findMatchingChecked(service->get(), query, &found);
    if (status != success)
        return status;
    for (const Found& each : std::as_const(found)) {
        GError* rawError = nullptr;
        secret_service_delete_item_dbus_path_sync(service->get(), each.path.constData(), nullptr,
                                                  &rawError);
        ErrorPtr error(rawError);
        if (error) {
            warn("cannot delete an item", error.get());
            return statusFor(error.get(), writeRefused);
        }
    }
    return success;
}

} // namespace Keychain
