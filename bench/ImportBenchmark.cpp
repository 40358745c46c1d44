// Importing 1,000 otpauth:// links the way a user does: pasted into the add
// sheet over the main window, Add clicked, until the sheet has closed and
// the window lists every account. Beside the time, the longest the window's event
// loop went without answering (a 1 ms timer that should fire every
// millisecond): the window must answer input throughout.
//
// The Secret Service case needs a session bus with a keyring: run the program
// through tests/with-session.sh.
#include "app/AccountRow.h"
#include "app/ContentView.h"
#include "app/TickingClock.h"
#include "bench/StallMeter.h"
#include "core/AccountStore.h"
#include "core/Base32.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "intake/AddAccountSheet.h"
#include "platform/crypto/Crypto.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/keychain/KeychainSecretService.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

QString links(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        const QString secret =
            Base32::encode(Crypto::randomBytes(20).value_or(QByteArray(20, char(i))));
        lines << QStringLiteral("otpauth://totp/Service%20%1:user%1@example.com?secret=%2"
                                "&issuer=Service%20%1")
                     .arg(i)
                     .arg(secret);
    }
    return lines.join(QLatin1Char('\n'));
}

QAbstractButton* button(QWidget* root, const QString& text) {
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if (b->text() == text && b->isVisibleTo(root)) return b;
    return nullptr;
}

enum Backend { memory, file, secretService };

void clearSecretService() {
    for (const Keychain::Item& item : KeychainStore::readAll())
        Keychain::remove(KeychainStore::baseQuery(item.account));
}

void importThroughTheSheet(benchmark::State& state) {
    const auto backend = Backend(state.range(1));
    if (backend == secretService && !Keychain::SecretServiceBackend::isAvailable()) {
        state.SkipWithError("no Secret Service on the session bus");
        return;
    }
    const int count = int(state.range(0));
    const QString text = links(count);
    qint64 longestStall = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir folder;
        if (backend == memory)
            Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
        else if (backend == file)
            Keychain::setBackend(
                std::make_shared<Keychain::FileBackend>(folder.filePath("keychain.json")));
        else {
            Keychain::setBackend(std::make_shared<Keychain::SecretServiceBackend>());
            clearSecretService();
        }
        KeychainStore::resetMigrationFlagForTesting();
        UserDefaults defaults(folder.filePath("settings.conf"));
        SecurityLog log(folder.filePath("timeline.jsonl"));
        AccountStore store(defaults, log);
        TickingClock clock;
        QMainWindow window;
        auto* view = new ContentView(store, clock, defaults, &window);
        window.setCentralWidget(view);
        window.resize(600, 700);
        window.show();
        QCoreApplication::processEvents();
        view->showAddSheet();
        auto* sheet = window.findChild<AddAccountSheet*>();
        QCoreApplication::processEvents();
        button(sheet, QStringLiteral("Paste link"))->click();
        sheet->findChild<QPlainTextEdit*>()->setPlainText(text);
        QCoreApplication::processEvents();
        state.ResumeTiming();

        StallMeter monitor;
        button(sheet, QStringLiteral("Add"))->click();
        QElapsedTimer limit;
        limit.start();
        while ((window.findChild<AddAccountSheet*>() || store.accounts().size() < count ||
                view->visibleAccounts().size() < count) &&
               limit.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        // The list drawn with them.
        QCoreApplication::processEvents();

        state.PauseTiming();
        longestStall = std::max(longestStall, monitor.longestMs());
        if (view->visibleAccounts().size() != count || view->rows().isEmpty()) {
            std::fprintf(stderr, "listed %lld of %d after %lld ms: %s\n",
                         static_cast<long long>(store.accounts().size()), count,
                         static_cast<long long>(limit.elapsed()),
                         qPrintable(store.lastError().value_or(QString())));
            state.SkipWithError("not every account is listed");
            break;
        }
        log.waitForIdle();
        if (backend == secretService)
            clearSecretService();
        state.ResumeTiming();
    }
    state.counters["longest_stall_ms"] = double(longestStall);
}
BENCHMARK(importThroughTheSheet)
    ->ArgNames({"links", "backend"})
    ->Args({1000, memory})
    ->Args({1000, file})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
// GNOME Keyring rewrites its whole keyring file for every item it creates,
// so the time grows with the square of the count: 200 and 1,000 links.
BENCHMARK(importThroughTheSheet)
    ->ArgNames({"links", "backend"})
    ->Args({200, secretService})
    ->Args({1000, secretService})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
