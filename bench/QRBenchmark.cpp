// Finding QR codes in one 3840 x 2160 screen image: a 1920 x 1080 display
// captured at twice its size, as the screen scan does. The picture is a busy
// desktop (windows, lines of text, a photo-like gradient) with one code, or
// with none, which is the slower case: the detector searches the whole image.
// Debian's zbarimg reads the same image from a PNG file, side by side with
// our own import of that file; its time includes starting the program.
// A grid of 36 codes at 4 pixels a module (an export page of several codes)
// needs the tiled search to find them all, alone and drawn into the desktop.
#include "intake/QRImport.h"
#include "platform/qr/BarcodeReader.h"
#include "platform/qr/QrImage.h"
#include "tests/intake/ImportSamples.h"

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

const QString link = QStringLiteral(
    "otpauth://totp/Example:alice@example.com?secret=JBSWY3DPEHPK3PXPJBSWY3DPEHPK3PXP"
    "&issuer=Example&algorithm=SHA256&digits=8");

QImage desktop(bool withCode) {
    QImage image(3840, 2160, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 3840, 2160);
    sky.setColorAt(0, QColor(40, 70, 120));
    sky.setColorAt(1, QColor(200, 120, 80));
    painter.fillRect(image.rect(), sky);
    QRandomGenerator random(7);
    QFont font = painter.font();
    font.setPixelSize(26);
    painter.setFont(font);
    for (int w = 0; w < 6; ++w) {
        const QRect window(random.bounded(2800), random.bounded(1400), 900 + random.bounded(600),
                           600 + random.bounded(400));
        painter.fillRect(window, QColor(245, 245, 245));
        painter.fillRect(window.adjusted(0, 0, 0, -window.height() + 56), QColor(220, 220, 225));
        painter.setPen(QColor(30, 30, 30));
        for (int y = window.top() + 90; y < window.bottom() - 20; y += 34)
            painter.drawText(window.left() + 24, y,
                             QStringLiteral("The quick brown fox jumps over the lazy dog %1 — "
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789")
                                 .arg(random.bounded(100000)));
    }
    if (withCode) {
        // 4 logical pixels per module, doubled by the capture.
        const QImage code = QrImage::make(link.toUtf8(), 8);
        const QRect page(1500, 600, code.width() + 160, code.height() + 160);
        painter.fillRect(page, Qt::white);
        painter.drawImage(page.topLeft() + QPoint(80, 80), code);
    }
    return image;
}

void findCodeIn4KScreen(benchmark::State& state) {
    const QImage screen = desktop(true);
    for (auto _ : state) {
        const QStringList found = BarcodeReader::readQRCodes(screen);
        if (found != QStringList{link}) state.SkipWithError("the code was not found");
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(findCodeIn4KScreen)->Unit(benchmark::kMillisecond);

void searchCodelessScreen(benchmark::State& state) {
    const QImage screen = desktop(false);
    for (auto _ : state) {
        const BarcodeReader::Scan found = BarcodeReader::scan(screen);
        if (!found.payloads.isEmpty() || found.unreadable != 0)
            state.SkipWithError("a code was found where there is none");
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(searchCodelessScreen)->Unit(benchmark::kMillisecond);

// 6 x 6 codes at 4 pixels a module, the grid the import tests read.
QImage grid() { return ImportSamples::qrGrid(6, 6, 4); }

void readGrid(benchmark::State& state, const QImage& image) {
    for (auto _ : state) {
        const BarcodeReader::Scan found = BarcodeReader::scan(image);
        if (found.payloads.size() != 36 || found.unreadable != 0)
            state.SkipWithError("not every code of the grid was read");
        benchmark::DoNotOptimize(found);
    }
}

void findGridOf36(benchmark::State& state) {
    readGrid(state, grid());
}
BENCHMARK(findGridOf36)->Unit(benchmark::kMillisecond);

void findGridOf36In4KScreen(benchmark::State& state) {
    QImage screen = desktop(false);
    const QImage codes = grid();
    QPainter(&screen).drawImage(1200, 400, codes);
    readGrid(state, screen);
}
BENCHMARK(findGridOf36In4KScreen)->Unit(benchmark::kMillisecond);

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

QString screenFile() {
    static const QString path = [] {
        const QString p = folder().filePath(QStringLiteral("screen.png"));
        desktop(true).save(p);
        return p;
    }();
    return path;
}

void importScreenshotFile(benchmark::State& state) {
    const QString path = screenFile();
    for (auto _ : state)
        benchmark::DoNotOptimize(QRImport::importImage(path));
}
BENCHMARK(importScreenshotFile)->Unit(benchmark::kMillisecond);

void zbarimgScreenshotFile(benchmark::State& state) {
    const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    if (zbarimg.isEmpty()) {
        state.SkipWithError("zbarimg is not installed (zbar-tools)");
        return;
    }
    const QString path = screenFile();
    for (auto _ : state) {
        QProcess process;
        process.start(zbarimg,
                      {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                       QStringLiteral("-Sdisable"), QStringLiteral("-Sqrcode.enable"), path});
        process.waitForFinished(-1);
        if (process.readAllStandardOutput().trimmed() != link.toUtf8())
            state.SkipWithError("zbarimg did not read the code");
    }
}
BENCHMARK(zbarimgScreenshotFile)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the drawn text
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
