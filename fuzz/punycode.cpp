// Any label decodes to text or to nothing, and any host through the whole
// domain guard to a verdict.
#include "autofill/DomainGuard.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = FuzzInput::text(data, size);
    Punycode::decode(text);
    DomainGuard::verdict(QStringLiteral("xn--") + text + QStringLiteral(".Q."),
                         QStringLiteral("shop.q"));
    return 0;
}
