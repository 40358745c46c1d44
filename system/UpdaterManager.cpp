#include "system/UpdaterManager.h"

#include "platform/system/Updater.h"

#include <QAction>
#include <QTimer>

UpdaterManager::UpdaterManager(QObject* parent) : QObject(parent) {
    // The updater's own answer arrives on the next turn of the event loop.
    QTimer::singleShot(0, this, [this] {
        const bool canCheck = Updater::canCheckForUpdates();
        if (canCheck != m_canCheck) {
            m_canCheck = canCheck;
            emit canCheckForUpdatesChanged(canCheck);
        }
    });
}

void UpdaterManager::checkForUpdates() {
    if (m_canCheck)
        Updater::checkForUpdates();
}

QAction* UpdaterManager::makeCheckAction(QObject* parent) {
    auto* action = new QAction(tr("Check for Updates…"), parent);
    action->setEnabled(m_canCheck);
    connect(this, &UpdaterManager::canCheckForUpdatesChanged, action, &QAction::setEnabled);
    connect(action, &QAction::triggered, this, &UpdaterManager::checkForUpdates);
    return action;
}
