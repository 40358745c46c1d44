#include "app/ContentView.h"

#include "app/AccountRow.h"
#include "app/CopiedMark.h"
#include "app/EditAccountSheet.h"
#include "app/StoreProblemLine.h"
#include "app/TickingClock.h"
#include "core/AccountListModel.h"
#include "core/AccountStore.h"
#include "intake/AccountQRView.h"
#include "intake/AddAccountSheet.h"
#include "platform/files/UserDefaults.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QParallelAnimationGroup>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>

// The list's canvas: as tall as all the rows together, while only the rows
// in view exist as widgets (see ContentView::placeRows).
class RowsContainer : public QWidget {
public:
    using QWidget::QWidget;
    static constexpr int marginX = 8;
    static constexpr int marginY = 6;

    std::function<void()> onResized;
    void setRows(int count, int rowHeight) {
        if (count == m_count && rowHeight == m_rowHeight)
            return;
        m_count = count;
        m_rowHeight = rowHeight;
        updateGeometry();
    }
    QSize sizeHint() const override { return {0, 2 * marginY + m_count * m_rowHeight}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (onResized)
            onResized();
    }

private:
    int m_count = 0;
    int m_rowHeight = 0;
};

namespace {

const QString dragMimeType = QStringLiteral("application/x-quillet-account-id");

// The notice's distance from the window's bottom edge, and the room around it
// for its shadow.
constexpr int toastBottom = 16;
constexpr int toastShadowRoom = 10;

// The notice's capsule and its soft shadow (radius 6, 3 points down, black
// at a third), drawn behind the text. Drawn rather than a graphics effect:
// the notice fades through an effect of its own, and effects do not nest.
class NoticeBubble : public QWidget {
public:
    explicit NoticeBubble(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const QRectF capsule = QRectF(rect()).adjusted(toastShadowRoom, toastShadowRoom,
                                                       -toastShadowRoom, -toastShadowRoom);
        const auto rounded = [](const QRectF& r) {
            QPainterPath path;
            path.addRoundedRect(r, r.height() / 2, r.height() / 2);
            return path;
        };
        // Layers of growing size and equal faintness: dark under the capsule,
        // fading out over the radius.
        constexpr int radius = 6;
        for (int i = radius; i >= 0; --i) {
            QColor shade(Qt::black);
            shade.setAlphaF(0.33f / (radius + 1));
            painter.fillPath(rounded(capsule.translated(0, 3).adjusted(-i, -i, i, i)), shade);
        }
        painter.fillPath(rounded(capsule), palette().color(QPalette::Window));
        painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
        painter.drawPath(rounded(capsule.adjusted(0.5, 0.5, -0.5, -0.5)));
    }
};

} // namespace

