#include "menubar/HotKeysTab.h"

#include "core/AccountStore.h"
#include "core/Text.h"
#include "menubar/SettingsParts.h"
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/StatusItem.h"
#include "platform/look/Picker.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "system/HotKey.h"
#include "system/HotKeyController.h"
#include "system/HotKeyRecorder.h"
#include "system/SystemActions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetItem>

using namespace SettingsParts;

namespace {

QString autoPasteTip(bool on, bool granted) {
    if (!on || granted)
        return BindingRow::tr("Auto-paste: insert the code at the cursor in the focused app");
    if (Accessibility::userGrants())
        return BindingRow::tr("Auto-paste: insert the code at the cursor (needs remote control "
                              "permission — not granted)");
    return BindingRow::tr("Auto-paste: insert the code at the cursor (needs the XTEST extension "
                          "— not available)");
}

QWidget* line() {
    auto* rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    return rule;
}

} // namespace

// MARK: - BindingRow

BindingRow::BindingRow(AccountStore& store, AppSettings& settings, const QUuid& bindingID,
                       SettingsGate gate, QWidget* parent)
    : QWidget(parent), m_store(store), m_settings(settings), m_id(bindingID),
      m_gate(std::move(gate)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 10, 20, 10);
    column->setSpacing(4);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    column->addLayout(row);
    m_line = row;
    m_secondLine = new QHBoxLayout;
    m_secondLine->setContentsMargins(0, 0, 0, 0);
    m_secondLine->setSpacing(12);
    column->addLayout(m_secondLine);
    m_desktopState = caption(QString());
    m_desktopState->hide();
    column->addWidget(m_desktopState);

    // Both boxes say on screen what they switch; a screen reader hears the
    // row's number with it (setNumber).
    m_enabled = new QCheckBox(tr("Enabled"), this);
    m_enabled->setToolTip(tr("Enable this hotkey"));
    connect(m_enabled, &QCheckBox::toggled, this,
            [this](bool on) { update([on](HotKeyBinding& b) { b.enabled = on; }); });
    row->addWidget(m_enabled);

    m_account = new Picker(this);
    m_account->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_account->setMinimumContentsLength(12);
    m_account->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_account, &QComboBox::activated, this, [this](int index) {
        const QVariant id = m_account->itemData(index);
        update([&](HotKeyBinding& b) {
            b.accountID = id.isValid() ? std::optional<QUuid>(id.toUuid()) : std::nullopt;
        });
    });
    row->addWidget(m_account, 1);
    // Over AT-SPI a picker is read by its choice and named by the label
    // that points at it: the row has no room for one on screen.
    m_accountLabel = new QLabel(this);
    m_accountLabel->setBuddy(m_account);
    m_accountLabel->hide();

    m_recorder = new HotKeyRecorder(this);
    // Room for its longest prompt, also at a large font.
    m_recorder->setFixedSize(QSize(150, 24).expandedTo(m_recorder->promptSize()));
    // Two writes, key first, as two edits of the binding: the controller's
    // short wait registers only the final pair.
    connect(m_recorder, &HotKeyRecorder::committed, this, [this](quint32 keyCode, quint32 mask) {
        update([keyCode](HotKeyBinding& b) { b.keyCode = keyCode; });
        update([mask](HotKeyBinding& b) { b.modifiers = mask; });
    });
    m_recorder->setCheck([this](quint32 keyCode, quint32 mask) { return takenBy(keyCode, mask); });
    row->addWidget(m_recorder);

    m_autoPaste = new QCheckBox(tr("Auto-paste"), this);
    connect(m_autoPaste, &QCheckBox::toggled, this, [this](bool on) {
        update([on](HotKeyBinding& b) { b.autoPaste = on; });
        autoPasteChanged(on);
    });
    row->addWidget(m_autoPaste);

    m_remove = new QToolButton(this);
    m_remove->setIcon(Symbols::icon(QStringLiteral("trash")));
    m_remove->setAutoRaise(true);
    m_remove->setToolTip(tr("Remove hotkey"));
    connect(m_remove, &QToolButton::clicked, this, [this] { m_settings.removeBinding(m_id); });
    row->addWidget(m_remove);

    // Why a stored combination stays unregistered (bare key, unknown key).
    m_refusal = caption(QString());
    m_refusal->hide();
    column->addWidget(m_refusal);
    // While recording: a combination refused, keys the desktop keeps.
    m_recorderNotice = caption(QString());
    m_recorderNotice->hide();
    column->addWidget(m_recorderNotice);
    connect(m_recorder, &HotKeyRecorder::noticeChanged, this, [this](const QString& notice) {
        m_recorderNotice->setText(notice);
        m_recorderNotice->setVisible(!notice.isEmpty());
    });

    setNumber(1);
    refreshAccounts();
}

