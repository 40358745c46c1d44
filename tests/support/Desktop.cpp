#include "tests/support/Desktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest>

namespace TestSupport {

void xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
}

QByteArray xclip(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xclip"), arguments);
    QElapsedTimer elapsed;
    elapsed.start();
    while (process.state() != QProcess::NotRunning && elapsed.elapsed() < 5000) {
        process.waitForFinished(20);
        QCoreApplication::processEvents();
    }
    return process.readAllStandardOutput();
}

QByteArray clipboardText() {
    return xclip({QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
}

HotKeyGrabber::HotKeyGrabber(const QString& key, const QString& extra) {
    process.start(QStringLiteral(QUILLET_HOTKEY_GRABBER),
                  extra.isEmpty() ? QStringList{key} : QStringList{key, extra});
    if (process.waitForReadyRead(5000)) answer = process.readLine().trimmed();
}

HotKeyGrabber::~HotKeyGrabber() {
    stop();
}

void HotKeyGrabber::stop() {
    if (process.state() == QProcess::NotRunning) return;
    process.closeWriteChannel();
    process.waitForFinished(5000);
}

TextReceiverProcess::TextReceiverProcess() {
    m_process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--receiver")});
}

TextReceiverProcess::~TextReceiverProcess() {
    m_process.kill();
    m_process.waitForFinished();
}

QString TextReceiverProcess::lastLine() {
    while (m_process.canReadLine())
        m_last = QString::fromUtf8(m_process.readLine()).chopped(1);
    return m_last;
}

} // namespace TestSupport
