#include "menubar/MenuBarLabel.h"

#include "app/TickingClock.h"
#include "core/AccountStore.h"
#include "platform/desktop/StatusItem.h"
#include "system/AppSettings.h"

MenuBarLabel::MenuBarLabel(AccountStore& store, TickingClock& clock, AppSettings& settings,
                           StatusItem& item, QObject* parent)
    : QObject(parent), m_store(store), m_clock(clock), m_settings(settings), m_item(item) {
    connect(&m_store, &AccountStore::accountsChanged, this, &MenuBarLabel::refresh);
    connect(&m_settings, &AppSettings::showCodeInMenuBarChanged, this, &MenuBarLabel::refresh);
    connect(&m_settings, &AppSettings::menuBarAccountIDChanged, this, &MenuBarLabel::refresh);
    refresh();
}

std::optional<Account> MenuBarLabel::menuBarAccount(const QList<Account>& accounts,
                                                    const std::optional<QUuid>& chosen) {
    if (chosen)
        for (const Account& account : accounts)
            if (account.id == *chosen)
                return account;
    if (accounts.isEmpty())
        return std::nullopt;
    return accounts.first();
}

std::optional<Account> MenuBarLabel::menuBarAccount() const {
    return menuBarAccount(m_store.accounts(), m_settings.menuBarAccountID());
}

void MenuBarLabel::refresh() {
    m_account = m_settings.showCodeInMenuBar() ? menuBarAccount() : std::nullopt;
    // Only a shown code follows the clock: the icon alone costs no tick.
    if (m_account && !m_ticks)
        m_ticks = connect(&m_clock, &TickingClock::ticked, this, [this](const QDateTime& now) {
            show(m_account->code(now));
        });
    else if (!m_account && m_ticks) {
        disconnect(m_ticks);
        m_ticks = {};
    }
    show(m_account ? m_account->code(m_clock.now()) : QString());
}

void MenuBarLabel::show(const QString& code) {
    if (code == m_code)
        return;
    m_code = code;
    m_item.setLabel(code);
    m_item.setToolTip(code);
}
