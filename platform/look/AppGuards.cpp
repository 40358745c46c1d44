#include "platform/look/AppGuards.h"

#include "platform/look/ScreenFit.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QScrollBar>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// The event-loop level a window was last shown at, and the one a window
// waiting to be deleted waits for.
const char* const shownAtLevel = "_quillet_shownAtLoopLevel";
const char* const deleteAtLevel = "_quillet_deleteAtLoopLevel";

// How often a deletion that waits looks again: the loops it waits for
// return within an event or two once their dialogs are closed.
constexpr int retryMs = 10;

int loopLevel() { return QThread::currentThread()->loopLevel(); }

bool changesWithWheel(const QObject* object) {
    if (qobject_cast<const QScrollBar*>(object))
        return false; // moving the page is what the wheel is for
    return qobject_cast<const QComboBox*>(object) || qobject_cast<const QAbstractSpinBox*>(object) ||
           qobject_cast<const QAbstractSlider*>(object);
}

// A spin box's focus is in its line edit.
bool hasFocusWithin(const QWidget* widget) {
    for (const QWidget* focus = QApplication::focusWidget(); focus; focus = focus->parentWidget())
        if (focus == widget)
            return true;
    return false;
}

// How many parents up `owner` is from `widget` (across windows), or 0 when
// it is none of them.
int depthBelow(const QWidget* owner, const QWidget* widget) {
    int depth = 0;
    for (const QWidget* up = widget->parentWidget(); up; up = up->parentWidget()) {
        ++depth;
        if (up == owner)
            return depth;
    }
    return 0;
}

// The modal windows shown over `owner` that are its own, innermost first.
QList<QWidget*> modalWindowsOf(const QWidget* owner) {
    QList<std::pair<int, QWidget*>> found;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window == owner || !window->isVisible() || window->windowModality() == Qt::NonModal)
            continue;
        if (const int depth = depthBelow(owner, window))
            found.append({depth, window});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    QList<QWidget*> windows;
    for (const auto& entry : found)
        windows.append(entry.second);
    return windows;
}

// Whether `widget` can be deleted now. If modal dialogs of its own are
// shown, they are closed, and the deletion waits until the event loop is
// back at the level the outermost of them was shown at: the loops of their
// exec() calls, and those run inside them, have all returned by then.
bool canDeleteNow(QWidget* widget) {
    bool waits = false;
    int level = widget->property(deleteAtLevel).toInt(&waits);
    const QList<QWidget*> over = modalWindowsOf(widget);
    for (QWidget* window : over) {
        bool known = false;
        int shown = window->property(shownAtLevel).toInt(&known);
        if (!known)
            shown = loopLevel();
        level = waits ? std::min(level, shown) : shown;
        waits = true;
    }
    if (!waits)
        return true;
    widget->setProperty(deleteAtLevel, level);
    for (QWidget* window : over) {
        if (auto* dialog = qobject_cast<QDialog*>(window))
            dialog->reject();
        else
            window->close();
    }
    return loopLevel() <= level;
}

class Guard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Polish:
            if (changesWithWheel(object)) {
                auto* control = static_cast<QWidget*>(object);
                if ((control->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus)
                    control->setFocusPolicy(Qt::StrongFocus);
            }
            break;
        case QEvent::Wheel:
            if (changesWithWheel(object) && !hasFocusWithin(static_cast<QWidget*>(object))) {
                // Ignored, so that Qt hands it on to the control's parents.
                event->ignore();
                return true;
            }
            break;
        case QEvent::Show:
            if (object->isWidgetType() && static_cast<QWidget*>(object)->isWindow()) {
                object->setProperty(shownAtLevel, loopLevel());
                ScreenFit::shown(static_cast<QWidget*>(object));
            }
            break;
        case QEvent::DeferredDelete:
            if (object->isWidgetType() && static_cast<QWidget*>(object)->isWindow() &&
                !canDeleteNow(static_cast<QWidget*>(object))) {
                QTimer::singleShot(retryMs, object, [object] {
                    QCoreApplication::postEvent(object, new QDeferredDeleteEvent);
                });
                return true;
            }
            break;
        default:
            break;
        }
        return false;
    }
};

} // namespace

namespace AppGuards {

void install() {
    static QPointer<Guard> guard;
    if (guard || !qApp)
        return;
    guard = new Guard(qApp);
    qApp->installEventFilter(guard);
}

} // namespace AppGuards
