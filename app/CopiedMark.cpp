#include "app/CopiedMark.h"

#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "system/Clipboard.h"

#include <QCoreApplication>
#include <QPointer>
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

void copyCode(const Account& account, AccountStore& store, TickingClock& clock,
              UserDefaults& defaults, CopiedMark& mark,
              std::function<void(const QString& why)> failed) {
    store.currentCounter(account, [&store, &clock, &defaults, mark = QPointer(&mark),
                                   label = account.displayLabel(),
                                   failed = std::move(failed)](const std::optional<Account>& current) {
        if (!mark)
            return;
        if (!current)
            return failed(QCoreApplication::translate("CopiedMark", "The code of “%1” was not copied.")
                              .arg(label));
        // The time is published anew first: a copy that lands between a
        // period's end and the next tick takes the new code, and the rows
        // show that same code as they turn green, never an expired one.
        clock.tick();
        Clipboard::copyCodeToClipboard(current->code(clock.now()), defaults);
        store.markUsed(*current);
        mark->mark(current->id);
    });
}
