#pragma once

#include <QComboBox>

// A pop-up picker whose entries are the user's own texts (account labels,
// folder names). A choice longer than the picker is wide is shown cut with
// "…" at its end, and its whole text is the picker's tooltip; a screen reader
// reads the whole text as the picker's value.
class Picker : public QComboBox {
public:
    explicit Picker(QWidget* parent = nullptr);

    // The choice as the picker shows it now.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshTip();
};
