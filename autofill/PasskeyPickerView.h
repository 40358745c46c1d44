#pragma once

#include "core/PasskeyRecord.h"

#include <QDate>
#include <QList>
#include <QLocale>
#include <QWidget>
#include <functional>

// The passkeys a site may be signed in with when more than one fits: the
// user picks one or cancels. The view only reports the choice, every time a
// row is clicked; it shows no user handle, credential ID or key.
class PasskeyPickerView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize preferredSize{380, 420};

    PasskeyPickerView(QString rpId, QList<PasskeyRecord> candidates,
                      std::function<void(const PasskeyRecord&)> onPick,
                      std::function<void()> onCancel, QWidget* parent = nullptr);

    QSize sizeHint() const override { return preferredSize; }

    // The row's title: the user name, or the relying party when it is empty.
    static QString rowTitle(const PasskeyRecord& record);
    // The day of creation: day, abbreviated month and year in the locale's
    // own order, no time of day ("Dec 9, 2026", "9 Dec 2026").
    static QString creationDate(const QDate& date, const QLocale& locale = QLocale());

private:
    std::function<void(const PasskeyRecord&)> m_onPick;
    std::function<void()> m_onCancel;
};