int BindingRow::lineWidth(const QList<QWidget*>& widgets) const {
    int width = 0;
    int shown = 0;
    for (QWidget* widget : widgets) {
        if (widget->isHidden()) continue;
        width += QWidgetItem(widget).minimumSize().width();
        ++shown;
    }
    return width + std::max(0, shown - 1) * m_line->spacing();
}

QSize BindingRow::minimumSizeHint() const {
    const QMargins margins = layout()->contentsMargins();
    const int width = std::max(lineWidth({m_enabled, m_account}),
                               lineWidth({m_recorder, m_autoPaste, m_remove}));
    return {width + margins.left() + margins.right(), QWidget::minimumSizeHint().height()};
}

void BindingRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QMargins margins = layout()->contentsMargins();
    const bool twoLines =
        width() < lineWidth({m_enabled, m_account, m_recorder, m_autoPaste, m_remove}) +
                      m_line->spacing() + margins.left() + margins.right();
    if (twoLines == m_twoLines) return;
    m_twoLines = twoLines;
    while (QLayoutItem* item = m_secondLine->takeAt(0))
        delete item; // the widgets stay; only their places go
    for (QWidget* widget : QList<QWidget*>{m_recorder, m_autoPaste, m_remove}) {
        m_line->removeWidget(widget);
        (twoLines ? m_secondLine : m_line)->addWidget(widget);
    }
    if (twoLines) m_secondLine->addStretch(1);
}

void BindingRow::setNumber(int number) {
    // Every row has the same controls: a screen reader tells them apart by
    // the row's number.
    m_enabled->setAccessibleName(tr("Enable hotkey %1").arg(number));
    m_account->setAccessibleName(tr("Account of hotkey %1").arg(number));
    m_accountLabel->setText(m_account->accessibleName());
    m_autoPaste->setAccessibleName(tr("Auto-paste for hotkey %1").arg(number));
    m_remove->setAccessibleName(tr("Remove hotkey %1").arg(number));
}

void BindingRow::showDesktopState(const QString& text) {
    m_desktopState->setText(text);
    m_desktopState->setVisible(!text.isEmpty());
}

QString BindingRow::desktopStateText() const { return m_desktopState->text(); }

void BindingRow::update(const std::function<void(HotKeyBinding&)>& change) {
    if (!m_gate) {
        apply(change);
        return;
    }
    const QPointer<BindingRow> self(this);
    m_gate(
        window(),
        [self, change] {
            if (self) self->apply(change);
        },
        [self] {
            if (self) self->revert();
        });
}

void BindingRow::revert() {
    for (const HotKeyBinding& binding : m_settings.bindings())
        if (binding.id == m_id) refresh(binding, m_accessibilityGranted);
}

void BindingRow::apply(const std::function<void(HotKeyBinding&)>& change) {
    QList<HotKeyBinding> bindings = m_settings.bindings();
    for (HotKeyBinding& binding : bindings)
        if (binding.id == m_id) {
            change(binding);
            m_settings.setBindings(bindings);
            return;
        }
}

QString BindingRow::refusal() const { return m_refusal->text(); }

QString BindingRow::recorderNotice() const { return m_recorderNotice->text(); }

QString BindingRow::takenBy(quint32 keyCode, quint32 modifiers) const {
    const QString keys = HotKey::comboString(keyCode, modifiers);
    if (keyCode == HotKeyController::reservedKeyCode &&
        modifiers == HotKeyController::reservedModifiers)
        return tr("%1 opens the quick search panel. Press other keys, or Esc to keep the "
                  "hotkey as it is.")
            .arg(keys);
    int number = 0;
    for (const HotKeyBinding& binding : m_settings.bindings()) {
        ++number;
        if (binding.id == m_id || binding.keyCode != keyCode || binding.modifiers != modifiers)
            continue;
        QString owner = tr("hotkey %1").arg(number);
        if (binding.accountID)
            for (const Account& account : m_store.accounts())
                if (account.id == *binding.accountID) {
                    owner = Text::oneLine(account.displayLabel());
                    break;
                }
        return tr("%1 is already the hotkey of %2. Press other keys, or Esc to keep the hotkey "
                  "as it is.")
            .arg(keys, owner);
    }
    return {};
}

