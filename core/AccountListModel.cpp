#include "core/AccountListModel.h"

#include "core/AccountStore.h"

AccountListModel::AccountListModel(AccountStore& store, UserDefaults&, Ordering, QObject* parent)
    : QObject(parent), m_store(store), m_accounts(store.accounts()) {
    connect(&store, &AccountStore::accountsChanged, this, [this] {
        m_accounts = m_store.accounts();
        emit accountsChanged();
    });
}
