#include "system/HotKey.h"

#include "platform/GlobalHotKey.h"

#include <QCoreApplication>
#include <QHash>
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
    connectDispatcher();
    if (GlobalHotKey::registerHotKey(m_keyCode, m_modifiers, m_id) != GlobalHotKey::ok)
        return false;
    m_registered = true;
    registry().insert(m_id, m_action);
    return true;
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

QString HotKey::keyName(quint32 keyCode) {
    static const QHash<quint32, QString> names{
        {0, "A"},
        {1, "S"},
        {2, "D"},
        {3, "F"},
        {4, "H"},
        {5, "G"},
        {6, "Z"},
        {7, "X"},
        {8, "C"},
        {9, "V"},
        {11, "B"},
        {12, "Q"},
        {13, "W"},
        {14, "E"},
        {15, "R"},
        {16, "Y"},
        {17, "T"},
        {31, "O"},
        {32, "U"},
        {34, "I"},
        {35, "P"},
        {37, "L"},
        {38, "J"},
        {40, "K"},
        {45, "N"},
        {46, "M"},
        {18, "1"},
        {19, "2"},
        {20, "3"},
        {21, "4"},
        {22, "6"},
        {23, "5"},
        {25, "9"},
        {26, "7"},
        {28, "8"},
        {29, "0"},
        {36, QStringLiteral("↩")},
        {48, QStringLiteral("⇥")},
        {49, "Space"},
        {51, QStringLiteral("⌫")},
        {53, QStringLiteral("⎋")},
        {122, "F1"},
        {120, "F2"},
        {99, "F3"},
        {118, "F4"},
        {96, "F5"},
        {97, "F6"},
        {98, "F7"},
        {100, "F8"},
        {101, "F9"},
        {109, "F10"},
        {103, "F11"},
        {111, "F12"},
        {123, QStringLiteral("←")},
        {124, QStringLiteral("→")},
        {125, QStringLiteral("↓")},
        {126, QStringLiteral("↑")},
    };
    return names.value(keyCode, QStringLiteral("Key %1").arg(keyCode));
}

QString HotKey::comboString(quint32 keyCode, quint32 modifiers) {
    if (keyCode == 0 && modifiers == 0) return QStringLiteral("—");
    QString text;
    if (modifiers & control) text += QStringLiteral("⌃");
    if (modifiers & option) text += QStringLiteral("⌥");
    if (modifiers & shift) text += QStringLiteral("⇧");
    if (modifiers & command) text += QStringLiteral("⌘");
    return text + keyName(keyCode);
}
