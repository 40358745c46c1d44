#pragma once

#include "bench/SampleAccounts.h"
#include "core/AccountStore.h"
#include "core/SecurityLog.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"

#include <QTemporaryDir>
#include <memory>

// The vault a benchmark works on: the settings file and the timeline in a
// temporary folder, a keychain in memory, `count` sample accounts stored.
struct SampleVault {
    QTemporaryDir folder;
    UserDefaults defaults{folder.filePath("settings.conf")};
    SecurityLog log{folder.filePath("timeline.jsonl")};
    std::unique_ptr<AccountStore> store;

    explicit SampleVault(int count) {
        Keychain::setBackend(std::make_shared<Keychain::MemoryBackend>());
        store = std::make_unique<AccountStore>(defaults, log);
        store->importAccounts(sampleAccounts(count));
    }
    // The timeline's writes done before the folder goes.
    ~SampleVault() { log.waitForIdle(); }
};
