// The whole import dispatch, as the add-account sheet calls it first (no
// password): accounts, an ImportError, or a migration ParseError. An empty
// list is allowed only from a migration link, or from an export whose every
// entry was left out and counted.
#include "fuzz/FuzzInput.h"
#include "intake/Importers.h"
#include "intake/OTPAuth.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = FuzzInput::text(data, size);
    try {
        const Importers::Import found = Importers::read(text);
        if (found.accounts.isEmpty() && found.unreadable == 0 &&
            !text.trimmed().toLower().startsWith(QLatin1String("otpauth-migration://")))
            std::abort();
    } catch (const Importers::ImportError&) {
    } catch (const OTPAuth::ParseError&) {
    }
    return 0;
}
