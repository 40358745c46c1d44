// The portal backend of ScreenCapture: the desktop's Screenshot portal.
#include "platform/desktop/ScreenCapture.h"

#include "platform/desktop/portal/Portal.h"
#include "platform/files/RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QUrl>

namespace ScreenCapture {

QImage readPortalPicture(const QVariantMap& results) {
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile()) return {};
    const QString file = uri.toLocalFile();
    // Read through the bounded read that refuses a FIFO or a device put in
    // the picture's place, which the image reader would wait on.
    QByteArray bytes;
    QImage image;
    if (RegularFile::read(file, qint64(256) << 20, &bytes) == RegularFile::Status::ok)
        image = QImage::fromData(bytes);
    bytes = QByteArray();
    // The picture may hold a secret's QR code: it leaves the disk at once,
    // whether it could be read or not.
    QFile::remove(file);
    if (image.isNull()) return {};
    // The desktop's device pixels, brought to the capture's scale.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double factor = scaleFactor / (screen ? screen->devicePixelRatio() : 1.0);
    if (factor > 1.0)
        image = image.scaled(image.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (image.format() != QImage::Format_RGB32) image = image.convertToFormat(QImage::Format_RGB32);
    return image;
}

namespace {

class PortalBackend : public Backend {
public:
    void captureDisplays(QObject* context, std::function<void(QList<QImage>)> done) override {
        // Only the desktop can take the picture here. Our windows stay: the
        // portal answers after a moment the user may spend in a dialog, and
        // windows hidden that long would look like a crash.
        // The answer is heard also when the context has gone meanwhile: its
        // file must not stay behind.
        const QPointer<QObject> guard(context);
        Portal::request(QStringLiteral("org.freedesktop.portal.Screenshot"),
                        QStringLiteral("Screenshot"), {QString()},
                        {{QStringLiteral("interactive"), false}}, QCoreApplication::instance(),
                        [guard, done = std::move(done)](uint response, const QVariantMap& results) {
                            // A refusal may still name a file on some desktops.
                            const QImage image = readPortalPicture(results);
                            QList<QImage> images;
                            if (response == Portal::success && !image.isNull())
                                images.append(image);
                            if (guard) done(images);
                        });
    }
};

} // namespace

Backend& portalBackend() { return backendInstance<PortalBackend>(); }

} // namespace ScreenCapture
