#include "menubar/GeneralTab.h"

#include "app/FolderManagerView.h"
#include "app/RecentlyDeletedView.h"
#include "app/StoreProblemLine.h"
#include "core/AccountListModel.h"
#include "core/AccountStore.h"
#include "core/CorrectedClock.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "intake/BackupSectionMac.h"
#include "menubar/SecurityCheckup.h"
#include "menubar/SecurityCheckupMacView.h"
#include "menubar/SecurityTimelineMacView.h"
#include "menubar/SettingsParts.h"
#include "platform/files/UserDefaults.h"
#include "platform/keychain/Keychain.h"
#include "platform/keychain/KeychainFile.h"
#include "platform/look/FittedText.h"
#include "platform/look/Picker.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "platform/system/LoginItem.h"
#include "system/AppLockMac.h"
#include "system/AppSettings.h"
#include "system/SystemActions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

using namespace SettingsParts;

namespace {

const QString product = QStringLiteral("Quillet");

QLabel* symbolLabel(const QString& name, int size, const QColor& colour) {
    auto* label = new QLabel;
    label->setPixmap(Symbols::pixmap(name, size, colour, label->devicePixelRatioF()));
    label->setFixedSize(size, size);
    return label;
}

// The clipboard delays the picker offers, in seconds (0 = never).
const QList<std::pair<const char*, int>> clearDelays{
    {QT_TRANSLATE_NOOP("GeneralTab", "Never"), 0},
    {QT_TRANSLATE_NOOP("GeneralTab", "15 seconds"), 15},
    {QT_TRANSLATE_NOOP("GeneralTab", "30 seconds"), 30},
    {QT_TRANSLATE_NOOP("GeneralTab", "1 minute"), 60},
};

// The orders the account list offers, with the names they are stored by.
const QList<std::pair<const char*, AccountSort>> sortOrders{
    {QT_TRANSLATE_NOOP("GeneralTab", "Manual"), AccountSort::manual},
    {QT_TRANSLATE_NOOP("GeneralTab", "Name"), AccountSort::name},
    {QT_TRANSLATE_NOOP("GeneralTab", "Service"), AccountSort::issuer},
    {QT_TRANSLATE_NOOP("GeneralTab", "Most used"), AccountSort::mostUsed},
};

// A button with a symbol and a caption beside it, then a spacer: a row of
// the Organize section.
QPushButton* organizeRow(QVBoxLayout* column, const QString& symbol, const QString& text,
                         QLabel* caption) {
    auto* row = new QHBoxLayout;
    auto* button = new QPushButton(Symbols::icon(symbol), text);
    row->addWidget(button);
    if (caption)
        row->addWidget(caption);
    row->addStretch(1);
    column->addLayout(row);
    return button;
}

} // namespace

GeneralTab::GeneralTab(AccountStore& store, AppSettings& settings, AppLockMac& lock,
                       UserDefaults& defaults, SecurityLog& log, QWidget* parent)
    : QWidget(parent), m_store(store), m_settings(settings), m_lock(lock), m_defaults(defaults),
      m_log(log) {
    const LoginItem::Status status = LoginItem::status();
    m_launchAtLogin = status == LoginItem::Status::enabled;
    m_requiresApproval = status == LoginItem::Status::requiresApproval;

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // A change the settings file did not take is told where it was made.
    outer->addWidget(StoreProblemLine::settingsLine(m_defaults, this));
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // texts wrap instead
    outer->addWidget(scroll);
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setSpacing(18);
    column->setContentsMargins(20, 20, 20, 20);
    column->addWidget(buildStartup());
    column->addWidget(divider());
    column->addWidget(buildMenuBar());
    column->addWidget(divider());
    column->addWidget(buildKeyring());
    column->addWidget(divider());
    column->addWidget(buildSecurity());
    column->addWidget(divider());
    column->addWidget(buildOrganize());
    column->addWidget(divider());
    m_backup = new BackupSectionMac(m_store, m_log);
    // While the app lock is closed, only the user may take the secrets away.
    m_backup->setExportGate(
        [this](QWidget* over, std::function<void()> proceed, std::function<void()> refused) {
            m_lock.whenOpen(over, std::move(proceed), std::move(refused));
        });
    column->addWidget(m_backup);
    column->addStretch(1);
    scroll->setWidget(page);

    m_poll.setInterval(loginItemPollMs);
    connect(&m_poll, &QTimer::timeout, this, &GeneralTab::refreshLoginItemState);
    refreshStatusArea();
}

