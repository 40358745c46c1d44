// The app lock against a real PAM stack and real D-Bus signals: run through
// tests/with-pam.sh (pam_wrapper with pam_matrix: the current user, password
// "correct horse") inside tests/with-session-mocks.sh (python3-dbusmock's
// logind on a private system bus, screen savers on a private session bus).
#include "core/Settings.h"
#include "platform/files/UserDefaults.h"
#include "platform/system/OwnerAuth.h"
#include "platform/system/SessionEvents.h"
#include "system/AppLockMac.h"
#include "system/LockOverlayMac.h"
#include "tests/support/PasswordPrompt.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace {

using PasswordPrompt::answer;
using PasswordPrompt::cancel;
using PasswordPrompt::rightPassword;

QDialog* passwordDialog() { return PasswordPrompt::dialog(); }

bool otherStackInstalled() {
    return QFile::exists(qEnvironmentVariable("PAM_WRAPPER_SERVICE_DIR") + "/other");
}

// Asks a mock on one of the private buses to send a signal.
void emitSignal(QDBusConnection bus, const QString& service, const QString& path,
                const QString& interface, const QString& name, const QVariantList& arguments,
                const QString& signature) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"));
    call << interface << name << signature << QVariant::fromValue(arguments);
    const QDBusMessage reply = bus.call(call);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

// A window whose content the overlay covers, as the main window builds it.
struct Window {
    QWidget frame;
    QLabel* content;
    LockOverlayMac* overlay;

    explicit Window(AppLockMac& lock) {
        auto* layout = new QVBoxLayout(&frame);
        content = new QLabel(QStringLiteral("123 456"));
        layout->addWidget(content);
        overlay = new LockOverlayMac(lock, content, &frame);
        frame.resize(520, 420);
    }
};

} // namespace

class AppLockTests : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    std::unique_ptr<UserDefaults> defaults;
    int files = 0;

    std::unique_ptr<AppLockMac> makeLock(bool enabled) {
        defaults = std::make_unique<UserDefaults>(folder.filePath(QString("d%1.conf").arg(++files)));
        if (enabled) defaults->setValue(Settings::appLockEnabled.key, true);
        return std::make_unique<AppLockMac>(*defaults);
    }

    static bool mocksRunning() {
        return QDBusConnection::systemBus().isConnected() &&
               qEnvironmentVariable("XDG_SESSION_ID") == QLatin1String("c1");
    }

    // Waits until logind has named this session and its Lock is followed.
    static bool sessionFollowed(SessionEvents& events) {
        QSignalSpy watched(&events, &SessionEvents::sessionWatched);
        return !events.sessionPath().isEmpty() || watched.wait(QUILLET_TEST_WAIT_MS);
    }

    bool unlock(AppLockMac& lock) {
        lock.authenticate();
        return answer(rightPassword) &&
               QTest::qWaitFor([&] { return !lock.isLocked(); }, QUILLET_TEST_WAIT_MS);
    }

