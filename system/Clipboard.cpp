#include "system/Clipboard.h"

#include "core/Settings.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/files/UserDefaults.h"

#include <QTimer>

namespace Clipboard {

namespace {

// One pending clear for the whole program. Each copy restarts it with its
// own text, so an older timer can never wipe a newer copy early, not even a
// copy of the same code.
struct PendingClear {
    QTimer timer;
    QString code;

    PendingClear() {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (Pasteboard::text() == code)
                Pasteboard::clear();
            code.clear();
        });
    }
};

PendingClear& pending() {
    static PendingClear* clear = new PendingClear;
    return *clear;
}

} // namespace

void copyCodeToClipboard(const QString& code, UserDefaults& defaults) {
    Pasteboard::writeConcealed(code);
    const qint64 seconds = defaults.integer(Settings::clipboardClearSeconds.key)
                               .value_or(Settings::clipboardClearSeconds.defaultValue);
    PendingClear& clear = pending();
    if (seconds < 1) {
        clear.timer.stop();
        clear.code.clear();
        return;
    }
    clear.code = code;
    clear.timer.start(int(std::min<qint64>(seconds, 24 * 3600) * 1000));
}

int pendingClearMs() { return pending().timer.isActive() ? pending().timer.remainingTime() : -1; }

} // namespace Clipboard
