#pragma once

#include "core/Account.h"

#include <QList>
#include <QWidget>
#include <functional>

class QLineEdit;
namespace ChoiceParts {
class Row;
}

// The accounts a one-time code may be filled from, with a search field: the
// user picks one or cancels. The view only reports the choice, every time a
// row is clicked; it never reads the keyring and never shows a code.
class MacAutoFillListView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize preferredSize{440, 520};

    MacAutoFillListView(QList<Account> accounts, std::function<void(const Account&)> onPick,
                        std::function<void()> onCancel, QWidget* parent = nullptr);

    QSize sizeHint() const override { return preferredSize; }

    // The accounts whose name or issuer holds the query, trimmed of blanks
    // and tabs and compared in lower case (canonically equivalent forms
    // alike); all of them when the query is blank. Order is kept.
    static QList<Account> filteredAccounts(const QList<Account>& accounts, const QString& query);

    // The row's texts: the issuer, or the name when there is none; the name
    // below it only when both are there.
    static QString rowTitle(const Account& account);
    static QString rowSubtitle(const Account& account);

private:
    void applyQuery(const QString& query);

    QList<Account> m_accounts;
    std::function<void(const Account&)> m_onPick;
    std::function<void()> m_onCancel;
    QLineEdit* m_search;
    QList<ChoiceParts::Row*> m_rows; // one per account, in order
};
