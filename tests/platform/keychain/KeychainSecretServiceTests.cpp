// Runs against a real gnome-keyring in the private session of
// tests/with-session.sh, never the user's own.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "platform/keychain/KeychainSecretService.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <functional>
#include <future>
#include <thread>
#include <vector>

using namespace Keychain;

namespace {

Item item(const QString& account, const QByteArray& data, bool synchronizable = false,
          bool dataProtection = false, const QString& group = QStringLiteral("group.a")) {
    Item out;
    out.service = QStringLiteral("com.example.otp");
    out.account = account;
    out.accessGroup = group;
    out.synchronizable = synchronizable;
    out.dataProtection = dataProtection;
    out.data = data;
    return out;
}

Query query(std::optional<QString> account,
            Synchronizable synchronizable = Synchronizable::deviceLocal,
            bool dataProtection = false) {
    Query q;
    q.service = QStringLiteral("com.example.otp");
    q.account = std::move(account);
    q.synchronizable = synchronizable;
    q.useDataProtection = dataProtection;
    q.matchLimit = Query::MatchLimit::all;
    q.returnData = true;
    q.returnAttributes = true;
    return q;
}

// The data of what the query finds, sorted: the service's order is its own.
QList<QByteArray> dataFound(SecretServiceBackend& keychain, const Query& q) {
    Results results;
    const Status status = keychain.copyMatching(q, &results);
    QList<QByteArray> data;
    if (status != success)
        return data;
    for (const Item& found : results)
        data.append(found.data);
    std::sort(data.begin(), data.end());
    return data;
}

GList* defaultCollectionList(SecretService* service) {
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_LOAD_ITEMS, nullptr, nullptr);
    return collection ? g_list_append(nullptr, collection) : nullptr;
}

// Unlocks a gnome-keyring collection without a prompt, through the interface
// its own login integration uses, with the password tests/with-session.sh
// gave it, so that later tests find it unlocked.
bool unlockWithPassword(const char* collection, const QByteArray& password) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return false;
    const auto call = [&](const char* path, const char* interface, const char* method,
                          GVariant* args) {
        return g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", path, interface, method,
                                           args, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
                                           nullptr);
    };
    GVariant* opened =
        call("/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "OpenSession",
             g_variant_new("(sv)", "plain", g_variant_new_string("")));
    GVariant* reply = nullptr;
    if (opened) {
        const char* session = nullptr;
        g_variant_get_child(opened, 1, "&o", &session);
        const auto bytes = [](const QByteArray& data) {
            return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, data.constData(), data.size(), 1);
        };
        reply = call("/org/freedesktop/secrets",
                     "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                     "UnlockWithMasterPassword",
                     g_variant_new("(o(o@ay@ays))", collection, session, bytes({}), bytes(password),
                                   "text/plain"));
        if (GVariant* closed = call(session, "org.freedesktop.Secret.Session", "Close", nullptr))
            g_variant_unref(closed);
        g_variant_unref(opened);
    }
    if (reply)
        g_variant_unref(reply);
    g_object_unref(bus);
    return reply != nullptr;
}

