#pragma once

#include "core/Account.h"
#include "platform/desktop/GlobalHotKey.h"
#include "system/AppSettings.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUuid>
#include <map>
#include <memory>
#include <optional>

class AccountStore;
class AppLockMac;
class HotKey;
class UserDefaults;

// Joins the user's hotkey bindings to the desktop: keeps one registered
// HotKey per usable binding and turns a press into the bound account's
// current code on the clipboard (optionally pasted into the window in
// front), confirmed in the copy HUD with a sound. One per process.
class HotKeyController : public QObject {
    Q_OBJECT

public:
    // Edits of the binding list usually come in bursts (recording a key sets
    // the key code and the modifiers one after the other); registering after
    // a short quiet spell grabs only the final combination.
    static constexpr int debounceMs = 120;
    static constexpr int pasteDelayMs = 50;
    static constexpr int hudDurationMs = 1400;
    // After an unlock question, how many times auto-paste looks again (every
    // pasteDelayMs) for the keyboard to be back in the window of the press.
    static constexpr int pasteTries = 20;
    // Option-Command-K belongs to the quick-search panel.
    static constexpr quint32 reservedKeyCode = 40;
    static constexpr quint32 reservedModifiers = 0x900;

    HotKeyController(AccountStore& store, AppSettings& settings, UserDefaults& defaults,
                     QObject* parent = nullptr);
    ~HotKeyController() override;

    // The HUD's title when a code could only be copied, not pasted.
    static QString needsPermissionTitle();
    // Why a code was copied instead: the hotkey was still held down.
    static QString heldKeysHint();

    // The one controller of the process, while it exists.
    static HotKeyController* current();

    // Whether Ctrl+Alt+K (the quick-search panel's combination) is registered now.
    bool launcherRegistered() const;
    // What the desktop made of Ctrl+Alt+K, as bindingState() tells of a
    // binding; inactive without a reason while quick search is off.
    GlobalHotKey::DesktopState launcherState() const;

    // Labels of the bindings the latest pass could not register, or the
    // desktop did not accept, in binding order.
    QStringList failedBindings() const { return m_failedBindings; }
    // Ids of the bindings the latest pass registered (and the desktop did
    // not turn down).
    QList<QUuid> registeredBindings() const;
    // What the desktop made of a binding handed to it (Wayland): waiting,
    // active with the keys the desktop chose, or inactive with its reason.
    // Inactive without a reason for a binding that is not registered.
    GlobalHotKey::DesktopState bindingState(const QUuid& bindingID) const;

    // One registration pass from scratch over `bindings`.
    void registerAll(const QList<HotKeyBinding>& bindings);
    // Registers the quick-search combination anew (on) or lets it go (off).
    // A combination another program holds is simply not registered.
    void setLauncherEnabled(bool on);
    // While the lock is on and closed, a press asks for the password first
    // and copies (or pastes) only after a successful answer.
    void setAppLock(AppLockMac* lock);
    // One press of the binding with this id.
    void fire(const QUuid& bindingID);
    // Whether a press waits for the unlock question's answer.
    bool isWaitingForUnlock() const { return m_waiting.has_value(); }
    // The account's label, or the binding's id when its account is unknown.
    QString bindingLabel(const HotKeyBinding& binding) const;

    // The key code in the high half, the modifier mask in the low half.
    static quint64 combination(quint32 keyCode, quint32 modifiers) {
        return (quint64(keyCode) << 32) | modifiers;
    }

signals:
    // A registration pass has finished.
    void bindingsRegistered();

private:
    void bindingsChanged();
    // The press itself, once the codes may be given out. `front` is the
    // window that had the keyboard at the press, when a question came
    // between them.
    void deliver(const QUuid& bindingID, std::optional<quint32> front);
    // Types the code into the window in front (`front`, once it has the
    // keyboard again, when given) and confirms what happened.
    void pasteInto(std::optional<quint32> front, const QString& code, const QString& label,
                   int triesLeft);

    struct Waiting {
        QUuid bindingID;
        std::optional<quint32> front;
    };
    // The desktop answered: bindings it did not accept join the failures.
    void desktopAnswered();
    // The accounts were read or changed: labels that were still the
    // binding's own id name the account now.
    void labelsChanged();
    void logFailure(const HotKeyBinding& binding, bool reserved);
    // Copies (and pastes) the code of the account as it is now.
    void handOut(const Account& account, bool autoPaste, std::optional<quint32> front);

    AccountStore& m_store;
    AppSettings& m_settings;
    UserDefaults& m_defaults;
    std::map<QUuid, std::unique_ptr<HotKey>> m_hotKeys;
    QStringList m_failedBindings;
    QList<QUuid> m_registrationFailures;
    // The label each binding was last registered or reported with.
    QHash<QUuid, QString> m_labels;
    // Failures met before the vault was first read, logged once the label
    // can name the account (true: the reserved combination).
    QList<std::pair<HotKeyBinding, bool>> m_unloggedFailures;
    QList<HotKeyBinding> m_lastBindings;
    std::unique_ptr<HotKey> m_launcherHotKey;
    bool m_lastLauncherEnabled;
    QTimer m_debounce;
    QPointer<AppLockMac> m_lock;
    // The latest press made while locked, until the question is answered.
    std::optional<Waiting> m_waiting;
};
