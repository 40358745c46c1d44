#include "intake/OTPAuth.h"
#include "intake/QRImport.h"
#include "platform/qr/BarcodeReader.h"
#include "platform/qr/QrImage.h"
#include "tests/intake/ImportSamples.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

using OTPAuth::ParseError;
using QRImport::QRImportError;
using namespace ImportSamples;

namespace {

const QString alice = QStringLiteral(
    "otpauth://totp/Example:alice@example.com?secret=JBSWY3DPEHPK3PXP&issuer=Example");
const QString bob = QStringLiteral("otpauth://hotp/Shop:bob?secret=GEZDGNBVGY3TQOJQ&counter=7");
// A migration payload holding only its version field: a valid link, no account.
const QString emptyMigration = QStringLiteral("otpauth-migration://offline?data=EAE%3D");

// A white canvas with each message's QR code drawn at its place, modules of
// `module` pixels, as a code looks on a screen.
QImage canvas(QSize size, const QList<std::pair<QString, QPoint>>& codes, int module = 4) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (const auto& [message, at] : codes)
        painter.drawImage(at, QrImage::make(message.toUtf8(), module));
    return image;
}

template <typename Error> Error thrownBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error;
    }
    throw std::runtime_error("expected error not thrown");
}

} // namespace

class QRImportTests : public QObject {
    Q_OBJECT

private slots:
    void drawnCodeScansBackByteForByte() {
        // A long link with every character class the link writer uses.
        Account account;
        account.issuer = QStringLiteral("Ex & Co: Ünïcode");
        account.name = QStringLiteral("someone+tag@example.com");
        account.secret = QByteArray(64, '\x5a');
        account.algorithm = HashAlgorithm::sha512;
        account.digits = 8;
        account.period = 60;
        const QByteArray link = account.otpauthURL().toUtf8();
        const QImage image = QrImage::make(link, 8);
        QVERIFY(!image.isNull());
        QCOMPARE(image.width() % 8, 0);
        const QImage framed = canvas(image.size() + QSize(64, 64), {});
        QImage withBorder = framed;
        QPainter(&withBorder).drawImage(32, 32, image);
        QCOMPARE(BarcodeReader::readQRCodes(withBorder), QStringList{QString::fromUtf8(link)});

        // Correction level M, read back from the symbol itself.
        const QImage grey = withBorder.convertToFormat(QImage::Format_Grayscale8);
        const auto results = ZXing::ReadBarcodes(
            ZXing::ImageView(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                             int(grey.bytesPerLine())));
        QCOMPARE(results.size(), size_t(1));
        QCOMPARE(QString::fromStdString(results.front().ecLevel()), QStringLiteral("M"));

        QVERIFY(QrImage::make(QByteArray(5000, 'x'), 8).isNull()); // beyond version 40
        QVERIFY(QrImage::make("x", 0).isNull());
    }

    void payloadRules() {
        // Order kept, duplicates kept, capitals in the prefix accepted.
        const QString shouting =
            QStringLiteral("OTPAUTH://totp/Loud:carol?secret=JBSWY3DPEHPK3PXP");
        QList<Account> found = QRImport::accountsFromPayloads(
            {bob, QStringLiteral("https://example.com"), alice, shouting, alice});
        QCOMPARE(found.size(), 4);
        QCOMPARE(found[0].name, QStringLiteral("bob"));
        QCOMPARE(found[0].counter, quint64(7));
        QCOMPARE(found[1].issuer, QStringLiteral("Example"));
        QCOMPARE(found[2].issuer, QStringLiteral("Loud"));
        QCOMPARE(found[3].secret, found[1].secret);
        QVERIFY(found[1].id != found[3].id);

        // A broken link next to a good one: the good one, no error.
        const QString noSecret = QStringLiteral("otpauth://totp/Example:x?issuer=Example");
        found = QRImport::accountsFromPayloads({noSecret, alice});
        QCOMPARE(found.size(), 1);

        // Broken links alone: the last one's error.
        const QString badType = QStringLiteral("otpauth://motp/x?secret=JBSWY3DPEHPK3PXP");
        QCOMPARE(thrownBy<ParseError>([&] {
                     QRImport::accountsFromPayloads({badType, noSecret});
                 }),
                 ParseError(ParseError::missingSecret));
        QCOMPARE(thrownBy<ParseError>([&] {
                     QRImport::accountsFromPayloads({noSecret, badType});
                 }).message(),
                 ParseError(ParseError::unsupportedType).message());

        // Only web links, leading blanks, an empty migration: nothing found.
        for (const QStringList& payloads :
             {QStringList{QStringLiteral("https://example.com/otpauth://")},
              QStringList{QStringLiteral(" ") + alice}, QStringList{emptyMigration},
              QStringList{}}) {
            QCOMPARE(thrownBy<QRImportError>([&] { QRImport::accountsFromPayloads(payloads); }),
                     QRImportError(QRImportError::noQRCodeFound));
        }
        // An empty migration does not hide another link's error.
        QCOMPARE(thrownBy<ParseError>([&] {
                     QRImport::accountsFromPayloads({emptyMigration, noSecret});
                 }),
                 ParseError(ParseError::missingSecret));
        // A migration link that cannot be read is the link's parse error.
        QCOMPARE(thrownBy<ParseError>([&] {
                     QRImport::accountsFromPayloads(
                         {QStringLiteral("otpauth-migration://offline?data=%%%")});
                 }),
                 ParseError(ParseError::invalidURL));
    }

