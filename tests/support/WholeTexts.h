#pragma once

// Whether a window shows every text whole: each label, button, check box,
// radio button, tab and group title (and each name a row draws itself) as
// large as its text needs, a wrapped one as tall as its lines at its width,
// and each wholly inside its window, every parent and the screen. What a
// scroll area holds may reach beyond it only downwards, where it scrolls: a
// text under the vertical scroll bar, or wider than the viewport, is cut. A
// one-line text that does not fit passes only when it is cut with "…" and
// its tooltip and accessible name hold the whole text. And a large font to
// try it with.
#include "platform/look/FittedText.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QScreen>
#include <QStringList>
#include <QTabBar>
#include <QToolButton>
#include <QToolTip>
#include <QWidget>
#include <QtTest>

namespace WholeTexts {

inline QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// The tooltip a pointer resting on the middle of `widget` brings up. Qt
// hands the request to the widget, which shows its own, or, past widgets
// that let the mouse through (the names inside a row's click target), to the
// first parent that takes the mouse.
inline QString tipOnHover(QWidget* widget) {
    if (!widget->testAttribute(Qt::WA_TransparentForMouseEvents)) return widget->toolTip();
    QWidget* target = widget;
    while (target->testAttribute(Qt::WA_TransparentForMouseEvents) && target->parentWidget())
        target = target->parentWidget();
    const QPoint middle = widget->mapTo(target, widget->rect().center());
    QHelpEvent help(QEvent::ToolTip, middle, target->mapToGlobal(middle));
    QCoreApplication::sendEvent(target, &help);
    const QString tip = QToolTip::isVisible() ? QToolTip::text() : QString();
    QToolTip::hideText();
    return tip;
}

// Whether `shown`, which does not fit, is cut the way a name may be: with
// "…" after a start of the whole text, which the tooltip (as a pointer
// resting on it shows it) and the accessible name hold. `whole` is empty when only the tooltip knows it.
inline bool elidedWell(QWidget* widget, const QString& shown, QString whole = QString()) {
    const qsizetype ellipsis = shown.indexOf(QChar(0x2026));
    if (ellipsis < 0) return false;
    if (whole.isEmpty()) whole = widget->toolTip();
    return whole.size() > ellipsis && whole.startsWith(shown.left(ellipsis)) &&
           widget->toolTip() == whole && tipOnHover(widget) == whole &&
           accessibleName(widget) == whole;
}

inline QString withoutMnemonic(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// What of `widget`'s own text, if any, it has no room for; `text` gets the
// text to name it by.
inline std::optional<QString> tooSmall(QWidget* widget, QString* text) {
    const QSize size = widget->size();
    const QSize least = widget->minimumSizeHint();
    if (const QVariant drawn = widget->property(Style::shownTextProperty); drawn.isValid()) {
        // A text the widget cuts itself, to what it says it drew.
        const QVariant own = widget->property("text");
        const QString whole = own.isValid() ? own.toString() : accessibleName(widget);
        *text = whole;
        if (whole.isEmpty()) return std::nullopt;
        if (drawn.toString() != whole && !elidedWell(widget, drawn.toString(), whole))
            return QStringLiteral("cut without \"…\" and its whole text as tooltip and name");
        if (size.height() < least.height())
            return QStringLiteral("cut below: %1 of %2 px").arg(size.height()).arg(least.height());
        return std::nullopt;
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        *text = label->text();
        if (text->isEmpty()) return std::nullopt;
        if (label->wordWrap())
            return label->height() < label->heightForWidth(label->width())
                       ? std::optional(QStringLiteral("too small for its lines"))
                       : std::nullopt;
        if (size.width() < least.width() && !elidedWell(label, label->text()))
            return QStringLiteral("too narrow for its text");
        if (size.height() < least.height())
            return QStringLiteral("cut below: %1 of %2 px").arg(size.height()).arg(least.height());
        return std::nullopt;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        *text = withoutMnemonic(button->text());
        if (text->isEmpty()) return std::nullopt;
        if (auto* tool = qobject_cast<QToolButton*>(button);
            tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly)
            return std::nullopt;
        if (size.width() < least.width() && !elidedWell(button, *text))
            return QStringLiteral("too narrow for its text");
        // A text that wraps needs the height of its lines at its width.
        const int height = button->hasHeightForWidth() ? button->heightForWidth(size.width())
                                                       : least.height();
        if (size.height() < height)
            return QStringLiteral("cut below: %1 of %2 px").arg(size.height()).arg(height);
        return std::nullopt;
    }
    if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        *text = withoutMnemonic(box->title());
        if (!text->isEmpty() && size.width() < box->fontMetrics().horizontalAdvance(*text))
            return QStringLiteral("too narrow for its title");
    }
    return std::nullopt;
}

// Why `rect` (in `widget`'s coordinates) is not wholly in view in `window`,
// or nothing when it is.
inline std::optional<QString> outOfView(QWidget* widget, QWidget* window, QRect shown) {
    for (QWidget* child = widget; child != window; child = child->parentWidget()) {
        QWidget* parent = child->parentWidget();
        shown.translate(child->pos());
        const QRect bounds = parent->rect();
        auto* area = qobject_cast<QAbstractScrollArea*>(parent->parentWidget());
        // Scrolled into view: downwards, it is as if in the viewport. Across
        // it never is: what needs the width must have it.
        if (area && area->viewport() == parent &&
            area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
            shown.setTop(bounds.top()), shown.setBottom(bounds.bottom());
        if (!bounds.contains(shown))
            return QStringLiteral("%1,%2 %3x%4 beyond ")
                       .arg(shown.x()).arg(shown.y()).arg(shown.width()).arg(shown.height()) +
                   (area && area->viewport() == parent ? QStringLiteral("the viewport of ") +
                                                             area->metaObject()->className()
                                                       : QString::fromLatin1(
                                                             parent->metaObject()->className())) +
                   QStringLiteral(" of %1x%2").arg(bounds.width()).arg(bounds.height());
    }
    return std::nullopt;
}

// The texts `window` cuts off, each with what cuts it.
inline QStringList cut(QWidget* window) {
    // What was shown or hidden last is laid out first.
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QStringList found;
    const auto report = [&](const QString& text, const QString& why) {
        found << text.simplified() + QStringLiteral(" (") + why + QLatin1Char(')');
    };
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->isVisibleTo(window) || widget->window() != window) continue;
        if (auto* bar = qobject_cast<QTabBar*>(widget)) {
            for (int i = 0; i < bar->count(); ++i) {
                const QString text = withoutMnemonic(bar->tabText(i));
                if (text.isEmpty() || !bar->isTabVisible(i)) continue;
                const QRect tab = bar->tabRect(i);
                const int icon = bar->tabIcon(i).isNull() ? 0 : bar->iconSize().width() + 4;
                // A tab bar that elides draws "…"; the tooltip must hold the
                // whole text (a tab's accessible name is its whole text).
                if (tab.width() < bar->fontMetrics().horizontalAdvance(text) + icon &&
                    (bar->elideMode() == Qt::ElideNone || bar->tabToolTip(i) != text))
                    report(text, QStringLiteral("tab too narrow for its text"));
                else if (!bar->rect().contains(tab))
                    report(text, QStringLiteral("tab beyond its tab bar"));
                else if (const auto why = outOfView(bar, window, tab))
                    report(text, *why);
            }
            continue;
        }
        QString text;
        if (const auto why = tooSmall(widget, &text)) {
            report(text, *why);
            continue;
        }
        if (text.isEmpty()) continue;
        if (const auto why = outOfView(widget, window, widget->rect())) report(text, *why);
    }
    if (QScreen* screen = window->screen();
        screen && !screen->geometry().contains(window->geometry()))
        found << QStringLiteral("the window itself (beyond the screen)");
    return found;
}

// Twice the application's font while it lives, for what is built meanwhile
// (a text styled when it was built keeps the size it had).
class LargeFont {
public:
    LargeFont() : m_font(QApplication::font()) {
        QFont large = m_font;
        large.setPointSizeF(m_font.pointSizeF() * 2);
        QApplication::setFont(large);
    }
    ~LargeFont() { QApplication::setFont(m_font); }
    LargeFont(const LargeFont&) = delete;
    LargeFont& operator=(const LargeFont&) = delete;

private:
    QFont m_font;
};

} // namespace WholeTexts

// Waits until `window` cuts off no text; fails naming those it cuts.
#define QUILLET_TRY_WHOLE(window)                                                                  \
    QTRY_VERIFY2(WholeTexts::cut(window).isEmpty(),                                                \
                 qPrintable(WholeTexts::cut(window).join(QStringLiteral("; "))))
