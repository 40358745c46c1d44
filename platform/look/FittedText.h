#pragma once

// Texts that stay whole however narrow their place: a one-line name that is
// cut with "…" (its whole text kept for the tooltip and screen readers), and
// check boxes and radio buttons whose text wraps onto more lines.
#include "platform/look/Style.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>

#include <optional>

class QScrollArea;

namespace Style {

// The property a widget that draws a text of its own sets to what it drew,
// so that a test can tell a cut text from one cut with "…".
inline constexpr char shownTextProperty[] = "shownText";

// A label on one line that asks for no width of its own: what its width
// leaves of the text is drawn cut with "…" at the end, and then the tooltip
// holds the whole text. text() and what a screen reader hears are always the
// whole text. Plain text only.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // The text as drawn at the label's width.
    QString shownText() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshTip();
    bool m_ownTip = false;
};

// An ElidedLabel in a text style and, optionally, a semantic colour, as
// Style::label makes a label.
ElidedLabel* elidedLabel(const QString& text, TextStyle style,
                         std::optional<SemanticColor> colour = std::nullopt,
                         QFont::Weight weight = QFont::Normal);

// A check box on one line that asks for no more width than its indicator
// and "…": a name its width has no room for is drawn cut with "…", and then
// the tooltip holds the whole of it. text() and what a screen reader hears
// are always the whole text.
class ElidedCheckBox : public QCheckBox {
public:
    explicit ElidedCheckBox(QWidget* parent = nullptr);
    explicit ElidedCheckBox(const QString& text, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    QString shownText() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshTip();
    bool m_ownTip = false;
};

// A check box or radio button whose text wraps at the width its layout gives
// it, beside the indicator, rather than asking for the width of its text on
// one line. The whole text stays its text and its accessible name, and the
// whole of it (indicator and text) takes the click.
template <class Button>
class WrappingButton : public Button {
public:
    explicit WrappingButton(QWidget* parent = nullptr);
    explicit WrappingButton(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Asks for the height its lines need at the width it got: some layouts
    // (a form's) give a field the height of its size hint whatever its width.
    void resizeEvent(QResizeEvent* event) override;
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }

private:
    // The indicator and its spacing: the width left of the text.
    int indicatorWidth() const;
    QSize textSize(int width) const;
    QSize sizeFor(QSize text) const;
};

using WrappingCheckBox = WrappingButton<QCheckBox>;
using WrappingRadioButton = WrappingButton<QRadioButton>;

// Keeps the minimum width of `area` that of what it holds, plus its frame
// and vertical scroll bar, so that its window never lays the content out
// wider than the viewport (where the scroll bar would cover its right edge
// and wrapped texts would run under it).
void fitWidthToContent(QScrollArea* area);

} // namespace Style
