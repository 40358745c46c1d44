// The backup file up to the key derivation (150,000 rounds per input would
// leave the fuzzer no time for anything else), and the decrypted plaintext's
// account list. Whatever is read must be written back to the same value.
#include "fuzz/FuzzInput.h"
#include "intake/Backup.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = FuzzInput::bytes(data, size);
    if (const auto container = Backup::parseContainer(bytes)) {
        const auto again = Backup::parseContainer(Backup::encodeContainer(*container));
        if (!again || again->v != container->v || again->salt != container->salt ||
            again->box != container->box)
            std::abort();
    }
    if (const auto accounts = Backup::decodeAccounts(bytes)) {
        if (Backup::decodeAccounts(Backup::encodeAccounts(*accounts)) != accounts) std::abort();
    }
    return 0;
}
