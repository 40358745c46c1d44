#pragma once

#include <QAbstractButton>
#include <QString>
#include <functional>

class QBoxLayout;
class QFrame;
class QScrollArea;
class QVBoxLayout;
class QWidget;

// What the credential provider's two choosing screens (the account list and
// the passkey picker) are built from: one look for their rows and one
// footer, so that the two answer clicks and keys alike.
namespace ChoiceParts {

// A thin horizontal line between the parts of a screen.
QFrame* divider();

// The footer: "Cancel" at the trailing end. Escape anywhere in the screen's
// window presses it too. Return does not: a row or a search field with the
// focus must not cancel by accident.
QWidget* cancelFooter(QWidget* screen, std::function<void()> onCancel);

// A scrolling column of rows, top-aligned; rows are added to `rows`.
QScrollArea* rowList(QVBoxLayout** rows);

// A row that is one flat button: a click anywhere in its rectangle, or Space
// while it has the focus, activates it. Its content is laid out in
// `content()`; a screen reader reads it by its accessible name.
class Row : public QAbstractButton {
    Q_OBJECT

public:
    explicit Row(QWidget* parent = nullptr);
    QBoxLayout* content() const { return m_content; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QBoxLayout* m_content;
    bool m_hovered = false;
};

} // namespace ChoiceParts
