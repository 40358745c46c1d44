#include "app/RecentlyDeletedView.h"

#include "app/SheetList.h"
#include "app/StoreProblemLine.h"
#include "core/AccountAvatarView.h"
#include "core/AccountStore.h"
#include "platform/look/FittedText.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

RecentlyDeletedView::RecentlyDeletedView(AccountStore& store, std::function<QDateTime()> clock,
                                         QWidget* parent)
    : QWidget(parent), m_store(store), m_clock(std::move(clock)) {
    if (!m_clock)
        m_clock = [] { return QDateTime::currentDateTimeUtc(); };
    setWindowTitle(tr("Recently Deleted"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_problem = new StoreProblemLine(m_store, StoreProblemLine::Scope::screen, this);
    layout->addWidget(m_problem);
    auto* list = new SheetList(this);
    layout->addWidget(list);

    const SheetList::Section deleted = list->addSection(
        tr("Recently Deleted"),
        tr("Kept for 30 days, then removed automatically. Restore to bring an account back."));
    m_empty = Style::label(tr("Nothing here. Deleted accounts appear here for 30 days before "
                              "they're removed for good."),
                           Style::TextStyle::body, Style::SemanticColor::secondary);
    m_empty->setWordWrap(true);
    deleted.rows->addWidget(m_empty);
    m_rows = new QVBoxLayout;
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(2);
    deleted.rows->addLayout(m_rows);

    const SheetList::Section all = list->addSection({});
    m_deleteAllSection = all.box;
    auto* deleteAll = new QPushButton(tr("Delete All Permanently"));
    deleteAll->setAutoDefault(false);
    QPalette red = deleteAll->palette();
    red.setColor(QPalette::ButtonText, Style::color(Style::SemanticColor::red));
    deleteAll->setPalette(red);
    connect(deleteAll, &QPushButton::clicked, this,
            [this] { whenAllowed([this] { confirmEmpty(); }); });
    all.rows->addWidget(deleteAll, 0, Qt::AlignLeft);

    connect(&m_store, &AccountStore::deletedAccountsChanged, this, &RecentlyDeletedView::refresh);
    connect(&m_store, &AccountStore::vaultStateChanged, this, &RecentlyDeletedView::refresh);
    refresh();
}

QString RecentlyDeletedView::deletedSubtitle(const std::optional<QDateTime>& deletedAt,
                                             const QDateTime& now) {
    if (!deletedAt)
        return tr("Deleted");
    // Whole spans of 24 hours, truncated towards zero; a date ahead of this
    // clock (another computer's) counts as today.
    const qint64 days = deletedAt->secsTo(now) / 86400;
    if (days <= 0)
        return tr("Deleted today");
    if (days == 1)
        return tr("Deleted yesterday");
    return tr("Deleted %1 days ago").arg(days);
}

void RecentlyDeletedView::refresh() {
    SheetList::clearRows(m_rows);
    const QList<Account>& accounts = m_store.deletedAccounts();
    // An unread vault lists nothing because nothing is known: the problem
    // line says so, and "Nothing here" would not be true.
    m_empty->setVisible(accounts.isEmpty() &&
                        m_store.vaultState() == AccountStore::VaultState::open);
    m_deleteAllSection->setVisible(!accounts.isEmpty());
    const QDateTime now = m_clock();
    for (const Account& account : accounts) {
        auto* row = new SheetListRow;
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(6, 5, 6, 5);
        line->setSpacing(12);
        auto* avatar = new AccountAvatarView(34);
        avatar->setAccount(account);
        line->addWidget(avatar);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        QString label = account.displayLabel();
        label.replace(QLatin1Char('\n'), QLatin1Char(' '));
        // A long name is cut with "…", whole in its tooltip.
        texts->addWidget(Style::elidedLabel(label, Style::TextStyle::body));
        texts->addWidget(Style::label(deletedSubtitle(account.deletedAt, now),
                                      Style::TextStyle::caption, Style::SemanticColor::secondary));
        line->addLayout(texts, 1);
        auto* restore = new QPushButton(tr("Restore"));
        restore->setFlat(true);
        restore->setAutoDefault(false);
        restore->setAccessibleDescription(label);
        const QUuid id = account.id;
        connect(restore, &QPushButton::clicked, this, [this, id, label] { restoreAccount(id, label); });
        line->addWidget(restore);
        row->setAccessibleName(label);

        auto* restoreAction =
            new QAction(Symbols::icon(QStringLiteral("arrow.uturn.backward")), tr("Restore"), row);
        connect(restoreAction, &QAction::triggered, this,
                [this, id, label] { restoreAccount(id, label); });
        auto* erase =
            new QAction(Symbols::icon(QStringLiteral("trash")), tr("Delete Permanently"), row);
        connect(erase, &QAction::triggered, this, [this, account, label] {
            whenAllowed([this, account, label] {
                m_problem->run([&] { m_store.erase(account); },
                               tr("“%1” was not deleted.").arg(label));
            });
        });
        row->addActions({restoreAction, erase});
        m_rows->addWidget(row);
    }
}

void RecentlyDeletedView::confirmEmpty() {
    if (m_confirmation)
        return;
    auto* box = new QMessageBox(this);
    m_confirmation = box;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Delete all permanently?"));
    box->setText(tr("Delete all permanently?"));
    box->setInformativeText(tr("This erases every account in Recently Deleted. It can't be undone."));
    QPushButton* cancel = box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    QPushButton* deleteAll = box->addButton(tr("Delete All"), QMessageBox::DestructiveRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QMessageBox::buttonClicked, this, [this, deleteAll](QAbstractButton* clicked) {
        // Asked again if the lock came while the confirmation was open.
        if (clicked == deleteAll)
            whenAllowed([this] {
                m_problem->run([this] { m_store.emptyRecentlyDeleted(); },
                               tr("Not every account was deleted."));
            });
    });
    box->open();
}

void RecentlyDeletedView::whenAllowed(std::function<void()> proceed) {
    if (!m_gate) {
        proceed();
        return;
    }
    // The view may be gone (its sheet closed) by the time the answer comes.
    const QPointer<RecentlyDeletedView> alive(this);
    m_gate(window(), [alive, proceed = std::move(proceed)] {
        if (alive)
            proceed();
    });
}

void RecentlyDeletedView::restoreAccount(const QUuid& id, const QString& label) {
    whenAllowed([this, id, label] {
        m_problem->run([&] { m_store.restore(id); }, tr("“%1” was not restored.").arg(label));
    });
}
