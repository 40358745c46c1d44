#include "menubar/MenuBarContent.h"

#include "app/CopiedMark.h"
#include "app/StoreProblemLine.h"
#include "app/TickingClock.h"
#include "core/AccountListModel.h"
#include "core/AccountStore.h"
#include "menubar/MacClockDriftBanner.h"
#include "menubar/MenuBarRow.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/UpdaterManager.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QSet>
#include <cmath>
#include <limits>

namespace {

int lineHeight(Style::TextStyle style) { return QFontMetrics(Style::font(style)).height(); }

QColor secondary() { return Style::color(Style::SemanticColor::secondary); }

// A borderless button of the footer and the header: a symbol, and a title
// where it has one (an icon alone takes its help text as its name).
QToolButton* borderless(const QString& symbol, const QString& title, const QString& help,
                        QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    if (!symbol.isEmpty())
        button->setIcon(Symbols::icon(symbol));
    if (!title.isEmpty()) {
        button->setText(title);
        button->setToolButtonStyle(symbol.isEmpty() ? Qt::ToolButtonTextOnly
                                                    : Qt::ToolButtonTextBesideIcon);
    }
    if (!help.isEmpty())
        button->setToolTip(help);
    button->setAccessibleName(title.isEmpty() ? help : title);
    return button;
}

} // namespace

MenuBarContent::MenuBarContent(AccountStore& store, TickingClock& clock, AppSettings& settings,
                               AppLockMac& lock, UpdaterManager& updater, UserDefaults& defaults,
                               QWidget* parent)
    : QWidget(parent), m_store(store), m_clock(clock), m_settings(settings), m_lock(lock),
      m_updater(updater), m_defaults(defaults),
      m_list(new AccountListModel(store, defaults, AccountListModel::Ordering::stored, this)),
      m_copied(new CopiedMark(copiedMarkMs, this)) {
    setObjectName(QStringLiteral("trayPanel"));
    setAccessibleName(QStringLiteral("Quillet"));
    setFixedWidth(Style::points(panelWidth));
    m_list->setHiddenAccountIDs(m_settings.menuBarHiddenAccountIDs());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(Style::divider(this));

    m_driftSlot = new QWidget(this);
    auto* drift = new QVBoxLayout(m_driftSlot);
    drift->setContentsMargins(0, 0, 0, 0);
    drift->setSpacing(0);
    m_banner = new MacClockDriftBanner(0, m_driftSlot);
    drift->addWidget(m_banner);
    drift->addWidget(Style::divider(m_driftSlot));
    column->addWidget(m_driftSlot);

    column->addWidget(m_searchSlot = buildSearch());
    column->addWidget(m_locked = buildLocked());
    column->addWidget(m_keyring = buildKeyring());
    QWidget* addAccount = nullptr;
    column->addWidget(m_noAccounts = buildMessage(QStringLiteral("lock.shield"),
                                                  tr("No accounts yet"), QString(), 24,
                                                  &addAccount));
    column->addWidget(m_noneShown = buildMessage(
                          QStringLiteral("eye.slash"), tr("No accounts shown here"),
                          tr("Choose which accounts appear in the tray panel\nin Settings → General → "
                             "Tray."),
                          20));
    column->addWidget(m_noMatches = buildMessage(QStringLiteral("magnifyingglass"),
                                                 tr("No matches"), QString(), 18));
    column->addWidget(buildList());
    // Why a pin or a move was not stored, while the store's error stands.
    m_failureLine = new StoreProblemLine(m_store, StoreProblemLine::Scope::list, this);
    column->addWidget(m_failureLine);
    column->addWidget(StoreProblemLine::settingsLine(m_defaults, this));
    column->addWidget(Style::divider(this));
    column->addWidget(buildFooter());

    connect(m_list, &AccountListModel::accountsChanged, this, &MenuBarContent::refresh);
    connect(&m_settings, &AppSettings::menuBarHiddenAccountIDsChanged, this,
            [this] { m_list->setHiddenAccountIDs(m_settings.menuBarHiddenAccountIDs()); });
    connect(&m_settings, &AppSettings::revealCodesInMenuChanged, this, &MenuBarContent::refresh);
    // The keyring's reason can change without a change of its state.
    connect(&m_store, &AccountStore::lastErrorChanged, this, &MenuBarContent::refresh);
    connect(&m_lock, &AppLockMac::lockedChanged, this, &MenuBarContent::refresh);
    connect(&m_lock, &AppLockMac::enabledChanged, this, &MenuBarContent::refresh);
    connect(&m_updater, &UpdaterManager::canCheckForUpdatesChanged, this, &MenuBarContent::refresh);
    connect(&m_clock, &TickingClock::ticked, this, &MenuBarContent::tick);
    connect(m_copied, &CopiedMark::changed, this, [this] {
        for (MenuBarRow* row : std::as_const(m_orderedRows))
            row->setCopied(m_copied->isOn(row->account().id));
    });
    refresh();
}