void BindingRow::autoPasteChanged(bool on) {
    // Asks for the access where a platform has a prompt; on X11 it only
    // checks again.
    if (on && !m_accessibilityGranted) Accessibility::isTrustedWithPrompt();
}

void BindingRow::refreshAccounts() {
    const QSignalBlocker quiet(m_account);
    m_account->clear();
    m_account->addItem(tr("— pick an account —"));
    for (const Account& account : m_store.accounts())
        m_account->addItem(Text::oneLine(account.displayLabel()), account.id);
    for (const HotKeyBinding& binding : m_settings.bindings())
        if (binding.id == m_id)
            m_account->setCurrentIndex(binding.accountID ? m_account->findData(*binding.accountID)
                                                         : 0);
}

void BindingRow::refresh(const HotKeyBinding& binding, bool accessibilityGranted) {
    m_accessibilityGranted = accessibilityGranted;
    {
        const QSignalBlocker quiet(m_enabled);
        m_enabled->setChecked(binding.enabled);
    }
    {
        const QSignalBlocker quiet(m_account);
        // An account that is gone (or in Recently Deleted) matches no entry.
        m_account->setCurrentIndex(binding.accountID ? m_account->findData(*binding.accountID) : 0);
    }
    m_recorder->setCombination(binding.keyCode, binding.modifiers);
    const QString refusal = HotKey::refusal(binding.keyCode, binding.modifiers);
    m_refusal->setText(refusal);
    m_refusal->setVisible(!refusal.isEmpty());
    m_recorder->setAccessibleDescription(refusal);
    {
        const QSignalBlocker quiet(m_autoPaste);
        m_autoPaste->setChecked(binding.autoPaste);
    }
    m_autoPaste->setToolTip(autoPasteTip(binding.autoPaste, accessibilityGranted));
}

// MARK: - HotKeysTab

