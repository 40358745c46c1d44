#include "app/TickingClock.h"

#include "core/CorrectedClock.h"

TickingClock::TickingClock(std::function<QDateTime()> source, QObject* parent)
    : QObject(parent), m_source(std::move(source)) {
    m_now = read();
    m_timer.setInterval(1000);
    m_timer.setTimerType(Qt::PreciseTimer);
    // The tick itself runs on the next turn of the event loop, after the
    // timer's own handling, so a clock measurement that finished meanwhile
    // shows in this second.
    connect(&m_timer, &QTimer::timeout, this,
            [this] { QMetaObject::invokeMethod(this, &TickingClock::tick, Qt::QueuedConnection); });
    m_timer.start();
}

QDateTime TickingClock::read() const { return m_source ? m_source() : CorrectedClock::now(); }

void TickingClock::tick() {
    m_now = read();
    emit ticked(m_now);
}
