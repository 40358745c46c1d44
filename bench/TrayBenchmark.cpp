// The tray with 200 accounts: opening its panel (built the first time, kept
// afterwards), and the main thread's work for one clock tick while the code
// beside the icon is on, as a status-notifier item on the session bus (run
// it through tests/with-session.sh for a private bus; without a bus the
// icon is the XEmbed one and no D-Bus work is measured).
#include "app/TickingClock.h"
#include "bench/BenchmarkMain.h"
#include "bench/SampleAccounts.h"
#include "core/AccountStore.h"
#include "core/SecurityLog.h"
#include "menubar/MenuBarContent.h"
#include "menubar/MenuBarLabel.h"
#include "platform/desktop/StatusItem.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/UpdaterManager.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

// A watcher that takes every item: the label then goes out on the bus.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public slots:
    void RegisterStatusNotifierItem(const QString&) {}
};

struct Tray {
    QTemporaryDir folder;
    UserDefaults defaults{folder.filePath("settings.conf")};
    SecurityLog log{folder.filePath("timeline.jsonl")};
    std::unique_ptr<AccountStore> store;
    QDateTime now = QDateTime::currentDateTimeUtc();
    TickingClock clock{[this] { return now; }};
    AppSettings settings{defaults};
    AppLockMac lock{defaults};
    UpdaterManager updater;

    explicit Tray(int count) {
        Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
        store = std::make_unique<AccountStore>(defaults, log);
        store->importAccounts(sampleAccounts(count));
    }
    ~Tray() { log.waitForIdle(); }
};

// Opens the panel as the tray does, until it is on screen and painted;
// closing it again is not timed.
void open(MenuBarContent& panel, benchmark::State& state) {
    panel.prepareToShow();
    panel.show();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    state.PauseTiming();
    panel.close();
    QApplication::processEvents();
    state.ResumeTiming();
}

void panelOpensFirstTime(benchmark::State& state) {
    Tray tray(int(state.range(0)));
    for (auto _ : state) {
        MenuBarContent panel(*tray.store, tray.clock, tray.settings, tray.lock, tray.updater,
                             tray.defaults);
        panel.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        open(panel, state);
    }
}
BENCHMARK(panelOpensFirstTime)->Arg(200)->Unit(benchmark::kMillisecond);

void panelOpensAgain(benchmark::State& state) {
    Tray tray(int(state.range(0)));
    MenuBarContent panel(*tray.store, tray.clock, tray.settings, tray.lock, tray.updater,
                         tray.defaults);
    panel.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    for (auto _ : state) {
        // A second later than last time: every code and ring is new.
        tray.now = tray.now.addSecs(1);
        tray.clock.tick();
        open(panel, state);
    }
}
BENCHMARK(panelOpensAgain)->Arg(200)->Unit(benchmark::kMillisecond);

// One tick with the code beside the icon on (panel closed). `step` seconds
// of clock per tick: 1 as it runs (the code changes every 30th tick), 30 for
// a tick that sends a new label and tooltip every time.
void trayTick(benchmark::State& state) {
    Tray tray(200);
    Watcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool onBus = bus.isConnected() &&
                       bus.registerService(StatusItem::watcherService) &&
                       bus.registerObject(StatusItem::watcherPath, &watcher,
                                          QDBusConnection::ExportAllSlots);
    StatusItem item(QStringLiteral("quillet-bench"), QStringLiteral("Quillet"),
                    QIcon(QPixmap(22, 22)));
    MenuBarLabel label(*tray.store, tray.clock, tray.settings, item);
    MenuBarContent panel(*tray.store, tray.clock, tray.settings, tray.lock, tray.updater,
                         tray.defaults); // built, closed: it must cost nothing
    const int step = int(state.range(0));
    for (auto _ : state) {
        tray.now = tray.now.addSecs(step);
        // Qt's own thread writes the messages out: what the main thread
        // spends is the tick and building the label's signals.
        tray.clock.tick();
    }
    state.SetLabel(onBus && item.backend() == StatusItem::Backend::notifierItem
                       ? "notifier item on the bus"
                       : "no bus");
}
BENCHMARK(trayTick)->Arg(1)->Arg(30)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) { return runOffscreen(argc, argv); }

#include "TrayBenchmark.moc"
