#include "system/HotKeyController.h"

#include "core/AccountStore.h"
#include "core/CorrectedClock.h"
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/SyntheticKeys.h"
#include "platform/desktop/WindowFocus.h"
#include "platform/system/Sound.h"
#include "system/AppLockMac.h"
#include "system/Clipboard.h"
#include "system/CopyHUD.h"
#include "system/HotKey.h"
#include "system/QuickLauncher.h"
#include "system/SystemActions.h"

#include <QPointer>
#include <QSet>
#include <algorithm>
#include <utility>

namespace {

HotKeyController* currentController = nullptr;

} // namespace

HotKeyController* HotKeyController::current() { return currentController; }

QString HotKeyController::needsPermissionTitle() {
    return Accessibility::userGrants() ? QStringLiteral("Copied (needs remote control permission)")
                                      : QStringLiteral("Copied (needs Accessibility)");
}

QString HotKeyController::heldKeysHint() {
    return tr("The hotkey's keys were still held, so nothing was typed");
}

HotKeyController::HotKeyController(AccountStore& store, AppSettings& settings,
                                   UserDefaults& defaults, QObject* parent)
    : QObject(parent), m_store(store), m_settings(settings), m_defaults(defaults),
      m_lastBindings(settings.bindings()),
      m_lastLauncherEnabled(settings.quickLauncherEnabled()) {
    currentController = this;
    connect(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::desktopAnswered, this,
            &HotKeyController::desktopAnswered);
    QuickLauncher::shared().setStore(&m_store, &m_defaults);
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(debounceMs);
    connect(&m_debounce, &QTimer::timeout, this, [this] { registerAll(m_settings.bindings()); });
    connect(&m_settings, &AppSettings::bindingsChanged, this, &HotKeyController::bindingsChanged);
    connect(&m_store, &AccountStore::listsChanged, this, &HotKeyController::labelsChanged);
    // The switch takes effect at once, and only when it really changed.
    connect(&m_settings, &AppSettings::quickLauncherEnabledChanged, this, [this] {
        if (m_settings.quickLauncherEnabled() == m_lastLauncherEnabled) return;
        m_lastLauncherEnabled = m_settings.quickLauncherEnabled();
        setLauncherEnabled(m_lastLauncherEnabled);
    });
    setLauncherEnabled(m_lastLauncherEnabled);
    // The first pass waits for the event loop, so that whoever creates the
    // controller at start-up finishes setting up before keys are grabbed.
    QTimer::singleShot(0, this, [this] { registerAll(m_settings.bindings()); });
}

HotKeyController::~HotKeyController() {
    if (currentController == this) currentController = nullptr;
}

void HotKeyController::bindingsChanged() {
    // Every assignment announces itself, also an unchanged list; re-grabbing
    // the same keys would only open a moment in which presses are lost.
    if (m_settings.bindings() == m_lastBindings) return;
    m_lastBindings = m_settings.bindings();
    m_debounce.start();
}

QList<QUuid> HotKeyController::registeredBindings() const {
    QList<QUuid> ids;
    for (const auto& entry : m_hotKeys)
        if (entry.second->isActive()) ids << entry.first;
    return ids;
}

GlobalHotKey::DesktopState HotKeyController::bindingState(const QUuid& bindingID) const {
    const auto it = m_hotKeys.find(bindingID);
    if (it == m_hotKeys.end()) return {GlobalHotKey::DesktopState::Kind::inactive, {}, {}};
    return GlobalHotKey::desktopState(it->second->id());
}

void HotKeyController::desktopAnswered() {
    QStringList failed;
    for (const HotKeyBinding& binding : m_settings.bindings()) {
        const auto it = m_hotKeys.find(binding.id);
        const QString label = bindingLabel(binding);
        if (m_registrationFailures.contains(binding.id) && !failed.contains(label))
            failed << label;
        else if (it != m_hotKeys.end() && !it->second->isActive())
            failed << label;
    }
    m_failedBindings = failed;
    emit bindingsRegistered();
}

