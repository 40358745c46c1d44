#include "intake/AccountQRView.h"

#include "platform/look/FittedText.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "platform/qr/QrImage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int sheetWidth = 360;
constexpr int sheetPadding = 24;

// The white rounded square with the code fitted into its middle, modules
// kept sharp.
class CodeSquare : public QWidget {
public:
    // Its full size where there is room; on a screen too short for the
    // sheet (large text, scaling) down to half of it, still scannable.
    CodeSquare(QImage image, QWidget* parent) : QWidget(parent), m_image(std::move(image)) {
        setMinimumSize(fullSide / 2, fullSide / 2);
        setMaximumSize(fullSide, fullSide);
    }

    QSize sizeHint() const override { return {fullSide, fullSide}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // A square in the middle of what the layout gave, scaled as a whole.
        const int side = std::min(width(), height());
        painter.translate((width() - side) / 2, (height() - side) / 2);
        const qreal scale = qreal(side) / fullSide;
        QPainterPath square;
        square.addRoundedRect(QRectF(0, 0, side, side).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
        painter.fillPath(square, Qt::white);
        painter.setPen(QPen(Style::color(Style::SemanticColor::quaternary, palette()), 1));
        painter.drawPath(square);
        if (m_image.isNull()) return;
        const int padding = qRound(AccountQRView::codePadding * scale);
        const int codeSide = side - 2 * padding;
        const QRect frame(padding, padding, codeSide, codeSide);
        const QSize fitted = m_image.size().scaled(frame.size(), Qt::KeepAspectRatio);
        const QRect target(frame.x() + (frame.width() - fitted.width()) / 2,
                           frame.y() + (frame.height() - fitted.height()) / 2, fitted.width(),
                           fitted.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.drawImage(target, m_image);
    }

private:
    static constexpr int fullSide = AccountQRView::codeSide + 2 * AccountQRView::codePadding;
    QImage m_image;
};

} // namespace

QImage AccountQRView::qrImage(const Account& account) {
    return QrImage::make(account.otpauthURL().toUtf8(), 8);
}

AccountQRView::AccountQRView(const Account& account, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Move to another device"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);

    auto* column = new QVBoxLayout(this);
    column->setSpacing(18);
    column->setContentsMargins(sheetPadding, sheetPadding, sheetPadding, sheetPadding);

    auto* header = new QVBoxLayout;
    header->setSpacing(5);
    header->setContentsMargins(0, 4, 0, 0);
    QLabel* title = Style::label(tr("Move to another device"), Style::TextStyle::headline);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    header->addWidget(title);
    // One line: a long label is cut with an ellipsis rather than widening
    // the sheet, and its tooltip and screen readers have the whole of it.
    auto* label = Style::elidedLabel(account.displayLabel(), Style::TextStyle::subheadline,
                                     Style::SemanticColor::secondary);
    label->setAlignment(Qt::AlignCenter);
    header->addWidget(label);
    column->addLayout(header);

    column->addWidget(new CodeSquare(qrImage(account), this), 0, Qt::AlignHCenter);

    auto* warningRow = new QHBoxLayout;
    warningRow->setSpacing(6);
    const QColor orange = Style::color(Style::SemanticColor::orange);
    const QFont caption = Style::font(Style::TextStyle::caption);
    auto* icon = new QLabel(this);
    const int iconSize = QFontMetrics(caption).height();
    icon->setPixmap(Symbols::pixmap(QStringLiteral("exclamationmark.triangle.fill"), iconSize,
                                    orange, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignTop);
    ScreenReader::setHidden(icon);
    QLabel* warning = Style::label(tr("Anyone who scans this gets full access to this account. "
                                      "Only show it on a screen you trust."),
                                   Style::TextStyle::caption, Style::SemanticColor::orange);
    warning->setWordWrap(true);
    warning->setAlignment(Qt::AlignCenter);
    warningRow->addWidget(icon, 0, Qt::AlignTop);
    warningRow->addWidget(warning, 1);
    column->addLayout(warningRow);

    auto* done = new QPushButton(tr("Done"), this);
    done->setDefault(true);
    done->setAutoDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    column->addWidget(done, 0, Qt::AlignHCenter);
    Style::fitHeightToWidth(this);
}
