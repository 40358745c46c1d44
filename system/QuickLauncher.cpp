#include "system/QuickLauncher.h"

#include "core/AccountStore.h"
#include "core/CorrectedClock.h"
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/SyntheticKeys.h"
#include "platform/desktop/TaskbarPresence.h"
#include "platform/desktop/WindowFocus.h"
#include "platform/files/UserDefaults.h"
#include "platform/look/Style.h"
#include "system/AppLockMac.h"
#include "system/Clipboard.h"
#include "system/CopyHUD.h"
#include "system/HotKeyController.h"
#include "system/QuickLauncherView.h"
#include "system/SystemActions.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QCursor>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace {

constexpr int focusPollMs = 20;
// How long the panel keeps asking for the focus after it came on screen (a
// window manager takes a moment to map a new window before it can focus it).
constexpr int activationWaitMs = 600;

// The floating window around the view: no frame, above other windows, out of
// the taskbar, dragged by its background.
class LauncherPanel : public QWidget {
public:
    explicit LauncherPanel(QuickLauncher& launcher)
        : QWidget(nullptr, WindowFocus::panelKind() | Qt::FramelessWindowHint |
                               Qt::WindowStaysOnTopHint),
          m_launcher(launcher) {
        if (WindowFocus::panelKind() == Qt::Window) TaskbarPresence::setShown(this, false);
        setObjectName(QStringLiteral("QuickLauncherPanel"));
        setWindowTitle(tr("Quick search"));
        setAttribute(Qt::WA_DeleteOnClose, false);
        setFixedSize(Style::points(QuickLauncher::width), Style::points(QuickLauncher::height));
    }

    // Keeps asking for the focus until the panel has it: the window manager
    // ignores requests for a window it has not mapped yet.
    void activate() {
        raise();
        activateWindow();
        m_activation.start();
        auto* poll = new QTimer(this);
        poll->setInterval(focusPollMs);
        connect(poll, &QTimer::timeout, this, [this, poll] {
            if (isActiveWindow() || !isVisible() || m_activation.elapsed() > activationWaitMs) {
                poll->deleteLater();
                return;
            }
            if (WindowFocus::exists(quint32(winId()))) WindowFocus::activate(quint32(winId()));
        });
        poll->start();
    }

    // The panel counts as on screen when its content is first drawn.
    void watchContent(QWidget* content) { content->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            QMetaObject::invokeMethod(&m_launcher, &QuickLauncher::panelShown, Qt::QueuedConnection);
        }
        return QWidget::eventFilter(watched, event);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && windowHandle()) {
            windowHandle()->startSystemMove();
            event->accept();
            return;
        }
        QWidget::mousePressEvent(event);
    }

private:
    QuickLauncher& m_launcher;
    QElapsedTimer m_activation;
    bool m_painted = false;
};

} // namespace

QuickLauncher& QuickLauncher::shared() {
    // Never destroyed: its panel is a top-level widget, which must not be
    // deleted after QApplication's teardown.
    static QuickLauncher* instance = new QuickLauncher;
    return *instance;
}

QuickLauncher::QuickLauncher() : m_canType(&Accessibility::isTrusted) {
    m_focusPoll.setSingleShot(true);
    connect(&m_focusPoll, &QTimer::timeout, this, &QuickLauncher::typeWhenFocused);
    if (!qApp) return;
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &QuickLauncher::applicationStateChanged);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (window) m_lastFocus = window;
    });
}

void QuickLauncher::setStore(AccountStore* store, UserDefaults* defaults) {
    if (store != m_store || defaults != m_defaults) dropPanel();
    m_store = store;
    m_defaults = defaults;
}

AccountStore* QuickLauncher::store() const { return m_store; }

void QuickLauncher::setAppLock(AppLockMac* lock) {
    if (lock != m_lock) dropPanel();
    m_lock = lock;
}

void QuickLauncher::setAccessibilityCheck(std::function<bool()> check) {
    m_canType = check ? std::move(check) : std::function<bool()>(&Accessibility::isTrusted);
    dropPanel(); // the view holds a copy
}

bool QuickLauncher::isShown() const { return m_panel && m_panel->isVisible(); }

QScreen* QuickLauncher::workScreen(const std::optional<quint32>& window) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (window)
        if (const std::optional<QRect> native = WindowFocus::geometry(*window)) {
            // The screen holding most of the window, compared in the X
            // server's pixels (a screen keeps its origin there and scales
            // its size).
            QScreen* best = nullptr;
            qint64 bestArea = 0;
            for (QScreen* screen : screens) {
                const QRect area(screen->geometry().topLeft(),
                                 screen->geometry().size() * screen->devicePixelRatio());
                const QRect common = area.intersected(*native);
                const qint64 size = qint64(common.width()) * common.height();
                if (!common.isEmpty() && size > bestArea) {
                    best = screen;
                    bestArea = size;
                }
            }
            if (best) return best;
        }
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) return screen;
    return QGuiApplication::primaryScreen();
}

