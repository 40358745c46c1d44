// Free text holding otpauth:// links, split at user-perceived characters.
#include "fuzz/FuzzInput.h"
#include "intake/Importers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Importers::scanOtpauthTokens(FuzzInput::text(data, size));
    return 0;
}
