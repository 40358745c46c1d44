#include "app/StoreProblemLine.h"

#include "core/AccountStore.h"
#include "platform/files/UserDefaults.h"
#include "platform/look/Style.h"

StoreProblemLine::StoreProblemLine(AccountStore& store, Scope scope, QWidget* parent)
    : QLabel(parent), m_store(store), m_scope(scope) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setFont(Style::font(Style::TextStyle::caption));
    const QColor red = Style::color(Style::SemanticColor::red);
    if (m_scope == Scope::list) {
        // Under a list the line is a tinted band across the window.
        setObjectName(QStringLiteral("errorLine"));
        setContentsMargins(12, 6, 12, 6);
        setAutoFillBackground(true);
        QPalette colours = palette();
        colours.setColor(QPalette::WindowText, red);
        QColor tint = red;
        tint.setAlphaF(0.08);
        colours.setColor(QPalette::Window, tint);
        setPalette(colours);
        connect(&m_store, &AccountStore::lastErrorChanged, this, [this] {
            // A failure that is not the user's action under way speaks for itself.
            if (!m_acting)
                m_failure.reset();
            refresh();
        });
    } else {
        setObjectName(QStringLiteral("storeProblem"));
        Style::setTextColor(this, red);
        setContentsMargins(16, 6, 16, 6);
    }
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
    m_acting = true;
    operation();
    m_acting = false;
    const bool failed = m_store.failureCount() != failures;
    settled(!failed, what);
    return !failed;
}

void StoreProblemLine::settled(bool stored, const QString& what) {
    if (m_scope == Scope::list) {
        // The store's own signal clears the line; a success leaves it be.
        if (!stored) {
            m_failure = what;
            refresh();
        }
    } else {
        m_failure = !stored ? std::optional(what + QLatin1Char(' ') + m_store.failureReason())
                            : std::nullopt;
        refresh();
    }
}

void StoreProblemLine::refresh() {
    if (m_scope == Scope::list) {
        const bool shown =
            m_store.lastError() && m_store.vaultState() == AccountStore::VaultState::open;
        setVisible(shown);
        setText(!shown      ? QString()
                : m_failure ? *m_failure + QLatin1Char(' ') + m_store.failureReason()
                            : m_store.failureReason());
        return;
    }
    const QString vault = vaultProblem(m_store);
    const QString text = !vault.isEmpty() ? vault : m_failure.value_or(QString());
    setText(text);
    setVisible(!text.isEmpty());
}

QLabel* StoreProblemLine::noticeLine(const QString& objectName, QWidget* parent) {
    auto* line = new QLabel(parent);
    line->setObjectName(objectName);
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    line->setFont(Style::font(Style::TextStyle::caption));
    line->setContentsMargins(12, 6, 12, 6);
    Style::setTextColor(line, Style::color(Style::SemanticColor::orange));
    return line;
}

QLabel* StoreProblemLine::settingsLine(UserDefaults& defaults, QWidget* parent) {
    QLabel* line = noticeLine(QStringLiteral("settingsProblem"), parent);
    const auto refresh = [line, &defaults] {
        const std::optional<QString> problem = defaults.problem();
        line->setText(problem.value_or(QString()));
        line->setVisible(problem.has_value());
    };
    QObject::connect(&defaults, &UserDefaults::problemChanged, line, refresh);
    refresh();
    return line;
}
