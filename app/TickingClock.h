#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>

// The one "now" of every view that shows a code or a countdown: the
// corrected current time, published once a second. Views recompute from it,
// so codes roll over without a timer per account.
//
// Ticks fall on the corrected time's whole seconds, so a code rolls over as
// its period ends, not up to a second later.
class TickingClock : public QObject {
    Q_OBJECT

public:
    // How long after a whole second a tick is asked for: a timer may fire a
    // little early, and the system clock may run ahead of the timer's.
    static constexpr int tickMarginMs = 2;

    // `source` gives the corrected time; tests pass their own.
    explicit TickingClock(std::function<QDateTime()> source = {}, QObject* parent = nullptr);

    QDateTime now() const { return m_now; }
    // Publishes the time anew (the timer does this every second).
    void tick();

signals:
    void ticked(const QDateTime& now);

private:
    QDateTime read() const;
    // Arms the timer for just after the next whole second of read().
    void schedule();

    std::function<QDateTime()> m_source;
    QDateTime m_now;
    QTimer m_timer;
};