ContentView::ContentView(AccountStore& store, TickingClock& clock, UserDefaults& defaults,
                         QWidget* parent)
    : QWidget(parent), m_store(store), m_clock(clock), m_defaults(defaults),
      m_list(new AccountListModel(store, defaults, AccountListModel::Ordering::bySortSetting, this)),
      m_copied(new CopiedMark(copiedMarkMs, this)) {
    setAcceptDrops(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(Style::divider(this));

    m_listArea = new QStackedWidget(this);
    m_emptyState = buildEmptyState();
    m_noMatchState = buildNoMatchState();
    m_vaultState = buildVaultState();
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_rowsContainer = new RowsContainer(m_scroll);
    m_rowsContainer->setObjectName(QStringLiteral("accountList"));
    m_rowsContainer->onResized = [this] { placeRows(); };
    m_scroll->setWidget(m_rowsContainer);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &ContentView::placeRows);
    m_listPage = m_scroll;
    m_listArea->addWidget(m_emptyState);
    m_listArea->addWidget(m_noMatchState);
    m_listArea->addWidget(m_vaultState);
    m_listArea->addWidget(m_listPage);
    column->addWidget(m_listArea, 1);

    m_errorLine = new StoreProblemLine(m_store, StoreProblemLine::Scope::list, this);
    column->addWidget(m_errorLine);

    m_unreadableLine = StoreProblemLine::noticeLine(QStringLiteral("unreadableLine"), this);
    column->addWidget(m_unreadableLine);
    column->addWidget(StoreProblemLine::settingsLine(m_defaults, this));

    // The notice fades as a whole (its host, which draws the capsule and the
    // shadow in the room it leaves around the text).
    m_toastHost = new NoticeBubble(this);
    auto* toastRoom = new QVBoxLayout(m_toastHost);
    toastRoom->setContentsMargins(toastShadowRoom, toastShadowRoom, toastShadowRoom,
                                  toastShadowRoom);
    m_toast = new QLabel(m_toastHost);
    m_toast->setObjectName(QStringLiteral("deletedToast"));
    m_toast->setTextFormat(Qt::PlainText);
    m_toast->setFont(Style::font(Style::TextStyle::callout));
    m_toast->setContentsMargins(16, 10, 16, 10);
    toastRoom->addWidget(m_toast);
    m_toastHost->setGraphicsEffect(new QGraphicsOpacityEffect(m_toastHost));
    m_toastHost->hide();

    // The first nine visible accounts copy with Control+1 to Control+9.
    for (int digit = 1; digit <= 9; ++digit) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_0 + digit)), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, digit] {
            const QList<Account> visible = visibleAccounts();
            if (digit <= visible.size())
                copy(visible[digit - 1]);
        });
    }

    // The list follows the store's accounts, folders and vault state and the
    // sort setting, once per change.
    connect(m_list, &AccountListModel::accountsChanged, this, &ContentView::refresh);
    connect(&m_store, &AccountStore::lastErrorChanged, this, [this] {
        refreshUnreadableLine();
        refreshVaultState();
    });
    connect(&m_clock, &TickingClock::ticked, this, &ContentView::tick);
    connect(m_copied, &CopiedMark::changed, this, [this] {
        for (AccountRow* row : std::as_const(m_orderedRows))
            row->setCopied(m_copied->isOn(row->account().id));
    });
    refresh();
}

std::optional<QUuid> ContentView::copiedAccountID() const { return m_copied->id(); }

void ContentView::setTimingsForTesting(int copiedMs, int toastMs) {
    m_copied->setDuration(copiedMs);
    m_toastMs = toastMs;
}

// MARK: - Header and states