QRect QuickLauncher::frame(const QRect& available) {
    const double centreX = available.x() + available.width() / 2.0;
    const double centreY = available.y() + available.height() / 2.0;
    const QSize size(Style::points(width), Style::points(height));
    return QRect(qRound(centreX - size.width() / 2.0),
                 qRound(centreY - size.height() / 2.0 - raise * available.height()), size.width(),
                 size.height());
}

QString QuickLauncher::needsTypingHint() {
    if (Accessibility::userGrants()) return tr("Typing codes needs remote control permission");
    return tr("Typing codes needs the X server's XTEST extension");
}

QString QuickLauncher::keptKeyboardHint() {
    return tr("Quillet's window kept the keyboard, so nothing was typed");
}

QString QuickLauncher::keysHeldHint() {
    return tr("A key was still held down, so nothing was typed");
}

QString QuickLauncher::windowGoneHint() { return tr("The window you searched from has closed"); }

QString QuickLauncher::noWindowHint() { return tr("No window had the keyboard when you searched"); }

QString QuickLauncher::notFocusedHint() {
    return tr("The window you searched from did not take the keyboard");
}

void QuickLauncher::toggle() {
    if (isShown()) {
        close();
        return;
    }
    show();
}

void QuickLauncher::show() {
    if (!m_store || !m_defaults) return;
    cancelPendingDelivery();
    // Read before this panel takes the focus: the window the user was in
    // when the combination was pressed (one of ours, possibly).
    m_remembered = WindowFocus::activeWindow();

    // Every opening starts afresh: an empty search, ranked anew. The view
    // (the costly part to build) is kept between openings and moves into a
    // new frameless window each time: a window mapped again is not always
    // given the focus by the window manager.
    if (!m_view) {
        auto* view = new QuickLauncherView(*m_store, *m_defaults, m_lock, m_canType);
        QPointer<QuickLauncher> self(this);
        connect(view, &QuickLauncherView::picked, this, [self](const Account& account) {
            if (self) self->pick(account);
        });
        connect(view, &QuickLauncherView::closeRequested, this, [self] {
            if (self) self->close();
        });
        m_view = view;
    } else {
        m_view->reopen();
    }
    auto* panel = new LauncherPanel(*this);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    panel->watchContent(m_view);
    if (m_panel) m_panel->deleteLater(); // the view has left it
    m_panel = panel;

    // Where the desktop places windows itself, it stands where the desktop
    // puts a new window.
    if (QScreen* screen = WindowFocus::canTellWindows() ? workScreen(m_remembered) : nullptr)
        panel->setGeometry(frame(screen->availableGeometry()));
    panel->show();
    // Out of the taskbar and Alt+Tab where KDE's Wayland shell can be told
    // (on X11, above, by its kind and state).
    WindowFocus::keepOutOfTaskSwitching(panel);
    m_view->searchField()->setFocus();
    panel->activate();
}

void QuickLauncher::dropPanel() {
    // What the view was built over changed: the next opening builds anew
    // (one on screen goes when it closes).
    if (m_view && !m_view->isVisible()) m_view->deleteLater();
    m_view = nullptr;
}

void QuickLauncher::close() {
    if (!m_panel) return;
    const bool hadFocus = m_panel->isActiveWindow();
    QWidget* panel = m_panel;
    m_panel = nullptr;
    panel->hide();
    // The view waits, hidden and without a window, for the next opening.
    if (m_view && m_view->parent() == panel) m_view->setParent(nullptr);
    panel->deleteLater();
    // When the user had already gone elsewhere, the focus stays there.
    if (hadFocus && m_remembered && WindowFocus::exists(*m_remembered))
        WindowFocus::activate(*m_remembered);
}

void QuickLauncher::pick(Account account) {
    cancelPendingDelivery();
    if (m_store) m_store->markUsed(account);
    if (m_store && account.type == OTPType::hotp) {
        // The code of the counter the store actually takes, which AutoFill
        // may have moved on; nothing goes out when its advance is not
        // stored, and the panel closes.
        m_store->advanceCounter(account, [self = QPointer(this)](const std::optional<Account>& used) {
            if (!self) return;
            if (used)
                self->deliver(*used);
            else
                self->close();
        });
        return;
    }
    deliver(account);
}

