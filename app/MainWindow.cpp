#include "app/MainWindow.h"

#include "app/BrandMark.h"
#include "app/ContentView.h"
#include "platform/look/Style.h"
#include "system/AppLockMac.h"
#include "system/LockOverlayMac.h"
#include "system/UpdaterManager.h"

#include <QCoreApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QVBoxLayout>

MainWindow::MainWindow(AccountStore& store, TickingClock& clock, UserDefaults& defaults,
                       UpdaterManager& updater, AppLockMac& lock, QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Quillet"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(Style::points(560), Style::points(560));
    // The content and, on top of it in the same place, the lock overlay.
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    m_content = new ContentView(store, clock, defaults, central);
    // The content's own minimum: the menu bar comes on top of it.
    m_content->setMinimumSize(520, 420);
    // The lock overlay hides the content; the window keeps its size then,
    // or it could be shrunk past the overlay's texts.
    QSizePolicy policy = m_content->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_content->setSizePolicy(policy);
    layout->addWidget(m_content);
    // The window opens with the keyboard focus on the list's view as a
    // whole, not in the search field (Ctrl+F or a click puts it there): a
    // focused field's blinking caret would wake the program twice a second
    // on top of the clock's tick, as long as the window is open.
    m_content->setFocus(Qt::OtherFocusReason);
    m_lockOverlay = new LockOverlayMac(lock, m_content, central);
    // Hidden under the overlay, the rows would still hand their codes to a
    // screen reader: they hold none while locked.
    m_content->setConcealed(lock.isLocked());
    connect(&lock, &AppLockMac::lockedChanged, m_content, &ContentView::setConcealed);
    setCentralWidget(central);

    QMenu* app = menuBar()->addMenu(QStringLiteral("Quillet"));
    app->addAction(tr("About Quillet"), this, [this] {
        // Opened, not run in a loop of its own, and on the heap: the window
        // can be closed and deleted while it shows.
        auto* about = new QMessageBox(this);
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->setWindowTitle(tr("About Quillet"));
        about->setIconPixmap(BrandMark(64).grab());
        about->setText(QStringLiteral("<b>Quillet</b> %1").arg(QCoreApplication::applicationVersion()));
        about->setInformativeText(tr("Two-factor codes for your desktop."));
        about->open();
    });
    app->addAction(updater.makeCheckAction(app));
    app->addSeparator();
    QAction* settings = app->addAction(tr("Settings…"), this, &MainWindow::settingsRequested);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    app->addSeparator();
    QAction* quit = app->addAction(tr("Quit Quillet"), this, &MainWindow::quitRequested);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    emit appeared();
}
