#include "menubar/TrayHost.h"

#include "menubar/MenuBarContent.h"
#include "menubar/MenuBarLabel.h"
#include "platform/desktop/StatusItem.h"
#include "platform/desktop/TaskbarPresence.h"
#include "platform/desktop/WindowFocus.h"
#include "platform/look/Symbols.h"
#include "system/AppLockMac.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <utility>

namespace {

// The key, light with a dark rim, so that it reads on light and dark panels
// alike (a panel's colours are not ours to know).
QIcon trayIcon() {
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        const int rim = std::max(1, side / 22);
        const QPixmap dark = Symbols::pixmap(QStringLiteral("key.horizontal.fill"), side - 2 * rim,
                                             QColor(32, 32, 32));
        const QPixmap light = Symbols::pixmap(QStringLiteral("key.horizontal.fill"), side - 2 * rim,
                                              QColor(242, 242, 242));
        QPixmap picture(side, side);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        for (int dx = -rim; dx <= rim; ++dx)
            for (int dy = -rim; dy <= rim; ++dy)
                painter.drawPixmap(rim + dx, rim + dy, dark);
        painter.drawPixmap(rim, rim, light);
        painter.end();
        icon.addPixmap(picture);
    }
    return icon;
}

} // namespace

TrayHost::TrayHost(AccountStore& store, TickingClock& clock, AppSettings& settings,
                   AppLockMac& lock, UpdaterManager& updater, UserDefaults& defaults,
                   QObject* parent)
    : QObject(parent), m_store(store), m_clock(clock), m_settings(settings), m_lock(lock),
      m_updater(updater), m_defaults(defaults) {
    m_item = new StatusItem(QStringLiteral("quillet"), QStringLiteral("Quillet"), trayIcon(), this);
    m_label = new MenuBarLabel(store, clock, settings, *m_item, this);
    connect(m_item, &StatusItem::activated, this, [this](const QPoint& at) { togglePanel(at); });
    connect(m_item, &StatusItem::contextMenuRequested, this,
            [this](const QPoint& at) { togglePanel(at); });

    // The panel closes once the focus has left it for good: X hands the
    // focus on in steps when one of our windows hides or a dialog comes up,
    // and the panel may be given it back a moment later.
    m_focusLeft = new QTimer(this);
    m_focusLeft->setSingleShot(true);
    m_focusLeft->setInterval(focusSettleMs);
    connect(m_focusLeft, &QTimer::timeout, this, &TrayHost::closeIfFocusLeft);
    // A question or a menu over the panel that goes away without giving
    // the panel the focus back: look again then.
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, [this] {
        if (isPanelOpen() && m_hadFocus && !m_panel->isActiveWindow())
            m_focusLeft->start();
    });

    // The unlock dialog blocks the panel, which stays on top and could hide
    // it: the panel steps aside while it asks and comes back where it was
    // once the question is answered, whatever the answer. It does not ask
    // again by itself: one question per opening.
    connect(&m_lock, &AppLockMac::authenticatingChanged, this, [this](bool asking) {
        if (asking && isPanelOpen()) {
            m_reopenAfterAnswer = true;
            m_panel->close();
        } else if (!asking && m_reopenAfterAnswer) {
            // After the answer's own lockedChanged.
            QTimer::singleShot(0, this, [this] {
                if (!std::exchange(m_reopenAfterAnswer, false) || isPanelOpen())
                    return;
                show(false);
            });
        }
    });
}

TrayHost::~TrayHost() {
    // The panel's own teardown (which hands the focus on) must not reach
    // this filter or the focus watch, which would take the half-destroyed
    // widget for the panel.
    disconnect(m_focusWatch);
    if (m_panel)
        m_panel->removeEventFilter(this);
    delete m_panel;
}

bool TrayHost::isAvailable() { return StatusItem::isAvailable(); }

bool TrayHost::isShown() const { return m_item->backend() != StatusItem::Backend::none; }

MenuBarContent* TrayHost::panel() const { return m_panel; }

bool TrayHost::isPanelOpen() const { return m_panel && m_panel->isVisible(); }