    void imagesInOrder() {
        // Two "displays" at twice 1920 x 1080, codes in both; the second
        // display's code comes after the first's.
        const QImage first = canvas({3840, 2160}, {{bob, {300, 1500}}, {alice, {3000, 200}}});
        const QImage second = canvas({2560, 1440}, {{emptyMigration, {100, 100}}});
        const QImage third = canvas({2560, 1440}, {{alice, {1200, 700}}}, 6);
        const QList<Account> found = QRImport::accountsFromImages({first, second, third});
        QCOMPARE(found.size(), 3);
        QSet<QString> firstNames{found[0].name, found[1].name};
        QCOMPARE(firstNames,
                 (QSet<QString>{QStringLiteral("bob"), QStringLiteral("alice@example.com")}));
        QCOMPARE(found[2].name, QStringLiteral("alice@example.com"));

        QCOMPARE(thrownBy<QRImportError>([] { QRImport::accountsFromImages({}); }),
                 QRImportError(QRImportError::screenCaptureFailed));
        QCOMPARE(thrownBy<QRImportError>([] {
                     QRImport::accountsFromImages({canvas({800, 600}, {})});
                 }),
                 QRImportError(QRImportError::noQRCodeFound));
        QCOMPARE(QRImportError(QRImportError::noQRCodeFound).message(),
                 QStringLiteral("No QR code was found."));
    }

    void imageFiles() {
        // A screenshot of an export's code: one migration link, three accounts.
        const QString screenshot = samplePath(QStringLiteral("qr/migration_export.png"));
        COMPARE_ACCOUNTS(QRImport::importImage(screenshot), migrationLinks.first(3));
        QCOMPARE(thrownBy<QRImportError>([] {
                     QRImport::importImage(samplePath(QStringLiteral("qr/not_a_link.png")));
                 }),
                 QRImportError(QRImportError::noQRCodeFound));

        QTemporaryDir temp;
        const QString notImage = temp.filePath(QStringLiteral("notes.png"));
        QFile text(notImage);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("otpauth://totp/x?secret=JBSWY3DPEHPK3PXP\n");
        text.close();
        const QString truncated = temp.filePath(QStringLiteral("cut.png"));
        QVERIFY(canvas({400, 400}, {{alice, {40, 40}}}).save(truncated));
        QFile cut(truncated);
        QVERIFY(cut.resize(cut.size() / 3));
        for (const QString& path : {notImage, truncated, temp.filePath(QStringLiteral("gone.png"))})
            QCOMPARE(thrownBy<QRImportError>([&] { QRImport::importImage(path); }),
                     QRImportError(QRImportError::unreadableImage));

        const QString blank = temp.filePath(QStringLiteral("blank.jpg"));
        QVERIFY(canvas({640, 480}, {}).save(blank));
        QCOMPARE(thrownBy<QRImportError>([&] { QRImport::importImage(blank); }),
                 QRImportError(QRImportError::noQRCodeFound));
        const QString jpeg = temp.filePath(QStringLiteral("code.jpg"));
        QVERIFY(canvas({640, 480}, {{alice, {100, 60}}}, 5).save(jpeg, "JPG", 80));
        QCOMPARE(QRImport::importImage(jpeg).size(), 1);
    }

