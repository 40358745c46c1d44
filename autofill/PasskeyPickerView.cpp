#include "autofill/PasskeyPickerView.h"

#include "autofill/ChoiceParts.h"
#include "autofill/DomainShield.h"
#include "core/Text.h"
#include "platform/look/FittedText.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollArea>

QString PasskeyPickerView::rowTitle(const PasskeyRecord& record) {
    return Text::isolated(record.userName.isEmpty() ? HostText::shown(record.rpId)
                                                    : Text::oneLine(record.userName));
}

QString PasskeyPickerView::creationDate(const QDate& date, const QLocale& locale) {
    // The locale's long date without its weekday, with the month's short
    // name: its order and punctuation stay the locale's.
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("\\s*dddd?[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    static const QRegularExpression dangling(QStringLiteral("^[\\s,.]+|[\\s,]+$"));
    format.remove(dangling);
    return locale.toString(date, format);
}

PasskeyPickerView::PasskeyPickerView(QString rpId, QList<PasskeyRecord> candidates,
                                     std::function<void(const PasskeyRecord&)> onPick,
                                     std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), m_onPick(std::move(onPick)), m_onCancel(std::move(onCancel)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(0, 14, 0, 14);
    header->setSpacing(4);
    auto* symbol = new QLabel;
    const int symbolSize = QFontMetrics(Style::font(Style::TextStyle::title2)).height() + 6;
    symbol->setPixmap(Symbols::pixmap(QStringLiteral("person.badge.key.fill"), symbolSize,
                                      Style::color(Style::SemanticColor::accent),
                                      devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignCenter);
    ScreenReader::setHidden(symbol);
    header->addWidget(symbol);
    auto* title = Style::label(tr("Choose a passkey"), Style::TextStyle::headline);
    title->setAlignment(Qt::AlignCenter);
    header->addWidget(title);
    auto* party = Style::label(Text::isolated(HostText::shown(rpId)), Style::TextStyle::caption,
                               Style::SemanticColor::secondary);
    party->setAccessibleName(ScreenReader::spoken(party->text()));
    party->setAlignment(Qt::AlignCenter);
    header->addWidget(party);
    column->addLayout(header);
    column->addWidget(ChoiceParts::divider());

    QVBoxLayout* rows = nullptr;
    column->addWidget(ChoiceParts::rowList(&rows), 1);
    for (const PasskeyRecord& record : candidates) {
        auto* row = new ChoiceParts::Row;
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        const QString name = rowTitle(record);
        const QString created = creationDate(record.createdAt.toLocalTime().date());
        // A long name is cut with "…", whole in its tooltip.
        texts->addWidget(Style::elidedLabel(name, Style::TextStyle::body));
        texts->addWidget(
            Style::label(created, Style::TextStyle::caption2, Style::SemanticColor::secondary));
        row->content()->addLayout(texts, 1);
        row->setAccessibleName(ScreenReader::spoken(name) + QStringLiteral(", ") + created);
        connect(row, &QAbstractButton::clicked, this, [this, record] { m_onPick(record); });
        rows->insertWidget(rows->count() - 1, row);
    }

    column->addWidget(ChoiceParts::divider());
    column->addWidget(ChoiceParts::cancelFooter(this, [this] { m_onCancel(); }));
}
