// A Wayland session's desktop layers against a stand-in portal on a private
// bus (tests/platform/desktop/portal/portal_stand_in.py, run inside tests/with-session.sh with
// its gnome-keyring): what a real desktop does only when its user says no, or
// does not do at all. The hotkey controller, the Hotkeys tab, quick search and
// the screen scan are the program's own.
#include "core/AccountStore.h"
#include "core/CorrectedClock.h"
#include "intake/QRImport.h"
#include "menubar/HotKeysTab.h"
#include "platform/desktop/DesktopBackends.h"
#include "platform/desktop/GlobalHotKey.h"
#include "platform/desktop/ScreenCapture.h"
#include "platform/desktop/StatusItem.h"
#include "platform/desktop/SyntheticKeys.h"
#include "platform/keychain/KeychainSecretService.h"
#include "platform/qr/QrImage.h"
#include "system/AppSettings.h"
#include "system/CopyHUD.h"
#include "system/HotKeyController.h"
#include "system/HotKeyRecorder.h"
#include "system/QuickLauncher.h"
#include "tests/support/TestMain.h"
#include "tests/support/Vault.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {

constexpr quint32 keyJ = 38, keyL = 37;
constexpr quint32 commandOption = 0x900;
const QString shortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString remote = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString screenshot = QStringLiteral("org.freedesktop.portal.Screenshot");

// Shortcuts go to the desktop under their combination.
const QString idJ = QStringLiteral("CTRL+ALT+j"), idL = QStringLiteral("CTRL+ALT+l"),
              idK = QStringLiteral("CTRL+ALT+k");

bool showsText(const QWidget& widget, const QString& part) {
    for (const QLabel* label : widget.findChildren<QLabel*>())
        if (!label->isHidden() && label->text().contains(part)) return true;
    return false;
}

} // namespace

class PortalTests : public QObject, private TestSupport::VaultFixture {
    Q_OBJECT

    QProcess standIn;
    // Run on a real sway desktop (tests/with-sway.sh) with its own portals,
    // for the one case that needs them; the stand-in's cases skip there.
    bool onSway = false;
    static constexpr const char* swayCase =
        "onSwayTheHotkeysSessionFailsAndTheTabSaysTheDesktopHasNone";
    // The stand-in's control interface, called with plain messages (Qt's
    // QDBusInterface keeps what it introspected beyond the process's end).
    QDBusMessage callControl(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/control"),
            QStringLiteral("com.tarnwick.PortalStandIn"), method);
        call.setArguments(arguments);
        return QDBusConnection::sessionBus().call(call);
    }
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<HotKeyController> controller;
    Account totp;

    void configure(const QVariantMap& values) {
        const QDBusMessage reply = callControl(QStringLiteral("Configure"), {values});
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

    // What the program asked the portal, in order; `method` picks one kind.
    QList<QJsonObject> calls(const QString& method = {}) {
        const QDBusMessage reply = callControl(QStringLiteral("Calls"));
        const QString json = reply.arguments().value(0).toString();
        QList<QJsonObject> found;
        for (const QJsonValue& call : QJsonDocument::fromJson(json.toUtf8()).array())
            if (method.isEmpty() || call[QStringLiteral("method")].toString() == method)
                found << call.toObject();
        return found;
    }

    HotKeyBinding bind(quint32 keyCode, bool autoPaste = false) {
        HotKeyBinding binding;
        binding.accountID = totp.id;
        binding.keyCode = keyCode;
        binding.modifiers = commandOption;
        binding.autoPaste = autoPaste;
        return binding;
    }

    // A controller over these bindings, once the desktop has answered them.
    void startController(const QList<HotKeyBinding>& bindings) {
        settings->setBindings(bindings);
        QSignalSpy answered(&GlobalHotKey::dispatcher(),
                            &GlobalHotKey::Dispatcher::desktopAnswered);
        controller = std::make_unique<HotKeyController>(*store, *settings, *defaults);
        // The list may go to the desktop in more than one pass (quick search
        // first, the bindings a turn later).
        const auto answeredAll = [&] {
            if (answered.isEmpty()) return false;
            for (const HotKeyBinding& binding : bindings)
                if (controller->bindingState(binding.id).kind ==
                    GlobalHotKey::DesktopState::Kind::waiting)
                    return false;
            return true;
        };
        QTRY_VERIFY(answeredAll());
    }

    QString code() const { return totp.code(CorrectedClock::now()); }

    // Without hotkeys, the quick-search help names the search there is: the
    // tray panel's only while a status-notifier watcher runs.
    void verifySearchPointsToWhereItIs(const HotKeysTab& tab) {
        const QString mainWindow = QStringLiteral("the search field of Quillet's main window");
        const QString trayPanel = QStringLiteral("the search field of the tray panel");
        QVERIFY(!StatusItem::watcherRunning());
        QVERIFY(showsText(tab, mainWindow));
        QVERIFY(!showsText(tab, trayPanel));
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.registerService(StatusItem::watcherService));
        QTRY_VERIFY(showsText(tab, trayPanel));
        QVERIFY(!showsText(tab, mainWindow));
        QVERIFY(bus.unregisterService(StatusItem::watcherService));
        QTRY_VERIFY(showsText(tab, mainWindow));
    }

    // `before`: the code when the action began; a 30-second step may end in
    // between. The clipboard is empty when each test begins, so a code a
    // test before left there is never taken for this one. A wrong code is
    // not printed.
    void verifyCopied(const QString& before) {
        QTRY_VERIFY(QGuiApplication::clipboard()->text().size() == 6);
        const QString copied = QGuiApplication::clipboard()->text();
        QVERIFY2(copied == before || copied == code(), "the clipboard holds another code");
    }

