// The Protocol Buffers payload of a migration link: damaged bytes never throw.
#include "fuzz/FuzzInput.h"
#include "intake/OTPAuth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OTPAuth::decodeMigrationPayload(FuzzInput::bytes(data, size));
    return 0;
}
