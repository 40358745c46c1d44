// From the key press to the quick-search panel on screen: Ctrl+Alt+K sent
// through the X server (XTest), the grab's event back to this process, the
// panel built for a vault of 200 accounts, mapped and drawn for the first
// time. Run on a private X server: tests/with-xvfb.sh quillet_launcher_bench.
#include "bench/BenchmarkMain.h"
#include "bench/SampleVault.h"
#include "platform/desktop/x11/X11Display.h"
#include "system/AppSettings.h"
#include "system/HotKeyController.h"
#include "system/QuickLauncher.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QList>
#include <algorithm>
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

void pressControlAltK(Display* display) {
    const KeyCode keys[] = {XKeysymToKeycode(display, XK_Control_L),
                            XKeysymToKeycode(display, XK_Alt_L), XKeysymToKeycode(display, XK_k)};
    for (KeyCode key : keys)
        XTestFakeKeyEvent(display, key, True, CurrentTime);
    for (int i = 2; i >= 0; --i)
        XTestFakeKeyEvent(display, keys[i], False, CurrentTime);
    XFlush(display);
}

void pressToPanel(benchmark::State& state) {
    Display* display = X11Display::get();
    if (!display || !X11Display::hasXTest()) {
        state.SkipWithError("needs an X server with XTEST (tests/with-xvfb.sh)");
        return;
    }
    SampleVault vault(int(state.range(0)));
    AccountStore& store = *vault.store;
    UserDefaults& defaults = vault.defaults;
    AppSettings settings(defaults);
    HotKeyController controller(store, settings, defaults);
    QApplication::processEvents();
    if (!controller.launcherRegistered()) {
        state.SkipWithError("Ctrl+Alt+K is taken");
        return;
    }
    QuickLauncher& launcher = QuickLauncher::shared();
    bool shown = false;
    QObject::connect(&launcher, &QuickLauncher::panelShown, [&shown] { shown = true; });

    QList<double> times; // the first opening builds the view; the others reuse it
    for (auto _ : state) {
        shown = false;
        QElapsedTimer elapsed;
        elapsed.start();
        pressControlAltK(display);
        while (!shown && elapsed.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        state.SetIterationTime(double(elapsed.nsecsElapsed()) / 1e9);
        times.append(double(elapsed.nsecsElapsed()) / 1e6);
        launcher.close();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 30)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (times.size() > 1) {
        state.counters["first_ms"] = times.first();
        QList<double> later = times.mid(1);
        std::sort(later.begin(), later.end());
        state.counters["later_median_ms"] = later.at(later.size() / 2);
    }
}
BENCHMARK(pressToPanel)->Arg(200)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

} // namespace

int main(int argc, char** argv) { return runBenchmarks(argc, argv); }
