#include "platform/desktop/Pasteboard.h"

#include "platform/desktop/portal/DataControl.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace Pasteboard {

namespace {

const QList<std::pair<QByteArray, QByteArray>>& markers() {
    static const QList<std::pair<QByteArray, QByteArray>> list = {
        {"org.nspasteboard.TransientType", "1"},
        {"org.nspasteboard.ConcealedType", "1"},
        {"x-kde-passwordManagerHint", "secret"},
    };
    return list;
}

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

class PortalBackend : public X11Backend {
public:
    void writeConcealed(const QString& text) override {
        if (PasteboardWayland::available())
            PasteboardWayland::write(text, markers());
        else
            X11Backend::writeConcealed(text);
    }

    std::optional<QString> text() override {
        if (PasteboardWayland::available()) return PasteboardWayland::text();
        return X11Backend::text();
    }

    void clear() override {
        if (PasteboardWayland::available())
            PasteboardWayland::clear();
        else
            X11Backend::clear();
    }
};

} // namespace

Backend& x11Backend() { return backendInstance<X11Backend>(); }

Backend& portalBackend() { return backendInstance<PortalBackend>(); }

void writeConcealed(const QString& text) { backend().writeConcealed(text); }

std::optional<QString> text() { return backend().text(); }

void clear() { backend().clear(); }

} // namespace Pasteboard
