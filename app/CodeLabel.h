#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QVariantAnimation>
#include <QWidget>

// A code in large digits. When the code changes, the old characters roll up
// and out while the new ones roll in from below, the desktop counterpart of a
// counting digit display.
class CodeLabel : public QWidget {
    Q_OBJECT

public:
    explicit CodeLabel(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    void setColor(const QColor& color);
    QColor color() const { return m_color; }
    bool isRolling() const { return m_roll.state() == QAbstractAnimation::Running; }

    // Room for `text` in `metrics`' font, and for any other code of the same
    // form (digits, letters, spaces in the same places), so that a column of
    // codes neither clips a wide letter nor jitters as digits change.
    static int widthFor(const QFontMetrics& metrics, const QString& text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QString m_previous;
    QColor m_color;
    QVariantAnimation m_roll;
};
