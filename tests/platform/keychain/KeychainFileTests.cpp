#include "platform/keychain/KeychainFile.h"
#include "tests/support/TestMain.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <functional>
#include <atomic>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Keychain;

namespace {

const QString adderRole = QStringLiteral("--keychain-adder");
const QString rewriterRole = QStringLiteral("--keychain-rewriter");
// Enough interleaved writers' turns to lose one if the lock let two in, few
// enough that every write's flush to disk fits a loaded, sanitized run.
constexpr int addsPerWriter = 40;

Item item(const QString& service, const QString& account, const QByteArray& data,
          bool synchronizable = false, bool dataProtection = false) {
    Item i;
    i.service = service;
    i.account = account;
    i.accessGroup = QStringLiteral("group");
    i.synchronizable = synchronizable;
    i.dataProtection = dataProtection;
    i.data = data;
    return i;
}

Query query(std::optional<QString> service, std::optional<QString> account = {},
            Synchronizable sync = Synchronizable::any, bool all = true) {
    Query q;
    q.service = std::move(service);
    q.account = std::move(account);
    q.synchronizable = sync;
    q.matchLimit = all ? Query::MatchLimit::all : Query::MatchLimit::one;
    q.returnAttributes = q.returnData = true;
    return q;
}

// Failure messages name items by attributes and a digest of the data, never the data.
QStringList describe(const Results& results) {
    QStringList out;
    for (const Item& i : results)
        out << QStringLiteral("%1/%2/%3/%4/%5/%6/%7/%8")
                   .arg(i.itemClass, i.service, i.account, i.accessGroup)
                   .arg(i.synchronizable)
                   .arg(int(i.accessible))
                   .arg(i.dataProtection)
                   .arg(QCryptographicHash::hash(i.data, QCryptographicHash::Sha256)
                            .toHex()
                            .left(8));
    return out;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QStringList leftovers(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.tmp-*")}, QDir::Files | QDir::Hidden);
}

// Runs `write` with the process's file size limit at `bytes`: writes past it
// fail (SIGXFSZ ignored, as EFBIG).
template <typename Write> auto withFileSizeLimit(qint64 bytes, Write write) {
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit limited{rlim_t(bytes), old.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const auto result = write();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

QByteArray generation(int g) {
    return (QByteArray::number(g) + ':').leftJustified(4096, char('a' + g % 26));
}

// Child process: adds 100 items of its own, updating every third right away.
int runAdder(const QString& path, const QString& worker) {
    FileBackend backend(path);
    for (int i = 0; i < addsPerWriter; ++i) {
        const QString account = worker + '-' + QString::number(i);
        Status status = backend.add(item(QStringLiteral("race"), account, account.toUtf8()));
        if (status == success && i % 3 == 0)
            status = backend.update(query(QStringLiteral("race"), account), "updated");
        if (status != success) {
            std::fprintf(stderr, "status %d at %d\n", int(status), i);
            return 2;
        }
    }
    return 0;
}

// Child process: rewrites all "big" items with generation after generation and
// reports each one written, until killed.
int runRewriter(const QString& path, int first) {
    FileBackend backend(path);
    QElapsedTimer timer;
    timer.start();
    for (int g = first; timer.elapsed() < 20000; ++g) {
        if (backend.update(query(QStringLiteral("big")), generation(g)) != success) return 2;
        std::printf("%d\n", g);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

class KeychainFileTests : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path;
    int runs = 0;

private slots:
    // A folder of its own per test and data row; it does not exist yet.
    void init() { path = dir.filePath(QStringLiteral("%1/keychain.json").arg(++runs)); }

    // Every step runs against the in-memory reference and against a fresh
    // FileBackend on the same file, so what is compared went through the file.
    void behavesLikeMemoryBackend() {
        const QString s1 = QStringLiteral("s1"), s2 = QStringLiteral("s2");
        const QString alice = QStringLiteral("alice"), bob = QStringLiteral("bob");
        Item binary = item(s2, alice, QByteArray("\0\xff\n\"\\=", 6));
        binary.accessible = Accessibility::afterFirstUnlock;
        Item otherClass = item(s1, alice, "x");
        otherClass.itemClass = QStringLiteral("inet");
        Item emptyGroup = item(s1, QStringLiteral("carol"), QByteArray());
        emptyGroup.accessGroup.clear();
        Query attributesOnly = query({}, alice, Synchronizable::any);
        attributesOnly.useDataProtection = true;
        attributesOnly.returnData = false;
        Query nothingAsked = query(s2);
        nothingAsked.returnAttributes = nothingAsked.returnData = false;
        Query byGroup = query({});
        byGroup.accessGroup = QString();

        using Step = std::function<Status(Backend&, Results*)>;
        const auto add = [](Item i) {
            return Step([i](Backend& b, Results*) { return b.add(i); });
        };
        const auto copy = [](Query q) {
            return Step([q](Backend& b, Results* r) { return b.copyMatching(q, r); });
        };
        const auto update = [](Query q, QByteArray d) {
            return Step([=](Backend& b, Results*) { return b.update(q, d); });
        };
        const auto remove = [](Query q) {
            return Step([q](Backend& b, Results*) { return b.remove(q); });
        };
        const QList<Step> steps = {
            copy(query({})),
            update(query({}), "x"),
            remove(query({})),
            add(item(s1, alice, "a1")),
            add(item(s1, bob, "b1", true)),
            add(item(s1, alice, "c1", false, true)),
            add(binary),
            add(emptyGroup),
            add(otherClass),
            add(item(s1, alice, "dup")),
            add(item(s1, alice, "a2", true)),
            copy(query({})),
            copy(query(s1, {}, Synchronizable::deviceLocal, false)),
            copy(query(s1, {}, Synchronizable::yes)),
            copy(attributesOnly),
            copy(nothingAsked),
            Step([](Backend& b, Results*) { return b.copyMatching(query({}), nullptr); }),
            update(query(s1, alice), "a3"),
            update(query(s1, QStringLiteral("nobody")), "x"),
            update(byGroup, "e2"),
            copy(query({})),
            remove(query(s1, {}, Synchronizable::yes)),
            remove(query(s1, {}, Synchronizable::yes)),
            remove(query({}, alice, Synchronizable::deviceLocal)),
            add(item(s1, alice, "a4")),
            copy(query({})),
            copy(query({}, {}, Synchronizable::any, false)),
            copy(attributesOnly),
        };
        MemoryBackend memory;
        for (int n = 0; n < steps.size(); ++n) {
            FileBackend file(path);
            Results expected{item(QStringLiteral("sentinel"), {}, {})}, actual = expected;
            QCOMPARE(steps[n](file, &actual), steps[n](memory, &expected));
            QVERIFY2(describe(actual) == describe(expected), qPrintable(QString::number(n)));
        }
    }

    void missingFileAndPermissions() {
        FileBackend backend(path);
        Results results;
        QCOMPARE(backend.copyMatching(query({}), &results), itemNotFound);
        QCOMPARE(backend.update(query({}), "x"), itemNotFound);
        QCOMPARE(backend.remove(query({})), itemNotFound);
        QVERIFY(!QFileInfo::exists(QFileInfo(path).path())); // lookups leave nothing behind

        const mode_t oldMask = ::umask(0);
        const Status added = backend.add(item(QStringLiteral("s"), QStringLiteral("a"), "secret"));
        ::umask(oldMask);
        QCOMPARE(added, success);
        QCOMPARE(modeOf(QFileInfo(path).path()), mode_t(0700));
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(modeOf(path + ".lock"), mode_t(0600));
        // A rewrite takes the file back to private even if someone widened it.
        QVERIFY(
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        QCOMPARE(backend.update(query({}), "new"), success);
        QCOMPARE(modeOf(path), mode_t(0600));
    }

    // The credential-provider host reads and writes this layout too.
    void fileLayout() {
        Item written = item(QStringLiteral("s"), QStringLiteral("a"), "\x01secret", true, true);
        written.accessible = Accessibility::afterFirstUnlock;
        written.label = QStringLiteral("example.com \u2014 alice");
        QCOMPARE(FileBackend(path).add(written), success);
        const QJsonObject root = QJsonDocument::fromJson(contents(path)).object();
        QCOMPARE(root.value("version").toInt(), 1);
        const QJsonObject stored = root.value("items").toArray().at(0).toObject();
        QCOMPARE(stored, (QJsonObject{{"class", "genp"},
                                      {"service", "s"},
                                      {"account", "a"},
                                      {"accessGroup", "group"},
                                      {"synchronizable", true},
                                      {"accessible", "afterFirstUnlock"},
                                      {"dataProtection", true},
                                      {"label", "example.com \u2014 alice"},
                                      {"data", QString::fromLatin1(written.data.toBase64())}}));
        Results read;
        Query q = query({});
        q.useDataProtection = true;
        QCOMPARE(FileBackend(path).copyMatching(q, &read), success);
        QVERIFY(read == Results{written});

        // Brackets, quotes and escapes inside the texts, and the file's
        // layout not its own.
        QJsonObject tricky = stored;
        tricky["label"] = QStringLiteral("a \"}] {[\\\" \u00e9");
        QFile trickyFile(path);
        QVERIFY(trickyFile.open(QIODevice::WriteOnly));
        trickyFile.write(QJsonDocument(QJsonObject{{"items", QJsonArray{tricky, tricky}}, {"version", 1}})
                             .toJson(QJsonDocument::Compact));
        trickyFile.close();
        read.clear();
        QCOMPARE(FileBackend(path).copyMatching(q, &read), success);
        QCOMPARE(read.size(), 2);
        QCOMPARE(read[1].label, tricky["label"].toString());
        QCOMPARE(read[1].data, written.data);

        // Files written before items had labels still read, without one.
        QJsonObject unlabelled = stored;
        unlabelled.remove("label");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonObject{{"version", 1}, {"items", QJsonArray{unlabelled}}}).toJson());
        file.close();
        QCOMPARE(FileBackend(path).copyMatching(q, &read), success);
        written.label.clear();
        QVERIFY(read == Results{written});
    }

    void unusableFileStopsEveryOperation_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("expected");
        const QByteArray good =
            R"({"version":1,"items":[{"class":"genp","service":"s","account":"a",)"
            R"("accessGroup":"g","synchronizable":false,"accessible":"whenUnlocked",)"
            R"("dataProtection":false,"data":"eA=="}]})";
        QVERIFY(QJsonDocument::fromJson(good).isObject());
        const auto broken = [&](const char* from, const char* to) {
            return QByteArray(good).replace(from, to);
        };
        QTest::newRow("garbage") << QByteArray("\0\x01 not json", 12) << int(decodeFailed);
        QTest::newRow("empty") << QByteArray() << int(decodeFailed);
        QTest::newRow("truncated") << good.left(good.size() / 2) << int(decodeFailed);
        QTest::newRow("array") << QByteArray("[]") << int(decodeFailed);
        QTest::newRow("newer version")
            << broken("\"version\":1", "\"version\":2") << int(decodeFailed);
        QTest::newRow("items not a list")
            << QByteArray(R"({"version":1,"items":{}})") << int(decodeFailed);
        QTest::newRow("flag as text")
            << broken(":false,\"acc", ":\"no\",\"acc") << int(decodeFailed);
        QTest::newRow("field missing") << broken("\"service\":\"s\",", "") << int(decodeFailed);
        QTest::newRow("data not base64") << broken("eA==", "e!A=") << int(decodeFailed);
        QTest::newRow("unknown accessibility")
            << broken("whenUnlocked", "always") << int(decodeFailed);
        // The items are read one by one from their text: the text between
        // and around them is held to JSON's rules all the same.
        const QByteArray one = good.mid(22, good.size() - 24);
        const QByteArray twice = good.left(22) + one + "," + one + "]}";
        QVERIFY(QJsonDocument::fromJson(twice).isObject());
        QTest::newRow("items without a comma")
            << QByteArray(twice).replace("},{", "} {") << int(decodeFailed);
        QTest::newRow("a comma after the last item") << broken("}]}", "},]}") << int(decodeFailed);
        QTest::newRow("an item that is no object") << broken("[{", "[1,{") << int(decodeFailed);
        QTest::newRow("a bracket of the other kind") << broken("==\"}]", "==\"]]") << int(decodeFailed);
        QTest::newRow("text after the end") << good + "{}" << int(decodeFailed);
        QTest::newRow("folder at path") << QByteArray() << int(notAvailable);
        QTest::newRow("no read permission") << good << int(notAvailable);
    }
    void unusableFileStopsEveryOperation() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, expected);
        const QString tag = QTest::currentDataTag();
        if (tag == "no read permission" && ::geteuid() == 0)
            QSKIP("root reads files without read permission");
        QVERIFY(QDir().mkpath(tag == "folder at path" ? path : QFileInfo(path).path()));
        if (tag != "folder at path") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            file.close();
            if (tag == "no read permission") QVERIFY(file.setPermissions(QFile::WriteOwner));
        }
        const mode_t mode = modeOf(path);
        FileBackend backend(path);
        Results results;
        QCOMPARE(int(backend.copyMatching(query({}), &results)), expected);
        QCOMPARE(int(backend.add(item(QStringLiteral("n"), QStringLiteral("n"), "n"))), expected);
        QCOMPARE(int(backend.update(query({}), "n")), expected);
        QCOMPARE(int(backend.remove(query({}))), expected);
        QCOMPARE(modeOf(path), mode);
        if (tag != "no read permission" && tag != "folder at path") QCOMPARE(contents(path), bytes);
        QCOMPARE(leftovers(QFileInfo(path).path()), QStringList());
    }

