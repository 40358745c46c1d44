#include "platform/look/FittedText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include <algorithm>
#include <type_traits>

namespace Style {

namespace {

// Says what `widget` drew, and keeps the whole text in its tooltip while it
// is cut (a tooltip of the caller's own is left alone).
void showCut(QWidget* widget, const QString& whole, const QString& shown, bool& ownTip) {
    widget->setProperty(shownTextProperty, shown);
    if (!ownTip && !widget->toolTip().isEmpty()) return;
    const bool cut = shown != whole;
    ownTip = cut;
    if (widget->toolTip() != (cut ? whole : QString())) widget->setToolTip(cut ? whole : QString());
}

} // namespace

ElidedLabel::ElidedLabel(QWidget* parent) : ElidedLabel(QString(), parent) {}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
}

QSize ElidedLabel::minimumSizeHint() const {
    const int margins = contentsMargins().left() + contentsMargins().right() + 2 * margin();
    return {fontMetrics().horizontalAdvance(QChar(0x2026)) + margins,
            QLabel::minimumSizeHint().height()};
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, std::max(0, contentsRect().width() - 2 * margin()));
}

bool ElidedLabel::event(QEvent* event) {
    // A tooltip asked for while the text is cut shows the whole of it.
    if (event->type() == QEvent::ToolTip) refreshTip();
    return QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    const QString shown = shownText();
    showCut(this, text(), shown, m_ownTip);
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, area,
                          int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), shown, foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    refreshTip();
}

ElidedLabel* elidedLabel(const QString& text, TextStyle style,
                         std::optional<SemanticColor> colour, QFont::Weight weight) {
    auto* label = new ElidedLabel(text);
    label->setFont(font(style, weight));
    if (colour) setTextColor(label, color(*colour));
    return label;
}

void ElidedLabel::refreshTip() { showCut(this, text(), shownText(), m_ownTip); }

ElidedCheckBox::ElidedCheckBox(QWidget* parent) : ElidedCheckBox(QString(), parent) {}

ElidedCheckBox::ElidedCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    // A check box takes no less than its whole text by default.
    setSizePolicy(QSizePolicy::Preferred, sizePolicy().verticalPolicy());
}

QSize ElidedCheckBox::minimumSizeHint() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    const QSize ellipsis = fontMetrics().size(0, QString(QChar(0x2026)));
    return style()->sizeFromContents(QStyle::CT_CheckBox, &option, ellipsis, this);
}

QString ElidedCheckBox::shownText() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
    // The style's contents leave the text a little room on each side.
    const int room = width() - (sizeHint().width() - fontMetrics().horizontalAdvance(text()));
    return fontMetrics().elidedText(text(), Qt::ElideRight, std::min(contents.width(), room));
}

bool ElidedCheckBox::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) refreshTip();
    return QCheckBox::event(event);
}

void ElidedCheckBox::paintEvent(QPaintEvent*) {
    const QString shown = shownText();
    showCut(this, text(), shown, m_ownTip);
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = shown;
    painter.drawControl(QStyle::CE_CheckBox, option);
}

void ElidedCheckBox::resizeEvent(QResizeEvent* event) {
    QCheckBox::resizeEvent(event);
    refreshTip();
}

void ElidedCheckBox::refreshTip() { showCut(this, text(), shownText(), m_ownTip); }

namespace {

template <class Button>
constexpr bool isRadio = std::is_same_v<Button, QRadioButton>;

constexpr int wrapFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic;

} // namespace

template <class Button>
WrappingButton<Button>::WrappingButton(QWidget* parent) : WrappingButton(QString(), parent) {}

template <class Button>
WrappingButton<Button>::WrappingButton(const QString& text, QWidget* parent)
    : Button(text, parent) {
    // A check box takes no less than its whole text on one line by default.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    this->setSizePolicy(policy);
}