QWidget* ContentView::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(8);
    row->addWidget(Style::symbolLabel(QStringLiteral("key.horizontal.fill"), 20,
                               Style::color(Style::SemanticColor::accent), header));
    row->addWidget(Style::label(QStringLiteral("Quillet"), Style::TextStyle::headline));

    m_folderMenu = new QToolButton(header);
    m_folderMenu->setObjectName(QStringLiteral("folderFilter"));
    m_folderMenu->setPopupMode(QToolButton::InstantPopup);
    m_folderMenu->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_folderMenu->setAutoRaise(true);
    m_folderMenu->setFont(Style::font(Style::TextStyle::subheadline));
    m_folderMenu->setIcon(Symbols::icon(QStringLiteral("folder")));
    m_folderMenu->setMenu(new QMenu(m_folderMenu));
    connect(m_folderMenu->menu(), &QMenu::aboutToShow, this, &ContentView::refreshHeader);
    row->addWidget(m_folderMenu);
    row->addStretch(1);

    auto* searchBox = new QFrame(header);
    searchBox->setObjectName(QStringLiteral("searchBox"));
    searchBox->setStyleSheet(QStringLiteral(
        "QFrame#searchBox { background: rgba(128,128,128,30); border-radius: 6px; }"));
    auto* search = new QHBoxLayout(searchBox);
    search->setContentsMargins(8, 4, 8, 4);
    search->setSpacing(6);
    search->addWidget(Style::symbolLabel(QStringLiteral("magnifyingglass"), 14,
                                  Style::color(Style::SemanticColor::secondary), searchBox));
    m_search = new QLineEdit(searchBox);
    m_search->setPlaceholderText(
        tr("Search (%1)")
            .arg(QKeySequence(Qt::CTRL | Qt::Key_F).toString(QKeySequence::NativeText)));
    m_search->setAccessibleName(m_search->placeholderText());
    m_search->setFrame(false);
    m_search->setFixedWidth(160);
    m_search->setStyleSheet(QStringLiteral("background: transparent;"));
    m_search->installEventFilter(this);
    connect(m_search, &QLineEdit::textChanged, m_list, &AccountListModel::setSearchText);
    search->addWidget(m_search);
    m_clearSearch = new QToolButton(searchBox);
    m_clearSearch->setAutoRaise(true);
    m_clearSearch->setToolTip(tr("Clear search"));
    m_clearSearch->setAccessibleName(m_clearSearch->toolTip());
    m_clearSearch->setIcon(Symbols::icon(QStringLiteral("xmark.circle.fill"),
                                         Style::color(Style::SemanticColor::secondary)));
    m_clearSearch->setFocusPolicy(Qt::NoFocus);
    connect(m_clearSearch, &QToolButton::clicked, this, [this] { m_search->clear(); });
    search->addWidget(m_clearSearch);
    row->addWidget(searchBox);

    m_add = new QPushButton(Symbols::icon(QStringLiteral("plus")), tr("Add"), header);
    m_add->setDefault(false);
    m_add->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(m_add, &QPushButton::clicked, this, &ContentView::showAddSheet);
    row->addWidget(m_add);

    auto* focusSearch = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    focusSearch->setContext(Qt::WindowShortcut);
    connect(focusSearch, &QShortcut::activated, this,
            [this] { m_search->setFocus(Qt::ShortcutFocusReason); });
    return header;
}

// A page of the list area that says why no account is listed: a symbol, a
// title and a message, centred, with room for buttons below (before the
// closing stretch the caller adds).
ContentView::StatePage ContentView::makeStatePage(const QString& title, const QString& message) {
    StatePage state;
    state.page = new QWidget(this);
    state.column = new QVBoxLayout(state.page);
    state.column->setSpacing(12);
    state.column->addStretch(1);
    state.column->addWidget(Style::symbolLabel(QStringLiteral("lock.shield"), 48,
                                        Style::color(Style::SemanticColor::secondary), state.page));
    state.title = Style::label(title, Style::TextStyle::title3);
    state.title->setAlignment(Qt::AlignCenter);
    state.title->setWordWrap(true);
    state.column->addWidget(state.title);
    state.message =
        Style::label(message, Style::TextStyle::callout, Style::SemanticColor::secondary);
    state.message->setAlignment(Qt::AlignCenter);
    state.message->setWordWrap(true);
    state.message->setContentsMargins(40, 0, 40, 0);
    state.column->addWidget(state.message);
    return state;
}

QWidget* ContentView::buildEmptyState() {
    const StatePage state = makeStatePage(
        tr("No accounts yet"),
        tr("Click Add to import a QR code, paste a setup link, or enter a key by hand."));
    m_emptyAdd = new QPushButton(Symbols::icon(QStringLiteral("plus")), tr("Add account"), state.page);
    m_emptyAdd->setDefault(true); // the prominent look of a primary button
    connect(m_emptyAdd, &QPushButton::clicked, this, &ContentView::showAddSheet);
    state.column->addWidget(m_emptyAdd, 0, Qt::AlignHCenter);
    state.column->addStretch(1);
    return state.page;
}

// Why no accounts are shown while the vault could not be read: never the
// empty state, which would tell the user they have no accounts.
QWidget* ContentView::buildVaultState() {
    const StatePage state = makeStatePage(QString(), QString());
    m_vaultTitle = state.title;
    m_vaultTitle->setObjectName(QStringLiteral("vaultTitle"));
    m_vaultMessage = state.message;
    m_vaultMessage->setObjectName(QStringLiteral("vaultMessage"));
    auto* busy = new QProgressBar(state.page);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(120, 8);
    busy->setAccessibleName(tr("Opening your keyring…"));
    m_vaultBusy = busy;
    state.column->addWidget(m_vaultBusy, 0, Qt::AlignHCenter);
    m_tryAgain = new QPushButton(tr("Try Again"), state.page);
    connect(m_tryAgain, &QPushButton::clicked, this, [this] { m_store.tryAgain(); });
    state.column->addWidget(m_tryAgain, 0, Qt::AlignHCenter);
    state.column->addStretch(1);
    return state.page;
}

