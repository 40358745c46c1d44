// The hotkey recorder by what the user sees and presses (offscreen; the X11
// side, with real key presses and grabs, is in the desktop test).
#include "platform/desktop/GlobalHotKey.h"
#include "system/HotKeyRecorder.h"
#include "tests/support/TestMain.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <memory>
#include <QtTest>

class HotKeyRecorderTests : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> window;
    HotKeyRecorder* recorder = nullptr;
    QLineEdit* elsewhere = nullptr;

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(recorder, key, modifiers);
    }

private slots:
    void init() {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        recorder = new HotKeyRecorder;
        elsewhere = new QLineEdit;
        layout->addWidget(recorder);
        layout->addWidget(elsewhere);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    void titlesFollowTheState() {
        QCOMPARE(recorder->text(), QStringLiteral("Click to set"));
        QVERIFY(QFontInfo(recorder->font()).fixedPitch());
        QCOMPARE(recorder->font().weight(), QFont::Medium);
        recorder->setCombination(0, 0xB00); // no key: whatever the mask says
        QCOMPARE(recorder->text(), QStringLiteral("Click to set"));
        recorder->setCombination(35, 0xB00);
        QCOMPARE(recorder->text(), QStringLiteral("Ctrl+Alt+Shift+P"));
        QTest::mouseClick(recorder, Qt::LeftButton);
        QVERIFY(recorder->isRecording());
        QCOMPARE(recorder->text(), QStringLiteral("Press a key combo…"));
        // A change made elsewhere waits until the recording has ended.
        recorder->setCombination(40, 0x900);
        QCOMPARE(recorder->text(), QStringLiteral("Press a key combo…"));
        QTest::mouseClick(recorder, Qt::LeftButton); // a second click stops
        QVERIFY(!recorder->isRecording());
        QCOMPARE(recorder->text(), QStringLiteral("Ctrl+Alt+Shift+P"));
        recorder->setCombination(40, 0x900);
        QCOMPARE(recorder->text(), QStringLiteral("Ctrl+Alt+K"));
    }

    void keysWithoutAModifierAndEscapeRecordNothing() {
        QSignalSpy committed(recorder, &HotKeyRecorder::committed);
        recorder->setCombination(35, 0xB00);
        QTest::mouseClick(recorder, Qt::LeftButton);
        QVERIFY(GlobalHotKey::isSuspended()); // the program's own hotkeys stand aside
        press(Qt::Key_P);
        press(Qt::Key_Control, Qt::ControlModifier); // a modifier on its own: still choosing
        QVERIFY(recorder->isRecording());
        QCOMPARE(recorder->text(), QStringLiteral("Press a key combo…"));
        press(Qt::Key_Escape);
        QVERIFY(!recorder->isRecording() && !GlobalHotKey::isSuspended());
        QCOMPARE(recorder->text(), QStringLiteral("Ctrl+Alt+Shift+P"));
        // Escape cancels whatever is held with it.
        QTest::mouseClick(recorder, Qt::LeftButton);
        press(Qt::Key_Escape, Qt::ControlModifier);
        QVERIFY(!recorder->isRecording());
        // The A key carries the code that stored bindings use for "no key":
        // refused like a key without a modifier.
        QTest::mouseClick(recorder, Qt::LeftButton);
        press(Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(recorder->isRecording());
        press(Qt::Key_Escape);
        QCOMPARE(committed.size(), 0);
        QCOMPARE(recorder->keyCode(), 35u);
    }

    void anyKeyWithAModifierIsTaken() {
        QSignalSpy committed(recorder, &HotKeyRecorder::committed);
        const QList<std::tuple<Qt::Key, Qt::KeyboardModifiers, quint32, quint32, QString>> cases{
            {Qt::Key_F5, Qt::ShiftModifier, 96, 0x200, "Shift+F5"},
            {Qt::Key_Backspace, Qt::AltModifier, 51, 0x800, "Alt+Backspace"},
            {Qt::Key_Return, Qt::MetaModifier, 36, 0x1000, "Super+Return"},
            {Qt::Key_Left, Qt::ControlModifier | Qt::MetaModifier, 123, 0x1100, "Super+Ctrl+Left"},
            // Tab with a modifier is a combination, not a move of the focus.
            {Qt::Key_Tab, Qt::ControlModifier, 48, 0x100, "Ctrl+Tab"},
        };
        for (const auto& [key, modifiers, code, mask, title] : cases) {
            QTest::mouseClick(recorder, Qt::LeftButton);
            press(key, modifiers);
            QVERIFY2(!recorder->isRecording(), qPrintable(title));
            QCOMPARE(committed.last(), (QVariantList{code, mask}));
            QCOMPARE(recorder->text(), title);
            QVERIFY(recorder->hasFocus());
        }
        QCOMPARE(committed.size(), cases.size());
        QVERIFY(!GlobalHotKey::isSuspended());
    }

    void aCombinationTakenHereIsRefusedWithASentence() {
        QSignalSpy committed(recorder, &HotKeyRecorder::committed);
        recorder->setCheck([](quint32 keyCode, quint32 modifiers) {
            return keyCode == 35 && modifiers == 0x900 ? QStringLiteral("Taken by GitHub.")
                                                       : QString();
        });
        QTest::mouseClick(recorder, Qt::LeftButton);
        // On X11 the recorder's keyboard grab takes every key: nothing to say.
        QCOMPARE(GlobalHotKey::suspendedKeys(), GlobalHotKey::SuspendedKeys::asking);
        QTRY_COMPARE(GlobalHotKey::suspendedKeys(), GlobalHotKey::SuspendedKeys::reach);
        QCOMPARE(recorder->notice(), QString());
        press(Qt::Key_P, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(recorder->isRecording());
        QCOMPARE(recorder->notice(), QStringLiteral("Taken by GitHub."));
        QCOMPARE(recorder->text(), QStringLiteral("Press a key combo…"));
        press(Qt::Key_O, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!recorder->isRecording());
        QCOMPARE(recorder->notice(), QString());
        QCOMPARE(committed.size(), 1);
        QCOMPARE(committed.last(), (QVariantList{31u, 0x900u}));
        // Going away while listening ends the suspension with it.
        QTest::mouseClick(recorder, Qt::LeftButton);
        QVERIFY(GlobalHotKey::isSuspended());
        delete recorder;
        recorder = nullptr;
        QVERIFY(!GlobalHotKey::isSuspended());
    }

    void losingTheFocusStopsRecording() {
        QTest::mouseClick(recorder, Qt::LeftButton);
        QVERIFY(recorder->isRecording());
        elsewhere->setFocus();
        QVERIFY(!recorder->isRecording() && !GlobalHotKey::isSuspended());
        QCOMPARE(recorder->text(), QStringLiteral("Click to set"));
        // Shortcuts and focus keys of the window go to the recording first.
        QTest::mouseClick(recorder, Qt::LeftButton);
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(!recorder->isRecording());
        QCOMPARE(recorder->text(), QStringLiteral("Shift+Tab"));
    }
};

QUILLET_TEST_MAIN(HotKeyRecorderTests)
#include "HotKeyRecorderTests.moc"
