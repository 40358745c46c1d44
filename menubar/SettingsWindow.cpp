#include "menubar/SettingsWindow.h"

#include "menubar/GeneralTab.h"
#include "menubar/HotKeysTab.h"
#include "platform/desktop/Accessibility.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "system/AppLockMac.h"

#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(AccountStore& store, AppSettings& settings, AppLockMac& lock,
                               UserDefaults& defaults, SecurityLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Settings"));
    setWindowTitle(tr("Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    m_general = new GeneralTab(store, settings, lock, defaults, log);
    // While the app is locked, a binding (which gives out a code at a key
    // press) changes only after the user has given the password.
    AppLockMac* appLock = &lock;
    m_hotKeys = new HotKeysTab(
        store, settings, Accessibility::isTrusted(),
        [appLock](QWidget* over, std::function<void()> proceed, std::function<void()> refused) {
            appLock->whenOpen(over, std::move(proceed), std::move(refused));
        });
    m_tabs->addTab(m_general, Symbols::icon(QStringLiteral("gearshape")), tr("General"));
    m_tabs->addTab(m_hotKeys, Symbols::icon(QStringLiteral("keyboard")), tr("Hotkeys"));
    layout->addWidget(m_tabs);
    setFixedSize(Style::points(660), Style::points(560));

    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
}

void SettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    emit appeared();
}
