#include "menubar/MenuBarRow.h"

#include "app/CodeLabel.h"
#include "app/TimerRing.h"
#include "core/AccountAvatarView.h"
#include "core/Text.h"
#include "platform/look/FittedText.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QColor secondary() { return Style::color(Style::SemanticColor::secondary); }

// A chevron drawn in the secondary style while it can be pressed and in the
// quaternary style while it cannot.
QToolButton* chevron(const QString& symbol, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(10, 10));
    button->setFixedSize(24, 17);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    QIcon icon;
    const qreal ratio = parent->devicePixelRatioF();
    icon.addPixmap(Symbols::pixmap(symbol, 10, secondary(), ratio), QIcon::Normal);
    icon.addPixmap(Symbols::pixmap(symbol, 10, Style::color(Style::SemanticColor::quaternary), ratio),
                   QIcon::Disabled);
    button->setIcon(icon);
    button->setToolTip(MenuBarRow::tr("Move up or down"));
    return button;
}

// The row's wide click target: it draws nothing of its own but a focus
// frame; the texts and pictures inside it are its children.
class CopyButton : public QAbstractButton {
public:
    explicit CopyButton(QWidget* parent) : QAbstractButton(parent) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    }
    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(); }
    QSize minimumSizeHint() const override {
        return layout() ? layout()->minimumSize() : QSize();
    }

protected:
    // The names inside let the mouse through to the button, so their
    // tooltips never come on their own: a name cut with "…" is shown whole
    // while the pointer rests on it, the button's own tooltip elsewhere.
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            const auto* help = static_cast<QHelpEvent*>(event);
            for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
                if (label->isVisible() && !label->toolTip().isEmpty() &&
                    label->geometry().contains(help->pos())) {
                    QToolTip::showText(help->globalPos(), label->toolTip(), this, label->geometry());
                    return true;
                }
            }
        }
        return QAbstractButton::event(event);
    }

    void paintEvent(QPaintEvent*) override {
        if (!hasFocus())
            return;
        QPainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
};

QLabel* passive(QLabel* label) {
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

MenuBarRow::MenuBarRow(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 1); // the divider under every row
    row->setSpacing(0);

    auto* moves = new QWidget(this);
    moves->setFixedSize(24, 34);
    moves->setToolTip(tr("Move up or down"));
    auto* column = new QVBoxLayout(moves);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_up = chevron(QStringLiteral("chevron.up"), moves);
    m_down = chevron(QStringLiteral("chevron.down"), moves);
    // Read apart: the two share one help text but not what they do.
    m_up->setAccessibleName(tr("Move up"));
    m_down->setAccessibleName(tr("Move down"));
    column->addStretch();
    column->addWidget(m_up);
    column->addWidget(m_down);
    column->addStretch();
    connect(m_up, &QToolButton::clicked, this, [this] { call(m_actions.onMoveUp); });
    connect(m_down, &QToolButton::clicked, this, [this] { call(m_actions.onMoveDown); });
    row->addWidget(moves);

    m_copy = new CopyButton(this);
    connect(m_copy, &QAbstractButton::clicked, this, [this] { call(m_actions.onCopy); });
    auto* label = new QHBoxLayout(m_copy);
    label->setContentsMargins(0, 8, 12, 8);
    label->setSpacing(10);

    m_avatar = new AccountAvatarView(22, m_copy);
    m_avatar->setAttribute(Qt::WA_TransparentForMouseEvents);
    ScreenReader::setHidden(m_avatar); // the title beside it names the service
    label->addWidget(m_avatar);

    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    auto* titleLine = new QHBoxLayout;
    titleLine->setSpacing(3);
    m_star = passive(new QLabel(m_copy));
    m_star->setPixmap(Symbols::pixmap(QStringLiteral("star.fill"), 8,
                                      Style::color(Style::SemanticColor::yellow),
                                      devicePixelRatioF()));
    m_star->setAccessibleName(tr("Pinned"));
    titleLine->addWidget(m_star);
    // Names too long for the panel are cut with "…", whole in the tooltip.
    m_title = passive(
        Style::elidedLabel(QString(), Style::TextStyle::callout, std::nullopt, QFont::DemiBold));
    titleLine->addWidget(m_title, 1);
    names->addLayout(titleLine);
    m_subtitle = passive(
        Style::elidedLabel(QString(), Style::TextStyle::caption2, Style::SemanticColor::secondary));
    names->addWidget(m_subtitle);
    label->addLayout(names, 1);
    label->addSpacing(4); // the spacer's least length

    m_code = passive(new QLabel(m_copy));
    m_code->setTextFormat(Qt::PlainText);
    m_code->setFont(Style::font(Style::TextStyle::body, QFont::Medium, true));
    m_code->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->addWidget(m_code);

    m_ring = new TimerRing(m_copy);
    m_ring->setFixedSize(18, 18);
    m_ring->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->addWidget(m_ring);

    m_glyph = passive(new QLabel(m_copy));
    ScreenReader::setHidden(m_glyph); // the button's own name says it copies
    label->addWidget(m_glyph);
    row->addWidget(m_copy, 1);

    setReveal(true);
    refreshCopyGlyph();
}