QWidget* ContentView::buildNoMatchState() {
    auto* page = new QWidget(this);
    auto* column = new QVBoxLayout(page);
    column->setSpacing(10);
    column->addStretch(1);
    column->addWidget(Style::symbolLabel(QStringLiteral("magnifyingglass"), 28,
                                  Style::color(Style::SemanticColor::secondary), page));
    auto* title = Style::label(tr("No matches"), Style::TextStyle::headline);
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title);
    m_noMatchMessage =
        Style::label(QString(), Style::TextStyle::subheadline, Style::SemanticColor::secondary);
    m_noMatchMessage->setAlignment(Qt::AlignCenter);
    m_noMatchMessage->setWordWrap(true);
    column->addWidget(m_noMatchMessage);
    m_clearSearchLink = new QPushButton(tr("Clear search"), page);
    m_clearSearchLink->setFlat(true);
    m_clearSearchLink->setCursor(Qt::PointingHandCursor);
    // Clearing the search leaves the keyboard focus where it was.
    m_clearSearchLink->setFocusPolicy(Qt::NoFocus);
    QPalette link = m_clearSearchLink->palette();
    link.setColor(QPalette::ButtonText, Style::color(Style::SemanticColor::accent));
    m_clearSearchLink->setPalette(link);
    connect(m_clearSearchLink, &QPushButton::clicked, this, [this] { m_search->clear(); });
    column->addWidget(m_clearSearchLink, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return page;
}

// MARK: - What is listed

AccountSort ContentView::sortOrder() const { return m_list->sortOrder(); }

QList<Account> ContentView::visibleAccounts() const { return m_list->accounts(); }

bool ContentView::canReorder() const { return m_list->canReorder(); }

QString ContentView::searchText() const { return m_search->text(); }

void ContentView::setSearchText(const QString& text) { m_search->setText(text); }

FolderFilter ContentView::folderFilter() const { return m_list->folderFilter(); }

void ContentView::setFolderFilter(const FolderFilter& filter) {
    if (filter == m_list->folderFilter())
        refresh(); // the same choice again: the header still shows it
    else
        m_list->setFolderFilter(filter); // refreshes through the list
}

QString ContentView::folderMenuTitle() const {
    const FolderFilter filter = m_list->folderFilter();
    switch (filter.kind) {
    case FolderFilter::Kind::all:
        return tr("All");
    case FolderFilter::Kind::ungrouped:
        return tr("Ungrouped");
    case FolderFilter::Kind::folder:
        for (const Folder& folder : m_store.folders())
            if (folder.id == filter.folderID)
                return folder.name;
        return tr("All");
    }
    return tr("All");
}

QList<AccountRow*> ContentView::rows() const { return m_orderedRows; }

// MARK: - Refreshing

