#include "system/QuickLauncherView.h"

#include "core/AccountAvatar.h"
#include "core/AccountListModel.h"
#include "core/CorrectedClock.h"
#include "platform/desktop/Accessibility.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "system/AppLockMac.h"
#include "system/LockOverlayMac.h"
#include "system/QuickLauncherRanking.h"

#include <QAbstractListModel>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QVBoxLayout>

namespace QuickLauncherParts {

// The ranked accounts as rows for the list view; the codes are worked out
// when a row is drawn or read, at the corrected time.
class ResultsModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setAccounts(const QList<Account>& accounts) {
        beginResetModel();
        m_accounts = accounts;
        endResetModel();
    }
    const Account& account(int row) const { return m_accounts.at(row); }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_accounts.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= m_accounts.size()) return {};
        const Account& account = m_accounts.at(index.row());
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return account.displayLabel();
        case Qt::AccessibleDescriptionRole:
            return account.code(CorrectedClock::now());
        default:
            return {};
        }
    }

private:
    QList<Account> m_accounts;
};

namespace {

constexpr int avatarSize = 30;
constexpr int rowPaddingX = 16;
constexpr int rowPaddingY = 8;
constexpr int highlightInset = 8;
constexpr int spacing = 12;
constexpr int keyCapPadding = 4;

// A key of the keyboard as the hint bar and the highlighted row name it
// ("Enter", "Esc"): its name in a thin rounded outline, in the secondary
// text colour of the palette as it is when drawn.
QFont keyCapFont() { return Style::font(Style::TextStyle::caption); }

QSize keyCapSize(const QString& key) {
    const QFontMetrics metrics(keyCapFont());
    return {metrics.horizontalAdvance(key) + 2 * keyCapPadding, metrics.height() + 2};
}

// Draws the key's cap in the middle of `area`.
void paintKeyCap(QPainter& painter, const QRect& area, const QString& key,
                 const QPalette& palette) {
    QRectF cap(QPointF(), keyCapSize(key));
    cap.moveCenter(QRectF(area).center());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Style::color(Style::SemanticColor::secondary, palette), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(cap.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.setFont(keyCapFont());
    painter.drawText(cap, Qt::AlignCenter, key);
    painter.restore();
}

// One row: avatar, label over the live code, and the Enter key on the
// highlighted row, over a tinted rounded plate narrower than the row.
class RowDelegate : public QStyledItemDelegate {
public:
    RowDelegate(const ResultsModel& model, const int& selection, QObject* parent)
        : QStyledItemDelegate(parent), m_model(model), m_selection(selection),
          m_labelFont(Style::font(Style::TextStyle::body)),
          m_codeFont(Style::font(Style::TextStyle::callout, QFont::Normal, true)) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const int text = QFontMetrics(m_labelFont).height() + 1 + QFontMetrics(m_codeFont).height();
        return {option.rect.width(), 2 * rowPaddingY + std::max(avatarSize, text)};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const Account& account = m_model.account(index.row());
        const bool selected = index.row() == m_selection;
        const QRect row = option.rect;
        const QPalette& palette = option.palette;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);

        QColor tint = Style::color(Style::SemanticColor::accent, palette);
        tint.setAlphaF(selected ? 0.18 : 0);
        QPainterPath plate;
        plate.addRoundedRect(QRectF(row.adjusted(highlightInset, 0, -highlightInset, 0)), 8, 8);
        painter->fillPath(plate, tint);

        const int inner = row.height() - 2 * rowPaddingY;
        const QRectF avatar(row.left() + rowPaddingX,
                            row.top() + rowPaddingY + (inner - avatarSize) / 2.0, avatarSize,
                            avatarSize);
        AccountAvatar::paint(*painter, avatar, account);

        if (selected) {
            // The key a PC keyboard names, as the hint bar shows it.
            const QString key = QuickLauncherView::enterKey();
            const int capWidth = keyCapSize(key).width();
            const int right = row.right() - rowPaddingX;
            paintKeyCap(*painter, QRect(right - capWidth, row.top(), capWidth, row.height()), key,
                        palette);
        }

        const QFontMetrics labelMetrics(m_labelFont);
        const QFontMetrics codeMetrics(m_codeFont);
        const QRect label = labelRect(row, selected);
        const int left = label.left();
        const int width = label.width();
        int y = label.top();
        painter->setFont(m_labelFont);
        painter->setPen(Style::color(Style::SemanticColor::primary, palette));
        painter->drawText(QRect(left, y, width, labelMetrics.height()), Qt::AlignLeft,
                          labelMetrics.elidedText(account.displayLabel(), Qt::ElideRight, width));
        y += labelMetrics.height() + 1;
        painter->setFont(m_codeFont);
        painter->setPen(Style::color(Style::SemanticColor::secondary, palette));
        // One string, no grouping space.
        painter->drawText(QRect(left, y, width, codeMetrics.height()), Qt::AlignLeft,
                          account.code(CorrectedClock::now()));
        painter->restore();
    }