    // A file size limit makes the write of the temporary file fail part way.
    void failedWriteKeepsOldFile() {
        FileBackend backend(path);
        QCOMPARE(backend.add(item(QStringLiteral("s"), QStringLiteral("small"), "x")), success);
        const QByteArray before = contents(path);
        const Status status = withFileSizeLimit(before.size() + 1024, [&] {
            return backend.add(item(QStringLiteral("s"), QStringLiteral("big"), QByteArray(65536, 'b')));
        });
        QCOMPARE(status, ioError);
        QCOMPARE(contents(path), before);
        QCOMPARE(leftovers(QFileInfo(path).path()), QStringList());
        QCOMPARE(backend.copyMatching(query({}, QStringLiteral("big")), nullptr), itemNotFound);
    }

    // A batch reads the file once and writes it once (one rename into
    // place), each write with its own status; a batch that cannot be
    // flushed leaves the old file and fails every write.
    void batchIsOneWrite() {
        FileBackend backend(path);
        QCOMPARE(backend.add(item(QStringLiteral("s"), QStringLiteral("existing"), "old")), success);
        Item collides = item(QStringLiteral("s"), QStringLiteral("collides"), "c");
        QCOMPARE(backend.add(collides), success);
        QList<Upsert> batch;
        for (int i = 0; i < 1000; ++i) {
            const QString account = QStringLiteral("new %1").arg(i);
            batch.append({query(QStringLiteral("s"), account), item(QStringLiteral("s"), account, "n")});
        }
        batch.append({query(QStringLiteral("s"), QStringLiteral("existing")),
                      item(QStringLiteral("s"), QStringLiteral("existing"), "updated")});
        // Its query does not find the item its add would collide with.
        Query elsewhere = query(QStringLiteral("s"), QStringLiteral("collides"));
        elsewhere.useDataProtection = true;
        batch.append({elsewhere, collides});

        const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watcher >= 0);
        QVERIFY(::inotify_add_watch(watcher, QFile::encodeName(QFileInfo(path).path()).constData(),
                                    IN_MOVED_TO) >= 0);
        const QList<Status> statuses = backend.upsert(batch);
        int renames = 0;
        char buffer[4096];
        for (ssize_t got; (got = ::read(watcher, buffer, sizeof buffer)) > 0;)
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<inotify_event*>(at);
                renames += event->len && QByteArray(event->name) == QFileInfo(path).fileName().toUtf8();
                at += sizeof(inotify_event) + event->len;
            }
        ::close(watcher);
        QCOMPARE(renames, 1);
        QCOMPARE(statuses.size(), 1002);
        QCOMPARE(statuses.count(success), 1001);
        QCOMPARE(statuses.last(), duplicateItem);
        Results all;
        QCOMPARE(backend.copyMatching(query(QStringLiteral("s")), &all), success);
        QCOMPARE(all.size(), 1002);
        QCOMPARE(std::count_if(all.begin(), all.end(), [](const Item& i) { return i.data == "updated"; }),
                 1);

        // A file size limit: nothing of the batch is written.
        const QByteArray before = contents(path);
        const QList<Status> failed = withFileSizeLimit(before.size() + 1024, [&] {
            return backend.upsert(
                {{query(QStringLiteral("s"), QStringLiteral("big")),
                  item(QStringLiteral("s"), QStringLiteral("big"), QByteArray(65536, 'b'))},
                 {query(QStringLiteral("s"), QStringLiteral("small")),
                  item(QStringLiteral("s"), QStringLiteral("small"), "x")}});
        });
        QCOMPARE(failed, QList<Status>(2, ioError));
        QCOMPARE(contents(path), before);
        QCOMPARE(leftovers(QFileInfo(path).path()), QStringList());
    }

    // The temporary file of a writer that was killed holds every secret: it
    // goes when the backend is opened, not at some later write. A live
    // writer's (it holds the lock) is never touched.
    void openingRemovesStaleTemporaryFiles() {
        FileBackend backend(path);
        QCOMPARE(backend.add(item(QStringLiteral("s"), QStringLiteral("a"), "secret")), success);
        const QString folder = QFileInfo(path).path();
        const QString stale = path + QStringLiteral(".tmp-abc123");
        QFile file(stale);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents(path)) > 0);
        file.close();
        const QByteArray before = contents(path);

        QFile lock(path + ".lock");
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(::flock(lock.handle(), LOCK_EX), 0);
        std::atomic<bool> opened = false;
        std::thread opener([&] {
            QCOMPARE(FileBackend(path).open(), success);
            opened = true;
        });
        QTest::qWait(100);
        QVERIFY(!opened);
        QCOMPARE(leftovers(folder), QStringList({QFileInfo(stale).fileName()}));
        ::flock(lock.handle(), LOCK_UN);
        opener.join();
        QCOMPARE(leftovers(folder), QStringList());
        QCOMPARE(contents(path), before);
    }

    // A symbolic link at the file's place is written through: the file it
    // points to changes, the link stays. One that points nowhere stops every
    // operation instead of being replaced by a new, empty keychain.
    void symbolicLinkIsWrittenThrough() {
        const QString folder = QFileInfo(path).path();
        const QString elsewhere = dir.filePath(QStringLiteral("%1-elsewhere").arg(runs));
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(elsewhere));
        const QString target = elsewhere + QStringLiteral("/real.json");
        QCOMPARE(FileBackend(target).add(item(QStringLiteral("s"), QStringLiteral("first"), "1")),
                 success);
        QVERIFY(QFile::link(target, path));

        FileBackend backend(path);
        QCOMPARE(backend.add(item(QStringLiteral("s"), QStringLiteral("second"), "2")), success);
        QCOMPARE(backend.upsert({{query(QStringLiteral("s"), QStringLiteral("first")),
                                  item(QStringLiteral("s"), QStringLiteral("first"), "one")}}),
                 QList<Status>{success});
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(QFileInfo(path).symLinkTarget(), target);
        QCOMPARE(modeOf(elsewhere), mode_t(0700)); // tightened by the backend that keeps its file there
        Results all;
        QCOMPARE(FileBackend(target).copyMatching(query(QStringLiteral("s")), &all), success);
        QCOMPARE(all.size(), 2);
        QCOMPARE(leftovers(folder), QStringList());
        QCOMPARE(leftovers(elsewhere), QStringList());

        QVERIFY(QFile::remove(target));
        QCOMPARE(backend.copyMatching(query({}), &all), notAvailable);
        QCOMPARE(backend.add(item(QStringLiteral("s"), QStringLiteral("third"), "3")), notAvailable);
        QCOMPARE(backend.upsert({{query({}), item(QStringLiteral("s"), QStringLiteral("x"), "x")}}),
                 QList<Status>{notAvailable});
        QVERIFY(QFileInfo(path).isSymLink());
        QVERIFY(!QFileInfo::exists(target));
    }

    void threadsDoNotLoseWrites() {
        FileBackend first(path), second(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                Backend& backend = t % 2 ? second : first;
                for (int i = 0; i < 25; ++i) {
                    const QString account = QStringLiteral("t%1-%2").arg(t).arg(i);
                    backend.add(item(QStringLiteral("race"), account, "added"));
                    if (i % 2) backend.update(query(QStringLiteral("race"), account), "updated");
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        Results all;
        QCOMPARE(first.copyMatching(query(QStringLiteral("race")), &all), success);
        QCOMPARE(all.size(), 100);
        for (const Item& i : all)
            QVERIFY(i.data == (i.account.section('-', 1).toInt() % 2 ? "updated" : "added"));
    }

    void processesDoNotLoseWrites() {
        std::vector<std::unique_ptr<QProcess>> children;
        for (int w = 0; w < 4; ++w) {
            children.push_back(std::make_unique<QProcess>());
            children.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            children.back()->start(QCoreApplication::applicationFilePath(),
                                   {adderRole, path, QStringLiteral("w%1").arg(w)});
        }
        for (auto& child : children) {
            QVERIFY(child->waitForFinished(180000));
            QCOMPARE(child->exitStatus(), QProcess::NormalExit);
            QCOMPARE(child->exitCode(), 0);
        }
        QVERIFY(QJsonDocument::fromJson(contents(path)).isObject());
        Results all;
        QCOMPARE(FileBackend(path).copyMatching(query(QStringLiteral("race")), &all), success);
        QCOMPARE(all.size(), 4 * addsPerWriter);
        QSet<QString> accounts;
        for (const Item& i : all) {
            accounts.insert(i.account);
            const bool updated = i.account.section('-', 1).toInt() % 3 == 0;
            QVERIFY(i.data == (updated ? QByteArray("updated") : i.account.toUtf8()));
        }
        QCOMPARE(accounts.size(), 4 * addsPerWriter);
    }

    void killedWriterLeavesOldOrNewFile() {
        FileBackend backend(path);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(backend.add(item(QStringLiteral("big"), QString::number(i), generation(0))),
                     success);
        int current = 0;
        for (int round = 0; round < 10; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {rewriterRole, path, QString::number(current + 1)});
            QVERIFY(child.waitForReadyRead(10000)); // it got the lock and wrote once
            // Until the kill, read the file the way a reader that does not take
            // the lock would: it must always find a whole file.
            QDeadlineTimer killAt(QRandomGenerator::global()->bounded(5, 100));
            while (!killAt.hasExpired())
                QVERIFY2(QJsonDocument::fromJson(contents(path)).isObject(), "torn file seen");
            child.kill();
            QVERIFY(child.waitForFinished(5000));
            const QList<QByteArray> reported = child.readAllStandardOutput().trimmed().split('\n');
            const int lastReported = reported.last().toInt();

            Results all;
            QCOMPARE(backend.copyMatching(query(QStringLiteral("big")), &all), success);
            QCOMPARE(all.size(), 200);
            current = all.first().data.split(':').first().toInt();
            QVERIFY2(current == lastReported || current == lastReported + 1, "neither old nor new");
            for (const Item& i : all)
                QVERIFY(i.data == generation(current));

            QFile lock(path + ".lock");
            QVERIFY(lock.open(QIODevice::ReadOnly));
            QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
        }
        // The next write clears the temporary files the killed writers left.
        QCOMPARE(backend.update(query(QStringLiteral("big")), generation(current + 1)), success);
        QCOMPARE(leftovers(QFileInfo(path).path()), QStringList());
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == adderRole) return runAdder(args[2], args[3]);
    if (args.size() == 4 && args[1] == rewriterRole) return runRewriter(args[2], args[3].toInt());
    TestSupport::Guarded<KeychainFileTests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "KeychainFileTests.moc"
