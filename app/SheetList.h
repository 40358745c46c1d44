#pragma once

#include <QFrame>
#include <QScrollArea>

class QLabel;
class QVBoxLayout;

// The plain list of the screens the settings window opens as sheets (the
// folder manager, Recently Deleted): a scrolling column of sections, each with
// a header, its rows and a footer.
class SheetList : public QScrollArea {
    Q_OBJECT

public:
    explicit SheetList(QWidget* parent = nullptr);

    struct Section {
        QWidget* box;        // the whole section, to show or hide it
        QVBoxLayout* rows;   // where its rows go
    };
    // Adds a section at the end; an empty header or footer is left out.
    Section addSection(const QString& header, const QString& footer = {});
    // Takes every row out of `rows`; they are deleted once the events under
    // way (a click in a row's menu, say) are done with them.
    static void clearRows(QVBoxLayout* rows);

private:
    QVBoxLayout* m_column;
};

// One row of a SheetList. It reacts to no click; its actions form its context
// menu (the mouse's right button, or the menu key while it has the focus).
class SheetListRow : public QFrame {
    Q_OBJECT

public:
    explicit SheetListRow(QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};