    // A name cut with "…" shows whole in the tooltip.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip || !index.isValid()) return false;
        const QString whole = m_model.account(index.row()).displayLabel();
        const int width = labelRect(option.rect, index.row() == m_selection).width();
        if (QFontMetrics(m_labelFont).horizontalAdvance(whole) <= width) {
            QToolTip::hideText();
            return false;
        }
        QToolTip::showText(event->globalPos(), whole, view->viewport());
        return true;
    }

private:
    // Where a row's name goes: beside the avatar, short of the Enter key on
    // the highlighted row; the code's line comes below it.
    QRect labelRect(const QRect& row, bool selected) const {
        const QFontMetrics labelMetrics(m_labelFont);
        const int block = labelMetrics.height() + 1 + QFontMetrics(m_codeFont).height();
        const int left = row.left() + rowPaddingX + avatarSize + spacing;
        int right = row.right() - rowPaddingX;
        if (selected) right -= keyCapSize(QuickLauncherView::enterKey()).width() + spacing;
        return QRect(left, row.top() + (row.height() - block) / 2, std::max(0, right - left),
                     labelMetrics.height());
    }

    const ResultsModel& m_model;
    const int& m_selection;
    QFont m_labelFont;
    QFont m_codeFont;
};

// A key of the hint bar, read out by screen readers before the hint beside
// it: a label drawn as the highlighted row draws its key.
class KeyCap : public QLabel {
public:
    KeyCap(const QString& key, QWidget* parent) : QLabel(key, parent) {
        setFont(keyCapFont());
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return keyCapSize(text()); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paintKeyCap(painter, rect(), text(), palette());
    }
};

QLabel* hintIcon(const QString& symbol, QWidget* parent) {
    auto* icon = new QLabel(parent);
    const int size = QFontMetrics(Style::font(Style::TextStyle::caption)).height();
    icon->setPixmap(Symbols::pixmap(symbol, size, Style::color(Style::SemanticColor::secondary),
                                    icon->devicePixelRatioF()));
    ScreenReader::setHidden(icon);
    return icon;
}

QLabel* hintText(const QString& text, QWidget* parent) {
    QLabel* label = Style::label(text, Style::TextStyle::caption, Style::SemanticColor::secondary);
    label->setParent(parent);
    return label;
}

} // namespace
} // namespace QuickLauncherParts

using namespace QuickLauncherParts;

// MARK: - CommandField

CommandField::CommandField(QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(tr("Search accounts…"));
    setAccessibleName(tr("Search accounts…"));
    QFont large = font();
    large.setPixelSize(18);
    setFont(large);
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
}

void CommandField::keyPressEvent(QKeyEvent* event) {
    // Without modifiers only: Shift+arrows still select text.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    switch (event->key()) {
    case Qt::Key_Up:
        if (!plain) break;
        emit moveUp();
        return;
    case Qt::Key_Down:
        if (!plain) break;
        emit moveDown();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit submit();
        return;
    case Qt::Key_Escape:
        emit cancel();
        return;
    default:
        break;
    }
    QLineEdit::keyPressEvent(event);
}

// MARK: - QuickLauncherView

