#include "core/SecurityLog.h"
#include "tests/support/TestMain.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const QString bullets = QString(6, QChar(0x2022));

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// What the next launch sees: a fresh log on the same file.
SecurityLog::Snapshot reload(const QString& path) {
    return SecurityLog(path).snapshot();
}

QList<AuditEntry> chainOf(const QStringList& details) {
    QList<AuditEntry> chain;
    for (const QString& detail : details)
        chain.append(AuditLog::makeEntry(chain, QStringLiteral("account.added"), detail,
                                         1700000000000 + chain.size()));
    return chain;
}

// Writes a timeline through the log itself and returns its entries.
QList<AuditEntry> recordTimeline(const QString& path, const QList<SecurityEvent>& events) {
    SecurityLog log(path);
    for (const SecurityEvent& event : events)
        log.record(event);
    return log.snapshot().entries;
}

// The fault in a form a failed comparison prints.
QByteArray faultText(const TimelineFault& fault) {
    static const char* const kinds[] = {"none",    "notAFile",   "tooLarge",   "unreadable",
                                        "notUtf8", "notAnEntry", "brokenChain"};
    QByteArray text = kinds[fault.kind];
    if (fault.line) text += " at line " + QByteArray::number(fault.line);
    if (fault.error) text += " errno " + QByteArray::number(fault.error);
    return text;
}

// The timeline's lines, each with its line feed.
QByteArrayList linesOf(const QByteArray& bytes) {
    QByteArrayList lines = bytes.split('\n');
    lines.removeLast();
    for (QByteArray& line : lines)
        line += '\n';
    return lines;
}

QList<SecurityEvent> threeEvents() {
    return {SecurityEvent::added(QStringLiteral("Bücher: anna")), SecurityEvent::imported(3),
            SecurityEvent::exported()};
}

// A disk slow to flush, as the timeline's worker meets it: while a test
// holds the gate, every flush of this process waits at it.
struct FlushGate {
    std::mutex mutex;
    bool held = false;
    int waiting = 0; // flushes at the gate now
    std::condition_variable opened;

    void hold() {
        const std::lock_guard lock(mutex);
        held = true;
    }
    void open() {
        {
            const std::lock_guard lock(mutex);
            held = false;
        }
        opened.notify_all();
    }
    int flushesWaiting() {
        const std::lock_guard lock(mutex);
        return waiting;
    }
};

FlushGate& flushGate() {
    static FlushGate gate;
    return gate;
}

} // namespace

// Stands in for the C library's, for this test program only.
extern "C" int fdatasync(int fd) {
    FlushGate& gate = flushGate();
    {
        std::unique_lock lock(gate.mutex);
        ++gate.waiting;
        gate.opened.wait(lock, [&gate] { return !gate.held; });
        --gate.waiting;
    }
    return int(::syscall(SYS_fdatasync, fd));
}

class SecurityLogTests : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString timelinePath() const { return dir.filePath(QStringLiteral("timeline.jsonl")); }