// Counts the calls of one method that anyone sends to the Secret Service,
// watching the private bus the way dbus-monitor does.
class CallCounter {
public:
    explicit CallCounter(const char* member) {
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        m_bus = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_free(address);
        if (!m_bus)
            return;
        m_rule = QByteArray("type='method_call',member='") + member + "'";
        g_dbus_connection_add_filter(
            m_bus,
            [](GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) {
                if (incoming && g_dbus_message_get_message_type(message) ==
                                    G_DBUS_MESSAGE_TYPE_METHOD_CALL)
                    ++*static_cast<std::atomic<int>*>(data);
                return message;
            },
            &m_count, nullptr);
        const char* rules[] = {m_rule.constData(), nullptr};
        GVariant* reply = g_dbus_connection_call_sync(
            m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
            g_variant_new("(^asu)", rules, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            &error);
        m_monitoring = reply != nullptr;
        if (reply)
            g_variant_unref(reply);
        if (error)
            qWarning("cannot monitor the bus: %s", error->message);
        g_clear_error(&error);
    }
    ~CallCounter() {
        if (m_bus) {
            g_dbus_connection_close_sync(m_bus, nullptr, nullptr);
            g_object_unref(m_bus);
        }
    }
    bool monitoring() const { return m_monitoring; }
    // Calls seen so far; waits a moment for messages still on their way.
    int count() {
        QTest::qWait(200);
        return m_count;
    }
    // Whether `calls` calls come (the monitor hears them on a thread of its own).
    bool reaches(int calls) {
        return QTest::qWaitFor([&] { return m_count >= calls; }, QUILLET_TEST_WAIT_MS);
    }

private:
    GDBusConnection* m_bus = nullptr;
    QByteArray m_rule;
    bool m_monitoring = false;
    std::atomic<int> m_count = 0;
};

// The other side of the cross-process tests and of the test without a bus. Prints only statuses, never item data.
int child(const QStringList& args) {
    SecretServiceBackend keychain;
    const QString mode = args.value(1);
    if (mode == QLatin1String("--child-add")) {
        std::printf("%d\n", keychain.add(item(args.value(2),
                                              QByteArray::fromHex(args.value(3).toLatin1()))));
        return 0;
    }
    if (mode == QLatin1String("--child-expect")) {
        const QList<QByteArray> found = dataFound(keychain, query(args.value(2)));
        return found == QList<QByteArray>{QByteArray::fromHex(args.value(3).toLatin1())} ? 0 : 1;
    }
    if (mode == QLatin1String("--child-statuses")) {
        QElapsedTimer timer;
        timer.start();
        const bool available = SecretServiceBackend::isAvailable();
        std::printf("%d %lld", int(available), qint64(timer.elapsed()));
        Results results;
        const Query q = query(QStringLiteral("alice"));
        std::printf(" %d %d %d %d\n", keychain.add(item(QStringLiteral("alice"), "x")),
                    keychain.update(q, "y"), keychain.copyMatching(q, &results),
                    keychain.remove(q));
        return 0;
    }
    return 2;
}

// The sources attached to the default main context (the one the GUI thread
// runs) from the moment a mark was taken: a probe attached and removed at
// once takes the context's next source id, and ids are handed out in turn.
class DefaultContextSources {
public:
    DefaultContextSources() : m_mark(probe()) {}

    // The names of those still waiting to run.
    QStringList waiting() const {
        const guint now = probe();
        QStringList names;
        for (guint id = m_mark + 1; id < now; ++id)
            if (GSource* source = g_main_context_find_source_by_id(nullptr, id)) {
                const char* name = g_source_get_name(source);
                names << QString::fromUtf8(name ? name : "(unnamed)");
            }
        return names;
    }

private:
    static guint probe() {
        GSource* source = g_idle_source_new();
        const guint id = g_source_attach(source, nullptr);
        g_source_destroy(source);
        g_source_unref(source);
        return id;
    }

    guint m_mark;
};

} // namespace

class KeychainSecretServiceTests : public QObject {
    Q_OBJECT

    SecretServiceBackend keychain;

private slots:
    void initTestCase() {
        // Refuse to touch a keyring that is not the throwaway one.
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_SESSION"))
            QFAIL("run through tests/with-session.sh");
        QVERIFY(SecretServiceBackend::isAvailable());
    }

    void init() {
        for (const bool dataProtection : {false, true}) {
            Query everything;
            everything.synchronizable = Synchronizable::any;
            everything.useDataProtection = dataProtection;
            const Status status = keychain.remove(everything);
            QVERIFY(status == success || status == itemNotFound);
        }
    }

    void addDuplicateUpdateRemove() {
        Query alice = query(QStringLiteral("alice"));
        QCOMPARE(keychain.copyMatching(alice, nullptr), itemNotFound);
        QCOMPARE(keychain.update(alice, "new"), itemNotFound);
        QCOMPARE(keychain.remove(alice), itemNotFound);

        QCOMPARE(keychain.add(item(QStringLiteral("alice"), "one")), success);
        QCOMPARE(keychain.add(item(QStringLiteral("alice"), "two")), duplicateItem);
        // Another access group is another entry.
        QCOMPARE(keychain.add(item(QStringLiteral("alice"), "three", false, false, "group.b")),
                 success);
        QCOMPARE(dataFound(keychain, alice), (QList<QByteArray>{"one", "three"}));

        alice.accessGroup = QStringLiteral("group.b");
        QCOMPARE(keychain.update(alice, "changed"), success);
        alice.accessGroup.reset();
        QCOMPARE(dataFound(keychain, alice), (QList<QByteArray>{"changed", "one"}));

        QCOMPARE(keychain.remove(alice), success);
        QCOMPARE(keychain.copyMatching(alice, nullptr), itemNotFound);
    }

