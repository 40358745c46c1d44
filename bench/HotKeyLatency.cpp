// The main thread's work for one hotkey press, from the press reaching the
// controller to the code on the clipboard and the HUD on screen, with 200
// accounts in the store and the bound one last. The X round trip of the grab
// itself is not included: it is the server's, not ours.
#include "bench/BenchmarkMain.h"
#include "bench/SampleVault.h"
#include "system/AppSettings.h"
#include "system/HotKeyController.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

void pressToClipboard(benchmark::State& state) {
    SampleVault vault(int(state.range(0)));
    AccountStore& store = *vault.store;
    UserDefaults& defaults = vault.defaults;
    AppSettings settings(defaults);
    HotKeyBinding binding;
    binding.accountID = store.accounts().last().id;
    binding.keyCode = 38;
    binding.modifiers = 0x900;
    settings.setBindings({binding});
    HotKeyController controller(store, settings, defaults);
    QApplication::processEvents();
    for (auto _ : state) {
        controller.fire(binding.id);
        // The clipboard and HUD work the press posted, as the event loop would run it.
        QApplication::processEvents();
    }
}
BENCHMARK(pressToClipboard)->Arg(200)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) { return runOffscreen(argc, argv); }
