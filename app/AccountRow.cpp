#include "app/AccountRow.h"

#include "app/CodeLabel.h"
#include "app/TimerRing.h"
#include "core/AccountAvatarView.h"
#include "platform/look/FittedText.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QColor secondary() { return Style::color(Style::SemanticColor::secondary); }

QToolButton* borderlessButton(QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIconSize(QSize(18, 18));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

AccountRow::AccountRow(QWidget* parent) : QFrame(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(14);

    m_handle = new QLabel(this);
    m_handle->setFixedSize(22, 30);
    m_handle->setAlignment(Qt::AlignCenter);
    m_handle->setToolTip(tr("Drag to reorder"));
    m_handle->setAccessibleName(m_handle->toolTip());
    m_handle->installEventFilter(this);
    row->addWidget(m_handle);

    m_avatar = new AccountAvatarView(36, this);
    // The title beside it names the service.
    ScreenReader::setHidden(m_avatar);
    row->addWidget(m_avatar);

    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    auto* firstLine = new QHBoxLayout;
    firstLine->setSpacing(4);
    m_star = new QLabel(this);
    m_star->setPixmap(Symbols::pixmap(QStringLiteral("star.fill"), 10,
                                      Style::color(Style::SemanticColor::yellow)));
    m_star->setAccessibleName(tr("Pinned"));
    firstLine->addWidget(m_star);
    // Names too long for the row are cut with "…", whole in the tooltip.
    m_title = new Style::ElidedLabel(this);
    m_title->setFont(Style::font(Style::TextStyle::body, QFont::DemiBold));
    m_title->setTextFormat(Qt::PlainText);
    firstLine->addWidget(m_title);
    firstLine->addStretch();
    names->addLayout(firstLine);
    m_subtitle = new Style::ElidedLabel(this);
    m_subtitle->setFont(Style::font(Style::TextStyle::caption));
    m_subtitle->setTextFormat(Qt::PlainText);
    names->addWidget(m_subtitle);
    row->addLayout(names, 1);

    m_codeColumn = new QWidget(this);
    m_codeColumn->setCursor(Qt::PointingHandCursor);
    m_codeColumn->setToolTip(tr("Click to copy"));
    m_codeColumn->installEventFilter(this);
    auto* codes = new QVBoxLayout(m_codeColumn);
    codes->setContentsMargins(0, 0, 0, 0);
    codes->setSpacing(1);
    m_code = new CodeLabel(m_codeColumn);
    m_code->setAttribute(Qt::WA_TransparentForMouseEvents);
    codes->addWidget(m_code, 0, Qt::AlignRight);
    m_next = new QLabel(m_codeColumn);
    m_next->setFont(Style::font(Style::TextStyle::caption2, QFont::Normal, true));
    m_next->setAlignment(Qt::AlignRight);
    m_next->setAttribute(Qt::WA_TransparentForMouseEvents);
    codes->addWidget(m_next, 0, Qt::AlignRight);
    row->addWidget(m_codeColumn);

    m_ring = new TimerRing(this);
    m_ring->setFixedSize(22, 22);
    row->addWidget(m_ring);
    m_increment = borderlessButton(this);
    m_increment->setIcon(Symbols::icon(QStringLiteral("arrow.clockwise.circle"), secondary()));
    m_increment->setToolTip(tr("Generate next HOTP code"));
    m_increment->setAccessibleName(m_increment->toolTip());
    connect(m_increment, &QToolButton::clicked, this, [this] { call(m_actions.onIncrement); });
    row->addWidget(m_increment);

    m_copy = borderlessButton(this);
    connect(m_copy, &QToolButton::clicked, this, [this] { call(m_actions.onCopy); });
    row->addWidget(m_copy);

    setCanReorder(false);
    // Set even where the row already has the Base role from its parent: the
    // palette change it sends colours the texts and the copy button.
    setBackgroundRole(QPalette::Base);
}

void AccountRow::setAccount(const Account& account) {
    // The list refreshes every row on every change; an unchanged one is left
    // alone (the avatar alone takes long enough to matter for a long list).
    if (m_hasAccount && account == m_account)
        return;
    m_hasAccount = true;
    m_account = account;
    m_title->setText(titleText());
    m_subtitle->setText(account.name);
    m_subtitle->setVisible(!account.issuer.isEmpty());
    m_star->setVisible(account.isFavorite);
    m_avatar->setAccount(account);
    const bool counterBased = account.type == OTPType::hotp;
    m_ring->setVisible(!counterBased);
    m_increment->setVisible(counterBased);
    m_next->setVisible(!counterBased);
    m_ring->setPeriod(double(account.period));
    refreshCodes();
}

void AccountRow::setNow(const QDateTime& now) {
    // The list hands every row the clock's time on every refresh; the codes
    // only change when the time does (setAccount() redraws them otherwise).
    if (now == m_now)
        return;
    m_now = now;
    refreshCodes();
}

void AccountRow::refreshCodes() {
    if (!m_now.isValid()) {
        // No time, no codes: the row under the app lock holds none.
        m_code->setText(QString());
        m_next->setText(QString());
        return;
    }
    m_code->setText(m_account.groupedCode(m_now));
    if (m_account.type != OTPType::hotp) {
        const QString prefix = tr("Next  ");
        const QString code = m_account.nextGroupedCode(m_now);
        const QString next = prefix + code;
        if (next != m_next->text()) {
            // A fixed size for each form of code keeps a new code from
            // asking the whole list to lay itself out again.
            const QFontMetrics metrics(m_next->font());
            m_next->setText(next);
            // As tall as the label lays out its line, which may be a pixel
            // more than the font's height.
            const QSize size(metrics.horizontalAdvance(prefix) + CodeLabel::widthFor(metrics, code) + 2,
                             std::max(metrics.height(), m_next->sizeHint().height()));
            if (m_next->size() != size || m_next->minimumSize() != size)
                m_next->setFixedSize(size);
        }
        m_ring->setNow(m_now);
    }
}

void AccountRow::setCopied(bool copied) {
    if (copied == m_copied)
        return;
    m_copied = copied;
    refreshCopyButton();
}

void AccountRow::refreshCopyButton() {
    const QColor green = Style::color(Style::SemanticColor::green);
    m_code->setColor(m_copied ? Style::readable(green, Style::backdrop(this)) : QColor());
    m_copy->setIcon(m_copied ? Symbols::icon(QStringLiteral("checkmark.circle.fill"), green)
                             : Symbols::icon(QStringLiteral("doc.on.doc"), secondary()));
    m_copy->setToolTip(m_copied ? tr("Copied!") : tr("Copy code"));
    m_copy->setAccessibleName(m_copy->toolTip());
}

void AccountRow::setCanReorder(bool canReorder) {
    if (m_handleDrawn && canReorder == m_canReorder)
        return;
    m_handleDrawn = true;
    m_canReorder = canReorder;
    // Always laid out, so the columns of all rows line up; invisible when
    // the list cannot be reordered.
    m_handle->setPixmap(Symbols::pixmap(QStringLiteral("line.3.horizontal"), 14,
                                        canReorder ? secondary() : QColor(Qt::transparent)));
    m_handle->setCursor(canReorder ? Qt::OpenHandCursor : Qt::ArrowCursor);
    ScreenReader::setHidden(m_handle, !canReorder);
}

void AccountRow::setFolders(const QList<Folder>& folders) { m_folders = folders; }

void AccountRow::setAlternate(bool alternate) {
    // The list hands every row its colour on every refresh.
    const QPalette::ColorRole role = alternate ? QPalette::AlternateBase : QPalette::Base;
    if (role == backgroundRole()) return;
    // Its palette change recolours the texts (changeEvent).
    setBackgroundRole(role);
}

void AccountRow::refreshTextColours() {
    // The row is drawn in the colours of a list (base or alternate base),
    // not the window's, so its texts take the list's text colour; the
    // secondary ones are that colour faded as far as stays readable.
    const QPalette colours = palette();
    const QColor ground = colours.color(backgroundRole());
    QColor text = colours.color(QPalette::Text);
    const QColor primary = Style::readable(text, ground);
    text.setAlphaF(Style::color(Style::SemanticColor::secondary).alphaF());
    const QColor faded = Style::readable(text, ground);
    // A label draws with the text role that goes with its background role,
    // which it takes from the row: Text on the plain rows, WindowText on the
    // alternate ones. Both are set, so both rows show the same colours.
    const auto paint = [](QWidget* widget, const QColor& colour) {
        QPalette own = widget->palette();
        own.setColor(QPalette::WindowText, colour);
        own.setColor(QPalette::Text, colour);
        widget->setPalette(own);
    };
    paint(m_title, primary);
    paint(m_code, primary);
    paint(m_subtitle, faded);
    paint(m_next, faded);
    refreshCopyButton();
    m_ring->update();
}

void AccountRow::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    // A new palette from the desktop (a dark one, say), or a new row
    // colour: colours anew.
    if (event->type() == QEvent::PaletteChange) refreshTextColours();
}

