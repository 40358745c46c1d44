#include "app/CopiedMark.h"

#include <QTimer>

void CopiedMark::mark(const QUuid& id) {
    m_id = id;
    const qint64 generation = ++m_generation;
    emit changed();
    QTimer::singleShot(m_durationMs, this, [this, generation] {
        if (m_generation != generation)
            return;
        m_id.reset();
        emit changed();
    });
}