QWidget* GeneralTab::buildStartup() {
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(heading(tr("Startup")));
    m_launch = toggle(tr("Launch %1 at login").arg(product));
    m_launch->setChecked(m_launchAtLogin);
    connect(m_launch, &QCheckBox::toggled, this, &GeneralTab::launchAtLoginChanged);
    column->addWidget(m_launch);
    column->addWidget(caption(tr("When enabled, %1 starts automatically every time you log into "
                                 "this computer, so the tray icon and your global hotkeys "
                                 "are always available.")
                                  .arg(product)));

    // The desktop's own autostart settings turned the entry off.
    // The approval panel: tinted with the accent blue at 10 %.
    QColor tint(0, 122, 255);
    tint.setAlphaF(0.1);
    m_approvalPanel = roundedPanel(tint);
    auto* panel = new QHBoxLayout(m_approvalPanel);
    panel->setContentsMargins(12, 12, 12, 12);
    panel->setSpacing(10);
    panel->addWidget(symbolLabel(QStringLiteral("info.circle.fill"), 18, QColor(0, 122, 255)),
                     0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    QLabel* disabled =
        Style::label(tr("%1 is disabled in your desktop's startup applications").arg(product),
                     Style::TextStyle::callout, std::nullopt, QFont::DemiBold);
    disabled->setWordWrap(true);
    texts->addWidget(disabled);
    texts->addWidget(caption(tr("Turn %1 on again there, or switch “Launch %1 at login” on "
                                "above.")
                                 .arg(product)));
    m_approvalHelp = caption(QString());
    m_approvalHelp->hide();
    texts->addWidget(m_approvalHelp);
    panel->addLayout(texts, 1);
    panel->addSpacing(8);
    auto* open = new QPushButton(tr("Open Startup Applications"));
    connect(open, &QPushButton::clicked, this, [this] {
        if (!SystemActions::openLoginItemsSettings()) {
            m_approvalHelp->setText(SystemActions::loginItemsSettingsHelp());
            m_approvalHelp->show();
        }
    });
    panel->addWidget(open, 0, Qt::AlignVCenter);
    column->addWidget(m_approvalPanel);

    m_errorRow = new QWidget;
    auto* error = new QHBoxLayout(m_errorRow);
    error->setContentsMargins(0, 0, 0, 0);
    error->setSpacing(8);
    error->addWidget(symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 16,
                                 Style::color(Style::SemanticColor::orange)),
                     0, Qt::AlignVCenter);
    m_errorText = caption(QString());
    error->addWidget(m_errorText, 1);
    column->addWidget(m_errorRow);
    return section;
}

