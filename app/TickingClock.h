#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>

// The one "now" of every view that shows a code or a countdown: the
// corrected current time, published once a second. Views recompute from it,
// so codes roll over without a timer per account.
class TickingClock : public QObject {
    Q_OBJECT

public:
    // `source` gives the corrected time; tests pass their own.
    explicit TickingClock(std::function<QDateTime()> source = {}, QObject* parent = nullptr);

    QDateTime now() const { return m_now; }
    // Publishes the time anew (the timer does this every second).
    void tick();

signals:
    void ticked(const QDateTime& now);

private:
    QDateTime read() const;

    std::function<QDateTime()> m_source;
    QDateTime m_now;
    QTimer m_timer;
};