MenuBarContent::~MenuBarContent() = default;

std::optional<QUuid> MenuBarContent::copiedID() const { return m_copied->id(); }

void MenuBarContent::setTimingsForTesting(int copiedMs) { m_copied->setDuration(copiedMs); }

// MARK: - Building

QWidget* MenuBarContent::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 12, 12, 8);
    row->addWidget(Style::symbolLabel(QStringLiteral("key.horizontal.fill"),
                               lineHeight(Style::TextStyle::headline),
                               Style::color(Style::SemanticColor::accent), header));
    row->addWidget(Style::label(QStringLiteral("Quillet"), Style::TextStyle::headline));
    row->addStretch(1);
    m_reveal = new QCheckBox(tr("Show codes"), header);
    m_reveal->setFont(Style::font(Style::TextStyle::caption));
    m_reveal->setToolTip(tr("Show or hide the codes. Names and copy buttons stay visible."));
    connect(m_reveal, &QCheckBox::toggled, &m_settings, &AppSettings::setRevealCodesInMenu);
    row->addWidget(m_reveal);
    QToolButton* open = borderless(QStringLiteral("arrow.up.forward.app"), QString(),
                                   tr("Open main window"), header);
    connect(open, &QToolButton::clicked, this, &MenuBarContent::openMainWindow);
    row->addWidget(open);
    return header;
}

QWidget* MenuBarContent::buildSearch() {
    auto* slot = new QWidget(this);
    auto* outer = new QVBoxLayout(slot);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(6);
    row->addWidget(Style::symbolLabel(QStringLiteral("magnifyingglass"),
                               lineHeight(Style::TextStyle::caption), secondary(), slot));
    m_search = new QLineEdit(slot);
    m_search->setPlaceholderText(tr("Search"));
    m_search->setAccessibleName(m_search->placeholderText());
    m_search->setFrame(false);
    m_search->setFont(Style::font(Style::TextStyle::callout));
    m_search->setStyleSheet(QStringLiteral("background: transparent;"));
    connect(m_search, &QLineEdit::textChanged, m_list, &AccountListModel::setSearchText);
    row->addWidget(m_search, 1);
    m_clearSearch = new QToolButton(slot);
    m_clearSearch->setAutoRaise(true);
    m_clearSearch->setFocusPolicy(Qt::NoFocus);
    m_clearSearch->setIcon(Symbols::icon(QStringLiteral("xmark.circle.fill"), secondary()));
    m_clearSearch->setToolTip(tr("Clear search"));
    m_clearSearch->setAccessibleName(m_clearSearch->toolTip());
    connect(m_clearSearch, &QToolButton::clicked, m_search, &QLineEdit::clear);
    row->addWidget(m_clearSearch);
    outer->addLayout(row);
    outer->addWidget(Style::divider(slot));
    return slot;
}

QWidget* MenuBarContent::buildLocked() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("lockedPanel"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 18, 0, 18);
    column->setSpacing(10);
    column->addWidget(Style::symbolLabel(QStringLiteral("lock.fill"), lineHeight(Style::TextStyle::title),
                                  Style::color(Style::SemanticColor::accent), panel));
    auto* title = Style::label(tr("Locked"), Style::TextStyle::callout, std::nullopt, QFont::DemiBold);
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title);
    auto* unlock = new QPushButton(Symbols::icon(QStringLiteral("touchid")), tr("Unlock"), panel);
    unlock->setDefault(true); // the prominent look of a primary button
    connect(unlock, &QPushButton::clicked, this, [this] { m_lock.authenticate(); });
    column->addSpacing(2);
    column->addWidget(unlock, 0, Qt::AlignHCenter);
    return panel;
}

