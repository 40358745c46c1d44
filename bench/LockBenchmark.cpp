// How soon an open sheet leaves the screen when the screen locks: from the
// screen saver's ActiveChanged(true), sent on the session bus by a connection
// of its own as the desktop sends it, to the X server reporting the sheet's
// window unmapped, with the main window of 20 accounts and an account's QR
// sheet open (what LockDesktopTest opens). Between rounds the lock opens again
// with the password (pam_matrix), the clock stopped.
// Needs a session bus, an X server and PAM wrapped:
//   tests/with-session.sh tests/with-xvfb.sh tests/with-pam.sh build/dev/bench/quillet_lock_bench
#include "app/MainWindow.h"
#include "app/TickingClock.h"
#include "bench/BenchmarkMain.h"
#include "bench/SampleVault.h"
#include "core/Settings.h"
#include "intake/AccountQRView.h"
#include "platform/desktop/x11/X11Display.h"
#include "platform/system/SessionEvents.h"
#include "system/AppLockMac.h"
#include "system/LockOverlayMac.h"
#include "system/UpdaterManager.h"
#include "tests/support/PasswordPrompt.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <algorithm>
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>

namespace {

// Whether the X server shows the window now (a round trip).
bool viewable(const QWidget* window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(X11Display::get(), ::Window(window->winId()), &attributes) &&
           attributes.map_state == IsViewable;
}

void sheetStepsAsideAtTheLock(benchmark::State& state) {
    if (!X11Display::get() || !qEnvironmentVariableIsSet("PAM_WRAPPER") ||
        !QDBusConnection::sessionBus().isConnected()) {
        state.SkipWithError("needs a session bus, an X server and PAM wrapped "
                            "(tests/with-session.sh tests/with-xvfb.sh tests/with-pam.sh)");
        return;
    }
    SampleVault vault(20);
    vault.defaults.setValue(Settings::appLockEnabled.key, true);
    TickingClock clock;
    UpdaterManager updater;
    AppLockMac lock(vault.defaults);
    SessionEvents events;
    lock.watch(events);
    MainWindow window(*vault.store, clock, vault.defaults, updater, lock);
    window.show();
    // Locked from the start, the window asks by itself once it is up.
    const auto open = [&] {
        return PasswordPrompt::answer(PasswordPrompt::rightPassword) &&
               waitUntil([&] { return !lock.isLocked(); });
    };
    if (!open()) {
        state.SkipWithError("the lock did not open with the password");
        return;
    }
    auto* sheet = new AccountQRView(vault.store->accounts().first(), &window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    const auto settled = [&] { return viewable(sheet) && !window.lockOverlay()->isCovering(); };
    if (!waitUntil(settled)) {
        state.SkipWithError("the sheet did not come on screen");
        return;
    }

    QDBusConnection screenSaver =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("screen saver"));
    QDBusMessage locked = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                     QStringLiteral("org.freedesktop.ScreenSaver"),
                                                     QStringLiteral("ActiveChanged"));
    locked << true;
    QList<double> times;
    for (auto _ : state) {
        QElapsedTimer elapsed;
        elapsed.start();
        screenSaver.send(locked);
        if (!waitUntil([&] { return !viewable(sheet); })) {
            state.SkipWithError("the sheet stayed on screen");
            break;
        }
        state.SetIterationTime(double(elapsed.nsecsElapsed()) / 1e9);
        times.append(double(elapsed.nsecsElapsed()) / 1e6);
        // The clock stopped: the overlay's own question answered, the sheet
        // back, the overlay gone.
        if (!open() || !waitUntil(settled)) {
            state.SkipWithError("the lock did not open again");
            break;
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("screen saver"));
    if (!times.isEmpty()) {
        std::sort(times.begin(), times.end());
        state.counters["median_ms"] = times.at(times.size() / 2);
        state.counters["worst_ms"] = times.last();
    }
}
BENCHMARK(sheetStepsAsideAtTheLock)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
