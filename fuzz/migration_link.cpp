// Whole otpauth-migration:// links: accounts or a ParseError.
#include "fuzz/FuzzInput.h"
#include "intake/OTPAuth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        OTPAuth::parseMigration(FuzzInput::text(data, size));
    } catch (const OTPAuth::ParseError&) {
    }
    return 0;
}
