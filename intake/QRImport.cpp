#include "intake/QRImport.h"

#include "intake/Importers.h"
#include "intake/OTPAuth.h"
#include "platform/desktop/ScreenCapture.h"
#include "platform/files/RegularFile.h"
#include "platform/qr/BarcodeReader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFutureWatcher>
#include <QImageReader>
#include <QtConcurrent/QtConcurrentRun>
#include <optional>

namespace QRImport {

namespace {

// A picture of a screen, even of several large displays, compressed or not,
// stays far below this.
constexpr qint64 maximumImageFileSize = qint64(256) << 20;

// Phones take photos of 50 megapixels and more, 200 on some: images up to
// this many pixels are read, larger ones refused unread.
constexpr qint64 largestImagePixels = 100'000'000;

// Larger images are searched shrunk to this many pixels at most, by a whole
// eighth of their size (what a JPEG decodes to directly, never holding the
// whole picture): a code that fills a usable part of such a photo keeps
// modules of many pixels. What the search holds is then at most four bytes
// a pixel of the decoded picture and one of its grey copy, about 120 MB
// (measured: 93 MB for an 8000 x 6000 JPEG, 113 MB for the same as a PNG).
constexpr qint64 searchedPixels = 24'000'000;

// What a format that cannot decode at a reduced size holds while it reads a
// picture whole: four bytes a pixel of the largest image read, in MiB.
constexpr int wholeDecodeLimitMiB = int(largestImagePixels * 4 / (1 << 20)) + 1;

// The size a large image is searched at: the largest whole eighth of it
// within searchedPixels.
QSize searchedSize(QSize size) {
    const qint64 pixels = qint64(size.width()) * size.height();
    int eighths = 8;
    while (eighths > 1 && pixels * eighths * eighths > searchedPixels * 64)
        --eighths;
    return size * eighths / 8;
}

} // namespace

QString QRImportError::message() const {
    return QString::fromUtf8(what());
}

const char* QRImportError::what() const noexcept {
    switch (m_kind) {
    case noQRCodeFound:
        return "No QR code was found.";
    case screenCaptureFailed:
        // On X11 any program may read the screen; in a Wayland session the
        // desktop's Screenshot portal takes the picture, and may refuse.
        return "Could not capture the screen. The desktop did not let Quillet take a "
               "screenshot.";
    case unreadableImage:
        return "Could not read the image.";
    }
    return "No QR code was found.";
}

namespace {

// accountsFromPayloads, counting the payloads that gave no account.
QList<Account> gather(const QStringList& payloads, int* unused) {
    QList<Account> accounts;
    std::exception_ptr kept;
    for (const QString& payload : payloads) {
        const QString lowered = payload.toLower();
        const qsizetype before = accounts.size();
        try {
            if (lowered.startsWith(QLatin1String("otpauth-migration://")))
                accounts.append(OTPAuth::parseMigration(payload));
            else if (lowered.startsWith(QLatin1String("otpauth://")))
                accounts.append(OTPAuth::parse(payload));
        } catch (const OTPAuth::ParseError&) {
            kept = std::current_exception();
        }
        if (accounts.size() == before)
            ++*unused;
    }
    if (!accounts.isEmpty()) return accounts;
    if (kept) std::rethrow_exception(kept);
    throw QRImportError(QRImportError::noQRCodeFound);
}

} // namespace

QList<Account> accountsFromPayloads(const QStringList& payloads) {
    int unused = 0;
    return gather(payloads, &unused);
}

// The accounts of the images' codes. Codes that could not be decoded and
// nothing else give no account rather than an error, so that they are told.
Found readImages(const QList<QImage>& images) {
    if (images.isEmpty()) throw QRImportError(QRImportError::screenCaptureFailed);
    Found found;
    QStringList payloads;
    for (const QImage& image : images) {
        const BarcodeReader::Scan scan = BarcodeReader::scan(image);
        payloads.append(scan.payloads);
        found.codes.unreadable += scan.unreadable;
    }
    found.codes.read = int(payloads.size());
    if (payloads.isEmpty()) {
        if (found.codes.unreadable > 0) return found;
        throw QRImportError(QRImportError::noQRCodeFound);
    }
    try {
        found.accounts = gather(payloads, &found.codes.unused);
    } catch (...) {
        if (found.codes.unreadable == 0) throw;
    }
    return found;
}

QList<Account> accountsFromImages(const QList<QImage>& images) {
    Found found = readImages(images);
    if (found.accounts.isEmpty()) throw QRImportError(QRImportError::noQRCodeFound);
    return found.accounts;
}

void scanScreen(QObject* context, ScanDone done) {
    QObject* owner = context ? context : QCoreApplication::instance();
    ScreenCapture::captureDisplays(owner, [owner, done = std::move(done)](QList<QImage> images) {
        // Detection takes tens of milliseconds per display: off the GUI
        // thread. The watcher belongs to the context, so a context destroyed
        // meanwhile takes the delivery with it.
        auto* watcher = new QFutureWatcher<ScanResult>(owner);
        QObject::connect(watcher, &QFutureWatcher<ScanResult>::finished, watcher, [watcher, done] {
            const ScanResult result = watcher->result();
            watcher->deleteLater();
            done(result);
        });
        watcher->setFuture(QtConcurrent::run([images = std::move(images)] {
            ScanResult result;
            try {
                Found found = readImages(images);
                result.accounts = std::move(found.accounts);
                result.codes = found.codes;
            } catch (...) {
                result.error = std::current_exception();
            }
            return result;
        }));
    });
}

Found readImage(const QString& path) {
    // Read whole first, through the read that refuses a FIFO or a device
    // (which the image reader would wait on for ever, or read without end).
    QByteArray bytes;
    if (RegularFile::read(path, maximumImageFileSize, &bytes) != RegularFile::Status::ok)
        throw QRImportError(QRImportError::unreadableImage);
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    const qint64 pixels = size.isValid() ? qint64(size.width()) * size.height() : 0;
    if (pixels > largestImagePixels) throw QRImportError(QRImportError::unreadableImage);
    if (pixels > searchedPixels) {
        // A JPEG decodes straight to the size asked for; other formats may
        // decode whole first, beyond the 128 MiB that Qt allows one image,
        // up to four bytes a pixel of the largest image read. The limit is
        // the program's own (nothing else reads images this large), raised
        // once.
        static const bool raised = [] {
            if (QImageReader::allocationLimit() < wholeDecodeLimitMiB)
                QImageReader::setAllocationLimit(wholeDecodeLimitMiB);
            return true;
        }();
        Q_UNUSED(raised);
        reader.setScaledSize(searchedSize(size));
    }
    QImage image = reader.read();
    if (image.isNull()) throw QRImportError(QRImportError::unreadableImage);
    // One grey copy of the size searched is all that is kept.
    if (image.width() * qint64(image.height()) > searchedPixels)
        image = image.scaled(searchedSize(image.size()), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    image = BarcodeReader::greyscale(image);
    return readImages({image});
}

QList<Account> importImage(const QString& path) {
    Found found = readImage(path);
    if (found.accounts.isEmpty()) throw QRImportError(QRImportError::noQRCodeFound);
    return found.accounts;
}

QString errorMessage(const std::exception_ptr& error) {
    if (!error) return {};
    try {
        std::rethrow_exception(error);
    } catch (const QRImportError& e) {
        return e.message();
    } catch (const OTPAuth::ParseError& e) {
        return e.message();
    } catch (const Importers::ImportError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
    }
    return QStringLiteral("No QR code was found.");
}

} // namespace QRImport
