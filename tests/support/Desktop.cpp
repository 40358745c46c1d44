#include "tests/support/Desktop.h"
#include "tests/support/TestMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <QtTest>

namespace TestSupport {

void xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    QVERIFY(process.waitForFinished(QUILLET_TEST_WAIT_MS));
    QCOMPARE(process.exitCode(), 0);
}

QByteArray xclip(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xclip"), arguments);
    QElapsedTimer elapsed;
    elapsed.start();
    while (process.state() != QProcess::NotRunning && elapsed.elapsed() < QUILLET_TEST_WAIT_MS) {
        process.waitForFinished(20);
        QCoreApplication::processEvents();
    }
    return process.readAllStandardOutput();
}

QByteArray clipboardText() {
    return xclip({QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
}

QString oathtool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("oathtool"), arguments);
    if (!process.waitForFinished(QUILLET_TEST_WAIT_MS) || process.exitCode() != 0) return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QStringList windowStates(quintptr window) {
    QProcess process;
    process.start(QStringLiteral("xprop"),
                  {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_STATE")});
    if (!process.waitForFinished(QUILLET_TEST_WAIT_MS))
        return {};
    // "_NET_WM_STATE(ATOM) = _NET_WM_STATE_A, _NET_WM_STATE_B" or "... not found."
    const QString line = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return {};
    QStringList states = line.mid(equals + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString& state : states)
        state = state.trimmed();
    return states;
}

WindowManager::WindowManager() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), config.path());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!process.waitForStarted(5000))
        return;
    // Running once it manages a window. While it starts up it may drop a
    // request to map one, so the probe asks again until it shows.
    QWidget probe;
    probe.setWindowTitle(QStringLiteral("window manager probe"));
    probe.resize(40, 40);
    QElapsedTimer elapsed;
    elapsed.start();
    while (!running && elapsed.elapsed() < QUILLET_TEST_WAIT_MS) {
        probe.hide();
        probe.show();
        QElapsedTimer attempt;
        attempt.start();
        while (!running && attempt.elapsed() < 1000) {
            QTest::qWait(50);
            // The window manager's mark on the windows it manages.
            QProcess xprop;
            xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"),
                                                  QString::number(probe.winId()),
                                                  QStringLiteral("WM_STATE")});
            xprop.waitForFinished(5000);
            running = xprop.readAllStandardOutput().contains("Normal");
        }
    }
}

WindowManager::~WindowManager() {
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}

HotKeyGrabber::HotKeyGrabber(const QString& key, const QString& extra) {
    process.start(QStringLiteral(QUILLET_HOTKEY_GRABBER),
                  extra.isEmpty() ? QStringList{key} : QStringList{key, extra});
    if (process.waitForReadyRead(QUILLET_TEST_WAIT_MS)) answer = process.readLine().trimmed();
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