private slots:
    void init() {
        QFile::setPermissions(timelinePath(), QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(timelinePath());
        QDir(timelinePath()).removeRecursively();
    }

    // ---- AuditLog ----

    void genesisAndLinking() {
        QCOMPARE(AuditLog::genesis(), QByteArray(32, '\0'));
        QVERIFY(AuditLog::verify({}));

        const AuditEntry first = AuditLog::makeEntry({}, "account.added", "Acme", 42);
        QCOMPARE(first.seq, 0u);
        QCOMPARE(first.unixMillis, 42);
        QCOMPARE(first.prevHash, AuditLog::genesis());
        QCOMPARE(first.hash, AuditLog::hash(0, 42, "account.added", "Acme", AuditLog::genesis()));
        QCOMPARE(first.hash.size(), 32);

        const AuditEntry second = AuditLog::makeEntry({first}, "backup.exported", "", 43);
        QCOMPARE(second.seq, 1u);
        QCOMPARE(second.prevHash, first.hash);
        QVERIFY(AuditLog::verify({first, second}));
    }

    // Known answers computed with Python's hashlib over the documented layout.
    void hashInputLayout() {
        QByteArray counting;
        for (int i = 0; i < 32; ++i)
            counting.append(char(i));
        QCOMPARE(AuditLog::hash(0x0102030405060708ULL, -2, "account.added",
                                QStringLiteral("Bücher: \u2603\x1f\n"), counting)
                     .toHex(),
                 QByteArray("d33f67abc0f9b16f5ff529af641424f2f67a854e842a02827ac0d4f3cc8f37c4"));
        QCOMPARE(
            AuditLog::hash(0, 1700000000000, "backup.exported", "", AuditLog::genesis()).toHex(),
            QByteArray("2545b093cef5d82de5fbf48317d13e39e93bcfea065ceed4248ade3aaad6c93d"));
        // The separator keeps the border between type and detail.
        QVERIFY(AuditLog::hash(0, 0, "ab", "c", {}) != AuditLog::hash(0, 0, "a", "bc", {}));
    }

    void verifyRejectsTampering_data() {
        QTest::addColumn<QList<AuditEntry>>("chain");
        const QList<AuditEntry> good = chainOf({"a", "b", "c", "d"});
        QTest::newRow("intact") << good;

        auto changed = [&](qsizetype index, auto change) {
            QList<AuditEntry> chain = good;
            change(chain[index]);
            return chain;
        };
        QTest::newRow("seq rehashed") << changed(2, [](AuditEntry& e) {
            e.seq = 3;
            e.hash = AuditLog::hash(e.seq, e.unixMillis, e.type, e.detail, e.prevHash);
        });
        QTest::newRow("prevHash rehashed") << changed(1, [](AuditEntry& e) {
            e.prevHash = AuditLog::genesis();
            e.hash = AuditLog::hash(e.seq, e.unixMillis, e.type, e.detail, e.prevHash);
        });
        QTest::newRow("first prevHash shortened") << changed(0, [](AuditEntry& e) {
            e.prevHash.chop(1);
            e.hash = AuditLog::hash(e.seq, e.unixMillis, e.type, e.detail, e.prevHash);
        });
        QTest::newRow("detail") << changed(3, [](AuditEntry& e) { e.detail = "D"; });
        QTest::newRow("time") << changed(0, [](AuditEntry& e) { e.unixMillis += 1; });
        QTest::newRow("hash") << changed(3,
                                         [](AuditEntry& e) { e.hash[31] = char(e.hash[31] ^ 1); });

        // Every link and hash consistent, only the numbering is off.
        QList<AuditEntry> renumbered;
        QByteArray previous = AuditLog::genesis();
        for (const AuditEntry& e : good) {
            renumbered.append(
                {e.seq + 1, e.unixMillis, e.type, e.detail, previous,
                 AuditLog::hash(e.seq + 1, e.unixMillis, e.type, e.detail, previous)});
            previous = renumbered.last().hash;
        }
        QTest::newRow("renumbered") << renumbered;

        QList<AuditEntry> swapped = good;
        swapped.swapItemsAt(1, 2);
        QTest::newRow("reordered") << swapped;
        QList<AuditEntry> removed = good;
        removed.removeAt(1);
        QTest::newRow("middle removed") << removed;
        QList<AuditEntry> duplicated = good;
        duplicated.insert(2, good[1]);
        QTest::newRow("inserted copy") << duplicated;
    }
    void verifyRejectsTampering() {
        QFETCH(QList<AuditEntry>, chain);
        QCOMPARE(AuditLog::verify(chain), QByteArray(QTest::currentDataTag()) == "intact");
    }

    void redact_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("label") << "Acme 123456"
                               << "Acme " + bullets;
        QTest::newRow("exactly four") << "1234" << bullets;
        QTest::newRow("three") << "123"
                               << "123";
        QTest::newRow("mixed") << "12-3456-789"
                               << "12-" + bullets + "-789";
        QTest::newRow("forty digits") << QString(40, QLatin1Char('9')) << bullets;
        QTest::newRow("two runs") << "a12345b67890"
                                  << "a" + bullets + "b" + bullets;
        QTest::newRow("arabic-indic") << QStringLiteral("\u0661\u0662\u0663\u0664\u0665")
                                      << QStringLiteral("\u0661\u0662\u0663\u0664\u0665");
    }
    void redact() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(AuditLog::redact(text), expected);
    }

    // ---- JSON form ----

    void jsonRoundTrip() {
        QList<AuditEntry> chain = chainOf({QStringLiteral("Zürich \u2603 😀\x1f\nnext")});
        AuditEntry extreme;
        extreme.seq = 9223372036854775809ULL; // above the signed range
        extreme.unixMillis = std::numeric_limits<qint64>::min();
        extreme.type = "t";
        extreme.prevHash = QByteArray("\x00\xff\x80", 3);
        extreme.hash = QByteArray();
        chain.append(extreme);
        for (const AuditEntry& entry : chain) {
            const QByteArray json = entry.toJson();
            QVERIFY(!json.contains('\n'));
            QCOMPARE(json.count(' '), entry.detail.count(QLatin1Char(' ')));
            QCOMPARE(AuditEntry::fromJson(json), entry);
        }
        const QJsonObject object = QJsonDocument::fromJson(chain[0].toJson()).object();
        QCOMPARE(object.size(), 6);
        QCOMPARE(object.value("prevHash").toArray(),
                 QJsonArray::fromVariantList(QVariantList(32, 0)));
        QCOMPARE(object.value("hash").toArray().at(0).toInt(), int(quint8(chain[0].hash[0])));
        QCOMPARE(object.value("seq").toInteger(), 0);
        QCOMPARE(object.value("unixMillis").toInteger(), 1700000000000);
    }

    // One field of a valid line replaced (or left out, for an empty value).
    void jsonDecoding_data() {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("as written") << QByteArray() << QByteArray() << true;
        QTest::newRow("whole-number double") << QByteArray("seq") << QByteArray("3.0") << true;
        QTest::newRow("empty hash") << QByteArray("hash") << QByteArray("[]") << true;
        for (const char* key : {"seq", "unixMillis", "type", "detail", "prevHash", "hash"})
            QTest::addRow("missing %s", key) << QByteArray(key) << QByteArray() << false;
        QTest::newRow("negative seq") << QByteArray("seq") << QByteArray("-1") << false;
        QTest::newRow("seq as text") << QByteArray("seq") << QByteArray("\"1\"") << false;
        QTest::newRow("fractional time") << QByteArray("unixMillis") << QByteArray("1.5") << false;
        QTest::newRow("type as number") << QByteArray("type") << QByteArray("7") << false;
        QTest::newRow("type as huge number")
            << QByteArray("type") << QByteArray("10000000000000000000") << false;
        QTest::newRow("hash as base64") << QByteArray("hash") << QByteArray("\"AAA=\"") << false;
        QTest::newRow("byte 256") << QByteArray("prevHash") << QByteArray("[0,256]") << false;
        QTest::newRow("byte as text") << QByteArray("prevHash") << QByteArray("[\"1\"]") << false;
    }
    void jsonDecoding() {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(bool, accepted);
        // Keys in an unusual order, with one the reader does not know.
        QList<std::pair<QByteArray, QByteArray>> fields = {
            {"hash", "[1,2]"},    {"extra", "{}"}, {"detail", "\"d\""},    {"type", "\"t\""},
            {"unixMillis", "17"}, {"seq", "3"},    {"prevHash", "[0,255]"}};
        QByteArrayList members;
        for (auto& [name, text] : fields) {
            if (name == key && value.isEmpty()) continue;
            members << '"' + name + "\":" + (name == key ? value : text);
        }
        const QByteArray line = '{' + members.join(',') + '}';
        QCOMPARE(AuditEntry::fromJson(line).has_value(), accepted);
        if (!key.isEmpty()) return;
        QCOMPARE(AuditEntry::fromJson(line),
                 (AuditEntry{3, 17, "t", "d", QByteArray("\x00\xff", 2), "\x01\x02"}));
        QVERIFY(!AuditEntry::fromJson(line.chopped(1))); // torn
        QVERIFY(!AuditEntry::fromJson("[" + line + "]"));
    }

    // ---- events ----

    void events_data() {
        QTest::addColumn<SecurityEvent>("event");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("detail");
        const QString label = QStringLiteral("Bank: 5551234 \u00e9");
        const QString masked = "Bank: " + bullets + QStringLiteral(" \u00e9");
        QTest::newRow("added") << SecurityEvent::added(label) << "account.added" << masked;
        QTest::newRow("imported") << SecurityEvent::imported(3) << "account.imported"
                                  << "3 accounts";
        QTest::newRow("imported many") << SecurityEvent::imported(12345) << "account.imported"
                                       << "12345 accounts";
        QTest::newRow("edited") << SecurityEvent::edited(label) << "account.edited" << masked;
        QTest::newRow("deleted") << SecurityEvent::deleted(label) << "account.deleted" << masked;
        QTest::newRow("restored") << SecurityEvent::restored(label) << "account.restored" << masked;
        QTest::newRow("erased") << SecurityEvent::erased(label) << "account.erased" << masked;
        QTest::newRow("passkey") << SecurityEvent::passkey("login.example.com:8443")
                                 << "passkey.deleted"
                                 << "login.example.com:8443";
        QTest::newRow("exported") << SecurityEvent::exported() << "backup.exported"
                                  << "";
    }
    void events() {
        QFETCH(SecurityEvent, event);
        QFETCH(QString, type);
        QFETCH(QString, detail);
        QCOMPARE(event.type(), type);
        QCOMPARE(event.detail(), detail);
    }

    // ---- the file ----

    void recordsAppearInOrder() {
        const QString path = dir.filePath("new/folder/timeline.jsonl");
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const QList<AuditEntry> entries =
            recordTimeline(path, {SecurityEvent::added("Acme: 5551234"),
                                  SecurityEvent::added("second"), SecurityEvent::imported(2)});
        const qint64 after = QDateTime::currentMSecsSinceEpoch();

        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries[0].detail, "Acme: " + bullets);
        QCOMPARE(entries[1].detail, "second");
        QCOMPARE(entries[2].type, "account.imported");
        for (qsizetype i = 0; i < entries.size(); ++i) {
            QCOMPARE(entries[i].seq, quint64(i));
            QVERIFY(entries[i].unixMillis >= before && entries[i].unixMillis <= after);
        }
        QVERIFY(AuditLog::verify(entries));

        const QByteArray bytes = readFile(path);
        QVERIFY(bytes.endsWith('\n'));
        const QList<QByteArray> lines = bytes.chopped(1).split('\n');
        QCOMPARE(lines.size(), 3);
        for (qsizetype i = 0; i < lines.size(); ++i)
            QCOMPARE(AuditEntry::fromJson(lines[i]), entries[i]);
        QCOMPARE(QFileInfo(path).permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

        const SecurityLog::Snapshot again = reload(path);
        QVERIFY(again.intact());
        QCOMPARE(again.entries, entries);
    }

    // Existing lines are never rewritten: the old bytes stay as the exact
    // prefix, and a file that ends with a line feed gets no repair line feed.
    void existingContentIsKept() {
        const QString path = timelinePath();
        recordTimeline(path, threeEvents());
        const QByteArray old = readFile(path);

        const QList<AuditEntry> entries =
            recordTimeline(path, {SecurityEvent::edited("x"), SecurityEvent::erased("y")});
        const QByteArray now = readFile(path);
        QVERIFY(now.startsWith(old));
        const QByteArray added = now.mid(old.size());
        QCOMPARE(added, entries[3].toJson() + '\n' + entries[4].toJson() + '\n');
        QCOMPARE(entries[4].seq, 4u);
        QVERIFY(reload(path).intact());
    }

    void emptyFileAndBlankLines() {
        const QString path = timelinePath();
        writeFile(path, {});
        SecurityLog::Snapshot empty = reload(path);
        QVERIFY(empty.intact());
        QVERIFY(empty.entries.isEmpty());
        const QList<AuditEntry> written = recordTimeline(path, {SecurityEvent::exported()});
        QCOMPARE(readFile(path), written[0].toJson() + '\n');

        recordTimeline(path, {SecurityEvent::added("a"), SecurityEvent::added("b")});
        const QList<QByteArray> lines = readFile(path).split('\n');
        writeFile(path, "\n\n" + lines[0] + "\n\n\n" + lines[1] + '\n' + lines[2] + "\n\n");
        const QList<AuditEntry> entries = recordTimeline(path, {SecurityEvent::added("c")});
        QCOMPARE(entries.size(), 4);
        QCOMPARE(entries[3].seq, 3u);
        QVERIFY(reload(path).intact());
    }

    // One changed byte anywhere breaks the chain at the line that holds it
    // (a changed line feed merges two lines into one that is no entry), or
    // leaves bytes that are not UTF-8; the log then records nothing more.
    void anyChangedByteIsCaught() {
        const QString path = timelinePath();
        recordTimeline(path, threeEvents());
        const QByteArray bytes = readFile(path);
        qint64 line = 1;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            QByteArray changed = bytes;
            changed[i] = char(changed[i] ^ 1);
            writeFile(path, changed);
            SecurityLog log(path);
            const SecurityLog::Snapshot snapshot = log.snapshot();
            const QByteArray where = "byte " + QByteArray::number(i);
            QVERIFY2(!snapshot.intact(), where);
            const QByteArray fault = faultText(snapshot.fault);
            const QByteArray at = " at line " + QByteArray::number(line);
            QVERIFY2(fault == "notUtf8" || fault == "notAnEntry" + at ||
                         fault == "brokenChain" + at,
                     where + ": " + fault);
            log.record(SecurityEvent::added("dropped"));
            log.waitForIdle();
            QVERIFY2(readFile(path) == changed, where);
            QVERIFY2(log.snapshot().entries == snapshot.entries, where);
            if (bytes[i] == '\n') ++line;
        }
    }

    // A last line cut short by an interrupted write is no entry: the chain
    // breaks there like anywhere else, and nothing more is recorded.
    void aTornLastLineBreaksTheChain() {
        const QString path = timelinePath();
        const QList<AuditEntry> original = recordTimeline(path, threeEvents());
        const QByteArray full = readFile(path);
        const QByteArray torn = full.left(full.size() - 40);
        writeFile(path, torn);

        SecurityLog log(path);
        log.record(SecurityEvent::deleted("dropped"));
        const SecurityLog::Snapshot snapshot = log.snapshot();
        QVERIFY(!snapshot.intact());
        QCOMPARE(faultText(snapshot.fault), "notAnEntry at line 3");
        QCOMPARE(snapshot.entries, original.mid(0, 2));
        QCOMPARE(readFile(path), torn);
    }

    // A line torn while the log runs (another writer stopped half-way) is
    // ended by a line feed before the next entry, which so stays an entry of
    // its own, listed by the next launch after the break.
    void theNextEntryNeverJoinsATornLine() {
        const QString path = timelinePath();
        SecurityLog log(path);
        log.record(SecurityEvent::added("a"));
        log.waitForIdle();
        const QByteArray before = readFile(path);
        const QByteArray fragment = before.left(30);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(fragment);
        }
        log.record(SecurityEvent::added("b"));
        const QList<AuditEntry> entries = log.snapshot().entries;
        QCOMPARE(entries.size(), 2);
        QCOMPARE(readFile(path), before + fragment + '\n' + entries[1].toJson() + '\n');
        const SecurityLog::Snapshot next = reload(path);
        QCOMPARE(faultText(next.fault), "notAnEntry at line 2");
        QCOMPARE(next.entries, entries);
    }

    // Lines that no entry wrote, wherever they stand: the chain breaks at the
    // first, the screen can say where, and every entry is still listed.
    void insertedLinesBreakTheChainWhereTheyStand_data() {
        QTest::addColumn<int>("at");          // the line the insertion goes before, from 0
        QTest::addColumn<QByteArray>("line"); // with its line feed; "copy": of the line before
        QTest::addColumn<QByteArray>("fault");
        QTest::newRow("garbage") << 1 << QByteArray("garbage\n")
                                 << QByteArray("notAnEntry at line 2");
        QTest::newRow("first") << 0 << QByteArray("#\n") << QByteArray("notAnEntry at line 1");
        QTest::newRow("after the last") << 3 << QByteArray("{}\n")
                                        << QByteArray("notAnEntry at line 4");
        QTest::newRow("spaces") << 2 << QByteArray("   \n") << QByteArray("notAnEntry at line 3");
        QTest::newRow("an entry's copy")
            << 2 << QByteArray("copy") << QByteArray("brokenChain at line 3");
        QTest::newRow("nearly an entry")
            << 1 << QByteArray(R"({"seq":1,"unixMillis":0,"type":"","detail":"","prevHash":[],)"
                               R"("hash":"none"})" "\n")
            << QByteArray("notAnEntry at line 2");
    }
    void insertedLinesBreakTheChainWhereTheyStand() {
        QFETCH(int, at);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, fault);
        const QString path = timelinePath();
        const QList<AuditEntry> original = recordTimeline(path, threeEvents());
        QByteArrayList lines = linesOf(readFile(path));
        lines.insert(at, line == "copy" ? lines[at - 1] : line);
        writeFile(path, lines.join());

        SecurityLog log(path);
        log.record(SecurityEvent::added("dropped"));
        const SecurityLog::Snapshot snapshot = log.snapshot();
        QVERIFY(!snapshot.intact());
        QCOMPARE(faultText(snapshot.fault), fault);
        QList<AuditEntry> listed = original;
        if (line == "copy") listed.insert(at, original[at - 1]);
        QCOMPARE(snapshot.entries, listed);
        QCOMPARE(readFile(path), lines.join());
    }

    // Up to the bound, any number of junk lines is read quickly and the
    // break found; beyond it (200 MB of them, a sparse file here) nothing is
    // read at all. A line is never written that would take the file past
    // the bound: the event waits, and the file stays whole.
    void theBoundOfTheFile() {
        const QString path = timelinePath();
        const QList<AuditEntry> original = recordTimeline(path, threeEvents());
        QByteArrayList lines = linesOf(readFile(path));
        const qint64 room = AuditLog::maximumFileSize - lines.join().size();
        QByteArray junk;
        junk.reserve(room);
        while (junk.size() + 2 <= room)
            junk += "x\n";
        writeFile(path, lines[0] + junk + lines[1] + lines[2]);
        QCOMPARE(QFileInfo(path).size(), AuditLog::maximumFileSize - room % 2);
        SecurityLog::Snapshot snapshot = reload(path);
        QCOMPARE(faultText(snapshot.fault), "notAnEntry at line 2");
        QCOMPARE(snapshot.entries, original);

        QFile file(path);
        QVERIFY(file.resize(200 * 1000 * 1000));
        snapshot = reload(path);
        QCOMPARE(faultText(snapshot.fault), "tooLarge");
        QVERIFY(snapshot.entries.isEmpty());

        // Blank lines fill the file up to the bound, less than an entry.
        writeFile(path, lines.join() + QByteArray(room - 100, '\n'));
        SecurityLog log(path);
        log.record(SecurityEvent::added("waits"));
        snapshot = log.snapshot();
        QVERIFY(snapshot.intact());
        QCOMPARE(snapshot.unwritten, 1);
        QCOMPARE(QFileInfo(path).size(), AuditLog::maximumFileSize - 100);
        QVERIFY(reload(path).intact());
    }

    void undecodableFileFreezes_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("latin-1") << QByteArray("caf\xe9\n");
        QTest::newRow("cut multibyte") << QByteArray("{}\n\xe2\x98");
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80\n");
        QTest::newRow("overlong") << QByteArray("\xc0\xaf\n");
    }
    void undecodableFileFreezes() {
        QFETCH(QByteArray, content);
        const QString path = timelinePath();
        recordTimeline(path, threeEvents());
        // Even a valid chain in front does not help: the whole file is judged.
        const QByteArray bytes = readFile(path) + content;
        writeFile(path, bytes);
        SecurityLog log(path);
        log.record(SecurityEvent::added("dropped"));
        const SecurityLog::Snapshot snapshot = log.snapshot();
        QVERIFY(!snapshot.intact());
        QCOMPARE(faultText(snapshot.fault), "notUtf8");
        QVERIFY(snapshot.entries.isEmpty());
        QCOMPARE(readFile(path), bytes);
    }

    // Whatever stands in the file's place is not read, and reading never
    // waits: not for a FIFO's writer, not for /dev/zero to end, not for a
    // file that says it is empty and never ends. The log records nothing,
    // and it stops at once when asked (as when quitting).
    void whatIsNoTimelineIsNotRead_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("fault");
        QTest::newRow("folder") << "folder" << QByteArray("notAFile");
        QTest::newRow("link to /dev/zero") << "zero" << QByteArray("notAFile");
        QTest::newRow("FIFO") << "fifo" << QByteArray("notAFile");
        QTest::newRow("sparse file over the bound") << "large" << QByteArray("tooLarge");
        // A regular file of size 0 that yields 8 bytes for every page of the
        // address space: read only up to the bound, never into memory whole.
        QTest::newRow("endless file of no size") << "pagemap" << QByteArray("tooLarge");
        QTest::newRow("no permission") << "locked"
                                       << QByteArray("unreadable errno ") +
                                              QByteArray::number(EACCES);
    }
    void whatIsNoTimelineIsNotRead() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, fault);
        const QString path = timelinePath();
        const QByteArray name = QFile::encodeName(path);
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "zero") {
            QVERIFY(QFile::link("/dev/zero", path));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else if (kind == "large") {
            writeFile(path, {});
            QVERIFY(QFile(path).resize(AuditLog::maximumFileSize + 1));
        } else if (kind == "pagemap") {
            const int probe = ::open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
            char page[8];
            const bool readable = probe >= 0 && ::read(probe, page, sizeof page) == sizeof page;
            if (probe >= 0) ::close(probe);
            if (!readable) QSKIP("/proc/self/pagemap is missing or unreadable here");
            QVERIFY(QFile::link("/proc/self/pagemap", path));
        } else {
            if (::geteuid() == 0) QSKIP("root reads any file");
            writeFile(path, "{}\n");
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
        }
        auto log = std::make_unique<SecurityLog>(path);
        std::atomic<bool> done{false};
        SecurityLog::Snapshot snapshot;
        std::thread reader([&] {
            log->record(SecurityEvent::added("dropped"));
            snapshot = log->snapshot();
            log.reset();
            done = true;
        });
        // Asked before anything lets the reader go.
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, QUILLET_TEST_WAIT_MS);
        // A worker that waits for a FIFO's writer is let go, so that the test
        // ends either way.
        while (!done && kind == "fifo") {
            ::close(::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            QThread::msleep(10);
        }
        reader.join();
        QVERIFY2(finished, "reading the timeline still waits after 30 s");
        QVERIFY(!snapshot.intact());
        QCOMPARE(faultText(snapshot.fault), fault);
        QVERIFY(snapshot.entries.isEmpty());
        if (kind == "locked")
            QCOMPARE(QFileInfo(path).size(), 3); // the event was not appended either
    }

    // A FIFO put in the file's place after the timeline was read takes no
    // line: the event waits, as for a failed write, and goes to the file
    // before the next one once the file is back.
    void aFifoInTheFilesPlaceTakesNoLine() {
        const QString path = timelinePath();
        const QByteArray name = QFile::encodeName(path);
        SecurityLog log(path);
        log.record(SecurityEvent::added("first"));
        log.waitForIdle();
        const QByteArray before = readFile(path);
        QVERIFY(QFile::remove(path));
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        // Held open for reading, so that no writer waits for a reader and
        // whatever one writes stays in the FIFO to be seen.
        const int fifo = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(fifo >= 0);
        const auto closeFifo = qScopeGuard([fifo] { ::close(fifo); });
        log.record(SecurityEvent::added("second"));
        SecurityLog::Snapshot snapshot = log.snapshot();
        QVERIFY(snapshot.intact());
        QCOMPARE(snapshot.unwritten, 1);
        QCOMPARE(snapshot.entries.size(), 1);
        char byte;
        QVERIFY2(::read(fifo, &byte, 1) <= 0, "a line went into the FIFO");

        QVERIFY(QFile::remove(path));
        writeFile(path, before);
        log.record(SecurityEvent::added("third"));
        snapshot = log.snapshot();
        QCOMPARE(snapshot.unwritten, 0);
        QCOMPARE(snapshot.entries.size(), 3);
        QCOMPARE(snapshot.entries[1].detail, "second");
        const SecurityLog::Snapshot next = reload(path);
        QVERIFY(next.intact());
        QCOMPARE(next.entries, snapshot.entries);
    }

    // A link to nothing reads as an empty timeline, so the first line would
    // make a file where it points that no launch reads: the event waits.
    void aLinkToNothingTakesNoLine() {
        const QString path = timelinePath();
        const QString target = dir.filePath(QStringLiteral("elsewhere.jsonl"));
        QVERIFY(QFile::link(target, path));
        const auto removeLink = qScopeGuard([path] { QFile::remove(path); });
        SecurityLog log(path);
        log.record(SecurityEvent::added("first"));
        const SecurityLog::Snapshot snapshot = log.snapshot();
        QCOMPARE(snapshot.unwritten, 1);
        QVERIFY(snapshot.entries.isEmpty());
        QVERIFY(!QFileInfo::exists(target));
        QVERIFY(QFileInfo(path).isSymLink());
    }

    void deletedFileIsRecreated() {
        const QString path = timelinePath();
        SecurityLog log(path);
        log.record(SecurityEvent::added("a"));
        log.record(SecurityEvent::added("b"));
        log.waitForIdle();
        QVERIFY(QFile::remove(path));
        log.record(SecurityEvent::added("c"));
        const SecurityLog::Snapshot snapshot = log.snapshot();
        QVERIFY(snapshot.intact());
        QCOMPARE(snapshot.entries.size(), 3);
        QCOMPARE(readFile(path), snapshot.entries[2].toJson() + '\n');
        // The next launch sees a chain that starts at seq 2.
        QVERIFY(!reload(path).intact());
    }

    // A write that fails part way (a file size limit stops it after a few
    // bytes, then for good) leaves no part of its line in the file and no
    // entry in the chain; the event is written before the next one, and the
    // next launch verifies the whole chain.
    void aFailedWriteKeepsTheFileAndTheChainTogether_data() {
        QTest::addColumn<int>("room"); // bytes the limit leaves for the line
        QTest::newRow("nothing written") << 0;
        QTest::newRow("part of the line written") << 40;
    }
    void aFailedWriteKeepsTheFileAndTheChainTogether() {
        QFETCH(int, room);
        const QString path = timelinePath();
        SecurityLog log(path);
        log.record(SecurityEvent::added("first"));
        log.record(SecurityEvent::added("second"));
        log.waitForIdle();
        const QByteArray before = readFile(path);

        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const rlimit limited{rlim_t(before.size() + room), old.rlim_max};
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        log.record(SecurityEvent::added("third"));
        log.waitForIdle();
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(readFile(path), before);
        SecurityLog::Snapshot snapshot = log.snapshot();
        QCOMPARE(snapshot.entries.size(), 2);
        QCOMPARE(snapshot.unwritten, 1);
        QVERIFY(reload(path).intact());

        log.record(SecurityEvent::added("fourth"));
        snapshot = log.snapshot();
        QCOMPARE(snapshot.unwritten, 0);
        const SecurityLog::Snapshot next = reload(path);
        QVERIFY(next.intact());
        QCOMPARE(next.entries, snapshot.entries);
        QStringList details;
        for (const AuditEntry& entry : next.entries)
            details << entry.detail;
        QCOMPARE(details, QStringList({"first", "second", "third", "fourth"}));
    }

    // The same on a disk that is full for one write: a small tmpfs in a
    // mount namespace of its own (where the system allows one).
    void aFullDiskForOneWrite() {
        if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
            QSKIP("no unshare(1)");
        const QString mountPoint = dir.filePath(QStringLiteral("small-disk"));
        QVERIFY(QDir().mkpath(mountPoint));
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("unshare"),
                    {QStringLiteral("-Urm"), QStringLiteral("sh"), QStringLiteral("-c"),
                     QStringLiteral("mount -t tmpfs -o size=16k tmpfs \"$1\" || exit 77; "
                                    "exec \"$2\" --fill-disk \"$1\""),
                     QStringLiteral("sh"), mountPoint, QCoreApplication::applicationFilePath()});
        QVERIFY(child.waitForFinished(30000));
        const QByteArray output = child.readAll();
        if (child.exitCode() == 77)
            QSKIP("no tmpfs can be mounted here: " + output.trimmed());
        QVERIFY2(child.exitCode() == 0, output.constData());
        QCOMPARE(output.trimmed().split('\n').last(), "intact first second third fourth");
    }

    void timelineFolderIsPrivate() {
        const QString path = dir.filePath(QStringLiteral("made/Quillet/timeline.jsonl"));
        const mode_t oldMask = ::umask(022);
        SecurityLog log(path);
        log.record(SecurityEvent::added("a"));
        log.waitForIdle();
        ::umask(oldMask);
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(path).path()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
    }

    // The worker is held up on the disk (its flush waits at the gate);
    // record() returns anyway, and nothing is lost or reordered.
    void recordNeverWaitsForTheWorker() {
        FlushGate& gate = flushGate();
        SecurityLog log(timelinePath());
        std::atomic<bool> returned{false};
        std::thread caller;
        const auto letGo = qScopeGuard([&] {
            gate.open();
            if (caller.joinable()) caller.join();
        });
        gate.hold();
        caller = std::thread([&] {
            for (int i = 0; i < 1000; ++i)
                log.record(SecurityEvent::added(QStringLiteral("user %1").arg(i)));
            returned = true;
        });
        QVERIFY2(QTest::qWaitFor([&] { return gate.flushesWaiting() > 0; }, QUILLET_TEST_WAIT_MS),
                 "the worker never flushed the first line");
        QVERIFY2(QTest::qWaitFor([&] { return returned.load(); }, QUILLET_TEST_WAIT_MS),
                 "record() waits while the worker is held");
        QCOMPARE(gate.flushesWaiting(), 1); // still held: every call returned meanwhile
        gate.open();
        caller.join();

        log.waitForIdle();
        const SecurityLog::Snapshot snapshot = log.snapshot();
        QVERIFY(snapshot.intact());
        QCOMPARE(snapshot.entries.size(), 1000);
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(snapshot.entries[i].detail, QStringLiteral("user %1").arg(i));
    }

    // A reader that shares no code with the program recomputes the chain.
    void independentReaderAgrees() {
        const QString path = timelinePath();
        const QList<AuditEntry> entries = recordTimeline(
            path, {SecurityEvent::added(QStringLiteral("Bücher: Ünïcødé ☃ 😀")),
                   SecurityEvent::imported(12345), SecurityEvent::edited("tab\x1fseparated"),
                   SecurityEvent::deleted("line\nbreak 1234567"),
                   SecurityEvent::passkey("login.example.com:8443"), SecurityEvent::exported(),
                   SecurityEvent::restored(QStringLiteral("Ωmega")),
                   SecurityEvent::erased(QStringLiteral("\u0661\u0662\u0663\u0664"))});
        QCOMPARE(entries.size(), 8);

        const auto runReader = [&](QByteArray& output) {
            QProcess reader;
            reader.start(
                "python3",
                {QStringLiteral(QUILLET_SOURCE_DIR "/tests/core/verify_timeline.py"), path});
            if (!reader.waitForFinished(30000)) return -1;
            output = reader.readAllStandardOutput().trimmed();
            return reader.exitCode();
        };
        QByteArray output;
        QCOMPARE(runReader(output), 0);
        QCOMPARE(output, "intact 8 " + entries.last().hash.toHex());

        // Both find the same break at the same line.
        const QByteArray intact = readFile(path);
        QByteArray bytes = intact;
        const qsizetype at = bytes.indexOf("separated");
        QVERIFY(at > 0);
        bytes[at] = 'S';
        writeFile(path, bytes);
        QCOMPARE(runReader(output), 1);
        QCOMPARE(output, "broken 3 hash");
        QCOMPARE(faultText(reload(path).fault), "brokenChain at line 3");

        QByteArrayList lines = linesOf(intact);
        lines.insert(5, "\n\t\n");
        writeFile(path, lines.join());
        QCOMPARE(runReader(output), 1);
        QCOMPARE(output, "broken 7 not-an-entry");
        QCOMPARE(faultText(reload(path).fault), "notAnEntry at line 7");
    }
};

