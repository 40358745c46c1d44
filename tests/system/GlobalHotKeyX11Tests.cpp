// Global hotkeys against a real X server (run through tests/with-xvfb.sh);
// key presses come from xdotool, a competing grab from HotKeyGrabber.
#include "platform/desktop/GlobalHotKey.h"
#include "system/HotKey.h"
#include "tests/support/Desktop.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QtTest>

using TestSupport::HotKeyGrabber;
using TestSupport::xdotool;

namespace {

constexpr quint32 keyJ = 38, keyK = 40, keyL = 37;
constexpr quint32 commandOption = 0x900; // Control+Alt here

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
        QObject::connect(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::pressed, &receiver,
                         [&] { hotKey.unregisterHotKey(); });
        xdotool({"key", "ctrl+alt+j"});
        QTRY_COMPARE(pressed.size(), 1);
        QTest::qWait(100);
        QCOMPARE(runs, 1);
    }

private:
    QObject receiver;
};

QUILLET_TEST_MAIN(GlobalHotKeyX11Tests)
#include "GlobalHotKeyX11Tests.moc"
