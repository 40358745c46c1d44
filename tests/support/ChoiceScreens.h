#pragma once

// Reads and works the credential provider's screens as a user does: by the
// texts they show and the rows and buttons that carry them.
#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTextDocument>
#include <QWidget>

namespace ChoiceScreens {

// A visible row (a flat button that is not a push button) showing `text`.
inline QAbstractButton* rowShowing(QWidget* in, const QString& text) {
    for (QAbstractButton* row : in->findChildren<QAbstractButton*>()) {
        if (qobject_cast<QPushButton*>(row) || !row->isVisible()) continue;
        for (QLabel* label : row->findChildren<QLabel*>())
            if (label->text() == text) return row;
    }
    return nullptr;
}

inline QPushButton* buttonNamed(QWidget* in, const QString& text) {
    for (QPushButton* b : in->findChildren<QPushButton*>())
        if (b->isVisible() && b->text() == text) return b;
    return nullptr;
}

// Every visible text, rich text read as plain.
inline QStringList texts(QWidget* in) {
    QStringList shown;
    for (QLabel* label : in->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty()) continue;
        QTextDocument document;
        document.setHtml(label->text());
        shown.append(label->textFormat() == Qt::PlainText ? label->text() : document.toPlainText());
    }
    return shown;
}

} // namespace ChoiceScreens
