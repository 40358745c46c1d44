#include "menubar/SecurityCheckupMacView.h"

#include "app/StoreProblemLine.h"
#include "core/AccountStore.h"
#include "menubar/SecurityCheckup.h"
#include "menubar/SettingsParts.h"
#include "platform/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMultiHash>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

using Style::SemanticColor;

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

// A rounded card on the text background at half opacity.
QWidget* card(const SecurityCheckup::Finding& finding, const QWidget* host) {
    QWidget* box = SettingsParts::roundedPanel(SettingsParts::panelFill(host));
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);
    const SeverityLook severity = look(finding.severity);
    auto* icon = new QLabel;
    const int side = QFontMetrics(Style::font(Style::TextStyle::body)).height();
    icon->setPixmap(Symbols::pixmap(QLatin1String(severity.symbol), side,
                                    Style::color(severity.colour), box->devicePixelRatioF()));
    icon->setAccessibleName(SecurityCheckupMacView::tr(severity.name));
    icon->setProperty("symbol", QLatin1String(severity.symbol));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(Style::label(finding.title, Style::TextStyle::body, std::nullopt,
                                  QFont::DemiBold));
    QLabel* detail =
        Style::label(finding.detail, Style::TextStyle::callout, SemanticColor::secondary);
    detail->setWordWrap(true);
    texts->addWidget(detail);
    row->addLayout(texts, 1);
    return box;
}

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
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // details wrap instead
    outer->addWidget(scroll);

    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);

    m_result = new QWidget;
    auto* result = new QVBoxLayout(m_result);
    result->setContentsMargins(0, 0, 0, 0);
    result->setSpacing(16);
    column->addWidget(m_result);
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

    m_findings = new QVBoxLayout;
    m_findings->setContentsMargins(0, 0, 0, 0);
    m_findings->setSpacing(16);
    result->addLayout(m_findings);
    m_allClear = allClearLine(this);
    m_findings->addWidget(m_allClear);

    QLabel* footnote = Style::label(tr("Quillet checks your vault on this computer only. Nothing "
                                       "here is uploaded."),
                                    Style::TextStyle::caption, SemanticColor::secondary);
    footnote->setWordWrap(true);
    column->addWidget(footnote);
    column->addStretch(1);
    scroll->setWidget(page);

    connect(&m_store, &AccountStore::accountsChanged, this, &SecurityCheckupMacView::refresh);
    connect(&m_store, &AccountStore::vaultStateChanged, this, &SecurityCheckupMacView::refresh);
    refresh();
}

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

    // Only what changed is built again: a card stands for what it shows, so
    // a finding shown the same way keeps its card (a vault of thousands has
    // as many cards, too many to build again for each change).
    QList<CardKey> keys;
    keys.reserve(count);
    for (const SecurityCheckup::Finding& finding : result.findings)
        keys.append(CardKey{finding.kind, finding.severity, finding.accountIDs, finding.title,
                            finding.detail});
    m_allClear->setVisible(result.findings.isEmpty());
    if (keys == m_cardKeys) return;
    QMultiHash<CardKey, QWidget*> unused;
    for (qsizetype i = 0; i < m_cards.size(); ++i) {
        m_findings->removeWidget(m_cards[i]);
        unused.insert(m_cardKeys[i], m_cards[i]);
    }
    QList<QWidget*> cards;
    cards.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const auto kept = unused.find(keys[i]);
        QWidget* box = nullptr;
        if (kept != unused.end()) {
            box = kept.value();
            unused.erase(kept);
        } else {
            box = card(result.findings[i], this);
        }
        m_findings->addWidget(box);
        cards.append(box);
    }
    for (QWidget* box : std::as_const(unused))
        delete box;
    m_cards = std::move(cards);
    m_cardKeys = std::move(keys);
}
