#include "core/Settings.h"
#include "platform/desktop/GlobalHotKey.h"
#include "platform/files/UserDefaults.h"
#include "system/AppSettings.h"
#include "system/HotKey.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// JSON written with single quotes, to keep the test data readable.
static QByteArray json(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

class HotKeyTests : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    int files = 0;
    QString freshFile() { return folder.filePath(QStringLiteral("d%1.conf").arg(++files)); }

private slots:
    void combinationsReadAsTheDesktopWritesThem() {
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        QCOMPARE(HotKey::comboString(0, 0), QStringLiteral("—"));
        QCOMPARE(HotKey::comboString(0, 0x100), QStringLiteral("Ctrl+A")); // code 0 is a real key
        // Command is Ctrl, Option Alt, Control the Super key (Qt's Meta).
        QCOMPARE(HotKey::comboString(35, 0xB00), QStringLiteral("Ctrl+Alt+Shift+P"));
        QCOMPARE(HotKey::comboString(40, 0x1B00), QStringLiteral("Super+Ctrl+Alt+Shift+K"));
        QCOMPARE(HotKey::comboString(40, 0x900), QStringLiteral("Ctrl+Alt+K"));
        QCOMPARE(HotKey::comboString(49, 0x900), QStringLiteral("Ctrl+Alt+Space"));
        QCOMPARE(HotKey::comboString(105, 0x100), QStringLiteral("Ctrl+Key 105"));
        QCOMPARE(HotKey::comboString(105, 0x1000), QStringLiteral("Super+Key 105"));
        QCOMPARE(HotKey::comboString(123, 0), QStringLiteral("Left"));
        // Bits outside the four modifiers add nothing.
        QCOMPARE(HotKey::comboString(0, 0x10000 | 0x200), QStringLiteral("Shift+A"));
        // KDE calls the Super key Meta, in its shortcut settings and in what
        // the Hotkeys tab reads from its shortcut daemon.
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        QCOMPARE(HotKey::comboString(2, 0x1000), QStringLiteral("Meta+D"));
        QCOMPARE(HotKey::comboString(40, 0x1B00), QStringLiteral("Meta+Ctrl+Alt+Shift+K"));
        QCOMPARE(HotKey::comboString(105, 0x1000), QStringLiteral("Meta+Key 105"));
        QVERIFY(HotKey::refusal(2, 0).contains(QStringLiteral("Shift or Meta")));
        qunsetenv("XDG_CURRENT_DESKTOP");
        QCOMPARE(HotKey::comboString(2, 0x1000), QStringLiteral("Super+D"));
    }

    void keyNamesCoverTheTableAndFallBackToTheCode() {
        const QList<std::pair<quint32, QString>> named{
            {22, "6"},     {23, "5"},     {36, "Return"}, {48, "Tab"},  {51, "Backspace"},
            {53, "Esc"},   {122, "F1"},   {120, "F2"},    {111, "F12"}, {123, "Left"},
            {126, "Up"},   {24, "="},     {41, ";"},      {50, "`"}};
        for (const auto& [code, name] : named)
            QCOMPARE(HotKey::keyName(code), name);
        // Keypad, Home/End, F13 and beyond are not in the table.
        for (quint32 code : {10u, 65u, 115u, 105u, 4000000000u})
            QCOMPARE(HotKey::keyName(code), QStringLiteral("Key %1").arg(code));
        // And every named key is found again from its Qt key.
        for (quint32 code = 0; code < 128; ++code) {
            const QString name = HotKey::keyName(code);
            if (name.startsWith(QLatin1String("Key "))) continue;
            const QKeySequence key(name, QKeySequence::NativeText);
            QVERIFY2(HotKey::keyCodeForQtKey(key[0].key()) == std::optional<quint32>(code),
                     qPrintable(name));
        }
        QCOMPARE(HotKey::keyCodeForQtKey(Qt::Key_Exclam), std::nullopt);
    }

    void qtModifiersMapToTheStoredMask() {
        // Control is this desktop's Command key, Super its Control key.
        QCOMPARE(HotKey::carbonModifiers(Qt::ControlModifier), 0x100u);
        QCOMPARE(HotKey::carbonModifiers(Qt::MetaModifier), 0x1000u);
        QCOMPARE(HotKey::carbonModifiers(Qt::AltModifier | Qt::ShiftModifier), 0xA00u);
        QCOMPARE(HotKey::carbonModifiers(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier |
                                         Qt::MetaModifier),
                 0x1B00u);
        QCOMPARE(HotKey::carbonModifiers(Qt::KeypadModifier | Qt::GroupSwitchModifier), 0u);
    }

    void everyNamedKeyCanBeGrabbed() {
        // A key the user can record by name must also have an X key to grab.
        for (quint32 code = 0; code < 128; ++code)
            if (!HotKey::keyName(code).startsWith(QLatin1String("Key ")))
                QVERIFY2(GlobalHotKey::keysymForKeyCode(code) != 0,
                         qPrintable(QString::number(code)));
        QCOMPARE(GlobalHotKey::keysymForKeyCode(105), 0u); // F13: none
    }

    void withoutAnXServerRegistrationFailsQuietly() {
        bool ran = false;
        HotKey first(40, 0x900, [&] { ran = true; });
        HotKey second(40, 0x900, [&] { ran = true; });
        QVERIFY(second.id() > first.id());
        QVERIFY(!first.registerHotKey());
        QVERIFY(!first.isRegistered());
        HotKey::dispatch(first.id()); // no registry entry: nothing runs
        QVERIFY(!ran);
        GlobalHotKey::unregisterHotKey(first.id());
    }

    void bindingJsonRoundTripsAndFillsDefaults() {
        HotKeyBinding full;
        full.accountID = QUuid::createUuid();
        full.keyCode = 4294967295u;
        full.modifiers = 0x1B00;
        full.enabled = false;
        full.autoPaste = true;
        const QList<HotKeyBinding> decoded =
            HotKeyBinding::decodeList(HotKeyBinding::encodeList({full, HotKeyBinding{}}));
        QCOMPARE(decoded.size(), 2);
        QVERIFY(decoded[0] == full);
        QVERIFY(!HotKeyBinding{}.toJson().contains("accountID")); // written only with a value
        QCOMPARE(full.toJson().value("id").toString(),
                 full.id.toString(QUuid::WithoutBraces).toUpper());

        // Missing and null keys take the defaults; each read gives a new id.
        const QByteArray empty = json("[{}, {'id':null,'keyCode':null,'enabled':null}]");
        const QList<HotKeyBinding> first = HotKeyBinding::decodeList(empty);
        const QList<HotKeyBinding> again = HotKeyBinding::decodeList(empty);
        QCOMPARE(first.size(), 2);
        for (HotKeyBinding b : first) {
            QVERIFY(!b.id.isNull());
            b.id = {};
            QVERIFY((b == HotKeyBinding{{}, std::nullopt, 0, 0, true, false}));
        }
        QVERIFY(first[0].id != again[0].id);
    }

    void oneMalformedBindingCostsOnlyItself() {
        const QString good = QUuid::createUuid().toString(QUuid::WithoutBraces);
        // Wrong types, out of range, not a UUID, not an object.
        const QList<QByteArray> malformed =
            json("{'keyCode':'40'} {'keyCode':-1} {'modifiers':4294967296} {'keyCode':1.5} "
                 "{'enabled':1} {'autoPaste':'yes'} {'id':'not-a-uuid'} {'accountID':7} 42 null")
                .split(' ');
        for (const QByteArray& bad : malformed) {
            const QByteArray list =
                "[" + bad + json(", {'id':'") + good.toLatin1() + json("','keyCode':40}]");
            const QList<HotKeyBinding> decoded = HotKeyBinding::decodeList(list);
            QVERIFY2(decoded.size() == 1, bad.constData());
            QCOMPARE(decoded[0].id, QUuid(good));
            QCOMPARE(decoded[0].keyCode, 40u);
        }
        QVERIFY(HotKeyBinding::decodeList("{}").isEmpty());
        QVERIFY(HotKeyBinding::decodeList("[1,").isEmpty());

        // And the next write keeps the good binding.
        UserDefaults defaults(freshFile());
        defaults.setValue(
            Settings::hotkeyBindings.key,
            QByteArray(json("[{'keyCode':'K'},{'id':'") + good.toLatin1() + json("'}]")));
        AppSettings settings(defaults);
        QCOMPARE(settings.bindings().size(), 1);
        settings.addBinding();
        AppSettings reread(defaults);
        QCOMPARE(reread.bindings().size(), 2);
        QCOMPARE(reread.bindings()[0].id, QUuid(good));
    }

    void freshInstallDefaults() {
        UserDefaults defaults(freshFile());
        AppSettings s(defaults);
        QVERIFY(s.bindings().isEmpty() && !s.menuBarAccountID() &&
                s.menuBarHiddenAccountIDs().isEmpty());
        QVERIFY(s.showCodeInMenuBar() && s.revealCodesInMenu() && s.quickLauncherEnabled());
        QVERIFY(!s.menuBarOnly());
        QVERIFY(!defaults.contains(Settings::hotkeyBindings.key)); // reading writes nothing
    }

    void storedValuesAreReadLeniently() {
        UserDefaults defaults(freshFile());
        defaults.setValue(Settings::showCodeInMenuBar.key, false);
        defaults.setValue(Settings::revealCodesInMenu.key, QStringLiteral("nonsense"));
        defaults.setValue(Settings::quickLauncherEnabled.key, 0);
        defaults.setValue(Settings::menuBarOnly.key, QStringLiteral("YES"));
        defaults.setValue(Settings::menuBarAccountID.key, QStringLiteral("not a uuid"));
        defaults.setValue(Settings::hotkeyBindings.key, QStringLiteral("text, not data"));
        const QUuid kept = QUuid::createUuid();
        defaults.setValue(Settings::menuBarHiddenAccountIDs.key,
                          QStringList{"junk", kept.toString(QUuid::WithoutBraces).toLower(),
                                      kept.toString(QUuid::WithoutBraces)});
        AppSettings s(defaults);
        QVERIFY(!s.showCodeInMenuBar() && !s.revealCodesInMenu() && !s.quickLauncherEnabled());
        QVERIFY(s.menuBarOnly() && !s.menuBarAccountID() && s.bindings().isEmpty());
        QCOMPARE(s.menuBarHiddenAccountIDs(), QSet<QUuid>{kept});

        defaults.remove(Settings::showCodeInMenuBar.key);
        QVERIFY(AppSettings(defaults).showCodeInMenuBar());
    }

    void everyAssignmentWritesAndSignals() {
        UserDefaults defaults(freshFile());
        AppSettings settings(defaults);
        QSignalSpy writes(&defaults, &UserDefaults::changed);
        QSignalSpy shown(&settings, &AppSettings::showCodeInMenuBarChanged);
        QSignalSpy account(&settings, &AppSettings::menuBarAccountIDChanged);
        QSignalSpy hidden(&settings, &AppSettings::menuBarHiddenAccountIDsChanged);
        QSignalSpy bindings(&settings, &AppSettings::bindingsChanged);

        settings.setShowCodeInMenuBar(true); // unchanged, still written
        QCOMPARE(shown.size(), 1);
        settings.setMenuBarOnly(true);
        settings.setRevealCodesInMenu(false);
        settings.setQuickLauncherEnabled(false);

        const QUuid a = QUuid::createUuid();
        settings.setMenuBarAccountID(a);
        QCOMPARE(defaults.string(Settings::menuBarAccountID.key),
                 std::optional<QString>(a.toString(QUuid::WithoutBraces).toUpper()));
        settings.setMenuBarAccountID(std::nullopt);
        QVERIFY(!defaults.contains(Settings::menuBarAccountID.key));
        QCOMPARE(account.size(), 2);

        const QUuid b = QUuid::createUuid();
        settings.toggleHidden(a, true); // not hidden: no change but written
        settings.toggleHidden(a, false);
        settings.toggleHidden(b, false);
        settings.toggleHidden(b, false);
        settings.toggleHidden(a, true);
        QCOMPARE(hidden.size(), 5);

        settings.addBinding();
        settings.addBinding();
        const QList<HotKeyBinding> before = settings.bindings();
        QCOMPARE(before.size(), 2);
        QVERIFY(before[0].id != before[1].id);
        for (HotKeyBinding binding : before) {
            binding.id = {};
            QVERIFY((binding == HotKeyBinding{{}, std::nullopt, 0, 0xB00, true, false}));
        }
        settings.removeBinding(QUuid::createUuid());
        QVERIFY(settings.bindings() == before);
        settings.removeBinding(before[0].id);
        QCOMPARE(bindings.size(), 4);
        QCOMPARE(writes.size(), 15);

        // A new reader sees every value that was written.
        AppSettings reread(defaults);
        QVERIFY(reread.menuBarOnly() && !reread.revealCodesInMenu() &&
                !reread.quickLauncherEnabled());
        QCOMPARE(reread.menuBarHiddenAccountIDs(), QSet<QUuid>{b});
        QVERIFY(reread.bindings() == QList<HotKeyBinding>{before[1]});
    }
};

QUILLET_TEST_MAIN(HotKeyTests)
#include "HotKeyTests.moc"