MenuBarContent* TrayHost::makePanel() {
    auto* panel = new MenuBarContent(m_store, m_clock, m_settings, m_lock, m_updater, m_defaults);
    // A frameless window that stays on top rather than a popup: Qt keeps
    // popups out of the accessibility tree, where a screen reader looks for
    // the panel's codes. Like a popup it closes on Escape and when the focus
    // leaves for another window (a click elsewhere). A tool window on X11, a
    // window of its own where the desktop places windows and hands the
    // keyboard back (WindowFocus::panelKind).
    panel->setWindowFlags(WindowFocus::panelKind() | Qt::FramelessWindowHint |
                          Qt::WindowStaysOnTopHint);
    panel->setWindowTitle(QStringLiteral("Quillet"));
    TaskbarPresence::setShown(panel, false);
    panel->installEventFilter(this);
    connect(panel, &MenuBarContent::openMainWindowRequested, this, [this] {
        closePanel();
        emit openMainWindowRequested();
    });
    connect(panel, &MenuBarContent::settingsRequested, this, [this] {
        closePanel();
        emit settingsRequested();
    });
    connect(panel, &MenuBarContent::quitRequested, this, &TrayHost::quitRequested);
    return panel;
}

void TrayHost::togglePanel(const QPoint& at) {
    if (isPanelOpen()) {
        closePanel();
        return;
    }
    // A click on the icon while the panel is open may first take the focus
    // from the panel, which closes it, then reach the icon: that click
    // closed the panel and must not open it again.
    if (m_closedAt.isValid() && m_closedAt.elapsed() < reopenGuardMs)
        return;
    openPanel(at);
}

void TrayHost::openPanel(const QPoint& at) {
    if (!m_panel)
        m_panel = makePanel();
    m_reopenAfterAnswer = false;
    if (!at.isNull())
        m_anchor = QRect(at, QSize(1, 1));
    else if (m_item->geometry().isValid())
        m_anchor = m_item->geometry();
    else
        m_anchor = QRect(QCursor::pos(), QSize(1, 1));
    show(true);
}

void TrayHost::show(bool newOpening) {
    m_panel->prepareToShow(newOpening);
    place();
    m_hadFocus = false;
    m_focusLeft->stop();
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    emit appeared();
}

void TrayHost::closePanel() {
    if (m_panel)
        m_panel->close();
}

QRect TrayHost::placement(const QRect& anchor, const QSize& size, const QRect& screen) {
    QPoint position(anchor.center().x() - size.width() / 2, 0);
    if (anchor.center().y() < screen.center().y())
        position.setY(anchor.bottom() + 4);
    else
        position.setY(anchor.top() - size.height() - 4);
    position.setX(std::clamp(position.x(), screen.left(),
                             std::max(screen.left(), screen.right() + 1 - size.width())));
    position.setY(std::clamp(position.y(), screen.top(),
                             std::max(screen.top(), screen.bottom() + 1 - size.height())));
    return QRect(position, size);
}

void TrayHost::place() {
    QScreen* screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    m_panel->move(placement(m_anchor, m_panel->size(), available).topLeft());
}

void TrayHost::closeIfFocusLeft() {
    // A panel the focus has not reached yet has not lost it.
    if (!isPanelOpen() || !m_hadFocus || m_panel->isActiveWindow())
        return;
    // The password dialog: the panel steps aside for it by itself and comes
    // back when it is answered.
    if (m_lock.isAuthenticating())
        return;
    // A question or a menu opened over the panel keeps it; a click on
    // another window (ours or not) or elsewhere closes it.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return;
    closePanel();
}

bool TrayHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_panel) {
        // A panel that grows or shrinks stays at the icon.
        if (event->type() == QEvent::Resize && m_panel->isVisible())
            place();
        if (event->type() == QEvent::Hide)
            m_closedAt.start();
        if (event->type() == QEvent::WindowActivate) {
            m_hadFocus = true;
            m_focusLeft->stop();
        }
        if (event->type() == QEvent::WindowDeactivate && m_panel->isVisible())
            m_focusLeft->start();
    }
    return QObject::eventFilter(watched, event);
}
