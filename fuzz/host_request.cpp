// Any bytes on the host's standard input are a request, or refused with the
// reason why.
#include "fuzz/FuzzInput.h"
#include "host/HostProtocol.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parsed = HostProtocol::parse(FuzzInput::bytes(data, size));
    if (const auto* reason = std::get_if<QString>(&parsed); reason && reason->isEmpty())
        std::abort();
    return 0;
}