QWidget* GeneralTab::buildMenuBar() {
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(heading(tr("Tray")));

    m_showCode = toggle(tr("Show a code in the tray"));
    m_showCode->setChecked(m_settings.showCodeInMenuBar());
    connect(m_showCode, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) {
            m_settings.setShowCodeInMenuBar(false);
            return;
        }
        // A code beside the icon: while locked, only for the user.
        whenOpen([this] { m_settings.setShowCodeInMenuBar(true); },
                 [this] {
                     const QSignalBlocker quiet(m_showCode);
                     m_showCode->setChecked(m_settings.showCodeInMenuBar());
                 });
    });
    column->addWidget(m_showCode);

    // Each option with its own controls: the code's account and the note
    // on it stand under the switch that shows the code.
    m_accountRow = new QWidget;
    auto* row = new QHBoxLayout(m_accountRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(new QLabel(tr("Account:")));
    m_accountPicker = new Picker;
    m_accountPicker->setAccessibleName(tr("Account:"));
    m_accountPicker->setMaximumWidth(260);
    m_accountPicker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_accountPicker->setMinimumContentsLength(16);
    connect(m_accountPicker, &QComboBox::activated, this, [this](int index) {
        const QVariant id = m_accountPicker->itemData(index);
        const std::optional<QUuid> chosen =
            id.isValid() ? std::optional<QUuid>(id.toUuid()) : std::nullopt;
        // Another account's code beside the icon: while locked, only for
        // the user; the picker shows the stored choice until then.
        refreshMenuBarAccount();
        whenOpen([this, chosen] { m_settings.setMenuBarAccountID(chosen); },
                 [this] { refreshMenuBarAccount(); });
    });
    row->addWidget(m_accountPicker);
    row->addStretch(1);
    column->addWidget(m_accountRow);
    column->addWidget(caption(tr("Shows the current code right in the tray, next to the key "
                                 "icon. Note: the code stays visible on screen, so anyone "
                                 "looking at this computer can see it — turn this off if you'd "
                                 "rather keep it hidden until you click the icon.")));

    m_menuBarOnly = toggle(tr("Tray-only (hide taskbar entry)"));
    m_menuBarOnly->setChecked(m_settings.menuBarOnly());
    connect(m_menuBarOnly, &QCheckBox::toggled, &m_settings, &AppSettings::setMenuBarOnly);
    column->addWidget(m_menuBarOnly);
    column->addWidget(caption(tr("Run purely from the tray — no taskbar entry and no Alt+Tab "
                                 "entry. Reopen the full window any time with “Manage” in the "
                                 "tray panel.")));

    m_clockDrift = toggle(tr("Auto-correct clock drift"));
    connect(m_clockDrift, &QCheckBox::toggled, this, &GeneralTab::clockDriftChanged);
    column->addWidget(m_clockDrift);
    m_clockDriftNote = caption(QString());
    m_clockDriftNote->setObjectName(QStringLiteral("clockDriftNote"));
    column->addWidget(m_clockDriftNote);
    // The setting is kept in the keyring: offered once the vault was read.
    connect(&m_store, &AccountStore::vaultStateChanged, this, &GeneralTab::refreshClockDrift);
    refreshClockDrift();
    column->addWidget(caption(tr("If this computer's clock is off, codes are generated for the "
                                 "correct time automatically so logins don't reject them. Turn "
                                 "off to always use the system clock.")));

    m_shownAccounts = new QWidget;
    auto* shown = new QVBoxLayout(m_shownAccounts);
    shown->setContentsMargins(0, 0, 0, 0);
    shown->setSpacing(8);
    QLabel* title = Style::label(tr("Accounts shown in the tray panel"), Style::TextStyle::callout,
                                 std::nullopt, QFont::DemiBold);
    title->setContentsMargins(0, 4, 0, 0);
    shown->addWidget(title);
    shown->addWidget(caption(tr("Uncheck an account to hide it from the tray panel (it stays "
                                "in the main window). Move rows with the arrows in the tray "
                                "panel, or drag them in the main window, to reorder them.")));
    auto* list = new QWidget;
    m_shownList = new QVBoxLayout(list);
    m_shownList->setContentsMargins(0, 2, 0, 2);
    m_shownList->setSpacing(4);
    shown->addWidget(list);
    column->addWidget(m_shownAccounts);

    connect(&m_settings, &AppSettings::showCodeInMenuBarChanged, this, [this] {
        const QSignalBlocker quiet(m_showCode);
        m_showCode->setChecked(m_settings.showCodeInMenuBar());
        m_accountRow->setVisible(m_settings.showCodeInMenuBar());
    });
    connect(&m_settings, &AppSettings::menuBarOnlyChanged, this, [this] {
        const QSignalBlocker quiet(m_menuBarOnly);
        m_menuBarOnly->setChecked(m_settings.menuBarOnly());
    });
    connect(&m_settings, &AppSettings::menuBarAccountIDChanged, this,
            &GeneralTab::refreshMenuBarAccount);
    connect(&m_settings, &AppSettings::menuBarHiddenAccountIDsChanged, this,
            &GeneralTab::refreshAccounts);
    connect(&m_store, &AccountStore::accountsChanged, this, &GeneralTab::refreshAccounts);
    m_accountRow->setVisible(m_settings.showCodeInMenuBar());
    refreshAccounts();
    return section;
}

void GeneralTab::refreshMenuBarAccount() {
    const std::optional<QUuid> chosen = m_settings.menuBarAccountID();
    const int index = chosen ? m_accountPicker->findData(*chosen) : 0;
    m_accountPicker->setCurrentIndex(index);
}