void ContentView::refreshHeader() {
    const QList<Folder>& folders = m_store.folders();
    m_folderMenu->setVisible(!folders.isEmpty());
    m_folderMenu->setText(folderMenuTitle());
    QMenu* menu = m_folderMenu->menu();
    menu->clear();
    const FolderFilter current = m_list->folderFilter();
    const auto choose = [this](FolderFilter filter) { setFolderFilter(filter); };
    menu->addAction(Symbols::icon(current == FolderFilter::all()
                                      ? QStringLiteral("checkmark")
                                      : QStringLiteral("square.grid.2x2")),
                    tr("All"), this, [choose] { choose(FolderFilter::all()); });
    for (const Folder& folder : folders) {
        const bool chosen = current == FolderFilter::folder(folder.id);
        menu->addAction(Symbols::icon(chosen ? QStringLiteral("checkmark") : folder.symbol),
                        QStringLiteral("%1 (%2)").arg(folder.name).arg(
                            m_store.accountsInFolder(folder.id)),
                        this, [choose, id = folder.id] { choose(FolderFilter::folder(id)); });
    }
    const QList<Account>& accounts = m_store.accounts();
    if (std::any_of(accounts.begin(), accounts.end(), [](const Account& a) { return !a.folderID; })) {
        menu->addSeparator();
        menu->addAction(Symbols::icon(current == FolderFilter::ungrouped()
                                          ? QStringLiteral("checkmark")
                                          : QStringLiteral("tray")),
                        tr("Ungrouped"), this, [choose] { choose(FolderFilter::ungrouped()); });
    }
    for (QAction* action : menu->actions())
        action->setIconVisibleInMenu(true);
}

void ContentView::refreshVaultState() {
    const std::optional<AccountListModel::VaultNotice> notice = m_list->vaultNotice();
    if (!notice)
        return;
    m_vaultTitle->setText(notice->title);
    m_vaultMessage->setText(notice->message);
    m_vaultMessage->setVisible(!notice->message.isEmpty());
    m_vaultBusy->setVisible(notice->opening);
    m_tryAgain->setVisible(!notice->opening);
}

void ContentView::refreshUnreadableLine() {
    const int unreadable =
        m_store.vaultState() == AccountStore::VaultState::open ? m_store.unreadableItemCount() : 0;
    m_unreadableLine->setVisible(unreadable > 0);
    m_unreadableLine->setText(
        unreadable == 1
            ? tr("1 account item in your keyring could not be read. Quillet leaves it as it is.")
            : tr("%1 account items in your keyring could not be read. Quillet leaves them as they "
                 "are.")
                  .arg(unreadable));
}

void ContentView::act(const std::function<bool()>& operation, const QString& what) {
    m_errorLine->run([&] { operation(); }, what);
}

void ContentView::refresh() {
    refreshHeader();
    const bool hasSearch = !m_search->text().isEmpty();
    m_clearSearch->setVisible(hasSearch);
    refreshUnreadableLine();
    refreshVaultState();

    const QList<Account>& visible = m_list->accounts();
    switch (m_list->emptiness()) {
    case AccountListModel::Emptiness::vaultNotOpen:
        m_listArea->setCurrentWidget(m_vaultState);
        break;
    case AccountListModel::Emptiness::noAccounts:
        m_listArea->setCurrentWidget(m_emptyState);
        break;
    case AccountListModel::Emptiness::noneInScope:
    case AccountListModel::Emptiness::noMatches:
        m_listArea->setCurrentWidget(m_noMatchState);
        m_noMatchMessage->setVisible(hasSearch);
        m_noMatchMessage->setText(tr("No accounts match “%1”.").arg(m_search->text()));
        m_clearSearchLink->setVisible(hasSearch);
        break;
    case AccountListModel::Emptiness::notEmpty:
        m_listArea->setCurrentWidget(m_listPage);
        break;
    }

    m_visible = visible;
    m_rowsContainer->setRows(int(visible.size()), rowHeight());
    placeRows();
}

int ContentView::rowHeight() {
    // Every row is as tall as the tallest kind (with a subtitle), so that a
    // row's place follows from its index alone.
    if (m_rowHeight == 0) {
        // In the list, hidden, so that it is styled like the rows it stands for.
        AccountRow probe(m_rowsContainer);
        probe.hide();
        probe.ensurePolished();
        Account account;
        account.issuer = QStringLiteral("Issuer");
        account.name = QStringLiteral("name");
        probe.setAccount(account);
        probe.setNow(m_clock.now());
        m_rowHeight = probe.sizeHint().height();
    }
    return m_rowHeight;
}