template <class Button>
QSize WrappingButton<Button>::sizeFor(QSize text) const {
    QStyleOptionButton option;
    this->initStyleOption(&option);
    return this->style()->sizeFromContents(isRadio<Button> ? QStyle::CT_RadioButton
                                                           : QStyle::CT_CheckBox,
                                           &option, text, this);
}

template <class Button>
int WrappingButton<Button>::indicatorWidth() const {
    return sizeFor(QSize(0, 0)).width();
}

template <class Button>
QSize WrappingButton<Button>::textSize(int width) const {
    return this->fontMetrics()
        .boundingRect(QRect(0, 0, std::max(1, width), 1 << 20), wrapFlags, this->text())
        .size();
}

template <class Button>
QSize WrappingButton<Button>::sizeHint() const {
    return sizeFor(this->fontMetrics().size(Qt::TextShowMnemonic, this->text()));
}

template <class Button>
QSize WrappingButton<Button>::minimumSizeHint() const {
    // Room for its longest word on a line.
    int word = 0;
    const QFontMetrics metrics = this->fontMetrics();
    for (const QString& part : this->text().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        word = std::max(word, metrics.horizontalAdvance(part));
    const int full = metrics.size(Qt::TextShowMnemonic, this->text()).width();
    return sizeFor(textSize(std::min(full, word)));
}

template <class Button>
int WrappingButton<Button>::heightForWidth(int width) const {
    return sizeFor(textSize(width - indicatorWidth())).height();
}

template <class Button>
void WrappingButton<Button>::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    this->initStyleOption(&option);
    const QRect textArea = this->rect().adjusted(indicatorWidth(), 0, 0, 0);
    const int textHeight = textSize(textArea.width()).height();
    const int top = std::max(0, (this->height() - textHeight) / 2);
    const QRect textRect(textArea.left(), top, textArea.width(), textHeight);

    // The indicator beside the first line.
    QStyleOptionButton indicator = option;
    indicator.rect = this->style()->subElementRect(
        isRadio<Button> ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option,
        this);
    const int firstLine = top + this->fontMetrics().height() / 2;
    indicator.rect.moveTop(std::clamp(firstLine - indicator.rect.height() / 2, 0,
                                      std::max(0, this->height() - indicator.rect.height())));
    painter.drawPrimitive(isRadio<Button> ? QStyle::PE_IndicatorRadioButton
                                          : QStyle::PE_IndicatorCheckBox,
                          indicator);
    painter.drawItemText(textRect, wrapFlags, option.palette, this->isEnabled(), this->text(),
                         QPalette::WindowText);
    if (this->hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = painter.boundingRect(textRect, wrapFlags, this->text())
                         .adjusted(-1, -1, 1, 1)
                         .intersected(this->rect());
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

template <class Button>
void WrappingButton<Button>::resizeEvent(QResizeEvent* event) {
    Button::resizeEvent(event);
    const int needed = heightForWidth(this->width());
    if (this->minimumHeight() != needed) this->setMinimumHeight(needed);
}

template class WrappingButton<QCheckBox>;
template class WrappingButton<QRadioButton>;

namespace {

class ContentWidth : public QObject {
public:
    ContentWidth(QScrollArea* area) : QObject(area), m_area(area) {
        if (area->widget()) area->widget()->installEventFilter(this);
        area->installEventFilter(this);
        fit();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::LayoutRequest:
        case QEvent::Show:
        case QEvent::StyleChange:
        case QEvent::FontChange:
            fit();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void fit() {
        QWidget* content = m_area->widget();
        if (!content) return;
        const int needed = (content->layout() ? content->layout()->totalMinimumSize().width()
                                              : content->minimumSizeHint().width());
        int chrome = 2 * m_area->frameWidth();
        if (m_area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
            chrome += m_area->verticalScrollBar()->sizeHint().width();
        if (m_area->minimumWidth() != needed + chrome) m_area->setMinimumWidth(needed + chrome);
    }

    QScrollArea* m_area;
};

} // namespace

void fitWidthToContent(QScrollArea* area) { new ContentWidth(area); }

} // namespace Style
