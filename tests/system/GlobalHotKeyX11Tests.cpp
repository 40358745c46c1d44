// Global hotkeys against a real X server (run through tests/with-xvfb.sh);
// key presses come from xdotool, a competing grab from HotKeyGrabber.
#include "platform/desktop/GlobalHotKey.h"
#include "platform/desktop/SyntheticKeys.h"
#include "system/HotKey.h"
#include "system/HotKeyRecorder.h"
#include "tests/support/Desktop.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QtTest>

using TestSupport::HotKeyGrabber;
using TestSupport::xdotool;

namespace {

constexpr quint32 keyJ = 38, keyK = 40, keyL = 37, keyQ = 12, key1 = 18;
constexpr quint32 commandOption = 0x900; // Control+Alt here

// A layout set anew while the program runs, as `setxkbmap` sets it.
void setLayout(const QString& layouts) {
    QProcess process;
    process.start(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), layouts});
    QVERIFY(process.waitForFinished(QUILLET_TEST_WAIT_MS));
    QCOMPARE(process.exitCode(), 0);
}

// Another group of the layout set in use, as a layout switcher picks it.
void lockGroup(int group) {
    QProcess process;
    process.start(QStringLiteral(QUILLET_HOTKEY_GRABBER),
                  {QStringLiteral("--group"), QString::number(group)});
    QVERIFY(process.waitForFinished(QUILLET_TEST_WAIT_MS));
    QCOMPARE(process.exitCode(), 0);
}

// Control+Alt and a key, pressed as a person presses them: the modifiers
// first, the key held a moment, the modifiers let go after it. The key by its
// X name as the layout in use has it ("k"), or by its X key code ("45").
void pressAsAPerson(const QString& key) {
    xdotool({"keydown", "ctrl+alt"});
    xdotool({"keydown", key});
    QTest::qWait(80);
    xdotool({"keyup", key});
    QTest::qWait(40);
    xdotool({"keyup", "ctrl+alt"});
}

} // namespace

