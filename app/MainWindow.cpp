#include "app/MainWindow.h"

#include "app/BrandMark.h"
#include "app/ContentView.h"
#include "system/UpdaterManager.h"

#include <QCoreApplication>
#include <QMenuBar>
#include <QMessageBox>

MainWindow::MainWindow(AccountStore& store, TickingClock& clock, UserDefaults& defaults,
                       UpdaterManager& updater, QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Quillet"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(560, 560);
    m_content = new ContentView(store, clock, defaults, this);
    // The content's own minimum: the menu bar comes on top of it.
    m_content->setMinimumSize(520, 420);
    setCentralWidget(m_content);

    QMenu* app = menuBar()->addMenu(QStringLiteral("Quillet"));
    app->addAction(tr("About Quillet"), this, [this] {
        QMessageBox about(this);
        about.setWindowTitle(tr("About Quillet"));
        about.setIconPixmap(BrandMark(64).grab());
        about.setText(QStringLiteral("<b>Quillet</b> %1").arg(QCoreApplication::applicationVersion()));
        about.setInformativeText(tr("Two-factor codes for your desktop."));
        about.exec();
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