void GeneralTab::refreshAccounts() {
    const QList<Account>& accounts = m_store.accounts();
    m_accountPicker->clear();
    m_accountPicker->addItem(tr("First account"));
    for (const Account& account : accounts)
        m_accountPicker->addItem(Text::oneLine(account.displayLabel()), account.id);
    refreshMenuBarAccount();

    // One checkbox per account, in the store's order; kept where it exists so
    // that a click's own update does not replace the box under the pointer.
    QHash<QUuid, QCheckBox*> kept;
    for (const Account& account : accounts) {
        QCheckBox* box = m_shownChecks.take(account.id);
        if (!box) {
            // A long name is cut with "…" rather than widen the page.
            box = new Style::ElidedCheckBox;
            const QUuid id = account.id;
            connect(box, &QCheckBox::toggled, this,
                    [this, id](bool shown) { m_settings.toggleHidden(id, shown); });
        }
        box->setText(Text::oneLine(account.displayLabel()));
        const QSignalBlocker quiet(box);
        box->setChecked(!m_settings.menuBarHiddenAccountIDs().contains(account.id));
        m_shownList->addWidget(box); // moves it to the end: the store's order
        kept.insert(account.id, box);
    }
    qDeleteAll(m_shownChecks);
    m_shownChecks = kept;
    m_shownAccounts->setVisible(!accounts.isEmpty());
}

