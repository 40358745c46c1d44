#pragma once

#include <QString>
#include <QtGlobal>

// Every key the program keeps in the user's settings file (UserDefaults), with
// what a missing key stands for. The key strings are the ones earlier versions
// wrote: never change one. What a value of another type means is up to its
// reader.
namespace Settings {

// A key whose absence stands for a plain value.
template <typename T> struct Entry {
    QString key;
    T defaultValue;
};

// A key whose absence means that nothing was stored yet (a list, a record,
// an id); its reader says what it starts from.
struct Key {
    QString key;
};

// Hotkeys and the tray.
inline const Key hotkeyBindings{QStringLiteral("hotkeyBindings.v1")}; // JSON list; none: no hotkeys
inline const Entry<bool> showCodeInMenuBar{QStringLiteral("showCodeInMenuBar.v1"), true};
inline const Key menuBarAccountID{QStringLiteral("menuBarAccountID.v1")}; // account id text
inline const Entry<bool> revealCodesInMenu{QStringLiteral("revealCodesInMenu.v1"), true};
inline const Key menuBarHiddenAccountIDs{QStringLiteral("menuBarHiddenAccountIDs.v1")};
inline const Entry<bool> quickLauncherEnabled{QStringLiteral("quickLauncherEnabled.v1"), true};
// The program lives in the tray only.
inline const Entry<bool> menuBarOnly{QStringLiteral("menuBarOnly.v1"), false};

// Seconds until a copied code leaves the clipboard; 0 keeps it there.
inline const Entry<qint64> clipboardClearSeconds{QStringLiteral("clipboardClearSeconds.v1"), 0};
// The list's order, as accountSortFromText reads it.
inline const Entry<QString> accountSortOrder{QStringLiteral("accountSortOrder.v1"),
                                             QStringLiteral("manual")};
// The app lock, off until the user turns it on.
inline const Entry<bool> appLockEnabled{QStringLiteral("app_lock_enabled_mac"), false};

// This computer's share of the vault (the account store).
inline const Key usageStats{QStringLiteral("usageStats.v1")};
inline const Key accountFolders{QStringLiteral("accountFolders.v1")};
// When accountFolders was last written; none: the distant past.
inline const Key accountFoldersUpdatedAt{QStringLiteral("accountFoldersUpdatedAt.v1")};

} // namespace Settings
