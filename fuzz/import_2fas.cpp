// The 2FAS reader, with a password so that sealed service lists are opened
// too (the seeds hold one sealed with this password).
#include "fuzz/FuzzInput.h"
#include "intake/Importers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto object = FuzzInput::object(data, size);
    if (!object) return 0;
    try {
        Importers::parse2FAS(*object, QStringLiteral("test"));
    } catch (const Importers::ImportError&) {
    }
    return 0;
}