HotKeysTab::HotKeysTab(AccountStore& store, AppSettings& settings, bool accessibilityGranted,
                       SettingsGate gate, QWidget* parent)
    : QWidget(parent), m_store(store), m_settings(settings),
      m_accessibilityGranted(accessibilityGranted), m_check(&Accessibility::isTrusted),
      m_gate(std::move(gate)) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    // Everything above the footer is one scrolling column, the rows with
    // the texts: at a large font the description keeps all its lines, and
    // the list scrolls with it rather than squeezing it.
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto* page = new QWidget;
    page->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget;
    auto* headerColumn = new QVBoxLayout(header);
    headerColumn->setContentsMargins(20, 20, 20, 12);
    headerColumn->setSpacing(6);
    headerColumn->addWidget(heading(tr("Global hotkeys")));
    QLabel* about = Style::label(
        tr("Each row links a key combination to one of your accounts. Press the combination "
           "anywhere on your desktop — even when this app is in the background — and the current "
           "code is copied to the clipboard. Toggle Auto-paste to also insert the code at the "
           "cursor in the focused app."),
        Style::TextStyle::callout, Style::SemanticColor::secondary);
    about->setWordWrap(true);
    headerColumn->addWidget(about);
    column->addWidget(header);

    const QString launcher =
        HotKey::comboString(HotKeyController::reservedKeyCode, HotKeyController::reservedModifiers);
    auto* quick = new QWidget;
    auto* quickColumn = new QVBoxLayout(quick);
    quickColumn->setContentsMargins(20, 0, 20, 12);
    quickColumn->setSpacing(4);
    m_quickSearch = toggle(tr("Quick search panel (%1)").arg(launcher));
    m_quickSearch->setChecked(m_settings.quickLauncherEnabled());
    connect(m_quickSearch, &QCheckBox::toggled, &m_settings, &AppSettings::setQuickLauncherEnabled);
    connect(&m_settings, &AppSettings::quickLauncherEnabledChanged, this, [this] {
        const QSignalBlocker quiet(m_quickSearch);
        m_quickSearch->setChecked(m_settings.quickLauncherEnabled());
        refreshChrome();
    });
    quickColumn->addWidget(m_quickSearch);
    m_quickSearchState = caption(QString());
    m_quickSearchState->hide();
    quickColumn->addWidget(m_quickSearchState);
    m_quickSearchHelp = caption(QString());
    quickColumn->addWidget(m_quickSearchHelp);
    column->addWidget(quick);

    // Auto-paste asked for where keystrokes cannot be sent.
    m_warning = new QWidget;
    m_warning->setObjectName(QStringLiteral("accessibilityWarning"));
    m_warning->setAttribute(Qt::WA_StyledBackground);
    QColor orange = Style::color(Style::SemanticColor::orange);
    orange.setAlphaF(0.1);
    m_warning->setStyleSheet(QStringLiteral("#accessibilityWarning { background: %1; }")
                                 .arg(orange.name(QColor::HexArgb)));
    auto* strip = new QHBoxLayout(m_warning);
    strip->setContentsMargins(20, 10, 20, 10);
    strip->setSpacing(10);
    auto* symbol = new QLabel;
    symbol->setPixmap(Symbols::pixmap(QStringLiteral("exclamationmark.triangle.fill"), 18,
                                      Style::color(Style::SemanticColor::orange),
                                      symbol->devicePixelRatioF()));
    strip->addWidget(symbol, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_warningTitle =
        Style::label(QString(), Style::TextStyle::callout, std::nullopt, QFont::DemiBold);
    m_warningTitle->setWordWrap(true);
    m_warningTitle->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(m_warningTitle);
    m_warningText = caption(QString());
    m_warningText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(m_warningText);
    m_warningHelp = caption(QString());
    m_warningHelp->hide();
    texts->addWidget(m_warningHelp);
    strip->addLayout(texts, 1);
    strip->addSpacing(8);
    auto* open = new QPushButton(tr("Open Settings"));
    connect(open, &QPushButton::clicked, this, &HotKeysTab::openAccessibilityPrompt);
    strip->addWidget(open, 0, Qt::AlignVCenter);
    m_warningOpen = open;
    column->addWidget(m_warning);
    column->addWidget(line());

    m_body = new QStackedWidget;
    m_list = new QWidget;
    m_rowsLayout = new QVBoxLayout(m_list);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(0);
    m_rowsLayout->addStretch(1);
    m_list->setAutoFillBackground(false);
    m_body->addWidget(m_list);

    m_empty = new QWidget;
    auto* empty = new QVBoxLayout(m_empty);
    empty->setContentsMargins(0, 40, 0, 40);
    empty->setSpacing(12);
    empty->addStretch(1);
    auto* emptySymbol = new QLabel;
    emptySymbol->setPixmap(Symbols::pixmap(QStringLiteral("keyboard"), 40,
                                           Style::color(Style::SemanticColor::secondary),
                                           emptySymbol->devicePixelRatioF()));
    emptySymbol->setAlignment(Qt::AlignCenter);
    empty->addWidget(emptySymbol);
    QLabel* none = Style::label(tr("No hotkeys yet"), Style::TextStyle::headline);
    none->setAlignment(Qt::AlignCenter);
    empty->addWidget(none);
    QLabel* hint =
        Style::label(tr("Click Add hotkey to map a key combination to one of your accounts."),
                     Style::TextStyle::callout, Style::SemanticColor::secondary);
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    hint->setContentsMargins(60, 0, 60, 0);
    empty->addWidget(hint);
    empty->addStretch(1);
    m_body->addWidget(m_empty);
    column->addWidget(m_body, 1);
    scroll->setWidget(page);
    outer->addWidget(scroll, 1);

    auto* footer = new QWidget;
    auto* footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(20, 12, 20, 12);
    auto* add = new QPushButton(Symbols::icon(QStringLiteral("plus")), tr("Add hotkey"));
    connect(add, &QPushButton::clicked, this, [this] {
        if (!m_gate) {
            m_settings.addBinding();
            return;
        }
        m_gate(window(), [this] { m_settings.addBinding(); }, {});
    });
    footerRow->addWidget(add);
    footerRow->addStretch(1);
    m_summary = Style::label(QString(), Style::TextStyle::caption, Style::SemanticColor::secondary);
    footerRow->addWidget(m_summary);
    outer->addWidget(footer);

    m_poll.setInterval(permissionPollMs);
    connect(&m_poll, &QTimer::timeout, this, &HotKeysTab::refreshAccessibility);
    // Without hotkeys, quick search's help points to the tray while one is
    // there: a watcher is heard as it comes and goes; an XEmbed tray, which
    // says nothing, is looked for at each turn of the poll.
    m_hosts = new StatusHosts(this);
    connect(m_hosts, &StatusHosts::changed, this, &HotKeysTab::refreshChrome);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (m_hosts->available() != m_trayShown) refreshChrome();
    });
    connect(&m_settings, &AppSettings::bindingsChanged, this, &HotKeysTab::refreshRows);
    // The desktop's answers come after the registration (Wayland).
    if (HotKeyController* controller = HotKeyController::current())
        connect(controller, &HotKeyController::bindingsRegistered, this, &HotKeysTab::refreshRows);
    connect(&m_store, &AccountStore::accountsChanged, this, [this] {
        for (BindingRow* row : std::as_const(m_rows))
            row->refreshAccounts();
        refreshChrome();
    });
    refreshRows();
}