// Rows exist only for the accounts in view (and a few beyond each edge): a
// list of thousands is as quick to show, refresh and tick as a short one.
// Rows scrolled away are kept for reuse.
void ContentView::placeRows() {
    const int height = rowHeight();
    const int viewport = m_scroll->viewport()->height();
    const qsizetype count = m_visible.size();
    // The scroll bar takes a shorter list into account only once the list
    // is laid out again; the rows in view must be right at once.
    const int content = int(count) * height + 2 * RowsContainer::marginY;
    const int top = std::clamp(m_scroll->verticalScrollBar()->value(), 0,
                               std::max(0, content - viewport)) -
                    RowsContainer::marginY;
    const qsizetype first = std::clamp<qsizetype>(top / height - 2, 0, count);
    const qsizetype last = std::clamp<qsizetype>((top + viewport) / height + 3, first, count);
    const int width = m_rowsContainer->width() - 2 * RowsContainer::marginX;

    QHash<QUuid, AccountRow*> kept;
    QList<AccountRow*> ordered;
    QList<AccountRow*> spare;
    QHash<QUuid, AccountRow*> previous = m_rows;
    for (qsizetype i = first; i < last; ++i)
        previous.remove(m_visible[i].id);
    for (AccountRow* row : std::as_const(previous))
        spare.append(row);
    const bool reorderable = canReorder();
    const QDateTime now = shownNow();
    for (qsizetype i = first; i < last; ++i) {
        const Account& account = m_visible[i];
        AccountRow* row = m_rows.value(account.id);
        if (!row)
            row = spare.isEmpty() ? makeRow() : spare.takeLast();
        row->setAccount(account);
        row->setFolders(m_store.folders());
        row->setCanReorder(reorderable);
        row->setCopied(m_copied->isOn(account.id));
        row->setNow(now);
        row->setAlternate(i % 2 == 1);
        row->setGeometry(RowsContainer::marginX, RowsContainer::marginY + int(i) * height, width,
                         height);
        row->show();
        kept.insert(account.id, row);
        ordered.append(row);
    }
    // A few spare rows stay for scrolling; the others go.
    for (qsizetype i = 0; i < spare.size(); ++i) {
        spare[i]->hide();
        if (i >= maxSpareRows)
            spare[i]->deleteLater();
        else
            kept.insert(QUuid::createUuid(), spare[i]);
    }
    m_rows = kept;
    // A screen reader reads the rows in the order of the container's
    // children, not of their places: keep the two the same.
    if (ordered != m_orderedRows)
        for (AccountRow* row : std::as_const(ordered))
            row->raise();
    m_orderedRows = ordered;
}

AccountRow* ContentView::makeRow() {
    auto* row = new AccountRow(m_rowsContainer);
    connect(row, &AccountRow::dragStarted, this, &ContentView::startDrag);
    // A row stands for whichever account it shows; what it does is looked
    // up in the store when the user does it.
    const auto current = [this, row] { return m_list->account(row->account().id); };
    row->setActions({
        [this, current] { if (auto a = current()) copy(*a); },
        [this, current] { if (auto a = current()) deleteAccount(*a); },
        [this, current] {
            if (auto a = current()) {
                // The row shows the new counter's code once the store has it.
                const QString what = tr("The next code of “%1” was not saved.").arg(a->displayLabel());
                m_store.advanceCounter(*a, [line = QPointer(m_errorLine), what](const auto& used) {
                    if (line) line->settled(used.has_value(), what);
                });
            }
        },
        [this, current] {
            if (auto a = current())
                act([&] { return m_store.toggleFavorite(a->id); },
                    (a->isFavorite ? tr("“%1” was not unpinned.") : tr("“%1” was not pinned."))
                        .arg(a->displayLabel()));
        },
        [this, current] { if (auto a = current()) edit(*a); },
        [this, current](std::optional<QUuid> folder) {
            if (auto a = current())
                act([&] { return m_store.setFolder(folder, a->id); },
                    tr("“%1” was not moved to another folder.").arg(a->displayLabel()));
        },
        [this, current] { if (auto a = current()) showQR(*a); },
    });
    return row;
}