void HotKeyController::registerAll(const QList<HotKeyBinding>& bindings) {
    // Old grabs go first: a binding may have moved to a combination that
    // another binding held until now.
    m_hotKeys.clear();
    m_failedBindings.clear();
    m_registrationFailures.clear();
    m_labels.clear();
    m_unloggedFailures.clear();
    QSet<quint64> taken;
    const quint64 reserved = combination(reservedKeyCode, reservedModifiers);

    for (const HotKeyBinding& binding : bindings) {
        if (!binding.enabled || !binding.accountID || binding.keyCode == 0) continue;
        // The Hotkeys tab says why on the binding's row.
        if (!HotKey::refusal(binding.keyCode, binding.modifiers).isEmpty()) continue;
        const quint64 combo = combination(binding.keyCode, binding.modifiers);
        if (taken.contains(combo)) continue;
        if (combo == reserved) {
            m_failedBindings << bindingLabel(binding);
            m_registrationFailures << binding.id;
            m_labels.insert(binding.id, bindingLabel(binding));
            logFailure(binding, true);
            continue;
        }
        // The press may arrive after this controller is gone, or after the
        // binding was edited: hold the controller weakly and look the
        // binding up again by id when it fires.
        QPointer<HotKeyController> self(this);
        const QUuid id = binding.id;
        auto hotKey = std::make_unique<HotKey>(binding.keyCode, binding.modifiers, [self, id] {
            if (self) self->fire(id);
        });
        const QString label = bindingLabel(binding);
        hotKey->setDescription(label);
        if (hotKey->registerHotKey()) {
            m_hotKeys[id] = std::move(hotKey);
            m_labels.insert(id, label);
            taken.insert(combo);
        } else {
            // Not added to `taken`: a later binding with the same
            // combination is tried, and reported, on its own.
            m_failedBindings << label;
            m_registrationFailures << binding.id;
            m_labels.insert(id, label);
            logFailure(binding, false);
        }
    }
    emit bindingsRegistered();
}

void HotKeyController::logFailure(const HotKeyBinding& binding, bool reserved) {
    // Before the first read of the vault every label would be the bare id.
    if (m_store.vaultState() == AccountStore::VaultState::opening) {
        m_unloggedFailures.append({binding, reserved});
        return;
    }
    const QString label = bindingLabel(binding);
    if (reserved)
        qWarning().noquote() << QStringLiteral("HotKeyController: binding for '%1' uses the "
                                               "reserved quick-launcher combo, skipping")
                                    .arg(label);
    else
        qWarning().noquote() << QStringLiteral(
                                    "HotKeyController: failed to register hotkey for '%1' "
                                    "(combo may be taken by another app)")
                                    .arg(label);
}

void HotKeyController::labelsChanged() {
    if (m_store.vaultState() != AccountStore::VaultState::opening)
        for (const auto& [binding, reserved] : std::exchange(m_unloggedFailures, {}))
            logFailure(binding, reserved);
    bool renamed = false;
    for (const HotKeyBinding& binding : m_settings.bindings()) {
        const auto known = m_labels.find(binding.id);
        if (known == m_labels.end()) continue;
        const QString label = bindingLabel(binding);
        if (*known == label) continue;
        *known = label;
        renamed = true;
        const auto it = m_hotKeys.find(binding.id);
        if (it == m_hotKeys.end()) continue;
        it->second->setDescription(label);
        // The desktop's shortcut settings show the words; an X11 grab has
        // none, and grabbing again would only lose presses for a moment.
        if (GlobalHotKey::desktopDecides()) it->second->registerHotKey();
    }
    // The failures' labels are read anew.
    if (renamed) desktopAnswered();
}

bool HotKeyController::launcherRegistered() const {
    return m_launcherHotKey && m_launcherHotKey->isActive();
}

GlobalHotKey::DesktopState HotKeyController::launcherState() const {
    if (!m_launcherHotKey) return {GlobalHotKey::DesktopState::Kind::inactive, {}, {}};
    return GlobalHotKey::desktopState(m_launcherHotKey->id());
}

void HotKeyController::setLauncherEnabled(bool on) {
    m_launcherHotKey.reset();
    if (!on) return;
    // The press toggles the one panel, whoever owns the combination then.
    auto hotKey = std::make_unique<HotKey>(reservedKeyCode, reservedModifiers,
                                           [] { QuickLauncher::shared().toggle(); });
    hotKey->setDescription(tr("Quick search"));
    if (hotKey->registerHotKey()) m_launcherHotKey = std::move(hotKey);
}

QString HotKeyController::bindingLabel(const HotKeyBinding& binding) const {
    if (binding.accountID) {
        const QList<Account>& accounts = m_store.accounts();
        const auto it = std::find_if(accounts.begin(), accounts.end(),
                                     [&](const Account& a) { return a.id == *binding.accountID; });
        if (it != accounts.end()) return it->displayLabel();
    }
    return binding.id.toString(QUuid::WithoutBraces).toUpper();
}

void HotKeyController::setAppLock(AppLockMac* lock) { m_lock = lock; }

