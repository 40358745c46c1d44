#include "menubar/SettingsWindow.h"

#include <QLabel>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Settings"));
    setWindowTitle(QStringLiteral("Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(tr("There is nothing to set here yet."), this);
    note->setAlignment(Qt::AlignCenter);
    layout->addWidget(note);
    resize(480, 240);
}

void SettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    emit appeared();
}