namespace {

// Inside the mount namespace of aFullDiskForOneWrite, on a 16 KiB tmpfs:
// fills the disk, records one event, frees the disk, records another, and
// says what the next launch finds.
int fillDisk(const QString& folder) {
    const QString path = folder + QStringLiteral("/timeline.jsonl");
    {
        SecurityLog log(path);
        log.record(SecurityEvent::added("first"));
        log.record(SecurityEvent::added("second"));
        log.waitForIdle();
    }
    // Blank lines (ignored when read) up to a whole page, so the next line
    // needs a page of the disk to itself.
    QFile timeline(path);
    if (!timeline.open(QIODevice::Append))
        return 2;
    timeline.write(QByteArray(4096 - timeline.size() % 4096, '\n'));
    timeline.close();
    QFile filler(folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return 3;
    while (filler.write(QByteArray(512, 'f')) == 512 && filler.flush()) {
    }
    filler.close();
    const QByteArray before = readFile(path);
    SecurityLog log(path);
    log.record(SecurityEvent::added("third"));
    const SecurityLog::Snapshot full = log.snapshot();
    if (readFile(path) != before || full.unwritten != 1) {
        std::printf("the full disk took the line: %d unwritten\n", full.unwritten);
        return 4;
    }
    filler.remove();
    log.record(SecurityEvent::added("fourth"));
    log.waitForIdle();
    const SecurityLog::Snapshot next = SecurityLog(path).snapshot();
    QByteArray details;
    for (const AuditEntry& entry : next.entries)
        details += ' ' + entry.detail.toUtf8();
    std::printf("%s%s\n", next.intact() ? "intact" : "broken", details.constData());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && QByteArray(argv[1]) == "--fill-disk") {
        QCoreApplication app(argc, argv);
        return fillDisk(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestSupport::Guarded<SecurityLogTests> tests;
    return QTest::qExec(&tests, argc, argv);
}
#include "SecurityLogTests.moc"