// Why nothing is listed while the vault could not be read: the keyring is
// being opened, is locked or could not be read; never "No accounts yet".
QWidget* MenuBarContent::buildKeyring() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("keyringPanel"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(12, 20, 12, 20);
    column->setSpacing(8);
    column->addWidget(Style::symbolLabel(QStringLiteral("lock.shield"),
                                  lineHeight(Style::TextStyle::title2), secondary(), panel));
    m_keyringTitle = Style::label(QString(), Style::TextStyle::callout);
    m_keyringTitle->setAlignment(Qt::AlignCenter);
    m_keyringTitle->setWordWrap(true);
    column->addWidget(m_keyringTitle);
    m_keyringMessage =
        Style::label(QString(), Style::TextStyle::caption, Style::SemanticColor::secondary);
    m_keyringMessage->setAlignment(Qt::AlignCenter);
    m_keyringMessage->setWordWrap(true);
    column->addWidget(m_keyringMessage);
    auto* busy = new QProgressBar(panel);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(120, 8);
    busy->setAccessibleName(tr("Opening your keyring…"));
    m_keyringBusy = busy;
    column->addWidget(m_keyringBusy, 0, Qt::AlignHCenter);
    m_tryAgain = new QPushButton(tr("Try Again"), panel);
    connect(m_tryAgain, &QPushButton::clicked, this, [this] { m_store.tryAgain(); });
    column->addWidget(m_tryAgain, 0, Qt::AlignHCenter);
    return panel;
}

void MenuBarContent::refreshKeyring() {
    const std::optional<AccountListModel::VaultNotice> notice = m_list->vaultNotice();
    if (!notice)
        return;
    m_keyringTitle->setText(notice->title);
    m_keyringMessage->setText(notice->message);
    m_keyringMessage->setVisible(!notice->message.isEmpty());
    m_keyringBusy->setVisible(notice->opening);
    m_tryAgain->setVisible(!notice->opening);
}

QWidget* MenuBarContent::buildMessage(const QString& symbol, const QString& title,
                                      const QString& text, int padding, QWidget** extra) {
    auto* panel = new QWidget(this);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(12, padding, 12, padding);
    column->setSpacing(extra || !text.isEmpty() ? 8 : 6);
    const Style::TextStyle symbolStyle =
        symbol == QLatin1String("magnifyingglass") ? Style::TextStyle::title3 : Style::TextStyle::title2;
    column->addWidget(Style::symbolLabel(symbol, lineHeight(symbolStyle), secondary(), panel));
    auto* heading = Style::label(title, Style::TextStyle::callout,
                                 text.isEmpty() && !extra ? std::optional(Style::SemanticColor::secondary)
                                                          : std::nullopt);
    heading->setAlignment(Qt::AlignCenter);
    column->addWidget(heading);
    if (!text.isEmpty()) {
        auto* caption = Style::label(text, Style::TextStyle::caption, Style::SemanticColor::secondary);
        caption->setAlignment(Qt::AlignCenter);
        column->addWidget(caption);
    }
    if (extra) {
        auto* add = new QPushButton(tr("Add an account"), panel);
        connect(add, &QPushButton::clicked, this, &MenuBarContent::openMainWindow);
        column->addWidget(add, 0, Qt::AlignHCenter);
        *extra = add;
    }
    return panel;
}

QWidget* MenuBarContent::buildList() {
    m_listArea = new QScrollArea(this);
    m_listArea->setObjectName(QStringLiteral("menuAccountList"));
    m_listArea->setFrameShape(QFrame::NoFrame);
    m_listArea->setWidgetResizable(false);
    m_listArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_rowsContainer = new QWidget(m_listArea);
    m_listArea->setWidget(m_rowsContainer);
    connect(m_listArea->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &MenuBarContent::placeRows);
    // The two heights a row can have: with the account name under the
    // service, and with the name alone.
    // A probe each: a probe never shown keeps the size its layout first
    // measured when the subtitle comes back.
    Account account;
    account.name = QStringLiteral("name");
    MenuBarRow shortProbe;
    shortProbe.setAccount(account);
    m_shortRowHeight = shortProbe.sizeHint().height();
    account.issuer = QStringLiteral("issuer");
    MenuBarRow tallProbe;
    tallProbe.setAccount(account);
    m_tallRowHeight = tallProbe.sizeHint().height();
    return m_listArea;
}

