#pragma once

#include <QWidget>

// The settings window. Its tabs (general, hotkeys, menu bar, security) are
// added as they are built; until then it says so plainly.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(QWidget* parent = nullptr);

signals:
    void appeared();

protected:
    void showEvent(QShowEvent* event) override;
};
