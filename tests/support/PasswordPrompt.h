#pragma once

// Drives the owner's password dialog as a user would (tests run through
// tests/with-pam.sh, whose test stack takes the password below). The dialog
// is found by its title: the app lock's unlock question unless another is
// named (turning the lock on asks under enableTitle).
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace PasswordPrompt {

inline const QString rightPassword = QStringLiteral("correct horse");
inline const QString lockTitle = QStringLiteral("Unlock Quillet");
inline const QString enableTitle = QStringLiteral("Turn on the app lock");

inline QDialog* dialog(const QString& title = lockTitle) {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<QDialog*>(window))
            if (found->isVisible() && found->windowTitle() == title)
                return found;
    return nullptr;
}

inline QPushButton* button(QWidget* in, const QString& text) {
    for (QPushButton* candidate : in->findChildren<QPushButton*>())
        if (candidate->text().remove(QLatin1Char('&')) == text && candidate->isVisible())
            return candidate;
    return nullptr;
}

// The accepting button ("Unlock", or what the question is for).
inline QPushButton* acceptButton(QWidget* in) {
    for (QPushButton* candidate : in->findChildren<QPushButton*>())
        if (candidate->isDefault() && candidate->isVisible()) return candidate;
    return nullptr;
}

// PAM asks: the field takes a password and the accepting button is enabled.
inline QLineEdit* asking(const QString& title = lockTitle) {
    QDialog* open = dialog(title);
    QPushButton* accept = open ? acceptButton(open) : nullptr;
    QLineEdit* field = open ? open->findChild<QLineEdit*>() : nullptr;
    return accept && accept->isEnabled() && field && !field->isReadOnly() ? field : nullptr;
}

// Waits until PAM asks, then types `password` and presses Return. False when
// no question came or the field is not the password field it should be.
inline bool answer(const QString& password, const QString& title = lockTitle) {
    QLineEdit* field = nullptr;
    if (!QTest::qWaitFor([&] { return (field = asking(title)) != nullptr; }, QUILLET_TEST_WAIT_MS))
        return false;
    if (field->accessibleName() != QLatin1String("Enter Password") ||
        field->placeholderText() != QLatin1String("Enter Password") ||
        field->echoMode() != QLineEdit::Password)
        return false;
    QTest::keyClicks(field, password);
    QTest::keyClick(field, Qt::Key_Return);
    return true;
}

// Waits for the dialog, presses Cancel and waits until it has gone.
inline bool cancel(const QString& title = lockTitle) {
    if (!QTest::qWaitFor([&] { return dialog(title) != nullptr; }, QUILLET_TEST_WAIT_MS))
        return false;
    QTest::mouseClick(button(dialog(title), QStringLiteral("Cancel")), Qt::LeftButton);
    return QTest::qWaitFor([&] { return dialog(title) == nullptr; }, QUILLET_TEST_WAIT_MS);
}

// Waits until the field takes a password again (after a refused one).
inline bool askedAgain(const QString& title = lockTitle) {
    return QTest::qWaitFor([&] { return asking(title) != nullptr; }, QUILLET_TEST_WAIT_MS);
}

} // namespace PasswordPrompt
