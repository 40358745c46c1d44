#include "menubar/SecurityCheckupMacView.h"

#include "app/StoreProblemLine.h"
#include "core/AccountStore.h"
#include "menubar/SecurityCheckup.h"
#include "menubar/SettingsParts.h"
#include "platform/look/Symbols.h"

#include <QAbstractListModel>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <utility>

using Style::SemanticColor;
using CardKey = SecurityCheckupMacView::CardKey;

namespace {

struct SeverityLook {
    const char* symbol;
    SemanticColor colour;
    const char* name; // for a screen reader, which cannot see the symbol
};

SeverityLook look(SecurityCheckup::Severity severity) {
    switch (severity) {
    case SecurityCheckup::Severity::critical:
        return {"exclamationmark.octagon.fill", SemanticColor::red,
                QT_TRANSLATE_NOOP("SecurityCheckupMacView", "Critical")};
    case SecurityCheckup::Severity::warning:
        return {"exclamationmark.triangle.fill", SemanticColor::orange,
                QT_TRANSLATE_NOOP("SecurityCheckupMacView", "Warning")};
    case SecurityCheckup::Severity::info:
        break;
    }
    return {"info.circle.fill", SemanticColor::secondary,
            QT_TRANSLATE_NOOP("SecurityCheckupMacView", "Information")};
}

// A card: padded 12 on all sides, the severity's symbol (the height of a
// line of body text) and 12 points later the title over the detail, 3 apart;
// 16 points separate one card from the next.
constexpr int padding = 12;
constexpr int spacing = 12;
constexpr int lineGap = 3;
constexpr int cardGap = 16;

QFont titleFont() { return Style::font(Style::TextStyle::body, QFont::DemiBold); }
QFont detailFont() { return Style::font(Style::TextStyle::callout); }
int symbolSide() { return QFontMetrics(Style::font(Style::TextStyle::body)).height(); }

} // namespace

namespace CheckupParts {

// The findings as rows. A change replaces only the rows that changed, so a
// card shown alike stays where it is and the list keeps its place.
class FindingsModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_cards.size() + m_rest.size() - m_restFrom);
    }

    // While setCards() works, the rows are the new ones done so far, then
    // the old ones not yet reached.
    const CardKey& card(int row) const {
        return row < m_cards.size() ? m_cards.at(row)
                                    : m_rest.at(m_restFrom + row - m_cards.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const CardKey& card = this->card(index.row());
        const SeverityLook severity = look(card.severity);
        switch (role) {
        case Qt::DisplayRole:
            return card.title;
        case Qt::AccessibleTextRole:
            return SecurityCheckupMacView::tr("%1: %2")
                .arg(SecurityCheckupMacView::tr(severity.name), card.title);
        case Qt::AccessibleDescriptionRole:
            return card.detail;
        case SecurityCheckupMacView::symbolRole:
            return QString::fromLatin1(severity.symbol);
        default:
            return {};
        }
    }

    // In one walk over both lists, each run of cards that went or came in
    // one signal: an import that adds thousands of findings costs their
    // number, not its square. Cards kept in another order are one reset.
    void setCards(const QList<CardKey>& next) {
        if (next == m_cards) return;
        const QSet<CardKey> wanted(next.begin(), next.end());
        const QSet<CardKey> had(m_cards.begin(), m_cards.end());
        if (!keptInOrder(next, wanted, had)) {
            beginResetModel();
            m_cards = next;
            endResetModel();
            return;
        }
        m_rest = std::exchange(m_cards, {});
        m_cards.reserve(next.size());
        qsizetype at = 0; // in next
        while (m_restFrom < m_rest.size() || at < next.size()) {
            const int row = int(m_cards.size());
            if (m_restFrom < m_rest.size() && !wanted.contains(m_rest.at(m_restFrom))) {
                qsizetype end = m_restFrom + 1;
                while (end < m_rest.size() && !wanted.contains(m_rest.at(end))) ++end;
                beginRemoveRows({}, row, row + int(end - m_restFrom) - 1);
                m_restFrom = end;
                endRemoveRows();
            } else if (at < next.size() && !had.contains(next.at(at))) {
                qsizetype end = at + 1;
                while (end < next.size() && !had.contains(next.at(end))) ++end;
                beginInsertRows({}, row, row + int(end - at) - 1);
                m_cards.append(next.mid(at, end - at));
                at = end;
                endInsertRows();
            } else {
                // Kept: the same card on both sides, as keptInOrder found.
                m_cards.append(m_rest.at(m_restFrom++));
                ++at;
            }
        }
        m_rest.clear();
        m_restFrom = 0;
    }

private:
    // Whether the cards both lists hold come in the same order in each.
    bool keptInOrder(const QList<CardKey>& next, const QSet<CardKey>& wanted,
                     const QSet<CardKey>& had) const {
        qsizetype at = 0;
        for (const CardKey& card : m_cards) {
            if (!wanted.contains(card)) continue;
            while (at < next.size() && !had.contains(next.at(at))) ++at;
            if (at == next.size() || next.at(at) != card) return false;
            ++at;
        }
        while (at < next.size() && !had.contains(next.at(at))) ++at;
        return at == next.size();
    }

    QList<CardKey> m_cards;
    QList<CardKey> m_rest; // the old rows, while setCards() works
    qsizetype m_restFrom = 0;
};

