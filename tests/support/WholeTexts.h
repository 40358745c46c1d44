#pragma once

// Whether a window shows every label's whole text: a wrapped label as tall
// as its lines need at its width, a label on one line as wide as its text,
// and each wholly inside its window and the screen. What a scroll area holds
// may reach beyond it only the ways it scrolls. And a large font to try it.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QScreen>
#include <QStringList>
#include <QWidget>
#include <QtTest>

namespace WholeTexts {

// The texts of the labels `window` cuts off, each with what cuts it.
inline QStringList cut(QWidget* window) {
    // What was shown or hidden last is laid out first.
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QStringList found;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty() || label->window() != window)
            continue;
        const QString text = label->text().simplified();
        if (label->wordWrap() ? label->height() < label->heightForWidth(label->width())
                              : label->width() < label->minimumSizeHint().width()) {
            found << text + QStringLiteral(" (too small for its text)");
            continue;
        }
        // Up the parents, in each one's own coordinates.
        QRect shown = label->rect();
        for (QWidget* child = label; child != window; child = child->parentWidget()) {
            QWidget* parent = child->parentWidget();
            shown.translate(child->pos());
            const QRect bounds = parent->rect();
            auto* area = qobject_cast<QAbstractScrollArea*>(parent->parentWidget());
            if (area && area->viewport() == parent) {
                // Scrolled into view: on the axes it scrolls, it is as if in
                // the viewport.
                if (area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
                    shown.setLeft(bounds.left()), shown.setRight(bounds.right());
                if (area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
                    shown.setTop(bounds.top()), shown.setBottom(bounds.bottom());
            }
            if (!bounds.contains(shown)) {
                found << text + QStringLiteral(" (beyond ") + parent->metaObject()->className() +
                             QLatin1Char(')');
                break;
            }
        }
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

// Waits until `window` cuts off no label; fails naming those it cuts.
#define QUILLET_TRY_WHOLE(window)                                                                  \
    QTRY_VERIFY2(WholeTexts::cut(window).isEmpty(),                                                \
                 qPrintable(WholeTexts::cut(window).join(QStringLiteral("; "))))