QString AccountRow::titleText() const {
    return m_account.issuer.isEmpty() ? m_account.name : m_account.issuer;
}

QString AccountRow::subtitleText() const {
    return m_account.issuer.isEmpty() ? QString() : m_account.name;
}

QString AccountRow::codeText() const { return m_code->text(); }

QString AccountRow::nextCodeText() const {
    return m_account.type == OTPType::hotp ? QString() : m_next->text();
}

QMenu* AccountRow::buildContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->addAction(m_account.isFavorite ? tr("Unpin") : tr("Pin to Top"), this,
                    [this] { call(m_actions.onToggleFavorite); });
    menu->addAction(tr("Copy Code"), this, [this] { call(m_actions.onCopy); });
    menu->addAction(tr("Edit…"), this, [this] { call(m_actions.onEdit); });
    QAction* qr = menu->addAction(tr("Show QR Code…"), this, [this] { call(m_actions.onShowQR); });
    qr->setEnabled(bool(m_actions.onShowQR));
    if (!m_folders.isEmpty()) {
        QMenu* folders = menu->addMenu(tr("Move to Folder"));
        folders->addAction(tr("None"), this, [this] { chooseFolder(std::nullopt); });
        folders->addSeparator();
        for (const Folder& folder : std::as_const(m_folders)) {
            const bool current = m_account.folderID == folder.id;
            QAction* entry = folders->addAction(
                Symbols::icon(current ? QStringLiteral("checkmark") : folder.symbol), folder.name,
                this, [this, id = folder.id] { chooseFolder(id); });
            entry->setIconVisibleInMenu(true);
        }
    }
    menu->addSeparator();
    menu->addAction(tr("Delete"), this, [this] { call(m_actions.onDelete); });
    return menu;
}

void AccountRow::chooseFolder(std::optional<QUuid> folderID) {
    const auto action = m_actions.onSetFolder; // a copy, as in call()
    if (action)
        action(folderID);
}

void AccountRow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = buildContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void AccountRow::keyPressEvent(QKeyEvent* event) {
    // The desktop's way to remove the selected row, in place of a swipe.
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        call(m_actions.onDelete);
        return;
    }
    QFrame::keyPressEvent(event);
}

bool AccountRow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_codeColumn && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        call(m_actions.onCopy);
        return true;
    }
    if (watched == m_handle && m_canReorder) {
        if (event->type() == QEvent::MouseButtonPress) {
            m_dragStart = static_cast<QMouseEvent*>(event)->position().toPoint();
        } else if (event->type() == QEvent::MouseMove &&
                   (static_cast<QMouseEvent*>(event)->buttons() & Qt::LeftButton) &&
                   (static_cast<QMouseEvent*>(event)->position().toPoint() - m_dragStart)
                           .manhattanLength() >= QApplication::startDragDistance()) {
            emit dragStarted(m_account.id);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}
