#pragma once

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QWidget>
#include <functional>
#include <optional>

class AccountStore;
class AppLockMac;
class AppSettings;
class BackupSectionMac;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class SecurityLog;
class UserDefaults;

// The settings window's General tab: start at login, the menu-bar options,
// where the accounts are kept, the lock and clipboard clearing, the order of
// the account list with the screens that organize and check the vault, and
// backups. Every control writes through at once to the model it shows; the
// tab keeps nothing of its own but the login-item state it mirrors, read
// again every 1.5 s while the tab is on screen (nothing tells when the
// desktop changes it).
class GeneralTab : public QWidget {
    Q_OBJECT

public:
    static constexpr int loginItemPollMs = 1500;

    GeneralTab(AccountStore& store, AppSettings& settings, AppLockMac& lock,
               UserDefaults& defaults, SecurityLog& log, QWidget* parent = nullptr);

    // The screens the Organize section opens over the window, one at a time.
    enum class Sheet { folders, recentlyDeleted, checkup, timeline };
    void showSheet(Sheet sheet);
    // The open one, if any.
    QDialog* sheet() const { return m_sheet; }
    BackupSectionMac* backup() const { return m_backup; }

    bool launchAtLogin() const { return m_launchAtLogin; }
    bool requiresApproval() const { return m_requiresApproval; }
    std::optional<QString> statusMessage() const { return m_statusMessage; }
    bool isPollingLoginItem() const { return m_poll.isActive(); }

    // The launch switch's setter: asks for the change, keeps a failure's text
    // and shows the real state afterwards.
    void launchAtLoginChanged(bool on);
    void refreshLoginItemState();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildStartup();
    QWidget* buildMenuBar();
    QWidget* buildKeyring();
    QWidget* buildSecurity();
    QWidget* buildOrganize();
    void refreshOrganize();
    void refreshSortPicker();
    void refreshStatusArea();
    void refreshAccounts();
    void refreshMenuBarAccount();
    void refreshLockAvailability();
    void refreshClockDrift();
    void clockDriftChanged(bool on);
    // Runs `proceed` now, or while the app is locked after the password;
    // `refused` runs instead after a refusal.
    void whenOpen(std::function<void()> proceed, std::function<void()> refused);

    AccountStore& m_store;
    AppSettings& m_settings;
    AppLockMac& m_lock;
    UserDefaults& m_defaults;
    SecurityLog& m_log;

    bool m_launchAtLogin = false;
    bool m_requiresApproval = false;
    std::optional<QString> m_statusMessage;
    QTimer m_poll;

    QCheckBox* m_launch = nullptr;
    QWidget* m_approvalPanel = nullptr;
    QLabel* m_approvalHelp = nullptr;
    QWidget* m_errorRow = nullptr;
    QLabel* m_errorText = nullptr;
    QCheckBox* m_showCode = nullptr;
    QCheckBox* m_menuBarOnly = nullptr;
    QCheckBox* m_clockDrift = nullptr;
    // Why the clock switch is not offered, or why a change was not saved.
    QLabel* m_clockDriftNote = nullptr;
    QWidget* m_accountRow = nullptr;
    QComboBox* m_accountPicker = nullptr;
    QWidget* m_shownAccounts = nullptr;
    QVBoxLayout* m_shownList = nullptr;
    QHash<QUuid, QCheckBox*> m_shownChecks;
    QCheckBox* m_lockSwitch = nullptr;
    QLabel* m_lockCaption = nullptr;
    // Why switching the lock on did not take.
    QLabel* m_lockRefusal = nullptr;
    QComboBox* m_clearAfter = nullptr;
    QComboBox* m_sortPicker = nullptr;
    QLabel* m_folderCount = nullptr;
    QLabel* m_recoverableCount = nullptr;
    QLabel* m_score = nullptr;
    QPointer<QDialog> m_sheet;
    BackupSectionMac* m_backup = nullptr;
};