private slots:
    void initTestCase() {
        onSway = !qEnvironmentVariableIsEmpty("QUILLET_TEST_SWAY");
        if (onSway) {
            DesktopBackends::install(DesktopBackends::Road::portals);
            return;
        }
        if (qEnvironmentVariableIsEmpty("QUILLET_TEST_SESSION"))
            QSKIP("needs a private session bus (run through tests/with-session.sh)");
        DesktopBackends::install(DesktopBackends::Road::portals);
        standIn.setProcessChannelMode(QProcess::ForwardedChannels);
        standIn.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(QUILLET_SOURCE_DIR
                                      "/tests/platform/desktop/portal/portal_stand_in.py")});
        QVERIFY(standIn.waitForStarted());
        QDBusConnectionInterface* names = QDBusConnection::sessionBus().interface();
        QTRY_VERIFY(
            names->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop")).value());
    }

    void cleanupTestCase() {
        if (onSway) return;
        standIn.terminate();
        standIn.waitForFinished(5000);
    }

    void init() {
        const bool swayCaseNow = qstrcmp(QTest::currentTestFunction(), swayCase) == 0;
        if (onSway && !swayCaseNow) QSKIP("needs the stand-in portal");
        if (!onSway && swayCaseNow) QSKIP("needs a sway desktop (run through tests/with-sway.sh)");
        // A session the last test left opening finishes first, as it began.
        QTRY_VERIFY(SyntheticKeys::remote() != SyntheticKeys::Remote::starting);
        openVault();
        openStore();
        totp = Account{};
        totp.issuer = "RFC";
        totp.name = "totp";
        totp.secret = "12345678901234567890";
        QCOMPARE(store->importAccounts({totp}), 1);
        settings = std::make_unique<AppSettings>(*defaults);
        // The stand-in's first answers again, and no call heard yet.
        if (!onSway) callControl(QStringLiteral("Forget"));
        QTRY_VERIFY(!CopyHUD::shared().isShowing());
        QGuiApplication::clipboard()->clear();
    }

    void cleanup() {
        controller.reset();
        // The program's one session closes with its last hotkey.
        if (!onSway)
            QTRY_COMPARE(callControl(QStringLiteral("Shortcuts")).arguments().value(0).toUInt(),
                         0u);
        settings.reset();
        store.reset();
        log.reset();
        Keychain::setBackend(memory);
    }

    // GNOME before 48 and wlroots desktops: the tab says once, in place of
    // the auto-paste notice, that no hotkey can work and what to do instead.
    void withoutGlobalShortcutsTheTabSaysSoOnce() {
        configure({{"interfaces", QStringList{remote, screenshot}}});
        startController({bind(keyJ)});
        QVERIFY(GlobalHotKey::lacksShortcuts());
        QVERIFY(controller->registeredBindings().isEmpty());
        QVERIFY(!controller->launcherRegistered());

        HotKeysTab tab(*store, *settings, true);
        QVERIFY(tab.showsNoShortcutsNotice());
        QVERIFY(showsText(tab, QStringLiteral("This desktop offers no global hotkeys to programs")));
        QVERIFY(showsText(tab, QStringLiteral("com.tarnwick.Quillet.Codes.GetCode")));
        QVERIFY(!showsText(tab, QStringLiteral("Auto-paste needs")));
        QCOMPARE(tab.rows().size(), 1);
        QCOMPARE(tab.rows().first()->desktopStateText(), QString());
        QCOMPARE(tab.activeSummary(), QStringLiteral("0 active of 1"));
        // Quick search's line promises no combination but points to a
        // search that is there: the main window's without a tray, the tray
        // panel's while a watcher runs (heard as it comes and goes); its
        // switch still keeps what the user chose.
        QVERIFY(!showsText(tab, QStringLiteral("anywhere to open")));
        verifySearchPointsToWhereItIs(tab);
        QCheckBox* quick = nullptr;
        for (QCheckBox* box : tab.findChildren<QCheckBox*>())
            if (box->text().startsWith(QStringLiteral("Quick search panel"))) quick = box;
        QVERIFY(quick);
        const bool wasOn = settings->quickLauncherEnabled();
        quick->click();
        QCOMPARE(settings->quickLauncherEnabled(), !wasOn);
    }

    // sway with the portals as installed: the portal names GlobalShortcuts,
    // but KDE's backend, which it falls back to, serves them only inside
    // Plasma and the session is never created. That is a desktop without
    // hotkeys, said as for one whose portal lacks them: once, above the
    // list, with no row or quick-search line of its own.
    void onSwayTheHotkeysSessionFailsAndTheTabSaysTheDesktopHasNone() {
        startController({bind(keyJ)});
        QVERIFY(GlobalHotKey::lacksShortcuts());
        QVERIFY(controller->registeredBindings().isEmpty());
        QVERIFY(!controller->launcherRegistered());
        QCOMPARE(controller->failedBindings().size(), 1);

        HotKeysTab tab(*store, *settings, true);
        QVERIFY(tab.showsNoShortcutsNotice());
        QVERIFY(showsText(tab, QStringLiteral("This desktop offers no global hotkeys to programs")));
        QVERIFY(!showsText(tab, QStringLiteral("could not set up")));
        QCOMPARE(tab.rows().first()->desktopStateText(), QString());
        QCOMPARE(tab.quickSearchStateText(), QString());
        QCOMPARE(tab.activeSummary(), QStringLiteral("0 active of 1"));
        QVERIFY(!showsText(tab, QStringLiteral("anywhere to open")));
        QVERIFY(showsText(tab, QStringLiteral("does not open quick search here")));
        // sway with no bar runs no watcher.
        verifySearchPointsToWhereItIs(tab);
    }

    // One session, under the program's own token, holds every binding and
    // quick search, each under its combination with the account's label; the
    // desktop may choose other keys or none, and the tab shows its answer. A
    // press the desktop reports copies the code as an X11 press does.
    void theDesktopChoosesTheKeysAndItsPressCopiesTheCode() {
        const HotKeyBinding chosen = bind(keyJ), turnedDown = bind(keyL);
        configure({{"triggers", QVariantMap{{idJ, QStringLiteral("Ctrl+Shift+F9")},
                                            {idK, QStringLiteral("Ctrl+Alt+K")}}}});
        startController({chosen, turnedDown});

        const QList<QJsonObject> created = calls(QStringLiteral("CreateSession"));
        QCOMPARE(created.size(), 1);
        QCOMPARE(created.first()[QStringLiteral("token")].toString(),
                 QStringLiteral("com_tarnwick_Quillet"));
        // The session's answer named no shortcut: this desktop takes them in
        // BindShortcuts (later Plasma, GNOME 48); KDE 5.27 reads them at
        // CreateSession. The same list both ways.
        const QList<QJsonObject> bound = calls(QStringLiteral("BindShortcuts"));
        QCOMPARE(bound.size(), 1);
        const QJsonArray list = bound.first()[QStringLiteral("shortcuts")].toArray();
        QCOMPARE(created.first()[QStringLiteral("options")][QStringLiteral("shortcuts")].toArray(),
                 list);
        QCOMPARE(list.size(), 3);
        QHash<QString, QJsonArray> byID;
        for (const QJsonValue& shortcut : list)
            byID.insert(shortcut[0].toString(), shortcut.toArray());
        for (const QString& id : {idJ, idL, idK})
            QCOMPARE(byID[id][1][QStringLiteral("preferred_trigger")].toString(), id);
        QCOMPARE(byID[idJ][1][QStringLiteral("description")].toString(),
                 QStringLiteral("RFC: totp"));
        QCOMPARE(byID[idK][1][QStringLiteral("description")].toString(),
                 QStringLiteral("Quick search"));
        // What the desktop holds once the binding is over.
        QVERIFY(!calls(QStringLiteral("ListShortcuts")).isEmpty());

        QCOMPARE(controller->registeredBindings(), QList<QUuid>{chosen.id});
        QCOMPARE(controller->failedBindings(), QStringList{QStringLiteral("RFC: totp")});
        QVERIFY(controller->launcherRegistered());
        HotKeysTab tab(*store, *settings, true);
        QVERIFY(!tab.showsNoShortcutsNotice());
        QCOMPARE(tab.rows().at(0)->desktopStateText(),
                 QStringLiteral("The desktop runs it with Ctrl+Shift+F9"));
        QCOMPARE(tab.rows().at(1)->desktopStateText(),
                 QStringLiteral("Not active: The desktop did not accept this combination"));
        QCOMPARE(tab.quickSearchStateText(), QStringLiteral("The desktop runs it with Ctrl+Alt+K"));
        QCOMPARE(tab.activeSummary(), QStringLiteral("1 active of 2"));

        const QString beforePress = code();
        callControl(QStringLiteral("Activate"), {idJ});
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QCOMPARE(CopyHUD::shared().subtitle(), QStringLiteral("RFC: totp"));
        verifyCopied(beforePress);
        QTRY_COMPARE(store->usage().value(totp.id).count, 1);

        // A change of the list goes to the open session, after the
        // controller's quiet spell.
        QSignalSpy answered(&GlobalHotKey::dispatcher(),
                            &GlobalHotKey::Dispatcher::desktopAnswered);
        settings->setBindings({chosen});
        QVERIFY(answered.wait(QUILLET_TEST_WAIT_MS));
        QCOMPARE(calls(QStringLiteral("Close")).size(), 0);
        QCOMPARE(calls(QStringLiteral("CreateSession")).size(), 1);
        QCOMPARE(calls(QStringLiteral("BindShortcuts")).size(), 2);
        QCOMPARE(calls(QStringLiteral("BindShortcuts"))
                     .last()[QStringLiteral("shortcuts")]
                     .toArray()
                     .size(),
                 2);
        QTRY_COMPARE(tab.rows().size(), 1);
        QCOMPARE(tab.activeSummary(), QStringLiteral("1 active of 1"));

        // The desktop's settings follow the account's label, also when the
        // accounts are read (or renamed) after the hotkeys went out.
        Account renamed = totp;
        renamed.name = QStringLiteral("renamed");
        QVERIFY(store->update(renamed));
        QTRY_COMPARE(calls(QStringLiteral("BindShortcuts")).size(), 3);
        QString description;
        for (const QJsonValue& shortcut :
             calls(QStringLiteral("BindShortcuts")).last()[QStringLiteral("shortcuts")].toArray())
            if (shortcut[0].toString() == idJ)
                description = shortcut[1][QStringLiteral("description")].toString();
        QCOMPARE(description, QStringLiteral("RFC: renamed"));

        // The user takes the keys away in the desktop's settings: the desktop
        // holds none for the binding or quick search, and the tab says so.
        callControl(QStringLiteral("Change"), {QVariantMap{{idJ, QString()}, {idK, QString()}}});
        const QString noKeys = QStringLiteral(
            "Not active: The desktop gave it no keys; choose them in its shortcut settings");
        QTRY_COMPARE(tab.rows().at(0)->desktopStateText(), noKeys);
        QCOMPARE(tab.quickSearchStateText(), noKeys);
        QCOMPARE(tab.activeSummary(), QStringLiteral("0 active of 1"));
        QVERIFY(controller->registeredBindings().isEmpty());
    }

    // KDE Plasma 5.27 reads the list only when a session is created, keeps
    // each shortcut's keys under its id for good, and names their owner
    // after the session's token: every change is a new session under the
    // same token, after the old one closed, and a binding that moves to other
    // keys is a shortcut of its own. BindShortcuts is never called (that
    // desktop would open its shortcut settings).
    void aDesktopThatReadsTheListWithTheSessionGetsEachChangeAsANewSession() {
        configure({{"create_binds", true}});
        HotKeyBinding binding = bind(keyJ);
        settings->setQuickLauncherEnabled(false);
        startController({binding});
        QCOMPARE(calls(QStringLiteral("CreateSession")).size(), 1);
        HotKeysTab tab(*store, *settings, true);
        QCOMPARE(tab.rows().first()->desktopStateText(),
                 QStringLiteral("The desktop runs it with CTRL+ALT+j"));

        binding.keyCode = keyL;
        settings->setBindings({binding});
        QTRY_COMPARE(calls(QStringLiteral("CreateSession")).size(), 2);
        QTRY_COMPARE(tab.rows().first()->desktopStateText(),
                     QStringLiteral("The desktop runs it with CTRL+ALT+l"));
        for (const bool on : {true, false, true}) {
            const qsizetype before = calls(QStringLiteral("CreateSession")).size();
            settings->setQuickLauncherEnabled(on);
            QTRY_COMPARE(calls(QStringLiteral("CreateSession")).size(), before + 1);
            QTRY_COMPARE(tab.quickSearchStateText(),
                         on ? QStringLiteral("The desktop runs it with CTRL+ALT+k") : QString());
        }

        QCOMPARE(calls(QStringLiteral("BindShortcuts")).size(), 0);
        QStringList order, tokens, lists;
        for (const QJsonObject& call : calls())
            if (call[QStringLiteral("method")] == QStringLiteral("Close") ||
                call[QStringLiteral("interface")] == shortcuts) {
                order << call[QStringLiteral("method")].toString();
                if (call[QStringLiteral("method")] != QStringLiteral("CreateSession")) continue;
                tokens << call[QStringLiteral("token")].toString();
                QStringList ids;
                for (const QJsonValue& shortcut :
                     call[QStringLiteral("options")][QStringLiteral("shortcuts")].toArray())
                    ids << shortcut[0].toString();
                lists << ids.join(QLatin1Char(' '));
            }
        QCOMPARE(order, (QStringList{"CreateSession", "Close", "CreateSession", "Close",
                                     "CreateSession", "Close", "CreateSession", "Close",
                                     "CreateSession"}));
        QCOMPARE(tokens, QStringList(5, QStringLiteral("com_tarnwick_Quillet")));
        const QString both = idK + " " + idL;
        QCOMPARE(lists, (QStringList{idJ, idL, both, idL, both}));

        const QString beforePress = code();
        callControl(QStringLiteral("Activate"), {idL});
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        verifyCopied(beforePress);

        // A combination the desktop refuses is missing from the session's
        // answer; the desktop still took the list with the session, so it
        // gets no BindShortcuts, and the tab says which were refused.
        configure({{"triggers", QVariantMap{{idL, QStringLiteral("CTRL+ALT+l")}}}});
        const qsizetype sessions = calls(QStringLiteral("CreateSession")).size();
        settings->setBindings({binding, bind(keyJ)});
        QTRY_COMPARE(calls(QStringLiteral("CreateSession")).size(), sessions + 1);
        const QString refused =
            QStringLiteral("Not active: The desktop did not accept this combination");
        QTRY_COMPARE(tab.rows().size(), 2);
        QTRY_COMPARE(tab.rows().at(1)->desktopStateText(), refused);
        QCOMPARE(tab.quickSearchStateText(), refused);
        QCOMPARE(tab.rows().at(0)->desktopStateText(),
                 QStringLiteral("The desktop runs it with CTRL+ALT+l"));
        QCOMPARE(calls(QStringLiteral("BindShortcuts")).size(), 0);
    }

    // KDE's portal answers with the keys asked for even where KDE gave none;
    // where KDE's shortcut daemon runs but cannot show what it holds, the
    // keys are not taken for certain.
    void keysTheDesktopsOwnRecordCannotConfirmAreNotCountedActive() {
        configure({{"kglobalaccel", true}});
        startController({bind(keyJ)});
        HotKeysTab tab(*store, *settings, true);
        QCOMPARE(tab.rows().first()->desktopStateText(),
                 QStringLiteral("Not confirmed: the desktop answered CTRL+ALT+j. Its own list of "
                                "shortcuts could not be read to check the keys."));
        QCOMPARE(tab.activeSummary(), QStringLiteral("0 active of 1"));
        QVERIFY(controller->failedBindings().isEmpty());
    }

    void aRefusedBindingLeavesEveryHotkeyInactiveWithTheReason() {
        configure({{"bind_response", 1u}});
        startController({bind(keyJ)});
        QVERIFY(controller->registeredBindings().isEmpty());
        QVERIFY(!controller->launcherRegistered());
        HotKeysTab tab(*store, *settings, true);
        QCOMPARE(tab.rows().first()->desktopStateText(),
                 QStringLiteral("Not active: The desktop refused the hotkeys"));
        QCOMPARE(tab.activeSummary(), QStringLiteral("0 active of 1"));
    }

    // Without the user's consent nothing is typed or pasted: the code is
    // copied and the HUD says why, in the session's own words.
    void aRefusedRemoteControlCopiesTheCodeAndSaysSo() {
        configure({{"remote_response", 1u}});
        startController({bind(keyJ, true)});
        QSignalSpy delivered(&QuickLauncher::shared(), &QuickLauncher::delivered);
        const QString beforePick = code();
        QuickLauncher::shared().pick(totp);
        QVERIFY(delivered.wait(QUILLET_TEST_WAIT_MS));
        QCOMPARE(delivered.first().first().toBool(), false);
        QCOMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QCOMPARE(CopyHUD::shared().subtitle(),
                 QStringLiteral("Typing codes needs remote control permission"));
        verifyCopied(beforePick);
        QCOMPARE(SyntheticKeys::remote(), SyntheticKeys::Remote::unavailable);
        QVERIFY(calls(QStringLiteral("NotifyKeyboardKeysym")).isEmpty());

        QGuiApplication::clipboard()->clear();
        const QString beforePress = code();
        callControl(QStringLiteral("Activate"), {idJ});
        QTRY_COMPARE(CopyHUD::shared().title(),
                     QStringLiteral("Copied (needs remote control permission)"));
        verifyCopied(beforePress);
        HotKeysTab tab(*store, *settings, false);
        QVERIFY(tab.needsAccessibilityWarning());
        QVERIFY(showsText(tab, QStringLiteral("Auto-paste needs remote control permission")));
        QVERIFY(!showsText(tab, QStringLiteral("XTEST")));
    }

    // The portal's restore token grants typing into any window: it goes to
    // the keyring, never to a file.
    void theRestoreTokenIsKeptInTheKeyring() {
        auto keyring = std::make_shared<Keychain::SecretServiceBackend>();
        QCOMPARE(keyring->open(), Keychain::success);
        Keychain::setBackend(keyring);
        configure({{"remote_version", 2u}, {"restore_token", QStringLiteral("grant-one")}});
        QuickLauncher::shared().setStore(store.get(), defaults.get());

        QSignalSpy delivered(&QuickLauncher::shared(), &QuickLauncher::delivered);
        SyntheticKeys::startRemote();
        QTRY_COMPARE(SyntheticKeys::remote(), SyntheticKeys::Remote::ready);
        // Nothing goes out through the portal before a call returns: the
        // synchronous call sends nothing and says so.
        QVERIFY(!SyntheticKeys::type(QStringLiteral("7")));
        QuickLauncher::shared().pick(totp);
        QVERIFY(delivered.wait(QUILLET_TEST_WAIT_MS));
        QCOMPARE(delivered.first().first().toBool(), true);
        QCOMPARE(CopyHUD::shared().title(), QStringLiteral("Code typed"));
        // Each digit pressed and released, as keysyms, after the modifiers
        // a hand may still hold were let go.
        QList<QJsonObject> keys = calls(QStringLiteral("NotifyKeyboardKeysym"));
        while (!keys.isEmpty() && keys.first()[QStringLiteral("state")].toInt() == 0)
            keys.removeFirst();
        QCOMPARE(keys.size(), 12);
        QString typed;
        for (qsizetype i = 0; i < keys.size(); i += 2) {
            QCOMPARE(keys[i][QStringLiteral("state")].toInt(), 1);
            QCOMPARE(keys[i + 1][QStringLiteral("state")].toInt(), 0);
            typed += QChar(keys[i][QStringLiteral("keysym")].toInt());
        }
        QVERIFY2(typed.size() == 6 && typed.toInt() >= 0, qPrintable(typed));

        QCOMPARE(calls(QStringLiteral("SelectDevices")).size(), 1);
        const QJsonObject selected = calls(QStringLiteral("SelectDevices")).last();
        QCOMPARE(selected[QStringLiteral("options")][QStringLiteral("types")].toInt(), 1);
        QCOMPARE(selected[QStringLiteral("options")][QStringLiteral("persist_mode")].toInt(), 2);
        QVERIFY(!selected[QStringLiteral("options")].toObject().contains("restore_token"));

        Keychain::Query query;
        query.service = SyntheticKeys::restoreTokenService;
        query.account = SyntheticKeys::restoreTokenAccount;
        query.returnData = true;
        Keychain::Results results;
        QCOMPARE(Keychain::SecretServiceBackend().copyMatching(query, &results),
                 Keychain::success);
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().data, QByteArray("grant-one"));
        // Nowhere in a plain file: not in the settings, not in the session's
        // home or data folders (the keyring's own file is encrypted).
        for (const QString& root : {folder->path(), qEnvironmentVariable("QUILLET_TEST_SESSION")}) {
            QDirIterator files(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                QFile file(files.next());
                if (file.open(QIODevice::ReadOnly))
                    QVERIFY2(!file.readAll().contains("grant-one"), qPrintable(file.fileName()));
            }
        }
    }

    // Auto-paste types the code through the desktop's remote control, as
    // quick search does (a paste key would reach a terminal as a control
    // character), and says "pasted" once the desktop took the keys. Typing
    // waits for the hotkey's keys to be let go, and lets go of the modifiers
    // a hand may still hold first; keys held past the wait type nothing, and
    // the confirmation says why.
    void anAutoPastePressTypesTheCodeOnceTheKeysAreLetGo() {
        startController({bind(keyJ, true)});
        SyntheticKeys::startRemote();
        QTRY_COMPARE(SyntheticKeys::remote(), SyntheticKeys::Remote::ready);
        const auto keyCalls = [this] { return calls(QStringLiteral("NotifyKeyboardKeysym")); };
        // What was typed after the first `from` keys, once the modifiers
        // were let go; empty before.
        const auto typed = [&](qsizetype from = 0) {
            const QList<QJsonObject> keys = keyCalls().mid(from);
            qsizetype first = 0;
            while (first < keys.size() && keys[first][QStringLiteral("state")].toInt() == 0)
                ++first;
            if (first == 0) return QString();
            QString text;
            for (qsizetype i = first; i + 1 < keys.size(); i += 2) {
                if (keys[i][QStringLiteral("state")].toInt() != 1 ||
                    keys[i + 1][QStringLiteral("state")].toInt() != 0)
                    return QStringLiteral("<not pressed and let go in turn>");
                text += QChar(keys[i][QStringLiteral("keysym")].toInt());
            }
            return text;
        };
        const auto released = [this] {
            QSet<int> keysyms;
            for (const QJsonObject& key : calls(QStringLiteral("NotifyKeyboardKeysym")))
                if (key[QStringLiteral("state")].toInt() == 0)
                    keysyms.insert(key[QStringLiteral("keysym")].toInt());
            return keysyms;
        };
        const int controlL = 0xffe3, altL = 0xffe9, shiftL = 0xffe1;

        const QString beforePress = code();
        callControl(QStringLiteral("Activate"), {idJ});
        callControl(QStringLiteral("Deactivate"), {idJ});
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code pasted"));
        QCOMPARE(CopyHUD::shared().subtitle(), QStringLiteral("RFC: totp"));
        verifyCopied(beforePress);
        QVERIFY2(typed() == QGuiApplication::clipboard()->text(), "typed another text than the code");
        QVERIFY(released().contains(QSet<int>{controlL, altL, shiftL}));

        // Held: nothing goes out until the keys are let go (a bounded look
        // for what must not happen, well within the wait).
        qsizetype before = keyCalls().size();
        CopyHUD::shared().show(QStringLiteral("-"), {}, 1);
        QGuiApplication::clipboard()->clear();
        callControl(QStringLiteral("Activate"), {idJ});
        QTRY_VERIFY(!QGuiApplication::clipboard()->text().isEmpty());
        QTest::qWait(300);
        QCOMPARE(keyCalls().size(), before);
        callControl(QStringLiteral("Deactivate"), {idJ});
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code pasted"));
        QVERIFY2(typed(before) == QGuiApplication::clipboard()->text(),
                 "typed another text than the code");

        // Held past the wait: copied, and why.
        before = keyCalls().size();
        CopyHUD::shared().show(QStringLiteral("-"), {}, 1);
        callControl(QStringLiteral("Activate"), {idJ});
        QTRY_COMPARE(CopyHUD::shared().title(), QStringLiteral("Code copied"));
        QCOMPARE(CopyHUD::shared().subtitle(), HotKeyController::keysHeldHint());
        QCOMPARE(keyCalls().size(), before);
        callControl(QStringLiteral("Deactivate"), {idJ});
    }

    // No program sees another's window on Wayland: the code is typed only
    // once no Quillet window has the keyboard, and copied when one keeps it.
    void quickSearchCopiesWhileAQuilletWindowKeepsTheKeyboard() {
        startController({});
        SyntheticKeys::startRemote();
        QTRY_COMPARE(SyntheticKeys::remote(), SyntheticKeys::Remote::ready);
        QWidget window;
        window.show();
        window.activateWindow();
        QTRY_VERIFY(QGuiApplication::focusWindow() != nullptr);
        QSignalSpy delivered(&QuickLauncher::shared(), &QuickLauncher::delivered);
        const QString beforePick = code();
        QuickLauncher::shared().pick(totp);
        QTRY_VERIFY(!delivered.isEmpty());
        QCOMPARE(delivered.first().first().toBool(), false);
        QCOMPARE(CopyHUD::shared().subtitle(), QuickLauncher::keptKeyboardHint());
        verifyCopied(beforePick);
        QVERIFY(calls(QStringLiteral("NotifyKeyboardKeysym")).isEmpty());
    }

    // The screen's picture comes from the desktop; its file holds the QR
    // code's secret and is gone as soon as it was read.
    void aScreenshotIsReadAndItsFileDeleted() {
        const QString uri =
            QStringLiteral("otpauth://totp/Portal:scan?secret=GEZDGNBVGY3TQOJQ&issuer=Portal");
        QImage screen(900, 700, QImage::Format_RGB32);
        screen.fill(Qt::white);
        QPainter(&screen).drawImage(200, 150, QrImage::make(uri.toUtf8(), 6));
        const QString file = folder->filePath(QStringLiteral("Screenshot_1.png"));
        QVERIFY(screen.save(file));
        configure({{"screenshot_file", file}});

        QObject context;
        std::optional<QRImport::ScanResult> result;
        QRImport::scanScreen(&context, [&](const QRImport::ScanResult& r) { result = r; });
        QTRY_VERIFY(result.has_value());
        QVERIFY(!QFile::exists(file));
        QCOMPARE(result->accounts.size(), 1);
        QCOMPARE(result->accounts.first().issuer, QStringLiteral("Portal"));
        const QJsonObject asked = calls(QStringLiteral("Screenshot")).last();
        QCOMPARE(asked[QStringLiteral("options")][QStringLiteral("interactive")].toBool(true),
                 false);

        // A sheet closed while the desktop works still leaves no file.
        QVERIFY(screen.save(file));
        {
            QObject gone;
            QRImport::scanScreen(&gone, [&](const QRImport::ScanResult& r) { result = r; });
        }
        result.reset();
        QTRY_VERIFY(!QFile::exists(file));
        QVERIFY(!result.has_value());

        // A refusal is the scan's own failure.
        configure({{"screenshot_response", 1u}});
        result.reset();
        QRImport::scanScreen(&context, [&](const QRImport::ScanResult& r) { result = r; });
        QTRY_VERIFY(result.has_value());
        QVERIFY(result->accounts.isEmpty());
        QCOMPARE(QRImport::errorMessage(result->error),
                 QRImport::QRImportError(QRImport::QRImportError::screenCaptureFailed).message());
    }

    // While the recorder listens the desktop's shortcuts step aside where
    // KDE's shortcut daemon runs, and come back however the recording ends:
    // a second click, the recorder gone, the program quitting. Where nothing
    // can set them aside, the row says that some keys cannot reach it.
    void theDesktopsShortcutsStepAsideWhileRecording() {
        startController({bind(keyJ)});
        auto tab = std::make_unique<HotKeysTab>(*store, *settings, true);
        tab->show();
        QVERIFY(QTest::qWaitForWindowExposed(tab.get()));
        BindingRow* row = tab->rows().first();
        row->recorder()->click();
        QTRY_VERIFY(row->recorderNotice().startsWith(QStringLiteral("This desktop keeps")));
        QVERIFY(showsText(*tab, row->recorderNotice()));
        row->recorder()->click();
        QCOMPARE(row->recorderNotice(), QString());

        configure({{"kglobalaccel", true}});
        const auto blocks = [this] {
            QList<bool> seen;
            for (const QJsonObject& call : calls(QStringLiteral("blockGlobalShortcuts")))
                seen << call[QStringLiteral("block")].toBool();
            return seen;
        };
        row->recorder()->click();
        QTRY_COMPARE(blocks(), (QList<bool>{true}));
        QTRY_COMPARE(GlobalHotKey::suspendedKeys(), GlobalHotKey::SuspendedKeys::reach);
        QCOMPARE(row->recorderNotice(), QString());
        row->recorder()->click();
        QTRY_COMPARE(blocks(), (QList<bool>{true, false}));
        row->recorder()->click();
        tab.reset();
        QTRY_COMPARE(blocks(), (QList<bool>{true, false, true, false}));
        // Quitting (last, as the program's own quitting comes last): the
        // desktop has its shortcuts back before the program goes on to end,
        // while the recorder is still listening.
        tab = std::make_unique<HotKeysTab>(*store, *settings, true);
        tab->show();
        QVERIFY(QTest::qWaitForWindowExposed(tab.get()));
        tab->rows().first()->recorder()->click();
        QTRY_COMPARE(blocks().size(), 5);
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
        QCOMPARE(blocks(), (QList<bool>{true, false, true, false, true, false}));
        tab.reset();
        QCOMPARE(blocks().size(), 6);
    }
};

QUILLET_TEST_MAIN(PortalTests)
#include "PortalTests.moc"
