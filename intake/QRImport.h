#pragma once

#include "core/Account.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

// Accounts from QR codes: on every display, or in one image file. Nothing is
// stored here; the caller hands the accounts on.
namespace QRImport {

class QRImportError : public std::exception {
public:
    enum Kind {
        noQRCodeFound,
        screenCaptureFailed,
        unreadableImage,
    };

    explicit QRImportError(Kind kind) : m_kind(kind) {}
    Kind kind() const { return m_kind; }
    // The sentence shown to the user.
    QString message() const;
    const char* what() const noexcept override;

    friend bool operator==(const QRImportError& a, const QRImportError& b) {
        return a.m_kind == b.m_kind;
    }

private:
    Kind m_kind;
};

// How the QR codes of a search fared.
struct CodeCounts {
    // Codes read, each text once per image.
    int read = 0;
    // Codes found but not decoded.
    int unreadable = 0;
    // Codes read that gave no account: no otpauth link, a link that does
    // not parse, or a migration link without entries.
    int unused = 0;
};

// The accounts of a search, and how its codes fared.
struct Found {
    QList<Account> accounts;
    CodeCounts codes;
};

// The outcome of a screen scan: the accounts, or the error (QRImportError or
// OTPAuth::ParseError) when there are none; with how its codes fared.
struct ScanResult {
    QList<Account> accounts;
    std::exception_ptr error;
    CodeCounts codes;
};
using ScanDone = std::function<void(const ScanResult&)>;

// Captures every display (our own windows hidden meanwhile), then detects and
// parses the codes off the GUI thread. `done` runs on the GUI thread, exactly
// once, unless `context` is destroyed first: then it never runs.
void scanScreen(QObject* context, ScanDone done);

// The accounts of the QR codes in the image file at `path`. Throws
// QRImportError or OTPAuth::ParseError.
QList<Account> importImage(const QString& path);
// The same with how the codes fared; an image whose only codes could not be
// decoded gives no account and no error.
Found readImage(const QString& path);

// The steps after the capture: no image is `screenCaptureFailed`, images
// without a code are `noQRCodeFound`, otherwise accountsFromPayloads of every
// image's payloads, in image order.
QList<Account> accountsFromImages(const QList<QImage>& images);
// The same with how the codes fared; images whose only codes could not be
// decoded give no account and no error.
Found readImages(const QList<QImage>& images);

// otpauth:// and otpauth-migration:// payloads to accounts, in order; other
// payloads are ignored. Any account gathered wins over errors; with none, the
// last link's error, else `noQRCodeFound`.
QList<Account> accountsFromPayloads(const QStringList& payloads);

// The message shown for an error thrown by this namespace (or by the link
// parsers it calls).
QString errorMessage(const std::exception_ptr& error);

} // namespace QRImport
