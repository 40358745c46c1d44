#include "platform/Pasteboard.h"

#include "platform/PasteboardWayland.h"
#include "platform/SessionType.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace Pasteboard {

namespace {

// The session decides, not Qt's platform: under Wayland the compositor's data
// control (where it offers it) sets the selection whichever window has the
// keyboard; elsewhere Qt's clipboard.
bool dataControl() {
    static const bool wayland = SessionType::wayland();
    return wayland && PasteboardWayland::available();
}

} // namespace

void writeConcealed(const QString& text) {
    const QList<std::pair<QByteArray, QByteArray>> markers = {
        {"org.nspasteboard.TransientType", "1"},
        {"org.nspasteboard.ConcealedType", "1"},
        {"x-kde-passwordManagerHint", "secret"},
    };
    if (dataControl()) {
        PasteboardWayland::write(text, markers);
        return;
    }
    auto* data = new QMimeData;
    data->setText(text);
    for (const auto& [type, bytes] : markers)
        data->setData(QString::fromLatin1(type), bytes);
    QGuiApplication::clipboard()->setMimeData(data);
}

std::optional<QString> text() {
    if (dataControl())
        return PasteboardWayland::text();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void clear() {
    if (dataControl()) {
        PasteboardWayland::clear();
        return;
    }
    QGuiApplication::clipboard()->clear();
}

} // namespace Pasteboard
