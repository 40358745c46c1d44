#include "app/StoreProblemLine.h"

#include "core/AccountStore.h"
#include "platform/Style.h"

StoreProblemLine::StoreProblemLine(AccountStore& store, QWidget* parent)
    : QLabel(parent), m_store(store) {
    setObjectName(QStringLiteral("storeProblem"));
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setFont(Style::font(Style::TextStyle::caption));
    Style::setTextColor(this, Style::color(Style::SemanticColor::red));
    setContentsMargins(16, 6, 16, 6);
    connect(&m_store, &AccountStore::vaultStateChanged, this, &StoreProblemLine::refresh);
    refresh();
}

QString StoreProblemLine::vaultProblem(const AccountStore& store) {
    switch (store.vaultState()) {
    case AccountStore::VaultState::open:
        return {};
    case AccountStore::VaultState::opening:
        return tr("Opening your keyring…");
    case AccountStore::VaultState::locked:
        return tr("Your keyring is locked. Quillet shows your accounts once it is unlocked.");
    case AccountStore::VaultState::unreadable:
        return tr("Quillet could not read your keyring.") + QLatin1Char(' ') +
               store.failureReason();
    }
    return {};
}

bool StoreProblemLine::run(const std::function<void()>& operation, const QString& what) {
    const quint64 failures = m_store.failureCount();
    operation();
    const bool failed = m_store.failureCount() != failures;
    m_failure = failed ? what + QLatin1Char(' ') + m_store.failureReason() : QString();
    refresh();
    return !failed;
}

void StoreProblemLine::refresh() {
    const QString vault = vaultProblem(m_store);
    const QString text = !vault.isEmpty() ? vault : m_failure;
    setText(text);
    setVisible(!text.isEmpty());
}
