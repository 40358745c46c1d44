// Runs on a private X server (tests/with-xvfb.sh): the keystrokes go through
// the real XTEST extension into a focused line edit of this process.
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/SyntheticKeys.h"
#include "platform/desktop/x11/X11Display.h"
#include "tests/support/Desktop.h"
#include "tests/support/TextReceiver.h"

#include <QApplication>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QtTest>

#include <X11/Xlib.h>

#include <optional>

using TestSupport::TextReceiverProcess;
using TestSupport::xdotool;

class SyntheticKeysX11Tests : public QObject {
    Q_OBJECT

    QWidget* window = nullptr;
    QLineEdit* edit = nullptr;

    // How many key codes the server's key map binds to a keysym above the
    // US layout's own (Latin-1 letters beyond ASCII, Unicode keysyms).
    static int borrowedKeyCodes() {
        Display* display = X11Display::get();
        int minCode = 0, maxCode = 0, perCode = 0;
        XDisplayKeycodes(display, &minCode, &maxCode);
        KeySym* syms = XGetKeyboardMapping(display, KeyCode(minCode), maxCode - minCode + 1,
                                           &perCode);
        int count = 0;
        for (int code = 0; code <= maxCode - minCode; ++code) {
            const KeySym sym = syms[code * perCode];
            if ((sym >= 0xe0 && sym <= 0xff) || (sym & 0xff000000) == 0x01000000) ++count;
        }
        XFree(syms);
        return count;
    }

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        // Xvfb offers XTEST, so on X11 keystrokes need no permission.
        QVERIFY(Accessibility::isTrusted());
        QVERIFY(Accessibility::isTrustedWithPrompt());
        window = new QWidget;
        edit = new QLineEdit(window);
        (new QVBoxLayout(window))->addWidget(edit);
        window->resize(320, 60);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    void init() {
        edit->clear();
        // Without a window manager Qt's own activation request carries its
        // last event time, which the server ignores once another program took
        // the focus later; xdotool sets it outright.
        xdotool({QStringLiteral("windowfocus"), QString::number(window->winId())});
        window->activateWindow();
        edit->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_VERIFY(edit->hasFocus());
    }

    void cleanup() {
        xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl"), QStringLiteral("alt"),
                 QStringLiteral("shift")});
        QTRY_COMPARE(QGuiApplication::queryKeyboardModifiers(), Qt::NoModifier);
    }

    void cleanupTestCase() { delete window; }

    void typesEachCharacter_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("a six-digit code") << QStringLiteral("123456");
        QTest::newRow("letters needing Shift") << QStringLiteral("aB9 !Zq_");
    }

    void typesEachCharacter() {
        QFETCH(QString, text);
        QVERIFY(SyntheticKeys::type(text));
        QTRY_COMPARE(edit->text(), text);
    }

    // Characters the US layout lacks travel on borrowed key codes. The
    // receiver reads the key map when it handles the event, so it has to be
    // another program, as in real use: this one is busy inside type(). The
    // codes are given back two seconds after the last use.
    void typesCharactersTheLayoutLacksIntoAnotherProgram_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("accented letters and a currency sign") << QStringLiteral("é€1ü");
        QTest::newRow("a character outside the BMP") << QStringLiteral("x\U0001F511y");
    }

    void typesCharactersTheLayoutLacksIntoAnotherProgram() {
        QFETCH(QString, text);
        TextReceiverProcess receiver;
        QVERIFY(receiver.waitForStarted());
        QTRY_COMPARE(receiver.lastLine(), QStringLiteral("ready"));
        QVERIFY(SyntheticKeys::type(text));
        QTRY_COMPARE(receiver.lastLine(), text);
        // Plain keys still work, and the borrowed key codes are given back.
        QVERIFY(SyntheticKeys::type(QStringLiteral("7")));
        QTRY_COMPARE(receiver.lastLine(), text + u'7');
        QVERIFY(borrowedKeyCodes() > 0);
        QTRY_COMPARE(borrowedKeyCodes(), 0);
        // A second text reuses what is still lent and borrows afresh after.
        QVERIFY(SyntheticKeys::type(text + text));
        QTRY_COMPARE(receiver.lastLine(), text + u'7' + text + text);
        QTRY_COMPARE(borrowedKeyCodes(), 0);
    }

    void typingIgnoresModifiersStillHeld() {
        // The user picked the code with a shortcut and has not let go yet.
        xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl"), QStringLiteral("alt")});
        QTRY_COMPARE(QGuiApplication::queryKeyboardModifiers(),
                     Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(SyntheticKeys::type(QStringLiteral("042917")));
        // Control+Alt+digits would type nothing.
        QTRY_COMPARE(edit->text(), QStringLiteral("042917"));
        QTRY_COMPARE(QGuiApplication::queryKeyboardModifiers(), Qt::NoModifier);
    }

    // Keys asked for while the user still holds the keys of the shortcut
    // that asked go out once those come up; modifiers held past the wait
    // are let go around the keys; any other key held past it (a hotkey's
    // own key keeps the keyboard grabbed) means nothing is typed.
    void typingWaitsForTheUserToLetGo() {
        using SyntheticKeys::Outcome;
        std::optional<Outcome> outcome;
        const auto done = [&](Outcome o) { outcome = o; };
        xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl"), QStringLiteral("alt")});
        SyntheticKeys::type(QStringLiteral("4031"), done);
        QTest::qWait(300);
        QVERIFY(!outcome);
        QCOMPARE(edit->text(), QString());
        xdotool({QStringLiteral("keyup"), QStringLiteral("alt"), QStringLiteral("ctrl")});
        QTRY_VERIFY(outcome);
        QCOMPARE(*outcome, Outcome::sent);
        QTRY_COMPARE(edit->text(), QStringLiteral("4031"));

        outcome.reset();
        xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl"), QStringLiteral("shift")});
        SyntheticKeys::type(QStringLiteral("27"), done);
        QTRY_VERIFY(outcome);
        QCOMPARE(*outcome, Outcome::sent);
        QTRY_COMPARE(edit->text(), QStringLiteral("403127"));

        outcome.reset();
        xdotool({QStringLiteral("keydown"), QStringLiteral("Pause")});
        SyntheticKeys::type(QStringLiteral("9"), done);
        QTRY_VERIFY(outcome);
        xdotool({QStringLiteral("keyup"), QStringLiteral("Pause")});
        QCOMPARE(*outcome, Outcome::keysHeld);
        QTest::qWait(100);
        QCOMPARE(edit->text(), QStringLiteral("403127"));
    }

    void typesTheRightCaseWithCapsLockOn() {
        xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")});
        QVERIFY(SyntheticKeys::type(QStringLiteral("aB3")));
        xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")});
        QTRY_COMPARE(edit->text(), QStringLiteral("aB3"));
    }
};

QUILLET_TEST_MAIN_WITH_RECEIVER(SyntheticKeysX11Tests)
#include "SyntheticKeysX11Tests.moc"