QuickLauncherView::QuickLauncherView(AccountStore& store, UserDefaults& defaults, AppLockMac* lock,
                                     std::function<bool()> canType, QWidget* parent)
    : QWidget(parent),
      m_accounts(new AccountListModel(store, defaults, AccountListModel::Ordering::stored, this)),
      m_lock(lock), m_canType(std::move(canType)) {
    // The panel's size by default; a panel kept smaller to fit a small
    // screen makes the view smaller with it.
    resize(Style::points(panelWidth), Style::points(panelHeight));
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* content = new QWidget(this);
    auto* contentColumn = new QVBoxLayout(content);
    contentColumn->setContentsMargins(0, 0, 0, 0);
    contentColumn->setSpacing(0);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(16, 14, 16, 14);
    bar->setSpacing(10);
    auto* magnifier = new QLabel(content);
    const int glass = QFontMetrics(Style::font(Style::TextStyle::title3)).height();
    magnifier->setPixmap(Symbols::pixmap(QStringLiteral("magnifyingglass"), glass,
                                         Style::color(Style::SemanticColor::secondary),
                                         magnifier->devicePixelRatioF()));
    ScreenReader::setHidden(magnifier);
    bar->addWidget(magnifier);
    m_field = new CommandField(content);
    m_field->setFixedHeight(26);
    bar->addWidget(m_field, 1);
    contentColumn->addLayout(bar);
    contentColumn->addWidget(Style::divider(content));

    m_body = new QStackedWidget(content);
    m_model = new ResultsModel(this);
    // The rows sit 4 points clear of the dividers above and below.
    auto* listArea = new QWidget(m_body);
    auto* listColumn = new QVBoxLayout(listArea);
    listColumn->setContentsMargins(0, 4, 0, 4);
    m_list = new QListView(listArea);
    listColumn->addWidget(m_list);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new RowDelegate(*m_model, m_selection, m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setMouseTracking(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setUniformItemSizes(true);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAccessibleName(tr("Accounts"));
    m_body->addWidget(listArea);
    m_empty = Style::label(QString(), Style::TextStyle::body, Style::SemanticColor::secondary);
    m_empty->setAlignment(Qt::AlignCenter);
    m_body->addWidget(m_empty);
    contentColumn->addWidget(m_body, 1);
    contentColumn->addWidget(Style::divider(content));

    auto* hints = new QHBoxLayout;
    hints->setContentsMargins(16, 9, 16, 9);
    hints->setSpacing(16);
    const auto hint = [&](QLabel* icon, QLabel* text) {
        auto* pair = new QHBoxLayout;
        pair->setSpacing(4);
        pair->addWidget(icon);
        pair->addWidget(text);
        hints->addLayout(pair);
    };
    m_actionHint = hintText(QString(), content);
    hint(new KeyCap(enterKey(), content), m_actionHint);
    hint(hintIcon(QStringLiteral("arrow.up.arrow.down"), content), hintText(tr("Navigate"), content));
    hint(new KeyCap(escKey(), content), hintText(tr("Close"), content));
    hints->addStretch(1);
    m_count = hintText(QString(), content);
    hints->addWidget(m_count);
    contentColumn->addLayout(hints);
    column->addWidget(content);

    m_scroll = new QPropertyAnimation(m_list->verticalScrollBar(), "value", this);
    m_scroll->setDuration(120);
    m_scroll->setEasingCurve(QEasingCurve::OutCubic);

    connect(m_field, &QLineEdit::textChanged, this, [this] { rerank(true); });
    connect(m_field, &CommandField::moveUp, this, &QuickLauncherView::moveUp);
    connect(m_field, &CommandField::moveDown, this, &QuickLauncherView::moveDown);
    connect(m_field, &CommandField::submit, this, &QuickLauncherView::submit);
    connect(m_field, &CommandField::cancel, this, &QuickLauncherView::closeRequested);
    connect(m_list, &QAbstractItemView::entered, this,
            [this](const QModelIndex& index) { select(index.row(), false); });
    connect(m_list, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        select(index.row(), false);
        submit();
    });
    // The list follows the vault while the panel is open; the highlight
    // stays on its account, or within the list when that one is gone.
    // A hidden panel ranks anew when it reopens.
    connect(m_accounts, &AccountListModel::accountsChanged, this, [this] {
        if (isVisible()) rerank(false);
    });

    // The codes in the rows, once a second at the corrected time.
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        m_list->viewport()->update();
        refreshChrome();
    });

    if (m_lock) {
        // Nothing is listed before the user has unlocked.
        new LockOverlayMac(*m_lock, content, this);
        connect(m_lock, &AppLockMac::lockedChanged, this, [this](bool locked) {
            rerank(true);
            if (locked) return;
            // Back from the password dialog: the keyboard goes to the search.
            m_field->setFocus();
            QTimer::singleShot(0, this, [this] {
                if (isVisible()) window()->activateWindow();
            });
        });
    }
    m_field->setFocus();
    rerank(true);
}

QuickLauncherView::~QuickLauncherView() = default;

