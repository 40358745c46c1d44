// Importing 1,000 otpauth:// links the way a user does: pasted into the add
// sheet over the main window, Add clicked, until the sheet has closed and
// the window lists every account. Beside the time, the longest the window's event
// loop went without answering (a 1 ms timer that should fire every
// millisecond): the window must answer input throughout.
//
// Importing a 2FAS export of 50,000 entries (about 10 MB) opened from the
// add sheet, the same way: beside the time, the most memory the program held
// during the import above what it held before (peak_MB, from VmHWM after the
// kernel's peak was reset) and what it still holds above that once the
// window lists them (rest_MB).
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
#include "platform/system/FreedMemory.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
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

// A 2FAS export as the app writes it, `count` services of about 210 bytes.
QByteArray twoFasExport(int count) {
    QJsonArray services;
    for (int i = 0; i < count; ++i) {
        const QString secret =
            Base32::encode(Crypto::randomBytes(10).value_or(QByteArray(10, char(i))));
        services.append(QJsonObject{
            {"name", QStringLiteral("Service %1").arg(i)},
            {"secret", secret},
            {"updatedAt", 1700000000000.0 + i},
            {"otp", QJsonObject{{"account", QStringLiteral("user%1").arg(i)},
                                {"issuer", QStringLiteral("Service %1").arg(i)},
                                {"digits", 6},
                                {"period", 30},
                                {"algorithm", "SHA1"},
                                {"tokenType", "TOTP"}}},
            {"order", QJsonObject{{"position", i}}},
        });
    }
    return QJsonDocument(QJsonObject{{"services", services},
                                     {"updatedAt", 1700000100000.0},
                                     {"schemaVersion", 4},
                                     {"appVersionCode", 5000002},
                                     {"appVersionName", "5.0.0"},
                                     {"appOrigin", "android"},
                                     {"groups", QJsonArray()}})
        .toJson(QJsonDocument::Compact);
}

// This process's resident memory now / at its peak since the peak was last
// reset, in bytes.
qint64 statusBytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// From here on VmHWM counts again from the present resident size.
void resetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly)) refs.write("5");
}

QAbstractButton* button(QWidget* root, const QString& text) {
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if (b->text() == text && b->isVisibleTo(root)) return b;
    return nullptr;
}

// Shows the sheet's mode whose tab reads `text`.
void chooseMode(QWidget* sheet, const QString& text) {
    auto* modes = sheet->findChild<QTabBar*>();
    for (int i = 0; modes && i < modes->count(); ++i)
        if (modes->tabText(i) == text) modes->setCurrentIndex(i);
    QCoreApplication::processEvents();
}

// Answers the next file dialog with `path`.
void answerFileDialog(const QString& path) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        poll->stop();
        poll->deleteLater();
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    poll->start(10);
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
        chooseMode(sheet, QStringLiteral("Paste link"));
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

void importAnExport(benchmark::State& state) {
    const auto backend = Backend(state.range(1));
    const int count = int(state.range(0));
    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("export.2fas"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(twoFasExport(count)) < 0) {
            state.SkipWithError("could not write the export");
            return;
        }
        state.counters["file_MB"] = double(file.size()) / 1e6;
    }
    double peak = 0, rest = 0; // the last round's
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir folder;
        if (backend == memory)
            Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
        else
            Keychain::setBackend(
                std::make_shared<Keychain::FileBackend>(folder.filePath("keychain.json")));
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
        chooseMode(sheet, QStringLiteral("Paste link"));
        // From what the program holds with nothing freed left over (the
        // export made above, the last round).
        FreedMemory::giveBack();
        const qint64 before = statusBytes("VmRSS:");
        resetPeak();
        state.ResumeTiming();

        answerFileDialog(path);
        button(sheet, QStringLiteral("Open a .2fas / .json / .txt file…"))->click();
        QElapsedTimer limit;
        limit.start();
        while ((window.findChild<AddAccountSheet*>() || store.accounts().size() < count ||
                view->visibleAccounts().size() < count) &&
               limit.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::processEvents();
        log.waitForIdle();

        state.PauseTiming();
        peak = std::max(peak, double(statusBytes("VmHWM:") - before) / 1e6);
        rest = double(statusBytes("VmRSS:") - before) / 1e6;
        if (view->visibleAccounts().size() != count) {
            std::fprintf(stderr, "listed %lld of %d after %lld ms: %s\n",
                         static_cast<long long>(store.accounts().size()), count,
                         static_cast<long long>(limit.elapsed()),
                         qPrintable(store.lastError().value_or(QString())));
            state.SkipWithError("not every account is listed");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = peak;
    state.counters["rest_MB"] = rest;
}
BENCHMARK(importAnExport)
    ->ArgNames({"entries", "backend"})
    ->Args({1000, memory})
    ->Args({50000, file})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    // As the program shares its memory among its threads.
    FreedMemory::shareOnePool();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
