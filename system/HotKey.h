#pragma once

#include <QString>
#include <Qt>
#include <functional>
#include <optional>

// One system-wide key combination and what its press runs. Registration goes
// through platform/desktop/GlobalHotKey; presses are delivered later on the main
// thread's event loop, so an action never runs inside the X event handling,
// and a press that arrives after unregister() does nothing.
//
// The key code and modifier mask keep the values earlier versions wrote:
// macOS virtual key codes (e.g. 40 = K) and Carbon modifier masks.
class HotKey {
public:
    static constexpr quint32 command = 0x100;
    static constexpr quint32 shift = 0x200;
    static constexpr quint32 option = 0x800;
    static constexpr quint32 control = 0x1000;

    HotKey(quint32 keyCode, quint32 modifiers, std::function<void()> action);
    ~HotKey();
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    // What the desktop's shortcut settings call it, where the desktop keeps
    // the list: words for people. Takes effect with the next registerHotKey().
    void setDescription(const QString& description) { m_description = description; }

    // True when the combination is now registered, or handed to the desktop,
    // whose answer desktopState() then tells. Re-registers when already
    // registered; a failure leaves this hotkey unregistered.
    bool registerHotKey();
    void unregisterHotKey();

    quint32 id() const { return m_id; }
    quint32 keyCode() const { return m_keyCode; }
    quint32 modifiers() const { return m_modifiers; }
    bool isRegistered() const { return m_registered; }
    // Whether presses reach the action now: registered, and not refused by
    // the desktop.
    bool isActive() const;

    // Runs the action registered under id, if one still is.
    static void dispatch(quint32 id);

    // Qt's modifiers as the stored mask. On this desktop the Control key
    // plays the part of Command and the Super key that of Control, so Qt's
    // Control is Command, Alt Option, Shift Shift and Meta (Super) Control.
    static quint32 carbonModifiers(Qt::KeyboardModifiers modifiers);
    // The stored key code of a Qt key (QKeyEvent::key()); nothing for keys a
    // combination cannot use.
    static std::optional<quint32> keyCodeForQtKey(int key);
    // The key as the desktop writes it ("K", "F5", "Space", "Left"...); keys
    // without a name give "Key " and the code.
    static QString keyName(quint32 keyCode);
    // The combination as the desktop writes it, Qt's native key-sequence text:
    // "Ctrl+Alt+Shift+P" (Command as Ctrl, Option as Alt, Control as the
    // Super key, under the desktop's name for it: "Meta+D" on KDE, "Super+D"
    // elsewhere); "—" when neither a key nor a modifier is set.
    static QString comboString(quint32 keyCode, quint32 modifiers);
    // Why a stored combination is never registered, by the recorder's own
    // rules, which hold just as much for a binding read from a damaged or
    // hand-edited settings file: a bare key would swallow that key in every
    // program. Empty when the combination may be registered, or when no key
    // is set yet (key code 0).
    static QString refusal(quint32 keyCode, quint32 modifiers);

private:
    const quint32 m_id;
    quint32 m_keyCode;
    quint32 m_modifiers;
    std::function<void()> m_action;
    QString m_description;
    bool m_registered = false;
};