QWidget* GeneralTab::buildKeyring() {
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(heading(tr("Keyring")));

    Keychain::Backend& backend = Keychain::backend();
    QString title, text;
    if (auto* file = dynamic_cast<Keychain::FileBackend*>(&backend)) {
        title = tr("Accounts are kept in a file on this computer");
        text = tr("No Secret Service answered, so your TOTP/HOTP secrets are kept in %1, "
                  "readable only by you. Start %2 in a desktop session with a keyring to keep "
                  "them in the keyring instead.")
                   .arg(file->path(), product);
    } else if (backend.name() == QLatin1String("memory")) {
        title = tr("Accounts are kept in memory only");
        text = tr("Nothing is written to disk: your TOTP/HOTP secrets are gone when %1 quits.")
                   .arg(product);
    } else {
        title = tr("Accounts are kept in your keyring (Secret Service)");
        text = tr("Your TOTP/HOTP secrets are stored by your desktop's Secret Service (such as "
                  "GNOME Keyring or KWallet), which encrypts them and unlocks them with your "
                  "login. They stay on this computer; an encrypted backup moves them to "
                  "another.");
    }
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(symbolLabel(QStringLiteral("key.horizontal"), 22,
                               Style::color(Style::SemanticColor::accent)),
                   0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(Style::label(title, Style::TextStyle::callout, std::nullopt, QFont::DemiBold));
    texts->addWidget(caption(text));
    row->addLayout(texts, 1);
    column->addLayout(row);
    return section;
}

QWidget* GeneralTab::buildSecurity() {
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(heading(tr("Security")));

    m_lockSwitch = toggle(tr("Require your password to unlock"));
    m_lockSwitch->setChecked(m_lock.isEnabled());
    connect(m_lockSwitch, &QCheckBox::toggled, this, [this](bool on) {
        m_lockRefusal->hide();
        m_lock.setEnabled(on, window());
    });
    connect(&m_lock, &AppLockMac::enablingRefused, this, [this](const QString& why) {
        m_lockRefusal->setText(why);
        m_lockRefusal->setVisible(!why.isEmpty());
    });
    connect(&m_lock, &AppLockMac::enabledChanged, this, [this](bool on) {
        const QSignalBlocker quiet(m_lockSwitch);
        m_lockSwitch->setChecked(on);
    });
    column->addWidget(m_lockSwitch);
    m_lockCaption = caption(QString());
    column->addWidget(m_lockCaption);
    m_lockRefusal = caption(QString());
    m_lockRefusal->setObjectName(QStringLiteral("lockRefusal"));
    QPalette orange = m_lockRefusal->palette();
    orange.setColor(QPalette::WindowText, Style::color(Style::SemanticColor::orange));
    m_lockRefusal->setPalette(orange);
    m_lockRefusal->hide();
    column->addWidget(m_lockRefusal);
    refreshLockAvailability();

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    auto* label = new QLabel(tr("Clear clipboard after copying"));
    // Wraps beside its picker within the row's width at a large font.
    label->setWordWrap(true);
    row->addWidget(label);
    m_clearAfter = new QComboBox;
    m_clearAfter->setAccessibleName(label->text());
    label->setBuddy(m_clearAfter);
    for (const auto& [text, seconds] : clearDelays)
        m_clearAfter->addItem(tr(text), seconds);
    // A stored delay the picker does not offer selects nothing.
    m_clearAfter->setCurrentIndex(m_clearAfter->findData(
        int(m_defaults.integer(Settings::clipboardClearSeconds.key)
                .value_or(Settings::clipboardClearSeconds.defaultValue))));
    connect(m_clearAfter, &QComboBox::activated, this, [this](int index) {
        m_defaults.setValue(Settings::clipboardClearSeconds.key,
                           m_clearAfter->itemData(index).toInt());
    });
    row->addWidget(m_clearAfter);
    row->addStretch(1);
    auto* rowHolder = new QWidget;
    rowHolder->setMaximumWidth(360);
    rowHolder->setLayout(row);
    row->setContentsMargins(0, 0, 0, 0);
    column->addWidget(rowHolder);
    column->addWidget(caption(tr("Automatically wipe a copied code from the clipboard after a "
                                 "delay, so it doesn't linger. Only clears if you haven't copied "
                                 "something else since.")));
    return section;
}

void GeneralTab::refreshLockAvailability() {
    // Asked again whenever the tab comes on screen: the user may have set up
    // a password (or PAM) meanwhile.
    const bool available = AppLockMac::canAuthenticate();
    m_lockSwitch->setEnabled(available);
    m_lockCaption->setText(available ? tr("Ask for your login password before showing your "
                                          "codes. Lock any time from the tray panel.")
                                     : tr("Set up a login password on this computer to use the "
                                          "lock."));
}

void GeneralTab::whenOpen(std::function<void()> proceed, std::function<void()> refused) {
    const QPointer<GeneralTab> self(this);
    m_lock.whenOpen(
        window(),
        [self, proceed = std::move(proceed)] {
            if (self) proceed();
        },
        [self, refused = std::move(refused)] {
            if (self && refused) refused();
        });
}

void GeneralTab::refreshClockDrift() {
    // Until the vault was read the stored setting is unknown: the switch
    // would show a guess and a change could not be kept.
    const std::optional<AccountListModel::VaultNotice> notice =
        AccountListModel::vaultNotice(m_store);
    const QSignalBlocker quiet(m_clockDrift);
    m_clockDrift->setEnabled(!notice);
    m_clockDrift->setChecked(!notice && CorrectedClock::state().enabled);
    m_clockDriftNote->setText(notice ? notice->title : QString());
    m_clockDriftNote->setVisible(notice.has_value());
}

void GeneralTab::clockDriftChanged(bool on) {
    if (CorrectedClock::setEnabled(on)) {
        m_clockDriftNote->hide();
        return;
    }
    {
        const QSignalBlocker quiet(m_clockDrift);
        m_clockDrift->setChecked(CorrectedClock::state().enabled);
    }
    m_clockDriftNote->setText(tr("The clock setting was not saved: your keyring did not take it."));
    m_clockDriftNote->show();
}

QWidget* GeneralTab::buildOrganize() {
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(heading(tr("Organize")));

    auto* sortRow = new QHBoxLayout;
    sortRow->setContentsMargins(0, 0, 0, 0);
    sortRow->setSpacing(8);
    auto* label = new QLabel(tr("Sort accounts by"));
    sortRow->addWidget(label);
    m_sortPicker = new QComboBox;
    m_sortPicker->setAccessibleName(label->text());
    label->setBuddy(m_sortPicker);
    for (const auto& [text, order] : sortOrders)
        m_sortPicker->addItem(tr(text), toText(order));
    connect(m_sortPicker, &QComboBox::activated, this, [this](int index) {
        m_defaults.setValue(Settings::accountSortOrder.key, m_sortPicker->itemData(index));
    });
    connect(&m_defaults, &UserDefaults::changed, this, [this](const QString& key) {
        if (key == Settings::accountSortOrder.key)
            refreshSortPicker();
    });
    refreshSortPicker();
    sortRow->addWidget(m_sortPicker);
    sortRow->addStretch(1);
    auto* sortHolder = new QWidget;
    sortHolder->setMaximumWidth(360);
    sortHolder->setLayout(sortRow);
    column->addWidget(sortHolder);

    const auto count = [] {
        return Style::label(QString(), Style::TextStyle::caption, Style::SemanticColor::secondary);
    };
    m_folderCount = count();
    connect(organizeRow(column, QStringLiteral("folder"), tr("Manage Folders…"), m_folderCount),
            &QPushButton::clicked, this, [this] { showSheet(Sheet::folders); });
    m_recoverableCount = count();
    connect(organizeRow(column, QStringLiteral("trash"), tr("Recently Deleted…"),
                        m_recoverableCount),
            &QPushButton::clicked, this, [this] { showSheet(Sheet::recentlyDeleted); });
    m_score = count();
    connect(organizeRow(column, QStringLiteral("checkmark.shield"), tr("Security Checkup…"),
                        m_score),
            &QPushButton::clicked, this, [this] { showSheet(Sheet::checkup); });
    connect(organizeRow(column, QStringLiteral("list.bullet.clipboard"), tr("Security Timeline…"),
                        nullptr),
            &QPushButton::clicked, this, [this] { showSheet(Sheet::timeline); });

    connect(&m_store, &AccountStore::foldersChanged, this, &GeneralTab::refreshOrganize);
    connect(&m_store, &AccountStore::deletedAccountsChanged, this, &GeneralTab::refreshOrganize);
    connect(&m_store, &AccountStore::accountsChanged, this, &GeneralTab::refreshOrganize);
    connect(&m_store, &AccountStore::vaultStateChanged, this, &GeneralTab::refreshOrganize);
    refreshOrganize();
    return section;
}

void GeneralTab::refreshSortPicker() {
    const Settings::Entry<QString>& setting = Settings::accountSortOrder;
    // A stored name the picker does not know selects nothing.
    m_sortPicker->setCurrentIndex(
        m_sortPicker->findData(m_defaults.string(setting.key).value_or(setting.defaultValue)));
}

void GeneralTab::refreshOrganize() {
    const qsizetype folders = m_store.folders().size();
    m_folderCount->setText(folders == 1 ? tr("1 folder") : tr("%1 folders").arg(folders));
    const qsizetype recoverable = m_store.deletedAccounts().size();
    m_recoverableCount->setText(tr("%1 recoverable").arg(recoverable));
    m_recoverableCount->setVisible(recoverable > 0);
    // No score for a vault that could not be read: its empty list would
    // score a perfect 100.
    const bool open = m_store.vaultState() == AccountStore::VaultState::open;
    m_score->setText(open ? tr("Score %1/100").arg(SecurityCheckup::analyze(m_store.accounts()).score)
                          : QString());
    m_score->setVisible(open);
}

void GeneralTab::showSheet(Sheet which) {
    if (m_sheet)
        return;
    QWidget* content = nullptr;
    QString title;
    QSize size;
    switch (which) {
    case Sheet::folders:
        content = new FolderManagerView(m_store);
        title = tr("Folders");
        size = {420, 460};
        break;
    case Sheet::recentlyDeleted: {
        auto* view = new RecentlyDeletedView(m_store);
        // Erasing for good, while locked, only for the user.
        view->setEraseGate([this](QWidget* over, std::function<void()> proceed) {
            m_lock.whenOpen(over, std::move(proceed));
        });
        content = view;
        title = tr("Recently Deleted");
        size = {460, 500};
        break;
    }
    case Sheet::checkup:
        content = new SecurityCheckupMacView(m_store);
        title = tr("Security Checkup");
        size = {480, 540};
        break;
    case Sheet::timeline:
        content = new SecurityTimelineMacView(m_log);
        title = tr("Security Timeline");
        size = {520, 560};
        break;
    }
    m_sheet = SettingsParts::sheet(this, title, size, content);
    m_sheet->open();
}

void GeneralTab::launchAtLoginChanged(bool on) {
    m_launchAtLogin = on;
    m_statusMessage = SystemActions::setLaunchAtLogin(on);
    refreshLoginItemState();
    refreshStatusArea();
}

void GeneralTab::refreshLoginItemState() {
    const LoginItem::Status status = LoginItem::status();
    const bool enabled = status == LoginItem::Status::enabled;
    if (enabled != m_launchAtLogin) {
        m_launchAtLogin = enabled;
        const QSignalBlocker quiet(m_launch);
        m_launch->setChecked(enabled);
    }
    const bool approval = status == LoginItem::Status::requiresApproval;
    if (approval != m_requiresApproval) {
        m_requiresApproval = approval;
        refreshStatusArea();
    }
}

void GeneralTab::refreshStatusArea() {
    m_approvalPanel->setVisible(m_requiresApproval);
    if (!m_requiresApproval) m_approvalHelp->hide();
    m_errorText->setText(m_statusMessage.value_or(QString()));
    m_errorRow->setVisible(!m_requiresApproval && m_statusMessage.has_value());
}

void GeneralTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshLoginItemState();
    refreshLockAvailability();
    m_poll.start();
}

void GeneralTab::hideEvent(QHideEvent* event) {
    m_poll.stop();
    QWidget::hideEvent(event);
}
