#pragma once

#include "core/Settings.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>
#include <optional>

class UserDefaults;

// One global hotkey: a key combination bound to one account. The key code and
// modifier mask keep the values earlier versions wrote (macOS virtual key
// codes and Carbon modifier masks); they are translated only when registered.
struct HotKeyBinding {
    QUuid id = QUuid::createUuid();
    std::optional<QUuid> accountID;
    quint32 keyCode = 0;   // 0 also stands for "no key recorded yet"
    quint32 modifiers = 0; // command 0x100, shift 0x200, option 0x800, control 0x1000
    bool enabled = true;
    bool autoPaste = false; // after copying, also paste into the focused application

    bool operator==(const HotKeyBinding&) const = default;

    QJsonObject toJson() const;
    // Missing or null keys take their defaults (a missing id a fresh one);
    // a key of the wrong type or out of range makes the binding unreadable.
    static std::optional<HotKeyBinding> fromJson(const QJsonValue& value);

    // The stored list: a compact JSON array.
    static QByteArray encodeList(const QList<HotKeyBinding>& bindings);
    // Skips unreadable elements one by one: a single damaged binding must not
    // cost the user every other binding at the next write of the list.
    static QList<HotKeyBinding> decodeList(const QByteArray& data);
};

// The user's hotkey bindings and menu-bar options (their keys are in
// core/Settings.h). Each property is read once
// at construction and written back at every assignment (also an unchanged
// value), and each assignment emits the property's changed signal; an
// assignment the settings file could not take leaves the stored value.
class AppSettings : public QObject {
    Q_OBJECT

public:
    // A new binding's modifiers: option, shift and command.
    static constexpr quint32 newBindingModifiers = 0xB00;

    explicit AppSettings(UserDefaults& defaults, QObject* parent = nullptr);

    const QList<HotKeyBinding>& bindings() const { return m_bindings; }
    bool showCodeInMenuBar() const { return m_showCodeInMenuBar; }
    std::optional<QUuid> menuBarAccountID() const { return m_menuBarAccountID; }
    bool revealCodesInMenu() const { return m_revealCodesInMenu; }
    const QSet<QUuid>& menuBarHiddenAccountIDs() const { return m_menuBarHiddenAccountIDs; }
    bool quickLauncherEnabled() const { return m_quickLauncherEnabled; }
    bool menuBarOnly() const { return m_menuBarOnly; }

    void setBindings(const QList<HotKeyBinding>& bindings);
    void setShowCodeInMenuBar(bool show);
    void setMenuBarAccountID(std::optional<QUuid> id);
    void setRevealCodesInMenu(bool reveal);
    void setMenuBarHiddenAccountIDs(const QSet<QUuid>& ids);
    void setQuickLauncherEnabled(bool enabled);
    void setMenuBarOnly(bool menuBarOnly);

    // Appends an unbound binding with no key and option-shift-command.
    void addBinding();
    // Removes every binding with this id; writes the list also when none matched.
    void removeBinding(const QUuid& id);
    // shown true takes the account out of the hidden set, false puts it in.
    void toggleHidden(const QUuid& accountID, bool shown);

signals:
    void bindingsChanged();
    void showCodeInMenuBarChanged();
    void menuBarAccountIDChanged();
    void revealCodesInMenuChanged();
    void menuBarHiddenAccountIDsChanged();
    void quickLauncherEnabledChanged();
    void menuBarOnlyChanged();

private:
    bool readBool(const Settings::Entry<bool>& setting) const;
    QList<HotKeyBinding> storedBindings() const;
    std::optional<QUuid> storedMenuBarAccountID() const;
    QSet<QUuid> storedHiddenAccountIDs() const;

    UserDefaults& m_defaults;
    QList<HotKeyBinding> m_bindings;
    bool m_showCodeInMenuBar = true;
    std::optional<QUuid> m_menuBarAccountID;
    bool m_revealCodesInMenu = true;
    QSet<QUuid> m_menuBarHiddenAccountIDs;
    bool m_quickLauncherEnabled = true;
    bool m_menuBarOnly = false;
};