// Draws the cards. Their heights depend on the width their texts wrap in,
// and are kept per text for the width the list has now.
class CardDelegate : public QStyledItemDelegate {
public:
    CardDelegate(const FindingsModel& model, QListView* view)
        : QStyledItemDelegate(view), m_model(model), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
        const int width = m_view->viewport()->width();
        const CardKey& card = m_model.card(index.row());
        const int gap = index.row() + 1 < m_model.rowCount() ? cardGap : 0;
        return {width, measure(card, width).card + gap};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const CardKey& card = m_model.card(index.row());
        const SeverityLook severity = look(card.severity);
        const QPalette& palette = option.palette;
        const Heights heights = measure(card, option.rect.width());
        const QRect box(option.rect.topLeft(), QSize(option.rect.width(), heights.card));
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        // The text background at half its opacity, rounded.
        QPainterPath plate;
        plate.addRoundedRect(QRectF(box), 8, 8);
        painter->fillPath(plate, SettingsParts::panelFill(m_view));
        if ((option.state & QStyle::State_HasFocus) && m_view->hasFocus()) {
            // Where the keyboard is, for those who move through the cards.
            painter->setPen(QPen(Style::color(SemanticColor::accent, palette), 2));
            painter->drawPath(plate);
        }

        const int side = symbolSide();
        const QPointF symbolAt(box.left() + padding, box.top() + padding);
        painter->drawPixmap(symbolAt,
                            Symbols::pixmap(QLatin1String(severity.symbol), side,
                                            Style::color(severity.colour, palette),
                                            painter->device()->devicePixelRatioF()));

        const int left = box.left() + padding + side + spacing;
        const int width = textWidth(box.width());
        painter->setPen(palette.color(QPalette::WindowText));
        painter->setFont(titleFont());
        SettingsParts::drawWrapped(painter, QRect(left, box.top() + padding, width, heights.title),
                                   card.title);
        painter->setPen(Style::color(SemanticColor::secondary, palette));
        painter->setFont(detailFont());
        const int detailTop = box.top() + padding + heights.title + lineGap;
        SettingsParts::drawWrapped(painter, QRect(left, detailTop, width, box.bottom() - detailTop),
                                   card.detail);
        painter->restore();
    }

private:
    struct Heights {
        int title;
        int card;
    };

    static int textWidth(int cardWidth) { return cardWidth - 2 * padding - symbolSide() - spacing; }

    // A card's heights, kept per title and detail.
    Heights measure(const CardKey& card, int width) const {
        if (width != m_width) {
            m_heights.clear();
            m_width = width;
        }
        const std::pair<QString, QString> texts(card.title, card.detail);
        const auto known = m_heights.constFind(texts);
        if (known != m_heights.constEnd()) return *known;
        const int text = textWidth(width);
        const int title = SettingsParts::wrappedHeight(titleFont(), text, card.title);
        const int detail = SettingsParts::wrappedHeight(detailFont(), text, card.detail);
        return *m_heights.insert(texts,
                                 {title, 2 * padding + std::max(symbolSide(), title + lineGap + detail)});
    }

    const FindingsModel& m_model;
    QListView* m_view;
    mutable int m_width = -1;
    mutable QHash<std::pair<QString, QString>, Heights> m_heights;
};

} // namespace CheckupParts

using namespace CheckupParts;

namespace {

// "No issues found" beside a green seal.
QWidget* allClearLine(const QWidget* host) {
    auto* allClear = new QWidget;
    auto* line = new QHBoxLayout(allClear);
    line->setContentsMargins(0, 8, 0, 8);
    line->setSpacing(6);
    const QColor green = Style::color(SemanticColor::green);
    auto* seal = new QLabel;
    const int side = QFontMetrics(Style::font(Style::TextStyle::body)).height();
    seal->setPixmap(Symbols::pixmap(QStringLiteral("checkmark.seal.fill"), side, green,
                                    host->devicePixelRatioF()));
    line->addWidget(seal);
    QLabel* text = Style::label(SecurityCheckupMacView::tr("No issues found"),
                                Style::TextStyle::body);
    Style::setTextColor(text, green);
    line->addWidget(text);
    line->addStretch(1);
    return allClear;
}

} // namespace

size_t qHash(const SecurityCheckupMacView::CardKey& key, size_t seed) {
    return qHashMulti(seed, int(key.kind), int(key.severity), key.title, key.detail);
}

ScoreRingMac::ScoreRingMac(QWidget* parent) : QWidget(parent) {
    setScore(100);
}

void ScoreRingMac::setScore(int score) {
    m_score = score;
    setAccessibleName(tr("Score %1 out of 100").arg(score));
    update();
}

