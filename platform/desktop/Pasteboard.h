#pragma once

#include "platform/desktop/BackendChoice.h"

#include <QString>
#include <optional>

// The desktop clipboard. Codes are written with markers that tell clipboard
// managers not to keep or show them: the two marker types some managers
// know ("org.nspasteboard.TransientType", "org.nspasteboard.ConcealedType")
// and the one KDE's Klipper and others read ("x-kde-passwordManagerHint").
namespace Pasteboard {

void writeConcealed(const QString& text);
// The clipboard's plain text, if it holds any.
std::optional<QString> text();
void clear();

// One way of reaching the clipboard.
class Backend {
public:
    virtual ~Backend() = default;
    virtual void writeConcealed(const QString& text) = 0;
    virtual std::optional<QString> text() = 0;
    virtual void clear() = 0;
};
// Qt's clipboard: the X11 selection.
Backend& x11Backend();
// A Wayland session: the compositor's data control where it offers it
// (PasteboardWayland), which sets the selection whichever window has the
// keyboard, also when Qt runs on XWayland; Qt's clipboard where it does not.
Backend& portalBackend();
// The backend the calls above go to.
inline BackendChoice<Backend> backend{x11Backend, portalBackend};

} // namespace Pasteboard