QWidget* MenuBarContent::buildFooter() {
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(12, 8, 12, 8);
    QToolButton* manage = borderless(QStringLiteral("list.bullet"), tr("Manage"), QString(), footer);
    connect(manage, &QToolButton::clicked, this, &MenuBarContent::openMainWindow);
    row->addWidget(manage);
    QToolButton* settings = borderless(QStringLiteral("gearshape"), tr("Settings"), QString(), footer);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settings, &QToolButton::clicked, this, &MenuBarContent::settingsRequested);
    row->addWidget(settings);
    m_lockNow = borderless(QStringLiteral("lock"), QString(), tr("Lock now"), footer);
    connect(m_lockNow, &QToolButton::clicked, this, [this] {
        if (m_lock.isEnabled())
            m_lock.relock();
    });
    row->addWidget(m_lockNow);
    m_checkUpdates =
        borderless(QStringLiteral("arrow.down.circle"), QString(), tr("Check for Updates…"), footer);
    connect(m_checkUpdates, &QToolButton::clicked, &m_updater, &UpdaterManager::checkForUpdates);
    row->addWidget(m_checkUpdates);
    row->addStretch(1);
    QToolButton* quit = borderless(QString(), tr("Quit"), QString(), footer);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QToolButton::clicked, this, &MenuBarContent::quitRequested);
    row->addWidget(quit);
    // At a large font the titles leave no room in the panel's width: Manage
    // and Settings then show their symbols alone, their titles as tooltips
    // (a screen reader hears the titles either way).
    if (row->minimumSize().width() > width())
        for (QToolButton* button : {manage, settings}) {
            button->setToolTip(button->text());
            button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        }
    return footer;
}

// MARK: - What is listed

std::optional<qint64> MenuBarContent::driftSeconds(const CorrectedClock::State& state) {
    if (!state.enabled || state.measuredAt == CorrectedClock::State::distantPast())
        return std::nullopt;
    const double offset = state.offset;
    // Also false for NaN. A damaged state whose size no number of seconds
    // can hold shows no banner either.
    if (!(std::abs(offset) >= driftBannerSeconds) || !(std::abs(offset) < 9.0e18))
        return std::nullopt;
    return qint64(std::round(-offset)); // halves away from zero
}

std::optional<qint64> MenuBarContent::driftSeconds() const {
    return driftSeconds(CorrectedClock::state());
}

const QList<Account>& MenuBarContent::menuAccounts() const { return m_list->scopeAccounts(); }

const QList<Account>& MenuBarContent::filteredAccounts() const { return m_list->accounts(); }

MenuBarContent::Area MenuBarContent::area() const {
    if (m_lock.isLocked())
        return Area::locked;
    switch (m_list->emptiness()) {
    case AccountListModel::Emptiness::vaultNotOpen:
        return Area::keyring;
    case AccountListModel::Emptiness::noAccounts:
        return Area::noAccounts;
    case AccountListModel::Emptiness::noneInScope:
        return Area::noneShown;
    case AccountListModel::Emptiness::noMatches:
        return Area::noMatches;
    case AccountListModel::Emptiness::notEmpty:
        break;
    }
    return Area::list;
}

QString MenuBarContent::searchText() const { return m_search->text(); }

void MenuBarContent::setSearchText(const QString& text) { m_search->setText(text); }

// MARK: - Refreshing

