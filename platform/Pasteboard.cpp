#include "platform/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace Pasteboard {

void writeConcealed(const QString& text) {
    auto* data = new QMimeData;
    data->setText(text);
    data->setData(QStringLiteral("org.nspasteboard.TransientType"), "1");
    data->setData(QStringLiteral("org.nspasteboard.ConcealedType"), "1");
    data->setData(QStringLiteral("x-kde-passwordManagerHint"), "secret");
    QGuiApplication::clipboard()->setMimeData(data);
}

std::optional<QString> text() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void clear() { QGuiApplication::clipboard()->clear(); }

} // namespace Pasteboard
