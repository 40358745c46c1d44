#include "system/HotKey.h"

#include "platform/desktop/GlobalHotKey.h"

#include <QCoreApplication>
#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QMetaObject>
#include <stdexcept>

namespace {

// Main thread only. Ids are never reused within a process, so a press that
// was queued for a destroyed hotkey can never reach a newer one.
quint32 nextID = 1;

QHash<quint32, std::function<void()>>& registry() {
    static QHash<quint32, std::function<void()>> actions;
    return actions;
}

void connectDispatcher() {
    static bool connected = false;
    if (connected) return;
    connected = true;
    QObject::connect(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::pressed,
                     &GlobalHotKey::dispatcher(), [](quint32 id) {
                         QMetaObject::invokeMethod(
                             &GlobalHotKey::dispatcher(), [id] { HotKey::dispatch(id); },
                             Qt::QueuedConnection);
                     });
}

quint32 takeID() {
    // Ids fill 32 bits; running out would take billions of hotkeys.
    if (nextID == 0xFFFFFFFFu) throw std::overflow_error("hotkey ids exhausted");
    return nextID++;
}

} // namespace

HotKey::HotKey(quint32 keyCode, quint32 modifiers, std::function<void()> action)
    : m_id(takeID()), m_keyCode(keyCode), m_modifiers(modifiers), m_action(std::move(action)) {
}

HotKey::~HotKey() {
    unregisterHotKey();
}

bool HotKey::registerHotKey() {
    unregisterHotKey();
    if (!refusal(m_keyCode, m_modifiers).isEmpty()) return false;
    connectDispatcher();
    const int status =
        GlobalHotKey::registerHotKey(m_keyCode, m_modifiers, m_id, m_description);
    if (status != GlobalHotKey::ok && status != GlobalHotKey::pending) return false;
    m_registered = true;
    registry().insert(m_id, m_action);
    return true;
}

bool HotKey::isActive() const {
    return m_registered &&
           GlobalHotKey::desktopState(m_id).kind != GlobalHotKey::DesktopState::Kind::inactive;
}

void HotKey::unregisterHotKey() {
    if (m_registered) GlobalHotKey::unregisterHotKey(m_id);
    m_registered = false;
    registry().remove(m_id);
}

void HotKey::dispatch(quint32 id) {
    const auto it = registry().constFind(id);
    if (it == registry().cend()) return;
    // A copy: the action may unregister or destroy its own hotkey.
    const std::function<void()> action = *it;
    action();
}

quint32 HotKey::carbonModifiers(Qt::KeyboardModifiers modifiers) {
    quint32 mask = 0;
    if (modifiers & Qt::ControlModifier) mask |= command;
    if (modifiers & Qt::AltModifier) mask |= option;
    if (modifiers & Qt::ShiftModifier) mask |= shift;
    if (modifiers & Qt::MetaModifier) mask |= control;
    return mask;
}