bool HotKeysTab::needsAccessibilityWarning() const {
    if (m_accessibilityGranted) return false;
    for (const HotKeyBinding& binding : m_settings.bindings())
        if (binding.enabled && binding.autoPaste) return true;
    return false;
}

bool HotKeysTab::showsNoShortcutsNotice() const { return GlobalHotKey::lacksShortcuts(); }

QString HotKeysTab::desktopStateText(const GlobalHotKey::DesktopState& state) {
    using Kind = GlobalHotKey::DesktopState::Kind;
    if (state.kind == Kind::active && !state.trigger.isEmpty())
        return tr("The desktop runs it with %1").arg(state.trigger);
    if (state.kind == Kind::inactive && !state.reason.isEmpty())
        return tr("Not active: %1").arg(state.reason);
    // Not counted as active either: the desktop may have given it no keys.
    if (state.kind == Kind::unconfirmed)
        return tr("Not confirmed: the desktop answered %1. %2").arg(state.trigger, state.reason);
    return {};
}

QString HotKeysTab::desktopLine(bool enabled, const std::optional<QUuid>& binding) const {
    const HotKeyController* controller = HotKeyController::current();
    if (!controller || !enabled || !GlobalHotKey::desktopDecides() || showsNoShortcutsNotice())
        return {};
    return desktopStateText(binding ? controller->bindingState(*binding)
                                    : controller->launcherState());
}

QString HotKeysTab::activeSummary() const {
    const QList<HotKeyBinding>& bindings = m_settings.bindings();
    const HotKeyController* controller = HotKeyController::current();
    const bool desktopDecides = controller && GlobalHotKey::desktopDecides();
    int active = 0;
    for (const HotKeyBinding& binding : bindings) {
        if (!binding.enabled || !binding.accountID || binding.keyCode == 0) continue;
        // Where the desktop decides, only a binding it holds keys for.
        if (desktopDecides &&
            controller->bindingState(binding.id).kind != GlobalHotKey::DesktopState::Kind::active)
            continue;
        for (const Account& account : m_store.accounts())
            if (account.id == *binding.accountID) {
                ++active;
                break;
            }
    }
    return tr("%1 active of %2").arg(active).arg(bindings.size());
}

QList<BindingRow*> HotKeysTab::rows() const {
    QList<BindingRow*> ordered;
    for (int i = 0; i < m_rowsLayout->count(); ++i)
        if (auto* row = qobject_cast<BindingRow*>(m_rowsLayout->itemAt(i)->widget()))
            ordered << row;
    return ordered;
}

void HotKeysTab::refreshRows() {
    // Rows are kept by binding: the recorder that just wrote a combination
    // must not be replaced while it is still delivering it.
    const QList<HotKeyBinding>& bindings = m_settings.bindings();
    QHash<QUuid, BindingRow*> kept;
    qDeleteAll(m_dividers);
    m_dividers.clear();
    int position = 0;
    for (const HotKeyBinding& binding : bindings) {
        if (kept.contains(binding.id)) continue; // a duplicated id shows once
        BindingRow* row = m_rows.take(binding.id);
        if (!row) row = new BindingRow(m_store, m_settings, binding.id, m_gate);
        row->refresh(binding, m_accessibilityGranted);
        row->setNumber(int(kept.size()) + 1);
        // The desktop's answer where it decides; a desktop without global
        // hotkeys is said once, above the list, not in every row.
        const bool enabled = binding.enabled && binding.accountID && binding.keyCode != 0;
        row->showDesktopState(desktopLine(enabled, binding.id));
        m_rowsLayout->insertWidget(position++, row);
        QWidget* divider = line();
        m_dividers << divider;
        m_rowsLayout->insertWidget(position++, divider);
        kept.insert(binding.id, row);
    }
    for (BindingRow* gone : std::as_const(m_rows)) {
        gone->hide();
        gone->deleteLater();
    }
    m_rows = kept;
    refreshChrome();
}

