#pragma once

#include "platform/desktop/GlobalHotKey.h"
#include "system/AppSettings.h"

#include <QHash>
#include <QTimer>
#include <QUuid>
#include <QWidget>
#include <optional>

class AccountStore;
class HotKeyRecorder;
class QCheckBox;
class QComboBox;
class QLabel;
class QHBoxLayout;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class StatusHosts;

// Runs a change when it may be made: while the app is locked, after the
// user has given the password; `refused` runs instead after a refusal.
using SettingsGate = std::function<void(QWidget* over, std::function<void()> proceed,
                                        std::function<void()> refused)>;

// One binding of the Hotkeys tab: enable switch, account picker, recorder,
// auto-paste switch and remove button. Every change writes the whole binding
// list through AppSettings at once.
class BindingRow : public QWidget {
    Q_OBJECT

public:
    BindingRow(AccountStore& store, AppSettings& settings, const QUuid& bindingID,
               SettingsGate gate = {}, QWidget* parent = nullptr);

    QUuid bindingID() const { return m_id; }
    HotKeyRecorder* recorder() const { return m_recorder; }
    // Why the binding is not registered; empty when nothing stands in its way.
    QString refusal() const;
    // What the recorder says while it listens (a combination refused).
    QString recorderNotice() const;
    // The binding's current values (and the accounts' labels) on screen.
    void refresh(const HotKeyBinding& binding, bool accessibilityGranted);
    // What the desktop made of the binding, where the desktop decides
    // (Wayland): the keys it chose, or why the binding is not active.
    void showDesktopState(const QString& text);
    QString desktopStateText() const;
    void refreshAccounts();
    // The row's place in the list, from 1, which names its controls.
    void setNumber(int number);

    // As narrow as its controls on two lines: where one line has no room
    // (a large font), the recorder, Auto-paste and Remove go under the rest.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The width the controls of `widgets` take side by side, at the least.
    int lineWidth(const QList<QWidget*>& widgets) const;
    void update(const std::function<void(HotKeyBinding&)>& change);
    void apply(const std::function<void(HotKeyBinding&)>& change);
    // Shows the stored binding again (a change that was refused).
    void revert();
    void autoPasteChanged(bool on);
    // Why a combination pressed in the recorder may not be this binding's:
    // quick search or another binding has it. Empty when it is free.
    QString takenBy(quint32 keyCode, quint32 modifiers) const;

    AccountStore& m_store;
    AppSettings& m_settings;
    const QUuid m_id;
    QHBoxLayout* m_line = nullptr;
    QHBoxLayout* m_secondLine = nullptr;
    bool m_twoLines = false;
    SettingsGate m_gate;
    bool m_accessibilityGranted = true;
    QCheckBox* m_enabled;
    QLabel* m_accountLabel;
    QComboBox* m_account;
    HotKeyRecorder* m_recorder;
    QCheckBox* m_autoPaste;
    QToolButton* m_remove;
    QLabel* m_desktopState;
    QLabel* m_refusal;
    QLabel* m_recorderNotice;
};

// The settings window's Hotkeys tab: the quick-search switch, the binding
// rows with "Add hotkey", and a warning when auto-paste is asked for but
// synthetic keystrokes are not possible (no XTEST), polled every 1.5 s while
// the tab is on screen.
class HotKeysTab : public QWidget {
    Q_OBJECT

public:
    static constexpr int permissionPollMs = 1500;

    // Every change of a binding, which may give out a code, goes through
    // `gate` (the app lock's question while locked).
    HotKeysTab(AccountStore& store, AppSettings& settings, bool accessibilityGranted,
               SettingsGate gate = {}, QWidget* parent = nullptr);

    bool needsAccessibilityWarning() const;
    // "n active of m".
    QString activeSummary() const;
    void refreshAccessibility();
    bool isPollingPermission() const { return m_poll.isActive(); }
    QList<BindingRow*> rows() const;
    // Whether the notice that the desktop offers no global hotkeys shows.
    bool showsNoShortcutsNotice() const;
    // The line under the quick-search switch about the desktop's answer.
    QString quickSearchStateText() const;
    // The row's line about the desktop's answer, as refreshRows() writes it.
    static QString desktopStateText(const GlobalHotKey::DesktopState& state);

    // For tests: the permission check the poll makes.
    void setAccessibilityCheckForTesting(std::function<bool()> check) {
        m_check = std::move(check);
    }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refreshRows();
    // The line under a binding (quick search's without one) about the
    // desktop's answer: only for one switched on, where the desktop decides
    // and offers global hotkeys at all.
    QString desktopLine(bool enabled, const std::optional<QUuid>& binding) const;
    void refreshChrome();
    void openAccessibilityPrompt();

    AccountStore& m_store;
    AppSettings& m_settings;
    bool m_accessibilityGranted;
    std::function<bool()> m_check;
    SettingsGate m_gate;
    QTimer m_poll;
    // Where the icon can dock, for the quick-search help without hotkeys.
    StatusHosts* m_hosts = nullptr;
    bool m_trayShown = false;

    QCheckBox* m_quickSearch;
    QLabel* m_quickSearchState;
    QLabel* m_quickSearchHelp;
    QWidget* m_warning;
    QLabel* m_warningTitle;
    QLabel* m_warningText;
    QLabel* m_warningHelp;
    QWidget* m_warningOpen;
    QStackedWidget* m_body;
    QWidget* m_empty;
    QWidget* m_list;
    QVBoxLayout* m_rowsLayout;
    QHash<QUuid, BindingRow*> m_rows;
    QList<QWidget*> m_dividers;
    QLabel* m_summary;
};