    void matchLimitAndWhatIsReturned() {
        Item stored = item(QStringLiteral("bob"), "secret-b");
        stored.accessible = Accessibility::afterFirstUnlock;
        QCOMPARE(keychain.add(stored), success);
        QCOMPARE(keychain.add(item(QStringLiteral("carol"), "secret-c")), success);

        Query all = query(std::nullopt);
        QCOMPARE(dataFound(keychain, all).size(), 2);
        all.matchLimit = Query::MatchLimit::one;
        QCOMPARE(dataFound(keychain, all).size(), 1);

        for (const bool attributes : {false, true})
            for (const bool data : {false, true}) {
                Query bob = query(QStringLiteral("bob"));
                bob.matchLimit = Query::MatchLimit::one;
                bob.returnAttributes = attributes;
                bob.returnData = data;
                Results results;
                QCOMPARE(keychain.copyMatching(bob, &results), success);
                QCOMPARE(results, Results{returned(bob, stored)});
            }
    }

    void synchronizableAndDataProtectionAreSeparate() {
        QCOMPARE(keychain.add(item(QStringLiteral("dan"), "local")), success);
        QCOMPARE(keychain.add(item(QStringLiteral("dan"), "synced", true)), success);
        QCOMPARE(keychain.add(item(QStringLiteral("dan"), "protected", false, true)), success);
        QCOMPARE(keychain.add(item(QStringLiteral("dan"), "dup", true)), duplicateItem);

        const QString dan = QStringLiteral("dan");
        QCOMPARE(dataFound(keychain, query(dan)), QList<QByteArray>{"local"});
        QCOMPARE(dataFound(keychain, query(dan, Synchronizable::yes)), QList<QByteArray>{"synced"});
        QCOMPARE(dataFound(keychain, query(dan, Synchronizable::any)),
                 (QList<QByteArray>{"local", "synced"}));
        QCOMPARE(dataFound(keychain, query(dan, Synchronizable::any, true)),
                 QList<QByteArray>{"protected"});

        QCOMPARE(keychain.update(query(dan, Synchronizable::yes), "synced 2"), success);
        QCOMPARE(keychain.remove(query(dan)), success);
        QCOMPARE(dataFound(keychain, query(dan, Synchronizable::any)),
                 QList<QByteArray>{"synced 2"});
        QCOMPARE(dataFound(keychain, query(dan, Synchronizable::any, true)),
                 QList<QByteArray>{"protected"});
    }

    void binaryDataRoundTrips() {
        QByteArray bytes;
        for (int i = 0; i < 256; ++i)
            bytes.append(char(255 - i)); // NULs, invalid UTF-8, ends in NUL
        QCOMPARE(keychain.add(item(QStringLiteral("erin"), bytes)), success);
        QCOMPARE(keychain.add(item(QStringLiteral("frank"), QByteArray())), success);
        QCOMPARE(dataFound(keychain, query(QStringLiteral("erin"))), QList<QByteArray>{bytes});
        QCOMPARE(dataFound(keychain, query(QStringLiteral("frank"))),
                 QList<QByteArray>{QByteArray()});
    }

    // What other programs see: our schema's attributes in the default
    // collection, labelled for people browsing their keyring.
    void storedInTheDefaultCollection() {
        QCOMPARE(keychain.add(item(QStringLiteral("gina"), "g", true, true)), success);
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
        QVERIFY(service);
        GList* collections = defaultCollectionList(service);
        QVERIFY(collections);
        GList* items = secret_collection_get_items(SECRET_COLLECTION(collections->data));
        QCOMPARE(g_list_length(items), 1u);
        SecretItem* stored = SECRET_ITEM(items->data);
        GHashTable* attributes = secret_item_get_attributes(stored);
        const auto attribute = [&](const char* name) {
            return QByteArray(static_cast<const char*>(g_hash_table_lookup(attributes, name)));
        };
        char* label = secret_item_get_label(stored);
        QCOMPARE(QByteArray(label), "Quillet: com.example.otp gina");
        QCOMPARE(attribute("xdg:schema"), "com.tarnwick.Quillet.KeychainItem");
        QCOMPARE(attribute("synchronizable"), "1");
        QCOMPARE(attribute("dataProtection"), "1");
        QCOMPARE(attribute("accessible"), "whenUnlocked");
        g_free(label);
        g_hash_table_unref(attributes);
        g_list_free_full(items, g_object_unref);
        g_list_free_full(collections, g_object_unref);
        g_object_unref(service);
    }

    void anotherProcessSharesTheItems() {
        const QByteArray mine("\x00mine", 5), theirs("their\x00s", 7);
        QCOMPARE(keychain.add(item(QStringLiteral("hank"), mine)), success);
        QCOMPARE(TestSupport::runSelf({"--child-expect", "hank", mine.toHex()}), 0);
        QByteArray status;
        QCOMPARE(TestSupport::runSelf({"--child-add", "ivy", theirs.toHex()}, &status), 0);
        QCOMPARE(status.trimmed().toInt(), int(success));
        QCOMPARE(dataFound(keychain, query(QStringLiteral("ivy"))), QList<QByteArray>{theirs});
        QCOMPARE(TestSupport::runSelf({"--child-add", "ivy", theirs.toHex()}, &status), 0);
        QCOMPARE(status.trimmed().toInt(), int(duplicateItem));
    }