QString HotKeysTab::quickSearchStateText() const { return m_quickSearchState->text(); }

void HotKeysTab::refreshChrome() {
    const bool noShortcuts = showsNoShortcutsNotice();
    const QString launcher =
        HotKey::comboString(HotKeyController::reservedKeyCode, HotKeyController::reservedModifiers);
    // Where the desktop decides, what it made of quick search's combination.
    const QString launcherState = desktopLine(m_settings.quickLauncherEnabled(), std::nullopt);
    m_quickSearchState->setText(launcherState);
    m_quickSearchState->setVisible(!launcherState.isEmpty());
    // The switch still keeps its value: the same settings may go with the
    // user to a desktop that has global hotkeys.
    m_trayShown = m_hosts->available();
    const QString search = m_trayShown
                               ? tr("To find an account's code, type in the search field of the "
                                    "tray panel.")
                               : tr("To find an account's code, type in the search field of "
                                    "Quillet's main window.");
    m_quickSearchHelp->setText(
        noShortcuts
            ? tr("This desktop offers no global hotkeys, so %1 does not open quick search here.")
                      .arg(launcher) +
                  QLatin1Char(' ') + search
            : tr("Press %1 anywhere to open a search box, type a few letters, and hit Enter to "
                 "type that account's code (or copy it where it cannot be typed).")
                  .arg(launcher));
    const bool any = !m_settings.bindings().isEmpty();
    m_body->setCurrentWidget(any ? static_cast<QWidget*>(m_list) : m_empty);
    m_summary->setVisible(any);
    m_summary->setText(any ? activeSummary() : QString());
    // One notice in one place: a desktop without global hotkeys matters
    // more than auto-paste.
    if (noShortcuts) {
        m_warningTitle->setText(tr("This desktop offers no global hotkeys to programs"));
        m_warningText->setText(
            tr("Its portal has no global shortcuts (GNOME before 48, wlroots desktops), so the "
               "combinations below and %1 do nothing. To copy a code with a key, bind a custom "
               "shortcut in your desktop's keyboard settings to the command\n%2\nwith the "
               "identifier that com.tarnwick.Quillet.Codes.Suggested lists for the account.")
                .arg(launcher, QStringLiteral("gdbus call --session --dest com.tarnwick.Quillet "
                                              "--object-path /Quillet --method "
                                              "com.tarnwick.Quillet.Codes.GetCode IDENTIFIER")));
    } else if (Accessibility::userGrants()) {
        m_warningTitle->setText(tr("Auto-paste needs remote control permission"));
        m_warningText->setText(
            tr("Quillet pastes through the desktop's remote control portal, which this desktop "
               "does not offer or did not allow. Codes are still copied to the clipboard."));
    } else {
        m_warningTitle->setText(tr("Auto-paste needs the XTEST extension"));
        m_warningText->setText(tr("Quillet pastes with synthetic key presses, which this display "
                                  "does not accept. Codes are still copied to the clipboard."));
    }
    m_warningOpen->setVisible(!noShortcuts);
    m_warning->setVisible(noShortcuts || needsAccessibilityWarning());
    if (!m_warning->isVisible() || noShortcuts) m_warningHelp->hide();
}

void HotKeysTab::refreshAccessibility() {
    const bool granted = m_check();
    if (granted == m_accessibilityGranted) return;
    m_accessibilityGranted = granted;
    refreshRows();
}

void HotKeysTab::openAccessibilityPrompt() {
    if (!SystemActions::openAccessibilitySettings()) {
        m_warningHelp->setText(SystemActions::accessibilitySettingsHelp());
        m_warningHelp->show();
    }
    Accessibility::isTrustedWithPrompt();
}

void HotKeysTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshAccessibility();
    m_poll.start();
}

void HotKeysTab::hideEvent(QHideEvent* event) {
    m_poll.stop();
    QWidget::hideEvent(event);
}
