#include "platform/desktop/Pasteboard.h"

namespace Pasteboard {

const QList<std::pair<QByteArray, QByteArray>>& markers() {
    static const QList<std::pair<QByteArray, QByteArray>> list = {
        {"org.nspasteboard.TransientType", "1"},
        {"org.nspasteboard.ConcealedType", "1"},
        {"x-kde-passwordManagerHint", "secret"},
    };
    return list;
}

void writeConcealed(const QString& text) { backend().writeConcealed(text); }

std::optional<QString> text() { return backend().text(); }

void clear() { backend().clear(); }

} // namespace Pasteboard
