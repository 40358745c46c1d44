#include "app/FailureLine.h"

#include "core/AccountStore.h"
#include "platform/Style.h"

FailureLine::FailureLine(AccountStore& store, QWidget* parent) : QLabel(parent), m_store(store) {
    setObjectName(QStringLiteral("errorLine"));
    setTextFormat(Qt::PlainText);
    setFont(Style::font(Style::TextStyle::caption));
    setContentsMargins(12, 6, 12, 6);
    setAutoFillBackground(true);
    setWordWrap(true);
    QPalette colours = palette();
    QColor red = Style::color(Style::SemanticColor::red);
    colours.setColor(QPalette::WindowText, red);
    red.setAlphaF(0.08);
    colours.setColor(QPalette::Window, red);
    setPalette(colours);
    connect(&m_store, &AccountStore::lastErrorChanged, this, [this] {
        // A failure that is not the user's action under way speaks for itself.
        if (!m_acting)
            m_failure.reset();
        refresh();
    });
    connect(&m_store, &AccountStore::vaultStateChanged, this, &FailureLine::refresh);
    refresh();
}

void FailureLine::act(const std::function<void()>& operation, const QString& what) {
    const quint64 failures = m_store.failureCount();
    m_acting = true;
    operation();
    m_acting = false;
    if (m_store.failureCount() != failures) {
        m_failure = what;
        refresh();
    }
}

void FailureLine::refresh() {
    const bool shown =
        m_store.lastError() && m_store.vaultState() == AccountStore::VaultState::open;
    setVisible(shown);
    setText(!shown      ? QString()
            : m_failure ? *m_failure + QLatin1Char(' ') + m_store.failureReason()
                        : m_store.failureReason());
}
