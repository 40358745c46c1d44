// The Proton Authenticator reader, which never throws.
#include "fuzz/FuzzInput.h"
#include "intake/Importers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const auto object = FuzzInput::object(data, size)) Importers::parseProton(*object);
    return 0;
}
