#pragma once

#include <QWidget>

class AccountStore;
class AppLockMac;
class AppSettings;
class GeneralTab;
class HotKeysTab;
class QTabWidget;
class SecurityLog;
class UserDefaults;

// The settings window: the General and Hotkeys tabs. Every control writes
// through at once; there is no Save or Cancel. Escape and Control+W close it.
// The app lock does not cover it.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    SettingsWindow(AccountStore& store, AppSettings& settings, AppLockMac& lock,
                   UserDefaults& defaults, SecurityLog& log, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    GeneralTab* general() const { return m_general; }
    HotKeysTab* hotKeys() const { return m_hotKeys; }

signals:
    void appeared();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTabWidget* m_tabs;
    GeneralTab* m_general;
    HotKeysTab* m_hotKeys;
};
