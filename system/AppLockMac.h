#pragma once

#include "platform/system/OwnerAuth.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QWidget;
class SessionEvents;
class UserDefaults;

// The app lock: whether it is turned on ("app_lock_enabled_mac", off when
// absent) and whether the vault is hidden right now. It starts locked when it
// is on, locks again when the screen locks or the computer goes to sleep, and
// opens after the user proves to be the user (platform/system/OwnerAuth: PAM behind
// a password dialog). The main window's overlay and the tray panel's locked
// state follow lockedChanged(); the settings window is not covered.
//
// As it locks, every dialog of the program on screen (sheets, confirmations,
// file dialogs, message boxes, and any window owned by another) steps aside,
// untouched, and comes back as it was once the lock opens; menus and
// tooltips just close. A dialog run in a loop of its own (exec()) ends
// cancelled instead. Only the lock's own question stays.
//
// Turning the lock off while it is locked asks for the same proof first, so
// that nobody at the desk can switch it off to get at the codes. Turning it
// on asks first too, while it is still open: only a user who has just proved
// to be the user (and so can do it again) gets a lock, and nobody can lock
// themselves out of their codes.
class AppLockMac : public QObject {
    Q_OBJECT

public:
    inline static const QString reason = QStringLiteral("Unlock Quillet");
    // The question that turns the lock on: its title, the sentence under it
    // and its accepting button. It unlocks nothing, so it says what it is for.
    static QString enablingTitle();   // "Turn on the app lock"
    static QString enablingMessage();
    static QString enablingAccept();  // "Turn On"

    explicit AppLockMac(UserDefaults& defaults, QObject* parent = nullptr);

    bool isEnabled() const { return m_enabled; }
    bool isLocked() const { return m_locked; }
    bool isAuthenticating() const { return m_authenticating; }

    // On: asks first; a successful answer writes the flag and leaves the
    // app open (the user has just unlocked it), anything else leaves the
    // lock off and says why through enablingRefused(). Off: writes the flag
    // and unlocks, except while locked: then it asks first, and only a
    // successful answer turns the lock off (enabledChanged tells the switch
    // to stay as it is meanwhile). `over` is the window the question belongs to.
    void setEnabled(bool enabled, QWidget* over = nullptr);

    // Asks the user, when the lock is on, closed and not already asking
    // (then the open question comes to the front).
    // Returns at once; the answer comes later. A failure or a cancel leaves
    // it locked. Only when this user cannot be authenticated at all does it
    // open without asking (there is nothing to ask with).
    void authenticate(QWidget* over = nullptr);

    // Runs `proceed` at once while the lock is off or open; while it is
    // locked, asks first (or waits for the question already asked) and runs
    // it only after a successful answer, which also opens the lock.
    // `refused` (optional) runs instead after a failed or cancelled answer.
    void whenOpen(QWidget* over, std::function<void()> proceed,
                  std::function<void()> refused = {});

    // Locks when the lock is on (screen lock, sleep, the user's lock action).
    void relock();

    // Follows the session's screen lock and sleep.
    void watch(SessionEvents& events);

    // Whether this user can be authenticated at all (the settings switch is
    // disabled without it).
    static bool canAuthenticate();

    // Why switching the lock on did not take: empty after a cancel.
    static QString refusalText(OwnerAuth::Result result);

signals:
    void enabledChanged(bool enabled);
    void lockedChanged(bool locked);
    void authenticatingChanged(bool authenticating);
    // The lock stays off; `why` is refusalText() (empty after a cancel).
    void enablingRefused(const QString& why);

private:
    void setLocked(bool locked);
    // The window a question belongs to: `over`, unless a panel that stays
    // on top is on screen.
    static QWidget* questionOwner(QWidget* over);
    void stepAside();
    void comeBack();
    void writeEnabled(bool enabled);
    void answered(bool success);
    void askToEnable(QWidget* over);
    // Puts a question (unlocking unless `enabling`); `then` runs with the
    // answer while this object lives.
    void ask(QWidget* over, bool enabling, std::function<void(OwnerAuth::Result)> then);

    UserDefaults& m_defaults;
    bool m_enabled = false;
    bool m_locked = false;
    bool m_authenticating = false;
    // The user switched the lock off while it was locked; done when the
    // running authentication succeeds.
    bool m_disableWhenOpened = false;
    // The dialogs that were on screen when it locked, parents before their
    // children.
    QList<QPointer<QWidget>> m_steppedAside;
    QList<QMetaObject::Connection> m_asideWatch;
};
