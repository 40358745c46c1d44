#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QUrl>
#include <functional>
#include <optional>

class QObject;

// The process-wide correction of a wrong device clock: the difference to a
// time-reference web server's "Date" header, measured at most every two
// minutes and applied only while it is recent and plausible.
namespace CorrectedClock {

struct State {
    double offset = 0; // server time minus device time, seconds
    QDateTime measuredAt = distantPast();
    bool enabled = true;

    static QDateTime distantPast();
    QJsonObject toJson() const;
    // All three keys are required; a partial record is no record.
    static std::optional<State> fromJson(const QJsonObject& object);

    friend bool operator==(const State&, const State&) = default;
};

inline constexpr double throttleSeconds = 120;
inline constexpr double maxAgeSeconds = 43200;    // 12 hours
inline constexpr double maxFutureSeconds = 60;    // measurement ahead of the device clock
inline constexpr double minOffsetSeconds = 4;
inline constexpr double maxOffsetSeconds = 86400; // one day
inline constexpr int requestTimeoutMs = 8000;

// The stored state is read from the keychain on first use, which may wait for
// the keyring. A program whose GUI thread must never wait calls
// loadOnlyWhenNeeded() first: from then on state(), offset() and now() use
// what was loaded (no correction until then), and load() reads the state,
// off the GUI thread. setEnabled() and record() still load it first.
void load();
// load() with the stored state already read (nothing when there is none).
void load(const std::optional<State>& stored);
void loadOnlyWhenNeeded();
State state();
// Seconds to add to the device time now; 0 when no correction applies.
double offset();
// The device time plus offset(): the time every code is computed at.
QDateTime now();
// False when the change could not be stored (the keyring could not be read
// or did not take it): then nothing changed, in memory either.
bool setEnabled(bool enabled);

// One measurement attempt: a HEAD request to the time reference. Never fails
// to its caller; `done` (optional) runs on the calling thread when the attempt
// has ended, stored or not. The calling thread needs an event loop.
void sync(bool force, std::function<void()> done = {});

bool shouldAttempt(bool force);
void record(double difference, const QDateTime& at);

// The "Date" header form: "Tue, 08 Dec 2026 21:50:00 GMT".
std::optional<QDateTime> parseHttpDate(const QString& text);

// The server asked for the time: QUILLET_TIME_REFERENCE_URL when set,
// otherwise a well-known HTTPS server.
QUrl timeReferenceURL();
void setTimeReferenceURL(const QUrl& url);

// Tests replace the device clock and start over as a new process would.
void setDeviceClockForTesting(std::function<QDateTime()> clock);
void resetForTesting();

} // namespace CorrectedClock
