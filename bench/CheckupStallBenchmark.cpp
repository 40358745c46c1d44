// The security checkup over a vault of 2,000 accounts, none with recovery
// codes (2,000 findings, one card each):
// - opening it from the settings window with a screen reader's bus on (Qt's
//   AT-SPI bridge connected to a real accessibility bus; run through
//   bench/with-atspi.sh): the time from the press of "Security Checkup…" to
//   its first cards painted, and the longest time the program does not answer
//   from the press until the event loop turns freely again;
// - how long the program stops answering while codes are copied from the
//   tray panel with the checkup open: the longest gap between two turns of
//   the event loop over 20 copies, each followed by the event loop's own
//   turns. A copy counts a use, which changes no finding.
#include "app/TickingClock.h"
#include "bench/BenchmarkMain.h"
#include "bench/SampleVault.h"
#include "bench/StallMeter.h"
#include "menubar/GeneralTab.h"
#include "menubar/MenuBarContent.h"
#include "menubar/SecurityCheckupMacView.h"
#include "menubar/SettingsWindow.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/UpdaterManager.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QListView>
#include <QPushButton>
#include <benchmark/benchmark.h>

namespace {

// Runs the event loop until it has turned freely for half a second (the
// checkup's layout of thousands of cards done), at most 60 s.
void settle() {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        StallMeter meter;
        runEventsFor(500);
        if (meter.longestMs() < 20) return;
    }
}

// Notes when something inside the checkup screen is first painted.
class FirstPaint : public QObject {
public:
    std::optional<qint64> at;
    QElapsedTimer clock;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (at || event->type() != QEvent::Paint || !watched->isWidgetType()) return false;
        for (QObject* o = watched; o; o = o->parent())
            if (auto* view = qobject_cast<SecurityCheckupMacView*>(o)) {
                if (view->list()->model()->rowCount() > 0) at = clock.elapsed();
                break;
            }
        return false;
    }
};

void openingTheCheckupWithAccessibility(benchmark::State& state) {
    const int count = int(state.range(0));
    // The bridge connects to the accessibility bus once the event loop runs.
    if (!waitUntil([] { return QAccessible::isActive(); })) {
        state.SkipWithError("accessibility is off: run through bench/with-atspi.sh");
        return;
    }
    SampleVault vault(count);
    AppSettings settings(vault.defaults);
    AppLockMac lock(vault.defaults);
    SettingsWindow window(*vault.store, settings, lock, vault.defaults, vault.log);
    window.show();
    settle();
    QPushButton* press = nullptr;
    for (QPushButton* button : window.general()->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Security Checkup…")) press = button;
    if (!press) {
        state.SkipWithError("no Security Checkup… button");
        return;
    }
    qint64 toScreen = 0;
    qint64 longest = 0;
    for (auto _ : state) {
        FirstPaint painted;
        qApp->installEventFilter(&painted);
        StallMeter meter;
        painted.clock.start();
        press->click();
        waitUntil([&] { return painted.at.has_value(); });
        qApp->removeEventFilter(&painted);
        settle();
        auto* view = window.general()->sheet()
                         ? window.general()->sheet()->findChild<SecurityCheckupMacView*>()
                         : nullptr;
        if (!painted.at || !view || view->list()->model()->rowCount() < count) {
            state.SkipWithError("the checkup did not show a card for every finding");
            return;
        }
        toScreen = std::max(toScreen, *painted.at);
        longest = std::max(longest, meter.longestMs());
        state.PauseTiming();
        window.general()->sheet()->close();
        settle();
        state.ResumeTiming();
    }
    state.counters["press_to_screen_ms"] = double(toScreen);
    state.counters["longest_stall_ms"] = double(longest);
}
BENCHMARK(openingTheCheckupWithAccessibility)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void copiesWithTheCheckupOpen(benchmark::State& state) {
    const int count = int(state.range(0));
    SampleVault vault(count);
    TickingClock clock;
    AppSettings settings(vault.defaults);
    AppLockMac lock(vault.defaults);
    UpdaterManager updater;
    SecurityCheckupMacView checkup(*vault.store);
    checkup.resize(480, 540);
    checkup.show();
    MenuBarContent panel(*vault.store, clock, settings, lock, updater, vault.defaults);
    panel.prepareToShow();
    panel.show();
    settle();
    if (checkup.list()->model()->rowCount() < count) {
        state.SkipWithError("the checkup shows fewer findings than accounts");
        return;
    }
    const QList<Account> accounts = vault.store->accounts();
    qint64 longest = 0;
    for (auto _ : state) {
        StallMeter meter;
        for (int i = 0; i < 20; ++i) {
            panel.copy(accounts[i % accounts.size()]);
            runEventsFor(10);
        }
        longest = std::max(longest, meter.longestMs());
    }
    state.counters["longest_stall_ms"] = double(longest);
}
BENCHMARK(copiesWithTheCheckupOpen)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

// Offscreen unless a screen is given (bench/with-atspi.sh gives Xvfb, where
// Qt's accessibility bridge runs).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return runOffscreen(argc, argv);
    return runBenchmarks(argc, argv);
}
