// The main thread's work for one hotkey press, from the press reaching the
// controller to the code on the clipboard and the HUD on screen, with 200
// accounts in the store and the bound one last. The X round trip of the grab
// itself is not included: it is the server's, not ours.
#include "bench/SampleAccounts.h"
#include "core/AccountStore.h"
#include "core/SecurityLog.h"
#include "platform/Keychain.h"
#include "platform/UserDefaults.h"
#include "system/AppSettings.h"
#include "system/HotKeyController.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void pressToClipboard(benchmark::State& state) {
    QTemporaryDir folder;
    Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
    UserDefaults defaults(folder.filePath("settings.conf"));
    SecurityLog log(folder.filePath("timeline.jsonl"));
    AccountStore store(defaults, log);
    store.importAccounts(sampleAccounts(int(state.range(0))));
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
    log.waitForIdle();
}
BENCHMARK(pressToClipboard)->Arg(200)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