void ContentView::tick() {
    const QDateTime now = shownNow();
    for (AccountRow* row : std::as_const(m_orderedRows))
        row->setNow(now);
}

QDateTime ContentView::shownNow() const { return m_concealed ? QDateTime() : m_clock.now(); }

void ContentView::setConcealed(bool concealed) {
    if (concealed == m_concealed)
        return;
    m_concealed = concealed;
    // Spare rows too: hidden, they are still read out.
    const QDateTime now = shownNow();
    for (AccountRow* row : std::as_const(m_rows))
        row->setNow(now);
}

// MARK: - Actions

void ContentView::copy(const Account& account) {
    copyCode(account, m_store, m_clock, m_defaults, *m_copied,
             [this](const QString& why) { m_errorLine->settled(false, why); });
}

void ContentView::deleteAccount(const Account& account) {
    const QString label = account.displayLabel();
    bool moved = false;
    act([&] { return moved = m_store.deleteAccount(account.id); },
        tr("“%1” was not moved to Recently Deleted.").arg(label));
    if (moved)
        showNotice(tr("Moved “%1” to Recently Deleted").arg(label));
}

void ContentView::showNotice(const QString& text) {
    const qint64 generation = ++m_deletedToastGeneration;
    showToast(text);
    QTimer::singleShot(m_toastMs, this, [this, generation] {
        if (m_deletedToastGeneration == generation)
            hideToast();
    });
}

void ContentView::move(const QList<int>& fromOffsets, int toOffset) {
    if (!canReorder())
        return;
    // While reordering is allowed, list offsets are the store's offsets.
    const auto moved = AccountList::movedByOffsets(m_store.accounts(), fromOffsets, toOffset);
    if (!moved)
        return;
    QList<QUuid> ids;
    for (const Account& account : *moved)
        ids.append(account.id);
    act([&] { return m_store.setOrder(ids); }, tr("The new order was not saved."));
}

void ContentView::edit(const Account& account) {
    if (m_sheet)
        return; // one sheet at a time, as a sheet covers its window
    m_sheet = new EditAccountSheet(
        m_store, account,
        [this](const Account& edited) {
            act([&] { return m_store.update(edited); },
                tr("Your changes to “%1” were not saved.").arg(edited.displayLabel()));
        },
        window());
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet->open();
}

void ContentView::showAddSheet() {
    if (m_sheet)
        return;
    // The sheet stays open until the accounts are stored, counts them as
    // they are, and shows why when they could not be. Closed before the
    // import ended, it leaves the outcome to the window's notice.
    // How many the last import added, for the image's notice.
    auto added = std::make_shared<int>(0);
    auto shown = std::make_shared<QPointer<AddAccountSheet>>();
    auto* sheet = new AddAccountSheet(
        [this, added, shown](const QList<Account>& accounts, AddAccountSheet::Reply reply) {
            const QPointer<ContentView> self(this);
            m_store.importAccounts(
                accounts,
                [reply, added, shown, self, total = int(accounts.size())](
                    const AccountStore::ImportResult& result) {
                    *added = result.added;
                    const bool sheetTells = *shown && (*shown)->isVisible();
                    if (sheetTells)
                        (*shown)->showStored(result.added, total);
                    reply(result.error);
                    if (!sheetTells && self)
                        self->showNotice(result.error.value_or(
                            result.added == 1 ? tr("1 account was added.")
                                              : tr("%1 accounts were added.").arg(result.added)));
                },
                [shown](int stored, int total) {
                    if (*shown)
                        (*shown)->showStored(stored, total);
                });
        },
        window());
    *shown = sheet;
    // The sheet closes as soon as an image's accounts are stored: say what
    // came of it, as the list alone may not show it (accounts already in the
    // vault are not added again).
    connect(sheet, &AddAccountSheet::imageImported, this, [this, added] {
        showNotice(*added == 0   ? tr("The accounts in the image are already in your vault.")
                   : *added == 1 ? tr("Added 1 account from the image.")
                                 : tr("Added %1 accounts from the image.").arg(*added));
    });
    // An import that left accounts out says how many, once the sheet is gone.
    connect(sheet, &AddAccountSheet::linksUnreadable, this, [this](int count) {
        showNotice(count == 1 ? tr("1 account could not be imported.")
                              : tr("%1 accounts could not be imported.").arg(count));
    });
    m_sheet = sheet;
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet->open();
}

