#include "app/TickingClock.h"

#include "core/CorrectedClock.h"

TickingClock::TickingClock(std::function<QDateTime()> source, QObject* parent)
    : QObject(parent), m_source(std::move(source)) {
    m_now = read();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    // The tick itself runs on the next turn of the event loop, after the
    // timer's own handling, so a clock measurement that finished meanwhile
    // shows in this second.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                tick();
                schedule();
            },
            Qt::QueuedConnection);
    });
    schedule();
}

QDateTime TickingClock::read() const { return m_source ? m_source() : CorrectedClock::now(); }

void TickingClock::schedule() {
    // Measured anew each time: the offset of the corrected time may have
    // changed, and a timer that fired early (just before the second) is
    // simply followed by another a few milliseconds later.
    const qint64 ms = read().toMSecsSinceEpoch();
    const qint64 intoSecond = ((ms % 1000) + 1000) % 1000;
    m_timer.start(int(1000 - intoSecond) + tickMarginMs);
}

void TickingClock::tick() {
    m_now = read();
    emit ticked(m_now);
}
