#include "platform/desktop/SyntheticKeys.h"

#include <X11/keysym.h>

namespace SyntheticKeys {

quint32 keysymFor(char32_t c) {
    switch (c) {
    case U'\n':
    case U'\r':
        return XK_Return;
    case U'\t':
        return XK_Tab;
    case U'\b':
        return XK_BackSpace;
    default:
        break;
    }
    // Latin-1 keysyms equal their code points; every other character has the
    // Unicode keysym range 0x01000000 + code point.
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) return static_cast<quint32>(c);
    return static_cast<quint32>(0x01000000 | c);
}

Remote remote() { return backend().remote(); }

void startRemote() { backend().startRemote(); }

void type(const QString& text, Done done) { backend().type(text, std::move(done)); }

bool type(const QString& text) { return backend().typeNow(text); }

Withheld withheld() { return backend().withheld(); }

} // namespace SyntheticKeys
