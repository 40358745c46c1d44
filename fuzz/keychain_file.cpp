// Any bytes in the keychain file's place decode to items or to nothing, and
// the items decoded are written back as they were read: every write
// rewrites the whole file, so an item the writer did not touch must come
// through unchanged.
#include "fuzz/FuzzInput.h"
#include "platform/keychain/KeychainFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using Keychain::FileBackend;
    const auto items = FileBackend::decode(FuzzInput::bytes(data, size));
    if (!items) return 0;
    const auto again = FileBackend::decode(FileBackend::encode(*items));
    if (!again || *again != *items) std::abort();
    return 0;
}