void QuickLauncher::deliver(const Account& account) {
    // Once, now: typed or copied, it is the same code.
    const QString code = account.code(CorrectedClock::now());
    if (!m_canType()) {
        if (m_defaults) Clipboard::copyCodeToClipboard(code, *m_defaults);
        close();
        Accessibility::isTrustedWithPrompt();
        CopyHUD::shared().show(QStringLiteral("Code copied"), needsTypingHint(), hudDurationMs);
        emit delivered(false);
        return;
    }

    if (!WindowFocus::canTellWindows()) {
        // No program can see or pick another's window here (Wayland): once
        // the panel is gone the desktop gives the keyboard back to the
        // window before it, and the keys go to whatever has it then, as
        // long as that is not one of ours.
        close();
        m_pendingCode = code;
        m_pendingWindow = 0;
        m_pendingLabel = account.displayLabel();
        m_pollStarted = QDateTime::currentMSecsSinceEpoch();
        m_focusPoll.start(typeDelayMs);
        return;
    }

    const std::optional<quint32> target = m_remembered;
    close();
    // Keystrokes go only where the user came from: never into a window
    // that happens to have the focus after that one has gone.
    if (!target) {
        copyInstead(code, noWindowHint());
        return;
    }
    if (!WindowFocus::exists(*target)) {
        copyInstead(code, windowGoneHint());
        return;
    }
    WindowFocus::activate(*target);
    m_pendingCode = code;
    m_pendingWindow = *target;
    m_pendingLabel = account.displayLabel();
    m_pollStarted = QDateTime::currentMSecsSinceEpoch();
    m_focusPoll.start(typeDelayMs);
}

void QuickLauncher::typeWhenFocused() {
    if (!m_pendingCode) return;
    const QString code = *m_pendingCode;
    if (!WindowFocus::canTellWindows()) {
        if (QGuiApplication::focusWindow()) {
            if (QDateTime::currentMSecsSinceEpoch() - m_pollStarted < focusWaitMs) {
                m_focusPoll.start(focusPollMs);
                return;
            }
            m_pendingCode.reset();
            copyInstead(code, keptKeyboardHint());
            return;
        }
        m_pendingCode.reset();
        typeInto(code);
        return;
    }
    if (!WindowFocus::exists(m_pendingWindow)) {
        m_pendingCode.reset();
        copyInstead(code, windowGoneHint());
        return;
    }
    if (!WindowFocus::hasInputFocus(m_pendingWindow)) {
        if (QDateTime::currentMSecsSinceEpoch() - m_pollStarted < focusWaitMs) {
            m_focusPoll.start(focusPollMs);
            return;
        }
        m_pendingCode.reset();
        copyInstead(code, notFocusedHint());
        return;
    }
    m_pendingCode.reset();
    typeInto(code);
}

void QuickLauncher::typeInto(const QString& code) {
    const QString label = m_pendingLabel;
    QPointer<QuickLauncher> self(this);
    SystemActions::typeText(code, [self, code, label](SyntheticKeys::Outcome outcome) {
        if (!self) return;
        if (outcome != SyntheticKeys::Outcome::sent) {
            // The desktop refused the keys (Wayland), or the user's keys
            // never came up: the code is copied.
            self->copyInstead(code, outcome == SyntheticKeys::Outcome::keysHeld
                                        ? keysHeldHint()
                                        : needsTypingHint());
            return;
        }
        CopyHUD::shared().show(QStringLiteral("Code typed"), label, hudDurationMs);
        emit self->delivered(true);
    });
}

void QuickLauncher::copyInstead(const QString& code, const QString& hint) {
    if (m_defaults) Clipboard::copyCodeToClipboard(code, *m_defaults);
    CopyHUD::shared().show(QStringLiteral("Code copied"), hint, hudDurationMs);
    emit delivered(false);
}

void QuickLauncher::cancelPendingDelivery() {
    m_focusPoll.stop();
    if (!m_pendingCode) return;
    const QString code = *m_pendingCode;
    const QString label = m_pendingLabel;
    m_pendingCode.reset();
    copyInstead(code, label);
}

void QuickLauncher::applicationStateChanged(Qt::ApplicationState state) {
    // The user went to another program: the panel steps aside (the next
    // press builds a fresh one) and the focus stays where the user put it.
    // Not so when the window of ours that had the keyboard went away (the
    // copy's confirmation, a dialog, a popup): the desktop hands the
    // keyboard to the window before that one for a moment, and to the panel
    // once it is on screen (it may still be on its way there).
    if (state == Qt::ApplicationActive || !m_panel || !m_panel->isVisible()) return;
    if (m_lastFocus && m_lastFocus->isVisible()) m_panel->hide();
}
