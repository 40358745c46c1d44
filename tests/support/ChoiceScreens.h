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

// A text as read, without the invisible isolate marks that stand around
// inserted names.
inline QString withoutIsolates(QString text) {
    return text.remove(QChar(0x2066)).remove(QChar(0x2067)).remove(QChar(0x2068)).remove(QChar(0x2069));
}

// A visible row (a flat button that is not a push button) showing `text`.
inline QAbstractButton* rowShowing(QWidget* in, const QString& text) {
    for (QAbstractButton* row : in->findChildren<QAbstractButton*>()) {
        if (qobject_cast<QPushButton*>(row) || !row->isVisible()) continue;
        for (QLabel* label : row->findChildren<QLabel*>())
            if (withoutIsolates(label->text()) == text) return row;
    }
    return nullptr;
}

inline QPushButton* buttonNamed(QWidget* in, const QString& text) {
    for (QPushButton* b : in->findChildren<QPushButton*>())
        if (b->isVisible() && b->text() == text) return b;
    return nullptr;
}

// Every visible text, rich text read as plain, without isolate marks.
inline QStringList texts(QWidget* in) {
    QStringList shown;
    for (QLabel* label : in->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty()) continue;
        QTextDocument document;
        document.setHtml(label->text());
        QString text = label->textFormat() == Qt::PlainText ? label->text() : document.toPlainText();
        shown.append(withoutIsolates(text));
    }
    return shown;
}

} // namespace ChoiceScreens
