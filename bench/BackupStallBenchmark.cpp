// How long the settings window stops answering while a backup of 1,000
// accounts is written and restored through it: the longest gap between two
// turns of the event loop, from the click on the password sheet's button to
// the end (the file on disk, or the accounts listed and the result shown).
// The key derivation, the sealing and the file's reading and writing run on
// worker threads; what is left on the window's thread is the dialogs and the
// merge into the vault.
#include "bench/BenchmarkMain.h"
#include "bench/SampleAccounts.h"
#include "bench/StallMeter.h"
#include "core/AccountStore.h"
#include "core/KeychainStore.h"
#include "core/SecurityLog.h"
#include "intake/Backup.h"
#include "intake/BackupSectionMac.h"
#include "menubar/GeneralTab.h"
#include "menubar/SettingsWindow.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

const QString password = QStringLiteral("bench password");

template <typename T> T* visibleDialog() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<T*>(window); dialog && dialog->isVisible()) return dialog;
    return nullptr;
}

// A settings window over a vault in memory holding `accounts`.
struct Window {
    QTemporaryDir folder;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<SecurityLog> log;
    std::unique_ptr<AccountStore> store;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppLockMac> lock;
    std::unique_ptr<SettingsWindow> window;

    explicit Window(const QList<Account>& accounts) {
        Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
        KeychainStore::resetMigrationFlagForTesting();
        QList<QUuid> order;
        for (const Account& account : accounts) {
            KeychainStore::saveAccount(account);
            order << account.id;
        }
        KeychainStore::saveOrder(order);
        defaults = std::make_unique<UserDefaults>(folder.filePath("settings.conf"));
        log = std::make_unique<SecurityLog>(folder.filePath("timeline.jsonl"));
        store = std::make_unique<AccountStore>(*defaults, *log);
        settings = std::make_unique<AppSettings>(*defaults);
        lock = std::make_unique<AppLockMac>(*defaults);
        window = std::make_unique<SettingsWindow>(*store, *settings, *lock, *defaults, *log);
        window->show();
        runEventsFor(200); // drawn and settled
    }
    BackupSectionMac* section() const { return window->general()->backup(); }
    ~Window() { log->waitForIdle(); }
};

// Fills the open password sheet and presses its button.
bool confirmPassword(bool twice) {
    QDialog* sheet = nullptr;
    if (!waitUntil([&] { return (sheet = visibleDialog<QDialog>()) != nullptr; })) return false;
    const QList<QLineEdit*> fields = sheet->findChildren<QLineEdit*>();
    if (fields.size() != (twice ? 2 : 1)) return false;
    for (QLineEdit* field : fields)
        field->setText(password);
    for (QPushButton* button : sheet->findChildren<QPushButton*>())
        if (button->isDefault()) {
            button->click();
            return true;
        }
    return false;
}

bool answerFileDialog(const QString& path) {
    QFileDialog* dialog = nullptr;
    if (!waitUntil([&] { return (dialog = visibleDialog<QFileDialog>()) != nullptr; }))
        return false;
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
    static_cast<QDialog*>(dialog)->accept();
    return true;
}

void exportThousandAccounts(benchmark::State& state) {
    Window window(randomSampleAccounts(1000));
    qint64 longest = 0;
    for (auto _ : state) {
        const QString path = window.folder.filePath(QStringLiteral("backup.qvault"));
        QFile::remove(path);
        window.section()->startExport();
        StallMeter meter;
        if (!confirmPassword(true) || !answerFileDialog(path) ||
            !waitUntil([&] { return !window.section()->isBusy(); }) || !QFile::exists(path)) {
            state.SkipWithError("the export did not finish");
            return;
        }
        longest = std::max(longest, meter.longestMs());
    }
    state.counters["longest_stall_ms"] = double(longest);
}
BENCHMARK(exportThousandAccounts)->Unit(benchmark::kMillisecond)->Iterations(3);

void restoreThousandAccounts(benchmark::State& state) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("backup.qvault"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(Backup::encrypt(randomSampleAccounts(1000), password));
    }
    qint64 longest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Window window({});
        state.ResumeTiming();
        window.section()->startRestore();
        StallMeter meter;
        QMessageBox* alert = nullptr;
        if (!answerFileDialog(path) || !confirmPassword(false) ||
            !waitUntil([&] { return (alert = window.section()->alert()) != nullptr; }) ||
            window.store->accounts().size() != 1000) {
            state.SkipWithError("the restore did not finish");
            return;
        }
        longest = std::max(longest, meter.longestMs());
        alert->close();
    }
    state.counters["longest_stall_ms"] = double(longest);
}
BENCHMARK(restoreThousandAccounts)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) { return runOffscreen(argc, argv); }
