#pragma once

#include <QWidget>

class QLabel;

// The slim orange banner at the top of the tray's panel while the computer's
// clock is found to be off by 15 seconds or more: how far, which way, and
// that codes are corrected for it.
class MacClockDriftBanner : public QWidget {
    Q_OBJECT

public:
    // `seconds`: positive when this computer's clock runs ahead.
    explicit MacClockDriftBanner(qint64 seconds = 0, QWidget* parent = nullptr);

    void setSeconds(qint64 seconds);
    qint64 seconds() const { return m_seconds; }
    QString message() const;

    // "Clock is 42s fast — codes auto-corrected" / "... slow ...".
    static QString messageFor(qint64 seconds);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qint64 m_seconds = 0;
    QLabel* m_message;
};