namespace {

// macOS virtual key code <-> Qt key, for the keys a combination may use
// (ANSI layout positions, the same keys platform/desktop/GlobalHotKey can grab).
const QList<std::pair<quint32, Qt::Key>>& keyTable() {
    static const QList<std::pair<quint32, Qt::Key>> table{
        {0, Qt::Key_A},
        {1, Qt::Key_S},
        {2, Qt::Key_D},
        {3, Qt::Key_F},
        {4, Qt::Key_H},
        {5, Qt::Key_G},
        {6, Qt::Key_Z},
        {7, Qt::Key_X},
        {8, Qt::Key_C},
        {9, Qt::Key_V},
        {11, Qt::Key_B},
        {12, Qt::Key_Q},
        {13, Qt::Key_W},
        {14, Qt::Key_E},
        {15, Qt::Key_R},
        {16, Qt::Key_Y},
        {17, Qt::Key_T},
        {31, Qt::Key_O},
        {32, Qt::Key_U},
        {34, Qt::Key_I},
        {35, Qt::Key_P},
        {37, Qt::Key_L},
        {38, Qt::Key_J},
        {40, Qt::Key_K},
        {45, Qt::Key_N},
        {46, Qt::Key_M},
        {18, Qt::Key_1},
        {19, Qt::Key_2},
        {20, Qt::Key_3},
        {21, Qt::Key_4},
        {22, Qt::Key_6},
        {23, Qt::Key_5},
        {25, Qt::Key_9},
        {26, Qt::Key_7},
        {28, Qt::Key_8},
        {29, Qt::Key_0},
        {24, Qt::Key_Equal},
        {27, Qt::Key_Minus},
        {30, Qt::Key_BracketRight},
        {33, Qt::Key_BracketLeft},
        {39, Qt::Key_Apostrophe},
        {41, Qt::Key_Semicolon},
        {42, Qt::Key_Backslash},
        {43, Qt::Key_Comma},
        {44, Qt::Key_Slash},
        {47, Qt::Key_Period},
        {50, Qt::Key_QuoteLeft},
        {36, Qt::Key_Return},
        {48, Qt::Key_Tab},
        {49, Qt::Key_Space},
        {51, Qt::Key_Backspace},
        {53, Qt::Key_Escape},
        {122, Qt::Key_F1},
        {120, Qt::Key_F2},
        {99, Qt::Key_F3},
        {118, Qt::Key_F4},
        {96, Qt::Key_F5},
        {97, Qt::Key_F6},
        {98, Qt::Key_F7},
        {100, Qt::Key_F8},
        {101, Qt::Key_F9},
        {109, Qt::Key_F10},
        {103, Qt::Key_F11},
        {111, Qt::Key_F12},
        {123, Qt::Key_Left},
        {124, Qt::Key_Right},
        {125, Qt::Key_Down},
        {126, Qt::Key_Up},
    };
    return table;
}

std::optional<Qt::Key> qtKey(quint32 keyCode) {
    for (const auto& [code, key] : keyTable())
        if (code == keyCode) return key;
    return std::nullopt;
}

Qt::KeyboardModifiers qtModifiers(quint32 mask) {
    Qt::KeyboardModifiers modifiers;
    if (mask & HotKey::command) modifiers |= Qt::ControlModifier;
    if (mask & HotKey::option) modifiers |= Qt::AltModifier;
    if (mask & HotKey::shift) modifiers |= Qt::ShiftModifier;
    return modifiers;
}

QString nativeText(Qt::KeyboardModifiers modifiers, Qt::Key key) {
    return QKeySequence(QKeyCombination(modifiers, key)).toString(QKeySequence::NativeText);
}

} // namespace

std::optional<quint32> HotKey::keyCodeForQtKey(int key) {
    // Letters arrive upper-case whatever Shift says; Qt names them so. Shift
    // turns Tab into Backtab.
    if (key == Qt::Key_Backtab) key = Qt::Key_Tab;
    for (const auto& [code, known] : keyTable())
        if (known == key) return code;
    return std::nullopt;
}

QString HotKey::keyName(quint32 keyCode) {
    if (const std::optional<Qt::Key> key = qtKey(keyCode)) return nativeText({}, *key);
    return QStringLiteral("Key %1").arg(keyCode);
}

QString HotKey::refusal(quint32 keyCode, quint32 modifiers) {
    if (keyCode == 0) return {};
    constexpr quint32 known = command | shift | option | control;
    if ((modifiers & known) == 0)
        return QCoreApplication::translate("HotKey", "Not active: a hotkey needs Ctrl, Alt, Shift "
                                                     "or %1 with its key.")
            .arg(GlobalHotKey::metaKeyName());
    if ((modifiers & ~known) != 0)
        return QCoreApplication::translate("HotKey", "Not active: this combination holds a "
                                                     "modifier this computer does not have.");
    if (!qtKey(keyCode))
        return QCoreApplication::translate("HotKey", "Not active: this key is unknown here.");
    return {};
}

QString HotKey::comboString(quint32 keyCode, quint32 modifiers) {
    if (keyCode == 0 && modifiers == 0) return QStringLiteral("—");
    Qt::KeyboardModifiers held = qtModifiers(modifiers);
    if (modifiers & control) held |= Qt::MetaModifier;
    QString text;
    if (const std::optional<Qt::Key> key = qtKey(keyCode)) {
        text = nativeText(held, *key);
    } else {
        // A key without a Qt name: the modifiers as Qt writes them, then its code.
        text = nativeText(held, Qt::Key_A);
        text.chop(1);
        text += keyName(keyCode);
    }
    // Qt names the Super key Meta, and puts it first; the desktop may call
    // it otherwise.
    if (modifiers & control) {
        const QString meta = nativeText(Qt::MetaModifier, Qt::Key_A).chopped(2);
        if (text.startsWith(meta)) text.replace(0, meta.size(), GlobalHotKey::metaKeyName());
    }
    return text;
}