bool QuickLauncherView::isLocked() const {
    return m_lock && m_lock->isEnabled() && m_lock->isLocked();
}

QString QuickLauncherView::query() const { return m_field->text(); }

void QuickLauncherView::setQuery(const QString& text) { m_field->setText(text); }

void QuickLauncherView::reopen() {
    {
        const QSignalBlocker quiet(m_field);
        m_field->clear();
    }
    rerank(true);
}

void QuickLauncherView::showEvent(QShowEvent* event) {
    refreshChrome();
    m_list->viewport()->update();
    m_tick.start();
    QWidget::showEvent(event);
}

void QuickLauncherView::hideEvent(QHideEvent* event) {
    m_tick.stop();
    QWidget::hideEvent(event);
}

void QuickLauncherView::rerank(bool resetSelection) {
    const std::optional<QUuid> highlighted =
        m_selection < m_results.size() ? std::optional(m_results.at(m_selection).id) : std::nullopt;
    m_results = isLocked() ? QList<Account>()
                           : QuickLauncherRanking::results(query(), m_accounts->accounts());
    m_model->setAccounts(m_results);
    int row = 0;
    if (!resetSelection && highlighted) {
        const auto it = std::find_if(m_results.begin(), m_results.end(),
                                     [&](const Account& a) { return a.id == *highlighted; });
        row = it != m_results.end() ? int(it - m_results.begin())
                                    : std::min(m_selection, int(m_results.size()) - 1);
    }
    m_selection = std::max(0, row);
    m_body->setCurrentIndex(m_results.isEmpty() ? 1 : 0);
    m_empty->setText(emptyText());
    select(m_selection, false);
    refreshChrome();
}

void QuickLauncherView::select(int row, bool animate) {
    if (m_results.isEmpty()) {
        m_selection = 0;
        m_list->viewport()->update();
        return;
    }
    m_selection = std::clamp(row, 0, int(m_results.size()) - 1);
    const QModelIndex index = m_model->index(m_selection);
    // Mirrored into the view's own selection, which screen readers follow.
    m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    QScrollBar* bar = m_list->verticalScrollBar();
    const int from = m_scroll->state() == QAbstractAnimation::Running
                         ? m_scroll->endValue().toInt()
                         : bar->value();
    m_scroll->stop();
    bar->setValue(from);
    m_list->scrollTo(index, QAbstractItemView::EnsureVisible);
    const int to = bar->value();
    if (animate && to != from) {
        bar->setValue(from);
        m_scroll->setStartValue(from);
        m_scroll->setEndValue(to);
        m_scroll->start();
    }
    m_list->viewport()->update();
}

void QuickLauncherView::moveUp() {
    if (m_selection >= 1) select(m_selection - 1);
}

void QuickLauncherView::moveDown() {
    if (m_selection < m_results.size() - 1) select(m_selection + 1);
}

void QuickLauncherView::submit() {
    if (isLocked()) return;
    // The list may have changed since it was drawn: rank it as it is now.
    rerank(false);
    if (m_selection < 0 || m_selection >= m_results.size()) return;
    // A copy: whoever acts on it changes the store, and so these results.
    const Account chosen = m_results.at(m_selection);
    emit picked(chosen);
}

QString QuickLauncherView::actionHint() const {
    if (m_canType()) return tr("Autotype");
    return Accessibility::userGrants() ? tr("Copy — typing needs remote control permission")
                                      : tr("Copy — typing needs XTEST");
}

QString QuickLauncherView::enterKey() { return tr("Enter"); }

QString QuickLauncherView::escKey() { return tr("Esc"); }

QString QuickLauncherView::countText() const {
    const qsizetype n = m_results.size();
    return n == 1 ? tr("%1 code").arg(n) : tr("%1 codes").arg(n);
}

QString QuickLauncherView::emptyText() const {
    if (!m_results.isEmpty()) return {};
    // A keyring that is opening, locked or unreadable is not an empty vault.
    if (const auto notice = m_accounts->vaultNotice()) return notice->title;
    return m_accounts->accounts().isEmpty() ? tr("No accounts yet") : tr("No matches");
}

void QuickLauncherView::refreshChrome() {
    m_actionHint->setText(actionHint());
    m_count->setText(countText());
}

void QuickLauncherView::keyPressEvent(QKeyEvent* event) {
    // Escape from wherever the keyboard is (the unlock button while locked).
    if (event->key() == Qt::Key_Escape) {
        emit closeRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}
