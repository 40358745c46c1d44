#include "system/AppLockMac.h"

#include "core/Settings.h"
#include "platform/files/UserDefaults.h"
#include "platform/system/OwnerAuth.h"
#include "platform/system/SessionEvents.h"

#include <QApplication>
#include <QDialog>

#include <algorithm>
#include <memory>
#include <utility>

AppLockMac::AppLockMac(UserDefaults& defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults) {
    // Every launch starts locked exactly when the lock is on.
    m_enabled = m_defaults.boolean(Settings::appLockEnabled.key)
                    .value_or(Settings::appLockEnabled.defaultValue);
    m_locked = m_enabled;
}

bool AppLockMac::canAuthenticate() { return OwnerAuth::canEvaluate(); }

void AppLockMac::watch(SessionEvents& events) {
    connect(&events, &SessionEvents::screenLocked, this, &AppLockMac::relock);
    connect(&events, &SessionEvents::willSleep, this, &AppLockMac::relock);
}

void AppLockMac::writeEnabled(bool enabled) {
    m_defaults.setValue(Settings::appLockEnabled.key, enabled);
    m_enabled = enabled;
    emit enabledChanged(enabled);
}

void AppLockMac::setLocked(bool locked) {
    if (locked == m_locked) return;
    m_locked = locked;
    if (locked) stepAside();
    emit lockedChanged(locked);
    // After the windows beneath have shown their content again.
    if (!locked) comeBack();
}

QWidget* AppLockMac::questionOwner(QWidget* over) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return over;
    // A panel that stays on top (the quick search, the tray's) would cover a
    // question that belongs to any other window: the question is the
    // panel's then, the active one first.
    QWidget* panel = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || widget->parentWidget() || qobject_cast<QDialog*>(widget) ||
            OwnerAuth::isQuestion(widget) || !(widget->windowFlags() & Qt::WindowStaysOnTopHint))
            continue;
        const Qt::WindowType type = widget->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip) continue;
        if (!panel || widget->isActiveWindow()) panel = widget;
    }
    return panel ? panel : over;
}

void AppLockMac::stepAside() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    const auto depth = [](const QWidget* widget) {
        int levels = 0;
        for (const QWidget* up = widget->parentWidget(); up; up = up->parentWidget())
            if (up->isWindow()) ++levels;
        return levels;
    };
    QList<std::pair<int, QWidget*>> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || OwnerAuth::isQuestion(widget)) continue;
        const Qt::WindowType type = widget->windowType();
        // The program's own windows (main, settings, the panels) have no
        // owner and follow the lock themselves.
        if (type != Qt::Popup && type != Qt::ToolTip && !qobject_cast<QDialog*>(widget) &&
            !widget->parentWidget())
            continue;
        found.append({depth(widget), widget});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // Children first: a modal child hidden after its parent would be left
    // behind.
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        QWidget* widget = it->second;
        if (widget->windowType() == Qt::Popup || widget->windowType() == Qt::ToolTip) {
            widget->close();
            continue;
        }
        // hide(), not close() or reject(): the dialog keeps what the user
        // typed, and its owner learns of no answer.
        widget->hide();
        m_steppedAside.prepend(widget);
        // Answered while aside (by a screen reader's press, say): it stays
        // answered, and does not come back.
        if (auto* dialog = qobject_cast<QDialog*>(widget))
            m_asideWatch.append(connect(dialog, &QDialog::finished, this, [this, dialog] {
                m_steppedAside.removeAll(dialog);
            }));
    }
}

void AppLockMac::comeBack() {
    for (const QMetaObject::Connection& watch : std::exchange(m_asideWatch, {}))
        disconnect(watch);
    const QList<QPointer<QWidget>> windows = std::exchange(m_steppedAside, {});
    for (const QPointer<QWidget>& widget : windows) {
        // Gone meanwhile (a dialog run by exec() ends, cancelled, as it
        // hides, and its owner deletes it), or shown again already.
        if (!widget || widget->isVisible()) continue;
        widget->show();
        widget->raise();
        widget->activateWindow();
    }
}

QString AppLockMac::enablingTitle() { return tr("Turn on the app lock"); }

QString AppLockMac::enablingMessage() {
    return tr("Enter your login password to turn on the app lock. Quillet will then ask for it "
              "before showing your codes.");
}