private slots:
    void initTestCase() {
        if (!qEnvironmentVariableIsSet("PAM_WRAPPER"))
            QSKIP("needs PAM wrapped (run through tests/with-pam.sh)");
    }

    void init() { qputenv("QUILLET_PAM_SERVICE", "quillet-test"); }

    void cleanup() {
        while (QDialog* dialog = passwordDialog()) dialog->reject();
    }

    void startsLockedExactlyWhenTheLockIsOn() {
        QVERIFY(makeLock(true)->isLocked());
        const auto off = makeLock(false);
        QVERIFY(!off->isLocked() && !off->isEnabled());
        QVERIFY(!defaults->contains(Settings::appLockEnabled.key)); // reading writes nothing
        off->relock();
        QVERIFY(!off->isLocked());
    }

    void theRightPasswordUnlocksAndTheOverlayFadesOut() {
        QCOMPARE(OwnerAuth::serviceName(), QStringLiteral("quillet-test"));
        QVERIFY(AppLockMac::canAuthenticate());
        const auto lock = makeLock(true);
        Window window(*lock);
        QVERIFY(window.overlay->isCovering() && window.content->isHidden());
        QVERIFY(!window.content->isEnabled());
        // Coming on screen locked, it asks by itself.
        window.frame.show();
        QVERIFY(answer(rightPassword));
        QTRY_VERIFY(!lock->isLocked());
        QVERIFY(window.content->isVisible() && window.content->isEnabled());
        QTRY_VERIFY(!window.overlay->isCovering() && window.overlay->isHidden());
        QVERIFY(passwordDialog() == nullptr);

        // Locking again fades it in over the content, which then goes away.
        lock->relock();
        QVERIFY(window.overlay->isVisible() && !window.content->isEnabled());
        QTRY_VERIFY(window.content->isHidden());
        QVERIFY(answer(rightPassword)); // asked again by itself
        QTRY_VERIFY(!lock->isLocked());
    }

    void aWrongPasswordOrACancelKeepsTheOverlay() {
        const auto lock = makeLock(true);
        Window window(*lock);
        window.frame.show();
        // A wrong password may be tried again in the same dialog...
        QVERIFY(answer(QStringLiteral("wrong")));
        QVERIFY(PasswordPrompt::askedAgain());
        bool said = false;
        for (QLabel* label : passwordDialog()->findChildren<QLabel*>())
            said = said || (label->isVisible() && label->text() == "Sorry, try again.");
        QVERIFY(said);
        QVERIFY(lock->isLocked() && lock->isAuthenticating());
        // ...and a cancel leaves everything covered.
        QVERIFY(cancel());
        QVERIFY(lock->isLocked() && !lock->isAuthenticating());
        QVERIFY(window.overlay->isVisible() && window.content->isHidden());

        // Three wrong passwords end the dialog; still locked.
        QTest::mouseClick(PasswordPrompt::button(window.overlay, "Unlock"), Qt::LeftButton);
        for (int attempt = 0; attempt < 3; ++attempt) {
            QVERIFY(answer(QStringLiteral("wrong")));
            if (attempt < 2) QVERIFY(PasswordPrompt::askedAgain());
        }
        QTRY_VERIFY(passwordDialog() == nullptr);
        QVERIFY(lock->isLocked() && !lock->isAuthenticating());

        // Unlock asks afresh; a second request while one is open does nothing.
        QTest::mouseClick(PasswordPrompt::button(window.overlay, "Unlock"), Qt::LeftButton);
        QTRY_VERIFY(passwordDialog() != nullptr);
        lock->authenticate();
        int open = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            open += w->isVisible() && qobject_cast<QDialog*>(w) ? 1 : 0;
        QCOMPARE(open, 1);
        QVERIFY(answer(rightPassword));
        QTRY_VERIFY(!lock->isLocked());
    }

    void turningTheLockOffWhileLockedAsksFirst() {
        const auto lock = makeLock(true);
        QSignalSpy enabled(lock.get(), &AppLockMac::enabledChanged);
        lock->setEnabled(false);
        // Still on, still locked, and the switch is told so.
        QVERIFY(lock->isEnabled() && lock->isLocked());
        QCOMPARE(enabled.size(), 1);
        QCOMPARE(enabled.last().first().toBool(), true);
        QVERIFY(cancel());
        QVERIFY(lock->isEnabled() && lock->isLocked());
        QCOMPARE(defaults->boolean(Settings::appLockEnabled.key), std::optional<bool>(true));

        lock->setEnabled(false);
        QVERIFY(answer(QStringLiteral("wrong")));
        QVERIFY(PasswordPrompt::askedAgain());
        QVERIFY(cancel());
        QVERIFY(lock->isEnabled() && lock->isLocked());

        lock->setEnabled(false);
        QVERIFY(answer(rightPassword));
        QTRY_VERIFY(!lock->isEnabled());
        QVERIFY(!lock->isLocked());
        QCOMPARE(defaults->boolean(Settings::appLockEnabled.key), std::optional<bool>(false));

        // On again: asks first, and only the right answer turns it on (open:
        // the user has just proved to be the user). Off while open asks nothing.
        QSignalSpy refused(lock.get(), &AppLockMac::enablingRefused);
        lock->setEnabled(true);
        QVERIFY(!lock->isEnabled() && !lock->isLocked());
        const QString enabling = PasswordPrompt::enableTitle;
        for (int attempt = 0; attempt < 3; ++attempt) {
            QVERIFY(answer(QStringLiteral("wrong"), enabling));
            if (attempt < 2) QVERIFY(PasswordPrompt::askedAgain(enabling));
        }
        QTRY_COMPARE(refused.size(), 1);
        QCOMPARE(refused.last().first().toString(),
                 QStringLiteral("The lock stays off: your password was not accepted."));
        QVERIFY(!lock->isEnabled());
        QCOMPARE(defaults->boolean(Settings::appLockEnabled.key), std::optional<bool>(false));
        lock->setEnabled(true);
        QVERIFY(answer(rightPassword, enabling));
        QTRY_VERIFY(lock->isEnabled());
        QVERIFY(!lock->isLocked());
        QCOMPARE(defaults->boolean(Settings::appLockEnabled.key), std::optional<bool>(true));
        lock->setEnabled(false);
        QVERIFY(!lock->isEnabled() && passwordDialog() == nullptr);
    }

    // A sheet over the window (an account's QR code, the edit sheet) steps
    // aside the moment the app locks, with what was typed in it, and comes
    // back as it was after the unlock; a menu just closes.
    void theWindowsSheetsStepAsideWhileLocked() {
        const auto locking = makeLock(true);
        Window window(*locking);
        window.frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window.frame));
        auto* sheet = new QDialog(&window.frame);
        auto* notes = new QLineEdit(sheet);
        (new QVBoxLayout(sheet))->addWidget(notes);
        sheet->setWindowTitle(QStringLiteral("Edit account"));
        sheet->open();
        auto* inner = new QDialog(sheet);
        inner->setWindowTitle(QStringLiteral("New folder"));
        inner->open();
        QVERIFY(QTest::qWaitForWindowExposed(inner));
        notes->setText(QStringLiteral("recovery: 1234-5678"));
        auto* menu = new QMenu(&window.frame);
        menu->addAction(QStringLiteral("Show QR Code…"));
        menu->popup(QPoint(10, 10));
        QVERIFY(QTest::qWaitForWindowExposed(menu));

        QVERIFY(answer(rightPassword)); // the launch's own question
        QTRY_VERIFY(!locking->isLocked());
        QVERIFY(sheet->isVisible() && inner->isVisible());
        locking->relock();
        // At once, not after the fade.
        QVERIFY(!sheet->isVisible() && !inner->isVisible() && !menu->isVisible());
        QVERIFY(answer(rightPassword));
        QTRY_VERIFY(!locking->isLocked());
        QVERIFY(sheet->isVisible() && inner->isVisible() && !menu->isVisible());
        QCOMPARE(notes->text(), QStringLiteral("recovery: 1234-5678"));
    }

    // A panel that stays on top (the quick search) would cover a question
    // that belongs to another window: asked for from there, the question is
    // the panel's, and it keeps what was typed.
    void theQuestionBelongsToAPanelThatStaysOnTop() {
        const auto locking = makeLock(true);
        Window window(*locking);
        window.frame.show();
        QTRY_VERIFY(passwordDialog()); // the overlay's own question
        QCOMPARE(passwordDialog()->parentWidget()->window(), &window.frame);
        passwordDialog()->findChild<QLineEdit*>()->setText(QStringLiteral("correct"));
        QWidget panel(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        panel.resize(200, 100);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        // Unlock pressed in the main window, or the panel coming on screen.
        locking->authenticate(&window.frame);
        QTRY_VERIFY(passwordDialog());
        QCOMPARE(passwordDialog()->parentWidget()->window(), &panel);
        QCOMPARE(passwordDialog()->findChild<QLineEdit*>()->text(), QStringLiteral("correct"));
        panel.hide();
        locking->authenticate(&window.frame);
        QTRY_VERIFY(passwordDialog());
        QCOMPARE(passwordDialog()->parentWidget()->window(), &window.frame);
    }

    void aBrokenStackKeepsTheAppLocked() {
        // A module that cannot be loaded: the stack opens, authentication fails.
        qputenv("QUILLET_PAM_SERVICE", "broken");
        QVERIFY(AppLockMac::canAuthenticate());
        const auto lock = makeLock(true);
        QSignalSpy asking(lock.get(), &AppLockMac::authenticatingChanged);
        lock->authenticate();
        QTRY_VERIFY(asking.size() == 2);
        QVERIFY(lock->isLocked());
        QVERIFY(passwordDialog() == nullptr);
        lock->setEnabled(false);
        QTRY_VERIFY(!lock->isAuthenticating());
        QVERIFY(lock->isEnabled() && lock->isLocked());
    }

    void withNoWayToAuthenticateTheLockCannotHold() {
        if (otherStackInstalled()) QSKIP("the fallback stack is installed in this run");
        // Neither the named stack nor the fallback exists: nothing could ever
        // be asked, so the lock opens without asking (and the settings
        // switch is disabled, see the settings tests).
        qputenv("QUILLET_PAM_SERVICE", "absent");
        QVERIFY(!AppLockMac::canAuthenticate());
        const auto lock = makeLock(true);
        lock->authenticate();
        QVERIFY(!lock->isLocked() && lock->isEnabled());
        QVERIFY(passwordDialog() == nullptr);
    }

    void fallsBackToTheOtherStack() {
        if (!otherStackInstalled()) QSKIP("run through tests/with-pam.sh --with-other");
        if (QFile::exists(QStringLiteral("/etc/pam.d/quillet")))
            QSKIP("this machine has Quillet's own stack installed");
        qunsetenv("QUILLET_PAM_SERVICE");
        QCOMPARE(OwnerAuth::serviceName(), QStringLiteral("other"));
        const auto lock = makeLock(true);
        lock->authenticate();
        // Under pam_wrapper the fallback stack runs its modules twice: every
        // question gets the answer, as a user would give it.
        for (int prompt = 0; prompt < 3 && lock->isLocked(); ++prompt)
            if (answer(rightPassword))
                (void)QTest::qWaitFor([&] { return !lock->isLocked() || PasswordPrompt::asking(); },
                                      QUILLET_TEST_WAIT_MS);
        QVERIFY(!lock->isLocked());
    }

    void theScreenLockAndSleepLockAgain() {
        if (!mocksRunning()) QSKIP("run inside tests/with-session-mocks.sh");
        SessionEvents events;
        QVERIFY(sessionFollowed(events));
        QCOMPARE(events.sessionPath(), QStringLiteral("/org/freedesktop/login1/session/c1"));
        const auto lock = makeLock(true);
        lock->watch(events);
        QSignalSpy locked(lock.get(), &AppLockMac::lockedChanged);
        QDBusConnection session = QDBusConnection::sessionBus();
        QDBusConnection system = QDBusConnection::systemBus();
        const QString login1 = QStringLiteral("org.freedesktop.login1");

        const auto relocksOn = [&](auto send) {
            if (!unlock(*lock)) return false;
            locked.clear();
            send();
            return QTest::qWaitFor([&] { return lock->isLocked(); }, QUILLET_TEST_WAIT_MS);
        };
        QVERIFY(relocksOn([&] {
            emitSignal(session, "org.freedesktop.ScreenSaver", "/ScreenSaver",
                       "org.freedesktop.ScreenSaver", "ActiveChanged", {true}, "b");
        }));
        QVERIFY(relocksOn([&] {
            emitSignal(session, "org.gnome.ScreenSaver", "/org/gnome/ScreenSaver",
                       "org.gnome.ScreenSaver", "ActiveChanged", {true}, "b");
        }));
        QVERIFY(relocksOn([&] {
            emitSignal(system, login1, events.sessionPath(), "org.freedesktop.login1.Session",
                       "Lock", {}, "");
        }));
        QVERIFY(relocksOn([&] {
            emitSignal(system, login1, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                       "PrepareForSleep", {true}, "b");
        }));

        // Waking up and the screen saver going away unlock nothing, and
        // neither does anything lock while it is already open.
        QVERIFY(unlock(*lock));
        emitSignal(system, login1, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                   "PrepareForSleep", {false}, "b");
        emitSignal(session, "org.freedesktop.ScreenSaver", "/ScreenSaver",
                   "org.freedesktop.ScreenSaver", "ActiveChanged", {false}, "b");
        // Another session's lock is not ours.
        QDBusMessage add = QDBusMessage::createMethodCall(
            login1, "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession");
        add << QStringLiteral("c2") << QStringLiteral("seat0") << quint32(getuid() + 1)
            << QStringLiteral("someone") << false;
        QCOMPARE(system.call(add).type(), QDBusMessage::ReplyMessage);
        emitSignal(system, login1, "/org/freedesktop/login1/session/c2",
                   "org.freedesktop.login1.Session", "Lock", {}, "");
        QTest::qWait(300);
        QVERIFY(!lock->isLocked());
    }

    void nothingHappensWhileTheLockIsOff() {
        if (!mocksRunning()) QSKIP("run inside tests/with-session-mocks.sh");
        SessionEvents events;
        QVERIFY(sessionFollowed(events));
        const auto lock = makeLock(false);
        lock->watch(events);
        QSignalSpy screen(&events, &SessionEvents::screenLocked);
        QSignalSpy sleep(&events, &SessionEvents::willSleep);
        emitSignal(QDBusConnection::sessionBus(), "org.freedesktop.ScreenSaver", "/ScreenSaver",
                   "org.freedesktop.ScreenSaver", "ActiveChanged", {true}, "b");
        emitSignal(QDBusConnection::systemBus(), "org.freedesktop.login1",
                   events.sessionPath(), "org.freedesktop.login1.Session", "Lock", {}, "");
        emitSignal(QDBusConnection::systemBus(), "org.freedesktop.login1",
                   "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                   {true}, "b");
        // The events arrive; the lock, being off, ignores them.
        QTRY_VERIFY(screen.size() == 2 && sleep.size() == 1);
        QVERIFY(!lock->isLocked() && !lock->isEnabled());
        QVERIFY(passwordDialog() == nullptr);
    }
};

QUILLET_TEST_MAIN(AppLockTests)
#include "AppLockTests.moc"
