// The main thread's work for one clock tick with 200 accounts listed: every
// row recomputes its code, next code and ring, and what changed on screen is
// repainted.
#include "app/ContentView.h"
#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "core/SecurityLog.h"
#include "platform/Keychain.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QMainWindow>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void tickWithAccounts(benchmark::State& state) {
    QTemporaryDir folder;
    Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
    UserDefaults defaults(folder.filePath("settings.conf"));
    SecurityLog log(folder.filePath("timeline.jsonl"));
    AccountStore store(defaults, log);
    QList<Account> accounts;
    for (int i = 0; i < state.range(0); ++i) {
        Account account;
        account.issuer = QStringLiteral("Service %1").arg(i);
        account.name = QStringLiteral("user%1@example.com").arg(i);
        account.secret = QByteArray("12345678901234567890").append(char(i));
        accounts.append(account);
    }
    store.importAccounts(accounts);
    QDateTime now = QDateTime::currentDateTimeUtc();
    TickingClock clock([&] { return now; });
    QMainWindow window;
    auto* view = new ContentView(store, clock, defaults, &window);
    window.setCentralWidget(view);
    window.resize(600, 900);
    window.show();
    QApplication::processEvents();
    for (auto _ : state) {
        now = now.addSecs(1);
        clock.tick();
        // Paints what the tick changed, as the event loop would.
        QApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
    }
    log.waitForIdle();
}
BENCHMARK(tickWithAccounts)->Arg(200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
