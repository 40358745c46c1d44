#pragma once

#include "core/Account.h"

#include <QObject>

class AccountStore;
class UserDefaults;

// The store's active accounts as a view lists them, following the store.
class AccountListModel : public QObject {
    Q_OBJECT

public:
    enum class Ordering { bySortSetting, stored };
    AccountListModel(AccountStore& store, UserDefaults& defaults,
                     Ordering ordering = Ordering::bySortSetting, QObject* parent = nullptr);
    const QList<Account>& accounts() const { return m_accounts; }

signals:
    void accountsChanged();

private:
    AccountStore& m_store;
    QList<Account> m_accounts;
};
