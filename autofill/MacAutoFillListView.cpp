#include "autofill/MacAutoFillListView.h"

#include "autofill/ChoiceParts.h"
#include "core/AccountAvatarView.h"
#include "core/Text.h"
#include "platform/look/FittedText.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>

namespace {

// Lower case, in the composed form, so that a decomposed letter finds its
// precomposed twin.
QString folded(const QString& text) {
    return Text::lowercased(text).normalized(QString::NormalizationForm_C);
}

} // namespace

QList<Account> MacAutoFillListView::filteredAccounts(const QList<Account>& accounts,
                                                     const QString& query) {
    const QString needle = folded(Text::trimmedBlanksAndTabs(query));
    if (needle.isEmpty()) return accounts;
    QList<Account> kept;
    for (const Account& account : accounts)
        if (folded(account.name).contains(needle) || folded(account.issuer).contains(needle))
            kept.append(account);
    return kept;
}

QString MacAutoFillListView::rowTitle(const Account& account) {
    return account.issuer.isEmpty() ? account.name : account.issuer;
}

QString MacAutoFillListView::rowSubtitle(const Account& account) {
    return !account.issuer.isEmpty() && !account.name.isEmpty() ? account.name : QString();
}

MacAutoFillListView::MacAutoFillListView(QList<Account> accounts,
                                         std::function<void(const Account&)> onPick,
                                         std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), m_accounts(std::move(accounts)), m_onPick(std::move(onPick)),
      m_onCancel(std::move(onCancel)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(10, 10, 10, 10);
    searchRow->setSpacing(8);
    auto* glass = new QLabel;
    glass->setPixmap(Symbols::pixmap(QStringLiteral("magnifyingglass"), 16,
                                     Style::color(Style::SemanticColor::secondary),
                                     devicePixelRatioF()));
    ScreenReader::setHidden(glass);
    searchRow->addWidget(glass);
    m_search = new QLineEdit;
    m_search->setFrame(false);
    m_search->setPlaceholderText(tr("Search accounts"));
    m_search->setAccessibleName(tr("Search accounts"));
    searchRow->addWidget(m_search, 1);
    column->addLayout(searchRow);
    column->addWidget(ChoiceParts::divider());

    if (m_accounts.isEmpty()) {
        column->addStretch(1);
        auto* message = Style::label(tr("No accounts yet \u2014 open Quillet to add one."),
                                     Style::TextStyle::body, Style::SemanticColor::secondary);
        message->setWordWrap(true);
        message->setAlignment(Qt::AlignCenter);
        message->setContentsMargins(16, 16, 16, 16);
        column->addWidget(message);
        column->addStretch(1);
    } else {
        QVBoxLayout* rows = nullptr;
        column->addWidget(ChoiceParts::rowList(&rows), 1);
        for (const Account& account : m_accounts) {
            auto* row = new ChoiceParts::Row;
            row->content()->setSpacing(10);
            auto* avatar = new AccountAvatarView(28);
            avatar->setAccount(account);
            ScreenReader::setHidden(avatar);
            row->content()->addWidget(avatar);
            auto* texts = new QVBoxLayout;
            texts->setSpacing(1);
            const QString title = rowTitle(account);
            const QString subtitle = rowSubtitle(account);
            // Long names are cut with "…", whole in their tooltips.
            texts->addWidget(Style::elidedLabel(title, Style::TextStyle::body));
            if (!subtitle.isEmpty())
                texts->addWidget(Style::elidedLabel(subtitle, Style::TextStyle::caption,
                                                    Style::SemanticColor::secondary));
            row->content()->addLayout(texts, 1);
            auto* arrow = new QLabel;
            arrow->setPixmap(Symbols::pixmap(QStringLiteral("arrow.up.left.square"), 18,
                                             Style::color(Style::SemanticColor::accent),
                                             devicePixelRatioF()));
            ScreenReader::setHidden(arrow);
            row->content()->addWidget(arrow);
            row->setAccessibleName(subtitle.isEmpty() ? title : title + QStringLiteral(", ") + subtitle);
            // Every click picks again: whoever listens decides what a second
            // pick means.
            connect(row, &QAbstractButton::clicked, this, [this, account] { m_onPick(account); });
            rows->insertWidget(rows->count() - 1, row);
            m_rows.append(row);
        }
        connect(m_search, &QLineEdit::textChanged, this, &MacAutoFillListView::applyQuery);
    }

    column->addWidget(ChoiceParts::divider());
    column->addWidget(ChoiceParts::cancelFooter(this, [this] { m_onCancel(); }));
    m_search->setFocus();
}

void MacAutoFillListView::applyQuery(const QString& query) {
    const QList<Account> shown = filteredAccounts(m_accounts, query);
    qsizetype next = 0;
    for (qsizetype i = 0; i < m_accounts.size(); ++i) {
        const bool visible = next < shown.size() && shown[next].id == m_accounts[i].id &&
                             shown[next] == m_accounts[i];
        if (visible) ++next;
        m_rows[i]->setVisible(visible);
    }
}