void ScoreRingMac::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal lineWidth = 6;
    const qreal side = qMin(width(), height());
    const QRectF square((width() - side) / 2, (height() - side) / 2, side, side);
    const QRectF ring = square.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2,
                                        -lineWidth / 2);

    QPen track(palette().color(QPalette::Mid), lineWidth, Qt::SolidLine, Qt::FlatCap,
               Qt::MiterJoin);
    painter.setPen(track);
    painter.drawEllipse(ring);

    const qreal fraction = qBound(0.0, m_score / 100.0, 1.0);
    if (fraction > 0) {
        QPen arc(Style::color(SecurityCheckupMacView::band(m_score).colour, palette()), lineWidth,
                 Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
        painter.setPen(arc);
        // From twelve o'clock, clockwise (Qt counts angles anticlockwise in
        // sixteenths of a degree).
        painter.drawArc(ring, 90 * 16, -qRound(fraction * 360 * 16));
    }

    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(Style::font(Style::TextStyle::title3, QFont::Bold, true));
    painter.drawText(square, Qt::AlignCenter, QString::number(m_score));
}

SecurityCheckupMacView::Band SecurityCheckupMacView::band(int score) {
    if (score >= 90 && score <= 100)
        return {tr("Excellent"), SemanticColor::green};
    if (score >= 70 && score <= 89)
        return {tr("Good"), SemanticColor::mint};
    if (score >= 50 && score <= 69)
        return {tr("Fair"), SemanticColor::orange};
    return {tr("Needs attention"), SemanticColor::red};
}

SecurityCheckupMacView::SecurityCheckupMacView(AccountStore& store, QWidget* parent)
    : QWidget(parent), m_store(store) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    // An unread vault has no score: its empty list is no healthy vault.
    m_problem = new StoreProblemLine(m_store, StoreProblemLine::Scope::screen, this);
    outer->addWidget(m_problem);

    auto* column = new QVBoxLayout;
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    outer->addLayout(column, 1);

    m_result = new QWidget;
    auto* result = new QVBoxLayout(m_result);
    result->setContentsMargins(0, 0, 0, 0);
    result->setSpacing(16);
    column->addWidget(m_result, 1);
    auto* scoreRow = new QHBoxLayout;
    scoreRow->setSpacing(16);
    m_ring = new ScoreRingMac;
    m_ring->setFixedSize(64, 64);
    scoreRow->addWidget(m_ring);
    auto* words = new QVBoxLayout;
    words->setSpacing(3);
    m_grade = Style::label(QString(), Style::TextStyle::title3, std::nullopt, QFont::DemiBold);
    words->addWidget(m_grade);
    m_summary = Style::label(QString(), Style::TextStyle::body, SemanticColor::secondary);
    words->addWidget(m_summary);
    scoreRow->addLayout(words);
    scoreRow->addStretch(1);
    result->addLayout(scoreRow);

    m_body = new QStackedWidget;
    m_model = new FindingsModel(this);
    m_list = new QListView;
    m_list->setModel(m_model);
    m_list->setItemDelegate(new CardDelegate(*m_model, m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // details wrap instead
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setResizeMode(QListView::Adjust);
    // A few cards at a time between turns of the event loop.
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(50);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAccessibleName(tr("Findings"));
    m_body->addWidget(m_list);
    auto* clear = new QWidget;
    auto* clearColumn = new QVBoxLayout(clear);
    clearColumn->setContentsMargins(0, 0, 0, 0);
    clearColumn->addWidget(allClearLine(this));
    clearColumn->addStretch(1);
    m_body->addWidget(clear);
    result->addWidget(m_body, 1);

    QLabel* footnote = Style::label(tr("Quillet checks your vault on this computer only. Nothing "
                                       "here is uploaded."),
                                    Style::TextStyle::caption, SemanticColor::secondary);
    footnote->setWordWrap(true);
    column->addWidget(footnote);
    column->addStretch(0); // takes the room while there is no result

    connect(&m_store, &AccountStore::accountsChanged, this, &SecurityCheckupMacView::refresh);
    connect(&m_store, &AccountStore::vaultStateChanged, this, &SecurityCheckupMacView::refresh);
    refresh();
}

SecurityCheckupMacView::~SecurityCheckupMacView() = default;

void SecurityCheckupMacView::refresh() {
    m_result->setVisible(m_store.vaultState() == AccountStore::VaultState::open);
    const SecurityCheckup::Result result = SecurityCheckup::analyze(m_store.accounts());
    m_ring->setScore(result.score);
    m_grade->setText(band(result.score).grade);
    const qsizetype count = result.findings.size();
    m_summary->setText(count == 0 ? tr("Your vault looks healthy.")
                                  : tr("%1 %2 to review.")
                                        .arg(count)
                                        .arg(count == 1 ? tr("item") : tr("items")));

    QList<CardKey> cards;
    cards.reserve(count);
    for (const SecurityCheckup::Finding& finding : result.findings)
        cards.append(CardKey{finding.kind, finding.severity, finding.accountIDs, finding.title,
                             finding.detail});
    m_model->setCards(cards);
    m_body->setCurrentIndex(cards.isEmpty() ? 1 : 0);
}
