#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>

// The countdown beside a time-based account: a faint track, an arc that
// shortens as the period runs out, and the whole seconds left in the middle.
// It keeps no timer; its owner hands it the time at every tick.
class TimerRing : public QWidget {
    Q_OBJECT
public:
    struct State {
        double remaining; // seconds left in the period, in (0, period]
        double fraction;  // remaining / period, in (0, 1]
        enum class Tint { accent, orange, red } tint;
        QString label; // whole seconds left, rounded up: never "0"
    };

    // Periods below one second count as one second, as code generation does.
    static State compute(double period, const QDateTime& now);

    explicit TimerRing(QWidget* parent = nullptr);

    void setPeriod(double seconds);
    void setNow(const QDateTime& now);
    State state() const;
    // The colour of the seconds in the middle: the arc's tint (secondary
    // while time is ample), made readable over what the ring stands on.
    QColor labelColour() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshName();

    double period_ = 30;
    QDateTime now_;
};
