// Any keychain item data decodes to a passkey record or to nothing, and a
// record that decodes encodes to JSON that decodes to the same record.
#include "core/PasskeyRecord.h"
#include "fuzz/FuzzInput.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto record = PasskeyRecord::fromJson(FuzzInput::bytes(data, size));
    if (record && PasskeyRecord::fromJson(record->toJson()) != record)
        std::abort();
    return 0;
}
