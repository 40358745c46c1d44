#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Helpers for tests on a real X server (tests/with-xvfb.sh): other X clients
// that press keys, read the clipboard or hold a hotkey, as real programs do.
namespace TestSupport {

// Runs xdotool and fails the current test unless it succeeds.
void xdotool(const QStringList& arguments);

// Runs xclip and returns what it printed. The event loop keeps running
// meanwhile: this process may own the selection xclip asks for.
QByteArray xclip(const QStringList& arguments);

// What the clipboard holds, as another program reads it.
QByteArray clipboardText();

// What oathtool prints for these arguments (the reference for codes), e.g.
// {"--totp", "-b", base32Secret}; empty when it fails.
QString oathtool(const QStringList& arguments);

// A window's EWMH states (_NET_WM_STATE) as xprop reads them, e.g.
// "_NET_WM_STATE_SKIP_TASKBAR"; empty when it has none.
QStringList windowStates(quintptr window);

// A window manager (openbox, with its own empty configuration) on the test's
// X server for as long as this lives; `running` once it manages windows.
struct WindowManager {
    QTemporaryDir config;
    QProcess process;
    bool running = false;

    WindowManager();
    ~WindowManager();
};

// A second X client holding Control+Alt+<key> (HotKeyGrabber.cpp; with
// "numlock" as `extra`, also with Num Lock; with "bare", the key alone). `answer` is its first line:
// "ready", or "taken" when another client holds the combination first.
struct HotKeyGrabber {
    QProcess process;
    QByteArray answer;

    explicit HotKeyGrabber(const QString& key, const QString& extra = {});
    ~HotKeyGrabber();
    // Lets go of the combination.
    void stop();
};

// This test program started again as the text receiver (TextReceiver.h), the
// program in front that keystrokes and pastes reach.
class TextReceiverProcess {
public:
    TextReceiverProcess();
    ~TextReceiverProcess();

    bool waitForStarted() { return m_process.waitForStarted(); }
    // The last whole line it has written so far: "ready" once it has the
    // focus, then its text after each change.
    QString lastLine();

private:
    QProcess m_process;
    QString m_last;
};

} // namespace TestSupport