void ContentView::showQR(const Account& account) {
    if (m_sheet)
        return;
    m_sheet = new AccountQRView(account, window());
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet->open();
}

// MARK: - Deletion notice

void ContentView::showToast(const QString& text) {
    const bool wasShown = m_deletedToast.has_value();
    m_deletedToast = text;
    m_toast->setText(text);
    m_toastHost->adjustSize();
    placeToast();
    if (wasShown)
        return;
    m_toastHost->show();
    m_toastHost->raise();
    auto* opacity = static_cast<QGraphicsOpacityEffect*>(m_toastHost->graphicsEffect());
    auto* group = new QParallelAnimationGroup(m_toastHost);
    auto* fade = new QPropertyAnimation(opacity, "opacity", group);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    auto* slide = new QPropertyAnimation(m_toastHost, "pos", group);
    slide->setStartValue(m_toastHost->pos() + QPoint(0, m_toastHost->height()));
    slide->setEndValue(m_toastHost->pos());
    for (auto* animation : {fade, slide}) {
        animation->setDuration(300);
        animation->setEasingCurve(QEasingCurve::OutBack);
    }
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void ContentView::hideToast() {
    m_deletedToast.reset();
    auto* opacity = static_cast<QGraphicsOpacityEffect*>(m_toastHost->graphicsEffect());
    auto* group = new QParallelAnimationGroup(m_toastHost);
    auto* fade = new QPropertyAnimation(opacity, "opacity", group);
    fade->setEndValue(0.0);
    auto* slide = new QPropertyAnimation(m_toastHost, "pos", group);
    slide->setEndValue(m_toastHost->pos() + QPoint(0, m_toastHost->height()));
    for (auto* animation : {fade, slide}) {
        animation->setDuration(250);
        animation->setEasingCurve(QEasingCurve::OutCubic);
    }
    connect(group, &QAbstractAnimation::finished, m_toastHost, [this] {
        if (!m_deletedToast)
            m_toastHost->hide();
    });
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void ContentView::placeToast() {
    m_toastHost->move((width() - m_toastHost->width()) / 2,
                      height() - m_toastHost->height() - toastBottom + toastShadowRoom);
}

void ContentView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_deletedToast)
        placeToast();
}

bool ContentView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_search && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        m_search->clear();
        m_search->clearFocus();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// MARK: - Reordering by drag

void ContentView::startDrag(const QUuid& id) {
    if (!canReorder())
        return;
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setData(dragMimeType, id.toByteArray());
    drag->setMimeData(data);
    if (AccountRow* row = m_rows.value(id))
        drag->setPixmap(row->grab());
    drag->exec(Qt::MoveAction);
}

int ContentView::dropIndexAt(const QPoint& position) const {
    const int y = m_rowsContainer->mapFrom(this, position).y() - RowsContainer::marginY;
    const int height = std::max(m_rowHeight, 1);
    return int(std::clamp<qsizetype>((y + height / 2) / height, 0, m_visible.size()));
}

void ContentView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasFormat(dragMimeType) && canReorder())
        event->acceptProposedAction();
}

void ContentView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasFormat(dragMimeType) && canReorder())
        event->acceptProposedAction();
}

void ContentView::dropEvent(QDropEvent* event) {
    const QUuid id = QUuid::fromString(QString::fromLatin1(event->mimeData()->data(dragMimeType)));
    const QList<Account>& accounts = m_store.accounts();
    for (qsizetype i = 0; i < accounts.size(); ++i)
        if (accounts[i].id == id) {
            move({int(i)}, dropIndexAt(event->position().toPoint()));
            event->acceptProposedAction();
            return;
        }
}