    // Codes side by side in a grid, as an export page or a screenshot of
    // several shows them, at small modules: every one is read, in reading
    // order, and zbarimg agrees that the picture holds them all where it
    // reads such modules. A code
    // overpainted in the middle of a grid is counted as found but unread.
    void codesInAGrid() {
        QTemporaryDir temp;
        // Codes in black as a screen shows them; in mid grey, as a photo of a
        // screen or a dimmed page does, where only the detector's own
        // thresholds see them; and shrunk to 1.6 pixels a module, as a
        // screenshot shown at reduced size has them.
        struct Grid {
            int columns, rows, module;
            int ink = 0;
            qreal scale = 1;
        };
        for (const Grid grid : {Grid{2, 2, 4}, Grid{3, 3, 4}, Grid{6, 6, 4}, Grid{4, 3, 2},
                                Grid{3, 3, 4, 150}, Grid{6, 6, 4, 150}, Grid{4, 3, 2, 150},
                                Grid{4, 4, 4, 150, 0.4}}) {
            const QString name = QStringLiteral("%1x%2 at %3 px, ink %4")
                                     .arg(grid.columns)
                                     .arg(grid.rows)
                                     .arg(grid.module * grid.scale)
                                     .arg(grid.ink);
            const QString path = temp.filePath(name + QStringLiteral(".png"));
            QImage image = qrGrid(grid.columns, grid.rows, grid.module);
            if (grid.scale != 1)
                image = image.scaled(image.size() * grid.scale, Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
            for (int y = 0; y < image.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x) {
                    const int level = grid.ink + (255 - grid.ink) * qGray(line[x]) / 255;
                    line[x] = qRgb(level, level, level);
                }
            }
            QVERIFY(image.save(path));
            QStringList links, names;
            for (int i = 0; i < grid.columns * grid.rows; ++i)
                links << gridLink(i), names << QStringLiteral("user%1@example.com").arg(i);
            // zbarimg reads no code of modules under two pixels.
            if (const auto oracle = grid.scale == 1 ? zbarimgReads(path) : std::nullopt) {
                QStringList sorted = links;
                sorted.sort();
                QVERIFY2(*oracle == sorted, qPrintable(name));
            } else if (grid.scale == 1) {
                qWarning("zbarimg is not installed: the grids go unchecked by another reader");
            }
            const QRImport::Found found = QRImport::readImage(path);
            QStringList read;
            for (const Account& account : found.accounts)
                read << account.name;
            QVERIFY2(read == names, qPrintable(name + QStringLiteral(": ") + read.join(u' ')));
            QCOMPARE(found.codes.read, links.size());
            QCOMPARE(found.codes.unreadable, 0);
            QCOMPARE(found.codes.unused, 0);
        }

        // The middle code of a 3 x 3 grid overpainted across half its width.
        QImage damaged = qrGrid(3, 3, 4);
        const int side = QrImage::make(gridLink(0).toUtf8(), 4).width();
        const int middle = 2 * 4 + side + 2 * 4;
        QPainter(&damaged).fillRect(middle + side / 4, middle + side / 4, side / 2, side / 2,
                                    Qt::white);
        const QString path = temp.filePath(QStringLiteral("damaged.png"));
        QVERIFY(damaged.save(path));
        QStringList eight;
        for (int i = 0; i < 9; ++i)
            if (i != 4)
                eight << gridLink(i);
        // Nor does zbarimg read it.
        if (const auto oracle = zbarimgReads(path))
            QVERIFY(!oracle->isEmpty() && !oracle->contains(gridLink(4)));
        const BarcodeReader::Scan scan = BarcodeReader::scan(QImage(path));
        QCOMPARE(scan.payloads, eight);
        QCOMPARE(scan.unreadable, 1);
        // That code alone: found, not read, and no account, without an error.
        QImage alone(side + 64, side + 64, QImage::Format_RGB32);
        alone.fill(Qt::white);
        QPainter(&alone).drawImage(32 - middle, 32 - middle, damaged);
        QPainter(&alone).fillRect(side + 32, 0, 32, alone.height(), Qt::white);
        QPainter(&alone).fillRect(0, side + 32, alone.width(), 32, Qt::white);
        const QString lone = temp.filePath(QStringLiteral("lone.png"));
        QVERIFY(alone.save(lone));
        const QRImport::Found nothing = QRImport::readImage(lone);
        QVERIFY(nothing.accounts.isEmpty());
        QCOMPARE(nothing.codes.read, 0);
        QCOMPARE(nothing.codes.unreadable, 1);
    }