QString AppLockMac::enablingAccept() { return tr("Turn On"); }

QString AppLockMac::refusalText(OwnerAuth::Result result) {
    switch (result) {
    case OwnerAuth::Result::success:
    case OwnerAuth::Result::cancelled:
        return QString();
    case OwnerAuth::Result::failed:
        return tr("The lock stays off: your password was not accepted.");
    case OwnerAuth::Result::unavailable:
        break;
    }
    return tr("The lock stays off: this computer refused to check your login password, so you "
              "could not unlock Quillet again.");
}

void AppLockMac::setEnabled(bool enabled, QWidget* over) {
    if (enabled) {
        if (m_enabled || m_authenticating) {
            // Already on, or a question is open: the switch shows what is so.
            emit enabledChanged(m_enabled);
            return;
        }
        askToEnable(over);
        return;
    }
    if (m_enabled && m_locked) {
        // Stays on until the user has proved to be the user.
        m_disableWhenOpened = true;
        emit enabledChanged(m_enabled);
        authenticate(over);
        return;
    }
    writeEnabled(false);
    setLocked(false);
}

void AppLockMac::askToEnable(QWidget* over) {
    // The switch stays off while the question is open.
    emit enabledChanged(false);
    if (!OwnerAuth::canEvaluate()) {
        emit enablingRefused(refusalText(OwnerAuth::Result::unavailable));
        return;
    }
    ask(over, true, [this](OwnerAuth::Result result) {
        if (result == OwnerAuth::Result::success) {
            // Proved just now: on, and open.
            writeEnabled(true);
            return;
        }
        emit enabledChanged(m_enabled);
        emit enablingRefused(refusalText(result));
    });
}

void AppLockMac::ask(QWidget* over, bool enabling,
                     std::function<void(OwnerAuth::Result)> then) {
    m_authenticating = true;
    emit authenticatingChanged(true);
    QPointer<AppLockMac> self(this);
    auto answered = [self, then = std::move(then)](OwnerAuth::Result result) {
        if (!self) return;
        self->m_authenticating = false;
        emit self->authenticatingChanged(false);
        then(result);
    };
    over = questionOwner(over);
    if (enabling)
        OwnerAuth::evaluate(enablingTitle(), enablingMessage(), enablingAccept(), over,
                            std::move(answered));
    else
        OwnerAuth::evaluate(reason, over, std::move(answered));
}

void AppLockMac::whenOpen(QWidget* over, std::function<void()> proceed,
                          std::function<void()> refused) {
    if (!m_enabled || !m_locked) {
        proceed();
        return;
    }
    auto answered = std::make_shared<bool>(false);
    auto connection = std::make_shared<QMetaObject::Connection>();
    const auto settle = [this, answered, connection, proceed, refused] {
        if (*answered) return;
        *answered = true;
        disconnect(*connection);
        if (!m_locked)
            proceed();
        else if (refused)
            refused();
    };
    // The question ends before its answer opens the lock: look once the
    // answer has been applied.
    *connection = connect(
        this, &AppLockMac::authenticatingChanged, this,
        [this, settle](bool asking) {
            if (!asking) QMetaObject::invokeMethod(this, settle, Qt::QueuedConnection);
        });
    authenticate(over);
    // Nobody can be asked here: authenticate() opened (or not) on the spot.
    if (!m_authenticating) settle();
}

void AppLockMac::relock() {
    if (m_enabled) setLocked(true);
}

void AppLockMac::authenticate(QWidget* over) {
    if (!m_enabled || !m_locked) return;
    if (m_authenticating) {
        // Asked again from another window (the quick search come on screen,
        // say): the question open already comes where the user looks.
        OwnerAuth::bringQuestionForward(questionOwner(over));
        return;
    }
    if (!OwnerAuth::canEvaluate()) {
        answered(true);
        return;
    }
    ask(over, false,
        [this](OwnerAuth::Result result) { answered(result == OwnerAuth::Result::success); });
}

void AppLockMac::answered(bool success) {
    const bool disable = m_disableWhenOpened;
    m_disableWhenOpened = false;
    if (!success) {
        // The switch goes back to what is stored.
        if (disable) emit enabledChanged(m_enabled);
        return;
    }
    if (disable) writeEnabled(false);
    setLocked(false);
}