QString MenuBarRow::hiddenCode(qint64 digits) {
    const qint64 count = std::clamp<qint64>(digits, 0, 64);
    const qint64 first = count / 2;
    return QString(first, QChar(0x2022)) + QLatin1Char(' ') + QString(count - first, QChar(0x2022));
}

void MenuBarRow::setAccount(const Account& account) {
    if (m_hasAccount && account == m_account)
        return;
    m_hasAccount = true;
    m_account = account;
    m_title->setText(Text::oneLine(titleText()));
    m_subtitle->setText(Text::oneLine(account.name));
    m_subtitle->setVisible(!account.issuer.isEmpty());
    m_star->setVisible(account.isFavorite);
    m_avatar->setAccount(account);
    m_ring->setVisible(account.type == OTPType::totp);
    m_ring->setPeriod(double(account.period));
    m_copy->setAccessibleName(Text::oneLine(account.displayLabel()));
    refreshCode();
}

void MenuBarRow::setNow(const QDateTime& now) {
    m_now = now;
    refreshCode();
}

void MenuBarRow::setReveal(bool reveal) {
    m_reveal = reveal;
    Style::setTextColor(m_code, Style::color(reveal ? Style::SemanticColor::primary
                                                    : Style::SemanticColor::secondary));
    m_copy->setToolTip(copyToolTip());
    m_copy->setAccessibleDescription(copyToolTip());
    refreshCode();
}

void MenuBarRow::refreshCode() {
    const QString text = !m_reveal           ? hiddenCode(m_account.digits)
                         : m_now.isValid() ? m_account.groupedCode(m_now)
                                           : QString();
    if (text != m_code->text()) {
        // One width for every code of the same form keeps the column steady.
        const int width = CodeLabel::widthFor(m_code->fontMetrics(), text) + 2;
        if (m_code->minimumWidth() != width)
            m_code->setFixedWidth(width);
        m_code->setText(text);
        m_code->setAccessibleName(text);
    }
    if (m_account.type == OTPType::totp && m_now.isValid())
        m_ring->setNow(m_now);
}

void MenuBarRow::setCopied(bool copied) {
    if (copied == m_copied)
        return;
    m_copied = copied;
    refreshCopyGlyph();
}

void MenuBarRow::refreshCopyGlyph() {
    const QFontMetrics caption(Style::font(Style::TextStyle::caption));
    const int side = caption.height();
    m_glyph->setPixmap(m_copied ? Symbols::pixmap(QStringLiteral("checkmark.circle.fill"), side,
                                                  Style::color(Style::SemanticColor::green),
                                                  devicePixelRatioF())
                                : Symbols::pixmap(QStringLiteral("doc.on.doc"), side, secondary(),
                                                  devicePixelRatioF()));
}

void MenuBarRow::setMoves(bool canMoveUp, bool canMoveDown) {
    m_up->setEnabled(canMoveUp);
    m_down->setEnabled(canMoveDown);
}

QString MenuBarRow::titleText() const {
    return m_account.issuer.isEmpty() ? m_account.name : m_account.issuer;
}

QString MenuBarRow::subtitleText() const {
    return m_account.issuer.isEmpty() ? QString() : m_account.name;
}

QString MenuBarRow::codeText() const { return m_code->text(); }

QString MenuBarRow::copyToolTip() const {
    return m_reveal ? tr("Click to copy") : tr("Click to copy (code hidden)");
}

QAbstractButton* MenuBarRow::copyButton() const { return m_copy; }

bool MenuBarRow::showsRing() const { return !m_ring->isHidden(); }

QMenu* MenuBarRow::buildContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->addAction(m_account.isFavorite ? tr("Unpin") : tr("Pin to Top"), this,
                    [this] { call(m_actions.onToggleFavorite); });
    menu->addAction(tr("Copy Code"), this, [this] { call(m_actions.onCopy); });
    return menu;
}

void MenuBarRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, height() - 1, width(), height() - 1);
}

void MenuBarRow::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_copy->geometry().contains(event->pos())) {
        QWidget::contextMenuEvent(event);
        return;
    }
    QMenu* menu = buildContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
