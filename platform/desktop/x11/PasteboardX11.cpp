// The X11 backend of Pasteboard: Qt's clipboard, the X11 selection (and
// the portal backend's fallback where the compositor offers no data
// control).
#include "platform/desktop/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace Pasteboard {

namespace {

class X11Backend : public Backend {
public:
    void writeConcealed(const QString& text) override {
        auto* data = new QMimeData;
        data->setText(text);
        for (const auto& [type, bytes] : markers())
            data->setData(QString::fromLatin1(type), bytes);
        QGuiApplication::clipboard()->setMimeData(data);
    }

    std::optional<QString> text() override {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        if (!data || !data->hasText()) return std::nullopt;
        return data->text();
    }

    void clear() override { QGuiApplication::clipboard()->clear(); }
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

} // namespace Pasteboard
