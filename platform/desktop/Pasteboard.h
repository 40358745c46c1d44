#pragma once

#include "platform/desktop/BackendChoice.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// The desktop clipboard. Codes are written with markers that tell clipboard
// managers not to keep or show them: the two marker types some managers
// know ("org.nspasteboard.TransientType", "org.nspasteboard.ConcealedType")
// and the one KDE's Klipper and others read ("x-kde-passwordManagerHint").
namespace Pasteboard {

void writeConcealed(const QString& text);
// The (type, bytes) markers written beside the text.
const QList<std::pair<QByteArray, QByteArray>>& markers();
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
// Qt's clipboard: the X11 selection (x11/PasteboardX11.cpp).
Backend& x11Backend();
// A Wayland session: the compositor's data control where it offers it
// (portal/DataControl), which sets the selection whichever window has the
// keyboard, also when Qt runs on XWayland; Qt's clipboard where it does not
// (portal/PasteboardPortal.cpp).
Backend& portalBackend();
// The backend the calls above go to.
inline BackendChoice<Backend> backend{x11Backend, portalBackend};

} // namespace Pasteboard
