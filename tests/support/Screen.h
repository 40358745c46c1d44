#pragma once

// Finding what a user sees on screen and acting on it as the user would, for
// tests of views on the offscreen platform.
#include "tests/support/TestMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QtTest>

namespace TestSupport {

template <typename T>
T* find(QWidget* in, const QString& text) {
    for (T* widget : in->findChildren<T*>()) {
        QString label;
        if constexpr (std::is_base_of_v<QAbstractButton, T> || std::is_same_v<T, QLabel>)
            label = widget->text().remove(QLatin1Char('&'));
        if ((label == text || widget->accessibleName() == text) && widget->isVisible())
            return widget;
    }
    return nullptr;
}

// The widget showing `text` (or named so for a screen reader). Widgets that
// were just added come on screen at the next turn of the event loop (a
// loaded machine may take seconds to get there). For what must not show,
// see absent().
template <typename T>
T* shown(QWidget* in, const QString& text) {
    T* found = nullptr;
    if (QTest::qWaitFor([&] { return (found = find<T>(in, text)) != nullptr; },
                        QUILLET_TEST_WAIT_MS))
        return found;
    qWarning() << "nothing on screen named" << text;
    return nullptr;
}

inline QLabel* label(QWidget* in, const QString& text) { return shown<QLabel>(in, text); }
// Nothing showing `text` now (no waiting).
inline bool absent(QWidget* in, const QString& text) { return !find<QLabel>(in, text); }

inline QComboBox* picker(QWidget* in, const QString& name) {
    for (QComboBox* combo : in->findChildren<QComboBox*>())
        if (combo->accessibleName() == name && combo->isVisible()) return combo;
    return nullptr;
}

// Chooses the entry `steps` below the current one with the keyboard.
inline void choose(QComboBox* combo, int steps) {
    combo->setFocus();
    for (int i = 0; i < steps; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
}

inline void click(QAbstractButton* button) {
    QVERIFY2(button, "no such button on screen");
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

// The entry `text` of the context menu of the widget a screen reader names
// `name` (the menu is made of the widget's actions), once it is on screen.
inline QAction* menuEntry(QWidget* in, const QString& name, const QString& text) {
    QAction* found = nullptr;
    const auto look = [&] {
        for (QWidget* widget : in->findChildren<QWidget*>()) {
            if (widget->accessibleName() != name || !widget->isVisible() ||
                widget->contextMenuPolicy() != Qt::ActionsContextMenu)
                continue;
            for (QAction* action : widget->actions())
                if (action->text() == text) found = action;
        }
        return found != nullptr;
    };
    if (!QTest::qWaitFor(look, QUILLET_TEST_WAIT_MS))
        qWarning() << "no menu entry" << text << "on" << name;
    return found;
}

// The visible dialog (a sheet, an alert) titled `title`, once it is up. A
// short `timeoutMs` looks for a while for a dialog that must not come.
template <typename T = QDialog>
T* dialogTitled(const QString& title, int timeoutMs = QUILLET_TEST_WAIT_MS) {
    T* found = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<T*>(window))
                    if (dialog->isVisible() && dialog->windowTitle() == title) {
                        found = dialog;
                        return true;
                    }
            return false;
        },
        timeoutMs);
    return found;
}

// Presses the button `text` of a message box.
inline bool answer(QMessageBox* box, const QString& text) {
    if (!box) return false;
    for (QAbstractButton* button : box->buttons())
        if (button->text().remove(QLatin1Char('&')) == text) {
            button->click();
            return true;
        }
    return false;
}

} // namespace TestSupport