    void concurrentAddsOfOneItemLeaveOne() {
        for (int round = 0; round < 5; ++round) {
            const Item same = item(QStringLiteral("jack %1").arg(round), "j");
            auto first = std::async(std::launch::async, [&] { return keychain.add(same); });
            auto second = std::async(std::launch::async, [&] { return keychain.add(same); });
            QList<Status> statuses{first.get(), second.get()};
            std::sort(statuses.begin(), statuses.end());
            QCOMPARE(statuses, (QList<Status>{duplicateItem, success}));
        }
    }

    // Without a prompter on the private bus, unlocking cannot succeed. The
    // items are still there; they must not look missing.
    void lockedKeyringIsAnErrorNotEmpty() {
        QCOMPARE(keychain.add(item(QStringLiteral("kim"), "k")), success);
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
        QVERIFY(service);
        GList* collections = defaultCollectionList(service);
        QCOMPARE(secret_service_lock_sync(service, collections, nullptr, nullptr, nullptr), 1);

        const Query kim = query(QStringLiteral("kim"));
        const Query nobody = query(QStringLiteral("nobody"));
        Results results;
        const QList<Status> statuses{
            keychain.copyMatching(kim, &results),
            keychain.copyMatching(nobody, &results),
            keychain.update(kim, "x"),
            keychain.remove(nobody),
            keychain.add(item(QStringLiteral("lee"), "l")),
        };

        const bool unlocked = unlockWithPassword(
            g_dbus_proxy_get_object_path(G_DBUS_PROXY(collections->data)), "test");
        g_list_free_full(collections, g_object_unref);
        g_object_unref(service);

        QVERIFY(unlocked);
        QCOMPARE(statuses, QList<Status>(5, interactionNotAllowed));
        QVERIFY(results.isEmpty());
        QCOMPARE(dataFound(keychain, kim), QList<QByteArray>{"k"});
        QCOMPARE(keychain.copyMatching(query(QStringLiteral("lee")), nullptr), itemNotFound);
    }

    // A write on a locked keyring fails at once, never waiting for a prompt:
    // only open() asks the service to unlock, which here (no prompter on the
    // private bus) fails; after the keyring is unlocked open() succeeds and
    // nothing asks again.
    void onlyOpenAsksToUnlock() {
        QCOMPARE(keychain.add(item(QStringLiteral("mia"), "m")), success);
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
        QVERIFY(service);
        GList* collections = defaultCollectionList(service);
        QCOMPARE(secret_service_lock_sync(service, collections, nullptr, nullptr, nullptr), 1);
        // Unlocked again whatever happens here: the next tests need it.
        const auto unlockAgain = qScopeGuard([&] {
            unlockWithPassword(g_dbus_proxy_get_object_path(G_DBUS_PROXY(collections->data)),
                               "test");
            g_list_free_full(collections, g_object_unref);
            g_object_unref(service);
        });
        CallCounter unlocks("Unlock");
        QVERIFY(unlocks.monitoring());

        const Query mia = query(QStringLiteral("mia"));
        Results results;
        QElapsedTimer timer;
        timer.start();
        const QList<Status> statuses{
            keychain.copyMatching(mia, &results),
            keychain.update(mia, "x"),
            keychain.remove(mia),
            keychain.add(item(QStringLiteral("ned"), "n")),
        };
        const QList<Status> batch = keychain.upsert({{mia, item(QStringLiteral("mia"), "y")}});
        const qint64 took = timer.elapsed();
        QCOMPARE(statuses, QList<Status>(4, interactionNotAllowed));
        QCOMPARE(batch, QList<Status>{interactionNotAllowed});
        QCOMPARE(unlocks.count(), 0);
        // Nothing waited on a prompt (D-Bus gives up on a call after 25 s).
        QVERIFY2(took < 15000, QByteArray::number(took));

        QCOMPARE(keychain.open(), interactionNotAllowed);
        QVERIFY(unlocks.reaches(1));

        QVERIFY(unlockWithPassword(
            g_dbus_proxy_get_object_path(G_DBUS_PROXY(collections->data)), "test"));
        const int before = unlocks.count();
        QCOMPARE(keychain.open(), success);
        QCOMPARE(unlocks.count(), before);
        QCOMPARE(dataFound(keychain, mia), QList<QByteArray>{"m"});
    }

