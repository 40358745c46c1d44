#pragma once

#include "core/Account.h"

#include <QObject>
#include <QString>
#include <optional>

class AccountStore;
class AppSettings;
class StatusItem;
class TickingClock;

// What the tray's icon shows beside itself: the live code of one account
// while "Show a code in the menu bar" is on (the account chosen in the
// settings, else the first one), nothing otherwise. It follows the store and
// the settings, and follows the clock only while it shows a code. The app
// lock does not hide it, nor does the panel's "Show codes".
class MenuBarLabel : public QObject {
    Q_OBJECT

public:
    MenuBarLabel(AccountStore& store, TickingClock& clock, AppSettings& settings, StatusItem& item,
                 QObject* parent = nullptr);

    // The chosen account when it exists, else the first of `accounts`.
    static std::optional<Account> menuBarAccount(const QList<Account>& accounts,
                                                 const std::optional<QUuid>& chosen);
    std::optional<Account> menuBarAccount() const;

    // The code shown beside the icon: the plain code, no grouping space;
    // empty while the icon stands alone.
    QString codeText() const { return m_code; }
    bool followsClock() const { return m_account.has_value(); }

private:
    void refresh();
    void show(const QString& code);

    AccountStore& m_store;
    TickingClock& m_clock;
    AppSettings& m_settings;
    StatusItem& m_item;
    std::optional<Account> m_account; // while a code is shown
    QMetaObject::Connection m_ticks;
    QString m_code;
};