class GlobalHotKeyX11Tests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (run through tests/with-xvfb.sh)");
    }

    void onePressOneSignalAndHeldKeysDoNotRepeat() {
        QSignalSpy pressed(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::pressed);
        QCOMPARE(GlobalHotKey::registerHotKey(keyJ, commandOption, 7), int(GlobalHotKey::ok));

        xdotool({"key", "ctrl+alt+j"});
        QTRY_COMPARE(pressed.size(), 1);
        QCOMPARE(pressed.takeFirst().first().toUInt(), 7u);

        // Held well past the auto-repeat delay: still one press.
        xdotool({"keydown", "ctrl+alt+j"});
        QTest::qWait(900);
        xdotool({"keyup", "ctrl+alt+j"});
        QTRY_COMPARE(pressed.size(), 1);
        QTest::qWait(200);
        QCOMPARE(pressed.size(), 1);
        pressed.clear();

        // Other modifiers are another combination; unregistered, nothing.
        xdotool({"key", "ctrl+shift+alt+j"});
        GlobalHotKey::unregisterHotKey(7);
        xdotool({"key", "ctrl+alt+j"});
        QTest::qWait(300);
        QCOMPARE(pressed.size(), 0);
    }

    void lockKeysDoNotHideTheCombination() {
        QSignalSpy pressed(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::pressed);
        QCOMPARE(GlobalHotKey::registerHotKey(keyL, commandOption, 8), int(GlobalHotKey::ok));
        // Num Lock on, then both, then Caps Lock alone.
        for (const char* lock : {"Num_Lock", "Caps_Lock", "Num_Lock"}) {
            xdotool({"key", lock});
            xdotool({"key", "ctrl+alt+l"});
        }
        QTRY_COMPARE(pressed.size(), 3);
        xdotool({"key", "Caps_Lock"});
        GlobalHotKey::unregisterHotKey(8);
    }

    void aCombinationHeldByAnotherClientFails() {
        HotKeyGrabber other("k");
        QCOMPARE(other.answer, QByteArray("ready"));

        QCOMPARE(GlobalHotKey::registerHotKey(keyK, commandOption, 9),
                 int(GlobalHotKey::alreadyGrabbed));
        HotKey hotKey(keyK, commandOption, [] {});
        QVERIFY(!hotKey.registerHotKey());

        // The variants with the lock keys were not the other client's; the
        // failed attempts must not keep them either.
        HotKeyGrabber withNumLock("k", "numlock");
        QCOMPARE(withNumLock.answer, QByteArray("ready"));
        withNumLock.stop();
        other.stop();
        QVERIFY(hotKey.registerHotKey());

        // Now ours: another client is refused.
        HotKeyGrabber late("k", "numlock");
        QCOMPARE(late.answer, QByteArray("taken"));
    }

    void actionsRunLaterAndNotAfterUnregistering() {
        int runs = 0;
        HotKey hotKey(keyJ, commandOption, [&] { ++runs; });
        QVERIFY(hotKey.registerHotKey());
        QVERIFY(hotKey.registerHotKey()); // re-registering keeps one grab
        xdotool({"key", "ctrl+alt+j"});
        QTRY_COMPARE(runs, 1);

        // The press is delivered, but unregistering before the queued
        // dispatch runs means nothing happens.
        QSignalSpy pressed(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::pressed);
        // Connected for this test only: the hotkey ends with it.
        QObject receiver;
        QObject::connect(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::pressed, &receiver,
                         [&] { hotKey.unregisterHotKey(); });
        xdotool({"key", "ctrl+alt+j"});
        QTRY_COMPARE(pressed.size(), 1);
        QTest::qWait(100);
        QCOMPARE(runs, 1);
    }

    // The combinations go where the letters go when the layout changes
    // while the program runs; the key that bore the letter before fires
    // nothing any more.
    void combinationsFollowTheLayoutInUse() {
        QSignalSpy pressed(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::pressed);
        setLayout(QStringLiteral("us"));
        QCOMPARE(GlobalHotKey::registerHotKey(keyK, commandOption, 21), int(GlobalHotKey::ok));
        QCOMPARE(GlobalHotKey::registerHotKey(keyQ, commandOption, 22), int(GlobalHotKey::ok));
        QCOMPARE(GlobalHotKey::registerHotKey(key1, commandOption, 23), int(GlobalHotKey::ok));
        pressAsAPerson(QStringLiteral("k"));
        QTRY_COMPARE(pressed.size(), 1);

        // The new layout reaches the program a moment after it is set: the
        // key is pressed again until it fires. Then the other key, and the
        // first once more: its press comes after the other's, so the other
        // one has been seen by then.
        const auto firesOn = [&](const QString& key, quint32 id, const QString& other) {
            pressed.clear();
            for (int tries = 0; tries < 40 && pressed.isEmpty(); ++tries) {
                pressAsAPerson(key);
                QTest::qWait(200);
            }
            QVERIFY2(!pressed.isEmpty(), qPrintable(key + QLatin1String(" fired nothing")));
            QCOMPARE(pressed.last().first().toUInt(), id);
            pressed.clear();
            pressAsAPerson(other);
            pressAsAPerson(key);
            QTRY_VERIFY(!pressed.isEmpty());
            QTest::qWait(100);
            QCOMPARE(pressed.size(), 1);
            QCOMPARE(pressed.first().first().toUInt(), id);
        };
        // K is the key of V on the US keyboard in Dvorak, whose T is on US K.
        setLayout(QStringLiteral("dvorak"));
        firesOn(QStringLiteral("k"), 21, QStringLiteral("t"));
        if (QTest::currentTestFailed()) return;
        setLayout(QStringLiteral("us"));
        firesOn(QStringLiteral("k"), 21, QStringLiteral("v"));
        if (QTest::currentTestFailed()) return;
        // AZERTY: Q where US has A; 1 is shifted, on the same key as US 1.
        setLayout(QStringLiteral("fr"));
        firesOn(QStringLiteral("q"), 22, QStringLiteral("a"));
        if (QTest::currentTestFailed()) return;
        firesOn(QStringLiteral("10"), 23, QStringLiteral("a"));
        if (QTest::currentTestFailed()) return;

        // A switch of group within a set moves the letters too (keys by
        // their X key codes: US K is 45, US V 55, Dvorak's K).
        setLayout(QStringLiteral("us,dvorak"));
        firesOn(QStringLiteral("45"), 21, QStringLiteral("55"));
        if (QTest::currentTestFailed()) return;
        lockGroup(1);
        firesOn(QStringLiteral("55"), 21, QStringLiteral("45"));
        if (QTest::currentTestFailed()) return;
        // A Russian group in use bears no Latin letters: the combination is
        // on the key that bears K in the set's Latin layout.
        setLayout(QStringLiteral("us,ru"));
        lockGroup(1);
        firesOn(QStringLiteral("45"), 21, QStringLiteral("55"));
        if (QTest::currentTestFailed()) return;
        // Typing K there (a Steam code's letter) lends it a spare key code
        // for a while; that key bears K in every group, yet the combination
        // stays on the key the Latin layout gives it. The wait lets the key
        // map's change reach the program; the spare stays lent for seconds.
        QVERIFY(SyntheticKeys::type(QStringLiteral("K")));
        QTest::qWait(300);
        pressed.clear();
        pressAsAPerson(QStringLiteral("45"));
        QTRY_COMPARE(pressed.size(), 1);
        // Also where the Russian group comes first in the set.
        setLayout(QStringLiteral("ru,dvorak"));
        lockGroup(0);
        firesOn(QStringLiteral("55"), 21, QStringLiteral("45"));
        if (QTest::currentTestFailed()) return;

        for (quint32 id : {21u, 22u, 23u})
            GlobalHotKey::unregisterHotKey(id);
        setLayout(QStringLiteral("us"));
    }

    // The recorder names the key as the layout in use labels it, also after
    // a change of layout while the program runs.
    void theRecorderTakesTheLetterTheLayoutShows() {
        HotKeyRecorder recorder;
        recorder.show();
        QVERIFY(QTest::qWaitForWindowExposed(&recorder));
        QSignalSpy committed(&recorder, &HotKeyRecorder::committed);
        const auto record = [&](const QString& key) {
            recorder.toggleRecord();
            QVERIFY(recorder.isRecording());
            // The keyboard is the recorder's once its grab is in place.
            QTRY_VERIFY_WITH_TIMEOUT(QWidget::keyboardGrabber() == &recorder, 30000);
            committed.clear();
            pressAsAPerson(key);
            QTRY_COMPARE_WITH_TIMEOUT(committed.size(), 1, 30000);
        };
        setLayout(QStringLiteral("us"));
        record(QStringLiteral("55"));
        if (QTest::currentTestFailed()) return;
        QCOMPARE(committed.first().first().toUInt(), 9u); // V
        setLayout(QStringLiteral("dvorak"));
        record(QStringLiteral("55"));
        if (QTest::currentTestFailed()) return;
        QCOMPARE(committed.first().first().toUInt(), keyK);
        QCOMPARE(committed.first().at(1).toUInt(), commandOption);

        // The group in use within a set; with the Russian one, the key's
        // Latin letter.
        setLayout(QStringLiteral("us,dvorak"));
        lockGroup(1);
        record(QStringLiteral("55"));
        if (QTest::currentTestFailed()) return;
        QCOMPARE(committed.first().first().toUInt(), keyK);
        setLayout(QStringLiteral("us,ru"));
        lockGroup(1);
        record(QStringLiteral("45"));
        if (QTest::currentTestFailed()) return;
        QCOMPARE(committed.first().first().toUInt(), keyK);
        setLayout(QStringLiteral("us"));
    }
};

QUILLET_TEST_MAIN(GlobalHotKeyX11Tests)
#include "GlobalHotKeyX11Tests.moc"