    // A batch: one status per write, new items created, existing ones
    // updated, and all of them found afterwards like any other item.
    void batchWrites() {
        QCOMPARE(keychain.add(item(QStringLiteral("existing"), "old")), success);
        QList<Upsert> batch;
        for (int i = 0; i < 60; ++i) {
            const QString account = QStringLiteral("batch %1").arg(i);
            batch.append({query(account), item(account, QByteArray::number(i))});
        }
        batch.append({query(QStringLiteral("existing")), item(QStringLiteral("existing"), "new")});
        Query elsewhere = query(QStringLiteral("existing"));
        elsewhere.accessGroup = QStringLiteral("group.b");
        batch.append({elsewhere, item(QStringLiteral("existing"), "collides")});
        const QList<Status> statuses = keychain.upsert(batch);
        QCOMPARE(statuses.size(), 62);
        QCOMPARE(statuses.count(success), 61);
        QCOMPARE(statuses.last(), duplicateItem);
        QCOMPARE(dataFound(keychain, query(QStringLiteral("existing"))), QList<QByteArray>{"new"});
        QCOMPARE(dataFound(keychain, query(QStringLiteral("batch 59"))), QList<QByteArray>{"59"});
        QCOMPARE(dataFound(keychain, query(std::nullopt)).size(), 61);
        // Another program sees them as ours too.
        QCOMPARE(TestSupport::runSelf({"--child-expect", "batch 7", QByteArray("7").toHex()}), 0);
    }

    // The keychain's calls run on a thread of their own (the program's
    // serial queue), whose glib default is the GUI thread's context. What an
    // operation makes there (the collection and item proxies, their signal
    // subscriptions) must be done with when it returns: on the GUI thread's
    // context it would wait for that thread's loop, and be left unfreed by
    // an operation at the program's end.
    void anOperationLeavesNothingForTheGuiThreadsContext() {
        const auto onWorker = [](const std::function<bool()>& operation) {
            bool done = false;
            std::thread worker([&] { done = operation(); });
            worker.join();
            return done;
        };
        // The shared service connection and its subscriptions are made once
        // and stay with the GUI thread's context; that one is run here first.
        QVERIFY(onWorker(
            [&] { return keychain.copyMatching(query(std::nullopt), nullptr) == itemNotFound; }));
        while (g_main_context_iteration(nullptr, FALSE)) {
        }

        const Query olga = query(QStringLiteral("olga"));
        const std::vector<std::pair<const char*, std::function<bool()>>> operations{
            {"open", [&] { return keychain.open() == success; }},
            {"add", [&] { return keychain.add(item(QStringLiteral("olga"), "o")) == success; }},
            {"update", [&] { return keychain.update(olga, "p") == success; }},
            {"copyMatching", [&] { return dataFound(keychain, olga) == QList<QByteArray>{"p"}; }},
            {"upsert",
             [&] {
                 return keychain.upsert({{olga, item(QStringLiteral("olga"), "q")},
                                         {query(QStringLiteral("pia")),
                                          item(QStringLiteral("pia"), "r")}}) ==
                        QList<Status>{success, success};
             }},
            {"remove", [&] { return keychain.remove(olga) == success; }},
        };
        QStringList leftBehind;
        for (const auto& [name, operation] : operations) {
            const DefaultContextSources sources;
            QVERIFY2(onWorker(operation), name);
            if (const QStringList left = sources.waiting(); !left.isEmpty())
                leftBehind << QStringLiteral("%1: %2").arg(QLatin1String(name), left.join(", "));
        }
        QVERIFY2(leftBehind.isEmpty(), qPrintable(leftBehind.join("; ")));
    }

    // A missing bus and a bus without the service fail alike, in libsecret's
    // first call; neither may look like an empty keychain.
    void noSessionBusIsAnErrorNotEmpty() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        QByteArray output;
        QCOMPARE(TestSupport::runSelf({"--child-statuses"}, &output, env), 0);
        const QList<QByteArray> fields = output.trimmed().split(' ');
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields[0], "0"); // not available
        QVERIFY2(fields[1].toInt() < 3000, fields[1]); // milliseconds isAvailable() took
        for (const QByteArray& status : fields.mid(2))
            QCOMPARE(status.toInt(), int(notAvailable));
    }
};

int main(int argc, char** argv) {
    if (argc > 1 && QByteArray(argv[1]).startsWith("--child-")) {
        QCoreApplication app(argc, argv);
        return child(app.arguments());
    }
    QCoreApplication app(argc, argv);
    TestSupport::Guarded<KeychainSecretServiceTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "KeychainSecretServiceTests.moc"
