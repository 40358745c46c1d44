// Time to verify a security timeline of 100,000 entries, the check every
// reading of a long-lived vault's timeline makes of its links; time to read a
// timeline file as large as one may be, the wait of the first snapshot (and
// of a quit that comes during it); and how long the timeline screen stops
// answering while it reads and lists such a file.
#include "bench/BenchmarkMain.h"
#include "bench/StallMeter.h"
#include "core/SecurityLog.h"
#include "menubar/SecurityTimelineMacView.h"

#include <QFile>
#include <QListView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QList<AuditEntry> makeChain(int count) {
    QList<AuditEntry> chain;
    chain.reserve(count);
    for (int i = 0; i < count; ++i)
        chain.append(AuditLog::makeEntry(chain, QStringLiteral("account.edited"),
                                         QStringLiteral("Service %1: user").arg(i % 1000),
                                         1700000000000 + i));
    return chain;
}

void verifyHundredThousandEntries(benchmark::State& state) {
    const QList<AuditEntry> chain = makeChain(100000);
    for (auto _ : state) {
        const bool intact = AuditLog::verify(chain);
        benchmark::DoNotOptimize(intact);
        if (!intact) state.SkipWithError("the chain does not verify");
    }
}
BENCHMARK(verifyHundredThousandEntries)->Unit(benchmark::kMillisecond);

// A timeline file at the bound: entries up to it, or one entry followed by
// short junk lines, the most lines a file of that size can hold.
struct FileAtTheBound {
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("timeline.jsonl"));
    qsizetype entries = 0;

    explicit FileAtTheBound(bool junk) {
        QByteArray bytes;
        bytes.reserve(AuditLog::maximumFileSize);
        QList<AuditEntry> chain;
        for (;;) {
            const AuditEntry entry =
                AuditLog::makeEntry(chain, QStringLiteral("account.edited"),
                                    QStringLiteral("Service %1: user").arg(chain.size() % 1000),
                                    1700000000000 + chain.size());
            const QByteArray line = entry.toJson() + '\n';
            if (bytes.size() + line.size() > AuditLog::maximumFileSize) break;
            bytes += line;
            chain.append(entry);
            if (junk) {
                while (bytes.size() + 2 <= AuditLog::maximumFileSize)
                    bytes += "x\n";
                break;
            }
        }
        entries = chain.size();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) entries = -1;
    }
};

// Range 0: entries up to the bound; 1: junk lines.
void readTimelineAtTheBound(benchmark::State& state) {
    const bool junk = state.range(0) == 1;
    const FileAtTheBound file(junk);
    for (auto _ : state) {
        const SecurityLog::Snapshot snapshot = SecurityLog(file.path).snapshot();
        if (snapshot.entries.size() != file.entries || snapshot.intact() == junk)
            state.SkipWithError("the file did not read as written");
    }
    state.counters["entries"] = double(file.entries);
}
BENCHMARK(readTimelineAtTheBound)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The screen shown over a file of entries up to the bound, until it lists
// them: the time, and the longest the window's thread went without
// answering (ms counter "stall").
void showTimelineAtTheBound(benchmark::State& state) {
    const FileAtTheBound file(false);
    qint64 longest = 0;
    for (auto _ : state) {
        SecurityLog log(file.path);
        SecurityTimelineMacView view(log);
        view.resize(520, 560);
        StallMeter meter;
        view.show();
        waitUntil([&] { return view.isLoaded(); });
        // Until every row is laid out (the last one, at the bottom, has its
        // place).
        QListView* list = view.list();
        const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
        if (!waitUntil([&] { return list->visualRect(last).isValid(); }))
            state.SkipWithError("not laid out");
        longest = std::max(longest, meter.longestMs());
        if (view.entries().size() != file.entries) state.SkipWithError("not listed");
    }
    state.counters["stall"] = double(longest);
}
BENCHMARK(showTimelineAtTheBound)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return runOffscreen(argc, argv);
}