    // A phone's photo of a code on a screen: 8000 x 6000 pixels, a JPEG, the
    // code slightly grey on an off-white page, made by qrencode and
    // ImageMagick. zbarimg reads it, and so must the add sheet's reader. A
    // picture claiming more than 100 megapixels is refused before it is
    // decoded.
    void largePhotos() {
        const QString qrencode = QStandardPaths::findExecutable(QStringLiteral("qrencode"));
        const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
        if (qrencode.isEmpty() || convert.isEmpty())
            QSKIP("qrencode or ImageMagick's convert is not installed (scripts/deps.sh)");
        QTemporaryDir temp;
        const QString code = temp.filePath(QStringLiteral("code.png"));
        const QString photo = temp.filePath(QStringLiteral("photo.jpg"));
        const auto run = [](const QString& program, const QStringList& arguments) {
            QProcess process;
            process.start(program, arguments);
            return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
                   process.exitCode() == 0;
        };
        QVERIFY(run(qrencode, {QStringLiteral("-s"), QStringLiteral("24"), QStringLiteral("-o"),
                               code, alice}));
        QVERIFY(run(convert, {QStringLiteral("-size"), QStringLiteral("8000x6000"),
                              QStringLiteral("xc:#e4e0d8"), code, QStringLiteral("-geometry"),
                              QStringLiteral("+5100+3900"), QStringLiteral("-composite"),
                              QStringLiteral("-quality"), QStringLiteral("88"), photo}));
        QCOMPARE(QImageReader(photo).size(), QSize(8000, 6000));
        if (const auto oracle = zbarimgReads(photo))
            QCOMPARE(*oracle, QStringList{alice});
        const QList<Account> found = QRImport::importImage(photo);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.front().name, QStringLiteral("alice@example.com"));

        // The same file's header saying 12000 x 9000.
        QFile file(photo);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        file.close();
        const qsizetype frame = bytes.indexOf(QByteArray("\xff\xc0", 2));
        QVERIFY(frame > 0);
        const auto put = [&](qsizetype at, int value) {
            bytes[at] = char(value >> 8), bytes[at + 1] = char(value & 0xff);
        };
        put(frame + 5, 9000);
        put(frame + 7, 12000);
        const QString huge = temp.filePath(QStringLiteral("huge.jpg"));
        QFile out(huge);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        out.close();
        QCOMPARE(QImageReader(huge).size(), QSize(12000, 9000));
        QCOMPARE(thrownBy<QRImportError>([&] { QRImport::importImage(huge); }),
                 QRImportError(QRImportError::unreadableImage));
    }

    // A screenshot of a real Google Authenticator export, and a code of text.
    void conformance() {
        if (conformanceDir().isEmpty())
            QSKIP("the real screenshots are read by the QRImportTests_conformance test");
        const QString dir = conformanceDir() + QStringLiteral("/qr/");
        QList<Want> want;
        for (const QString n : {"1", "2", "3"})
            want.append({"Test" + n, "Test" + n + ":test" + n + "@example" + n + ".com",
                         "JBSWY3DPEHPK3PX" + QString(QChar(u'O' + n.toInt()))});
        COMPARE_ACCOUNTS(QRImport::importImage(dir + "googleauth_export.png"), want);
        QCOMPARE(
            thrownBy<QRImportError>([&] { QRImport::importImage(dir + "qr_without_otp.png"); }),
            QRImportError(QRImportError::noQRCodeFound));
    }

    void errorMessages() {
        auto message = [](auto error) {
            return QRImport::errorMessage(std::make_exception_ptr(error));
        };
        QCOMPARE(message(QRImportError(QRImportError::unreadableImage)),
                 QStringLiteral("Could not read the image."));
        QCOMPARE(message(ParseError(ParseError::missingSecret)),
                 ParseError(ParseError::missingSecret).message());
        QVERIFY(QRImport::errorMessage({}).isEmpty());
    }
};

QUILLET_TEST_GUILESS_MAIN(QRImportTests)
#include "QRImportTests.moc"
