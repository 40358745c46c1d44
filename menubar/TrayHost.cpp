#include "menubar/TrayHost.h"

#include "app/BrandMark.h"
#include "system/UpdaterManager.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

bool TrayHost::isAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

TrayHost::TrayHost(UpdaterManager& updater, QObject* parent)
    : QObject(parent), m_updater(updater) {
    if (!isAvailable())
        return;
    m_icon = new QSystemTrayIcon(QIcon(BrandMark(64).grab()), this);
    m_icon->setToolTip(QStringLiteral("Quillet"));
    auto* menu = new QMenu;
    connect(this, &QObject::destroyed, menu, &QObject::deleteLater);
    menu->addAction(tr("Open Quillet"), this, &TrayHost::openMainWindowRequested);
    menu->addAction(tr("Settings…"), this, &TrayHost::settingsRequested);
    menu->addAction(m_updater.makeCheckAction(menu));
    menu->addSeparator();
    menu->addAction(tr("Quit Quillet"), this, &TrayHost::quitRequested);
    m_icon->setContextMenu(menu);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    togglePanel();
            });
    m_icon->show();
}

bool TrayHost::isShown() const { return m_icon && m_icon->isVisible(); }

QWidget* TrayHost::buildPanel() {
    auto* panel = new QWidget(nullptr, Qt::Popup);
    panel->setObjectName(QStringLiteral("trayPanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFixedWidth(340);
    auto* column = new QVBoxLayout(panel);
    const auto command = [&](const QString& title, auto signal) {
        auto* button = new QPushButton(title, panel);
        button->setFlat(true);
        connect(button, &QPushButton::clicked, panel, &QWidget::close);
        connect(button, &QPushButton::clicked, this, signal);
        column->addWidget(button);
        return button;
    };
    command(tr("Open Quillet"), &TrayHost::openMainWindowRequested);
    command(tr("Settings…"), &TrayHost::settingsRequested);
    auto* check = new QPushButton(tr("Check for Updates…"), panel);
    check->setFlat(true);
    check->setEnabled(m_updater.canCheckForUpdates());
    connect(check, &QPushButton::clicked, &m_updater, &UpdaterManager::checkForUpdates);
    column->addWidget(check);
    command(tr("Quit Quillet"), &TrayHost::quitRequested);
    return panel;
}

void TrayHost::togglePanel() {
    if (m_panel) {
        m_panel->close();
        return;
    }
    m_panel = buildPanel();
    m_panel->adjustSize();
    // Under the icon, kept on the screen.
    QRect anchor = m_icon ? m_icon->geometry() : QRect(QCursor::pos(), QSize(1, 1));
    if (!anchor.isValid())
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    QPoint position(anchor.center().x() - m_panel->width() / 2, anchor.bottom() + 4);
    if (position.y() + m_panel->height() > available.bottom())
        position.setY(anchor.top() - m_panel->height() - 4);
    position.setX(std::clamp(position.x(), available.left(), available.right() - m_panel->width()));
    m_panel->move(position);
    m_panel->show();
    emit appeared();
}
