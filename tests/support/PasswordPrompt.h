#pragma once

// Drives the app lock's password dialog as a user would (tests run through
// tests/with-pam.sh, whose test stack takes the password below).
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace PasswordPrompt {

inline const QString rightPassword = QStringLiteral("correct horse");

inline QDialog* dialog() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<QDialog*>(window))
            if (found->isVisible() && found->windowTitle() == QLatin1String("Unlock Quillet"))
                return found;
    return nullptr;
}

inline QPushButton* button(QWidget* in, const QString& text) {
    for (QPushButton* candidate : in->findChildren<QPushButton*>())
        if (candidate->text().remove(QLatin1Char('&')) == text && candidate->isVisible())
            return candidate;
    return nullptr;
}

// PAM asks: the field takes a password and Unlock is enabled.
inline QLineEdit* asking() {
    QDialog* open = dialog();
    QPushButton* unlock = open ? button(open, QStringLiteral("Unlock")) : nullptr;
    QLineEdit* field = open ? open->findChild<QLineEdit*>() : nullptr;
    return unlock && unlock->isEnabled() && field && !field->isReadOnly() ? field : nullptr;
}

// Waits until PAM asks, then types `password` and presses Return. False when
// no question came or the field is not the password field it should be.
inline bool answer(const QString& password) {
    QLineEdit* field = nullptr;
    if (!QTest::qWaitFor([&] { return (field = asking()) != nullptr; }, 5000)) return false;
    if (field->accessibleName() != QLatin1String("Enter Password") ||
        field->placeholderText() != QLatin1String("Enter Password") ||
        field->echoMode() != QLineEdit::Password)
        return false;
    QTest::keyClicks(field, password);
    QTest::keyClick(field, Qt::Key_Return);
    return true;
}

// Waits for the dialog, presses Cancel and waits until it has gone.
inline bool cancel() {
    if (!QTest::qWaitFor([] { return dialog() != nullptr; }, 5000)) return false;
    QTest::mouseClick(button(dialog(), QStringLiteral("Cancel")), Qt::LeftButton);
    return QTest::qWaitFor([] { return dialog() == nullptr; }, 5000);
}

// Waits until the field takes a password again (after a refused one).
inline bool askedAgain() {
    return QTest::qWaitFor([] { return asking() != nullptr; }, 5000);
}

} // namespace PasswordPrompt
