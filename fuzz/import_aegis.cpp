// The Aegis reader.
#include "fuzz/FuzzInput.h"
#include "intake/Importers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto object = FuzzInput::object(data, size);
    if (!object) return 0;
    try {
        Importers::parseAegis(*object);
    } catch (const Importers::ImportError&) {
    }
    return 0;
}
