#include "platform/look/ScreenReader.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace {

// What a widget is to a screen reader, kept on the widget so that it can
// change after the widget's accessible interface exists.
constexpr char kindProperty[] = "quillet.screenReader";
const QString hiddenKind = QStringLiteral("hidden");
const QString textKind = QStringLiteral("text");

QString kindOf(const QObject* object) { return object->property(kindProperty).toString(); }

class DescribedWidget : public QAccessibleWidget {
public:
    explicit DescribedWidget(QWidget* widget)
        : QAccessibleWidget(widget, kindOf(widget) == textKind ? QAccessible::StaticText
                                                               : QAccessible::Graphic) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        if (kindOf(widget()) == hiddenKind) {
            // Neither visible nor showing: readers pass over it.
            state.invisible = true;
            state.focusable = false;
        }
        return state;
    }

    QString text(QAccessible::Text kind) const override {
        if (kindOf(widget()) == hiddenKind)
            return {};
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* describe(const QString&, QObject* object) {
    if (!object || !object->isWidgetType() || kindOf(object).isEmpty())
        return nullptr;
    return new DescribedWidget(static_cast<QWidget*>(object));
}

void setKind(QWidget* widget, const QString& kind) {
    static const bool installed = [] {
        QAccessible::installFactory(describe);
        return true;
    }();
    Q_UNUSED(installed);
    const bool changed = kindOf(widget) != kind;
    widget->setProperty(kindProperty, kind);
    // An interface made before the widget was described (Qt makes one as
    // soon as a screen reader hears of the widget) is replaced.
    if (!QAccessible::isActive())
        return; // nothing asked yet: the first question finds the factory
    QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(widget);
    if (existing && !dynamic_cast<DescribedWidget*>(existing)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
        QAccessible::queryAccessibleInterface(widget);
    }
    if (changed) {
        QAccessible::State states;
        states.invisible = true;
        QAccessibleStateChangeEvent event(widget, states);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace

namespace ScreenReader {

void setHidden(QWidget* widget, bool hidden) {
    if (widget)
        setKind(widget, hidden ? hiddenKind : QStringLiteral("shown"));
}

void readAsText(QWidget* widget) {
    if (widget)
        setKind(widget, textKind);
}

QString spoken(const QString& text) {
    QString out = text;
    out.removeIf([](QChar c) { return c.unicode() >= 0x2066 && c.unicode() <= 0x2069; });
    return out;
}

} // namespace ScreenReader
