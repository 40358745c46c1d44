// The widget helpers of Style, kept apart from its fonts and colours so that
// code drawing without widgets links no Qt Widgets.
#include "platform/look/Style.h"

#include "platform/look/ScreenFit.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Symbols.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace Style {

void setTextColor(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QColor backdrop(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (w->autoFillBackground() || w->isWindow())
            return w->palette().color(w->backgroundRole());
    return widget->palette().color(QPalette::Window);
}

QLabel* label(const QString& text, TextStyle style, std::optional<SemanticColor> colour,
              QFont::Weight weight) {
    auto* label = new QLabel(text);
    label->setFont(font(style, weight));
    label->setTextFormat(Qt::PlainText);
    if (colour) setTextColor(label, color(*colour));
    return label;
}

QLabel* symbolLabel(const QString& name, int size, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::pixmap(name, size, colour, parent->devicePixelRatioF()));
    label->setAlignment(Qt::AlignCenter);
    ScreenReader::setHidden(label);
    return label;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

namespace {

class HeightForWidth : public QObject {
public:
    explicit HeightForWidth(QWidget* window) : QObject(window), m_window(window) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_window) {
            switch (event->type()) {
            case QEvent::LayoutRequest:
            case QEvent::Resize:
            case QEvent::Show:
                fit();
                break;
            default:
                break;
            }
        }
        return false;
    }

private:
    void fit() {
        QLayout* layout = m_window->layout();
        // A layout that fixes the window's size fixes it at the height its
        // width needs already.
        if (!layout || layout->sizeConstraint() == QLayout::SetFixedSize) return;
        layout->activate();
        if (!layout->hasHeightForWidth()) return;
        // No taller than the screen leaves room for, where the layout can
        // be shorter: what shrinks (a QR code) shrinks instead.
        int wanted = layout->totalHeightForWidth(m_window->width());
        if (const QScreen* screen = m_window->screen()) {
            const QMargins frame = ScreenFit::frame(m_window);
            wanted = std::min(wanted, screen->availableGeometry().height() - frame.top() -
                                          frame.bottom());
        }
        const int needed = std::max(wanted, layout->totalMinimumSize().height());
        if (needed > m_window->maximumHeight()) m_window->setMaximumHeight(needed);
        // Lowered again when the window widens, so that it may shrink back.
        if (needed != m_window->minimumHeight()) m_window->setMinimumHeight(needed);
    }

    QWidget* m_window;
};

} // namespace

void fitHeightToWidth(QWidget* window) { new HeightForWidth(window); }

bool acceptButtonFirst(const QWidget* widget) {
    const int layout = widget->style()->styleHint(QStyle::SH_DialogButtonLayout, nullptr, widget);
    return layout == QDialogButtonBox::WinLayout || layout == QDialogButtonBox::KdeLayout;
}

} // namespace Style

void Style::centreOnScreen(QWidget* window, const QPoint& point) {
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    // Before its first showing the window knows nothing of the frame the
    // window manager will put round it: leave room for a title bar.
    constexpr int frame = 40;
    const QSize size = window->size();
    const int x = available.left() + std::max(0, (available.width() - size.width()) / 2);
    const int y = available.top() + std::max(0, (available.height() - size.height() - frame) / 2);
    window->move(x, y);
}