void MenuBarContent::refresh() {
    // Rows out of sight, in a closed panel too, are still read out: while
    // locked they hold no codes.
    if (m_lock.isLocked())
        for (MenuBarRow* row : std::as_const(m_rowPool))
            row->setNow(QDateTime());
    // A closed panel catches up when it opens again.
    if (!isVisible() && !m_preparing)
        return;
    const Area current = area();
    m_reveal->setVisible(!m_store.accounts().isEmpty());
    {
        const QSignalBlocker quiet(m_reveal);
        m_reveal->setChecked(m_settings.revealCodesInMenu());
    }
    refreshDrift();
    m_searchSlot->setVisible(!m_lock.isLocked() && !menuAccounts().isEmpty());
    m_clearSearch->setVisible(!m_search->text().isEmpty());
    m_locked->setVisible(current == Area::locked);
    m_keyring->setVisible(current == Area::keyring);
    if (current == Area::keyring)
        refreshKeyring();
    m_noAccounts->setVisible(current == Area::noAccounts);
    m_noneShown->setVisible(current == Area::noneShown);
    m_noMatches->setVisible(current == Area::noMatches);
    m_listArea->setVisible(current == Area::list);
    if (current == Area::list)
        refreshRows();
    m_lockNow->setVisible(m_lock.isEnabled() && !m_lock.isLocked());
    m_checkUpdates->setEnabled(m_updater.canCheckForUpdates());

    // The locked panel asks to be unlocked as soon as it comes on screen.
    const bool lockedAppeared = current == Area::locked && m_shownArea != Area::locked;
    m_shownArea = current;
    if (lockedAppeared)
        QTimer::singleShot(0, &m_lock, [lock = &m_lock] { lock->authenticate(); });
    fitHeight();
}

void MenuBarContent::fitHeight() {
    // The width is fixed; the height follows the content.
    if (!isWindow())
        return;
    QLayout* column = layout();
    column->activate();
    const int width = this->width();
    const auto wanted = [column, width] {
        return column->hasHeightForWidth() ? column->totalHeightForWidth(width)
                                           : column->totalSizeHint().height();
    };
    int height = wanted();
    // Never taller than the screen's free area: the list gives up what does
    // not fit, and scrolls.
    if (m_listArea->isVisibleTo(this) && screen()) {
        const int rest = height - m_listArea->minimumHeight();
        const int room = std::max(m_shortRowHeight, screen()->availableGeometry().height() - rest);
        if (room != m_listRoom) {
            m_listRoom = room;
            refreshRows();
            column->activate();
            height = wanted();
        }
    }
    if (height != this->height())
        resize(width, height);
}

// The list makes rows only for the accounts in view and hands them on as it
// scrolls: opening the panel costs the same with 20 accounts or 2,000.
void MenuBarContent::refreshRows() {
    const QList<Account>& filtered = filteredAccounts();
    m_rowTops.resize(filtered.size() + 1);
    int top = 0;
    for (qsizetype i = 0; i < filtered.size(); ++i) {
        m_rowTops[i] = top;
        top += filtered[i].issuer.isEmpty() ? m_shortRowHeight : m_tallRowHeight;
    }
    m_rowTops[filtered.size()] = top;
    // Shown whole up to 360 points, scrolling beyond.
    const int most = std::min(Style::points(listMaxHeight), m_listRoom);
    const bool scrolls = top > most;
    m_listArea->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_listArea->setFixedHeight(std::min(top, most));
    const int scrollBar = scrolls ? m_listArea->verticalScrollBar()->sizeHint().width() : 0;
    m_rowsContainer->resize(width() - scrollBar, top);
    placeRows();
}

void MenuBarContent::placeRows() {
    const QList<Account>& filtered = filteredAccounts();
    if (m_rowTops.size() != filtered.size() + 1)
        return; // not laid out yet
    const int from = m_listArea->verticalScrollBar()->value();
    const int to = from + m_listArea->height();
    const auto first = std::upper_bound(m_rowTops.begin(), m_rowTops.end() - 1, from);
    const qsizetype begin = std::max<qsizetype>(0, first - m_rowTops.begin() - 1);
    qsizetype end = begin;
    while (end < filtered.size() && m_rowTops[end] < to)
        ++end;

    // Rows that show an account still in view keep it; the others are free.
    QHash<QUuid, MenuBarRow*> byAccount;
    QList<MenuBarRow*> free;
    for (MenuBarRow* row : std::as_const(m_rowPool))
        byAccount.insert(row->account().id, row);
    for (qsizetype i = begin; i < end; ++i)
        byAccount.remove(filtered[i].id);
    free = byAccount.values();
    QHash<QUuid, MenuBarRow*> keep;
    for (MenuBarRow* row : std::as_const(m_rowPool))
        if (!free.contains(row))
            keep.insert(row->account().id, row);

    const bool searching = !m_search->text().isEmpty();
    const bool reveal = m_settings.revealCodesInMenu();
    const QDateTime now = m_clock.now();
    const int width = m_rowsContainer->width();
    QList<MenuBarRow*> ordered;
    for (qsizetype i = begin; i < end; ++i) {
        const Account& account = filtered[i];
        MenuBarRow* row = keep.value(account.id);
        if (!row)
            row = !free.isEmpty() ? free.takeLast() : makeRow();
        row->setAccount(account);
        row->setReveal(reveal);
        row->setNow(now);
        row->setCopied(m_copied->isOn(account.id));
        row->setMoves(!searching && i > 0, !searching && i < filtered.size() - 1);
        row->setGeometry(0, m_rowTops[i], width, m_rowTops[i + 1] - m_rowTops[i]);
        row->show();
        ordered.append(row);
    }
    for (MenuBarRow* row : std::as_const(free))
        row->hide();
    m_rowPool = ordered + free;
    // A screen reader reads the rows in the order of the container's
    // children, not of their places: keep the two the same.
    if (ordered != m_orderedRows)
        for (MenuBarRow* row : std::as_const(ordered))
            row->raise();
    m_orderedRows = ordered;
}