void HotKeyController::fire(const QUuid& bindingID) {
    if (!m_lock || !m_lock->isEnabled() || !m_lock->isLocked()) {
        deliver(bindingID, std::nullopt);
        return;
    }
    // Locked: nothing leaves before the user has proved to be the user. More
    // presses while the question is open change only which binding is
    // delivered; one question, one delivery.
    const bool asking = m_waiting.has_value();
    const std::optional<quint32> front = asking ? m_waiting->front : WindowFocus::activeWindow();
    m_waiting = Waiting{bindingID, front};
    if (asking) return;
    QPointer<HotKeyController> self(this);
    m_lock->whenOpen(
        nullptr,
        [self] {
            if (!self || !self->m_waiting) return;
            const Waiting waiting = *std::exchange(self->m_waiting, std::nullopt);
            self->deliver(waiting.bindingID, waiting.front);
        },
        [self] {
            if (self) self->m_waiting.reset();
        });
}

void HotKeyController::deliver(const QUuid& bindingID, std::optional<quint32> front) {
    const QList<HotKeyBinding>& bindings = m_settings.bindings();
    const auto binding = std::find_if(bindings.begin(), bindings.end(),
                                      [&](const HotKeyBinding& b) { return b.id == bindingID; });
    if (binding == bindings.end() || !binding->accountID) return;
    const bool autoPaste = binding->autoPaste;
    const QList<Account>& accounts = m_store.accounts();
    const auto found = std::find_if(accounts.begin(), accounts.end(),
                                    [&](const Account& a) { return a.id == *binding->accountID; });
    if (found == accounts.end()) return;
    // A copy: the store's operations below replace the list element.
    const Account account = *found;
    if (account.type == OTPType::hotp) {
        // The code of the counter the store actually takes, which AutoFill
        // may have moved on; nothing goes out when its advance is not stored.
        m_store.advanceCounter(account,
                               [self = QPointer(this), autoPaste, front](const auto& used) {
                                   if (self && used) self->handOut(*used, autoPaste, front);
                               });
        return;
    }
    handOut(account, autoPaste, front);
}

void HotKeyController::handOut(const Account& account, bool autoPaste,
                               std::optional<quint32> front) {
    const QString code = account.code(CorrectedClock::now());
    Clipboard::copyCodeToClipboard(code, m_defaults);
    m_store.markUsed(account);

    const QString label = account.displayLabel();
    if (!autoPaste) {
        CopyHUD::shared().show(QStringLiteral("Code copied"), label, hudDurationMs);
    } else if (Accessibility::isTrusted() && front && !WindowFocus::exists(*front)) {
        // The window the user pressed the keys in went away while the
        // password was asked: nowhere to paste.
        CopyHUD::shared().show(QStringLiteral("Code copied"), label, hudDurationMs);
    } else if (Accessibility::isTrusted()) {
        // Typed from a later turn of the event loop, once the clipboard
        // change is out. The confirmation waits for the keys: it says
        // "pasted" only when they went out.
        if (front) WindowFocus::activate(*front);
        QTimer::singleShot(pasteDelayMs, this, [this, front, code, label] {
            pasteInto(front, code, label, pasteTries);
        });
    } else {
        CopyHUD::shared().show(needsPermissionTitle(), label, hudDurationMs);
        // Offers the user to grant the access; the code stays on the clipboard.
        Accessibility::isTrustedWithPrompt();
    }
    Sound::play(QStringLiteral("Tink"));
}

void HotKeyController::pasteInto(std::optional<quint32> front, const QString& code,
                                 const QString& label, int triesLeft) {
    // After the password dialog the keyboard goes back to the window the
    // keys were pressed in; the code waits for it, and is left on the
    // clipboard rather than typed into another window.
    if (front && !WindowFocus::hasInputFocus(*front)) {
        if (triesLeft > 0)
            QTimer::singleShot(pasteDelayMs, this, [this, front, code, label, triesLeft] {
                pasteInto(front, code, label, triesLeft - 1);
            });
        else
            CopyHUD::shared().show(QStringLiteral("Code copied"), label, hudDurationMs);
        return;
    }
    // The code is typed, not pasted with Control+V: terminals and other
    // programs that do not paste on that key would take it as a control
    // character. Where the desktop refuses the keys (Wayland: the user
    // said no to remote control), the code stays copied and the HUD says so.
    SystemActions::typeText(code, [label](bool sent) {
        if (!sent && SyntheticKeys::withheld() == SyntheticKeys::Withheld::keysHeld)
            CopyHUD::shared().show(QStringLiteral("Code copied"), heldKeysHint(), hudDurationMs);
        else
            CopyHUD::shared().show(sent ? QStringLiteral("Code pasted") : needsPermissionTitle(),
                                   label, hudDurationMs);
    });
}