MenuBarRow* MenuBarContent::makeRow() {
    auto* row = new MenuBarRow(m_rowsContainer);
    // The row asks about the account it shows at the time of the click.
    row->setActions({
        [this, row] {
            if (auto current = m_list->account(row->account().id))
                copy(*current);
        },
        [this, row] { moveUp(row->account().id); },
        [this, row] { moveDown(row->account().id); },
        [this, row] { toggleFavorite(row->account().id); },
    });
    return row;
}

void MenuBarContent::refreshDrift() {
    const std::optional<qint64> drift = driftSeconds();
    if (drift && *drift != m_banner->seconds())
        m_banner->setSeconds(*drift);
    m_driftSlot->setVisible(drift.has_value());
}

void MenuBarContent::tick(const QDateTime& now) {
    if (!isVisible())
        return;
    const bool bannerWas = m_driftSlot->isVisible();
    refreshDrift();
    if (m_driftSlot->isVisible() != bannerWas)
        fitHeight();
    if (m_lock.isLocked())
        return;
    for (MenuBarRow* row : std::as_const(m_orderedRows))
        row->setNow(now);
}

// MARK: - Actions

void MenuBarContent::copy(const Account& account) {
    copyCode(account, m_store, m_clock, m_defaults, *m_copied, [this](const QString& why) {
        m_failureLine->settled(false, why);
        fitHeight(); // the line may have come or grown
    });
}

void MenuBarContent::act(const std::function<void()>& operation, const QString& what) {
    m_failureLine->run(operation, what);
    fitHeight(); // the line may have come, gone or grown
}

void MenuBarContent::moveUp(const QUuid& id) {
    if (const auto move = m_list->moveUp(id))
        act([&] { m_store.move(move->moved, move->target); },
                           tr("The new order was not saved."));
}

void MenuBarContent::moveDown(const QUuid& id) {
    if (const auto move = m_list->moveDown(id))
        act([&] { m_store.move(move->moved, move->target); },
                           tr("The new order was not saved."));
}

void MenuBarContent::toggleFavorite(const QUuid& id) {
    const std::optional<Account> account = m_list->account(id);
    if (!account)
        return;
    act([&] { m_store.toggleFavorite(id); },
                       (account->isFavorite ? tr("“%1” was not unpinned.")
                                            : tr("“%1” was not pinned."))
                           .arg(account->displayLabel()));
}

void MenuBarContent::openMainWindow() { emit openMainWindowRequested(); }

// MARK: - Events

void MenuBarContent::prepareToShow(bool newOpening) {
    if (newOpening)
        m_shownArea.reset(); // a locked panel asks again each time it opens
    m_preparing = true;
    refresh();
    m_preparing = false;
    m_prepared = true;
}

void MenuBarContent::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_prepared) {
        m_shownArea.reset();
        refresh();
    }
    m_prepared = false;
    m_search->setFocus(Qt::PopupFocusReason);
}

void MenuBarContent::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // A frameless panel's edge, where it meets what lies behind it.
    if (isWindow()) {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void MenuBarContent::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        window()->close();
        return;
    }
    QWidget::keyPressEvent(event);
}
