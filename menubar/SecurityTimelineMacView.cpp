#include "menubar/SecurityTimelineMacView.h"

#include "menubar/SettingsParts.h"
#include "platform/look/Symbols.h"

#include <QAbstractListModel>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QtConcurrent>

using Style::SemanticColor;

// The rows of the list: the snapshot's entries, newest first.
class TimelineModel : public QAbstractListModel {
public:
    enum Role { detailRole = Qt::UserRole, timeRole, symbolRole, colourRole };

    using QAbstractListModel::QAbstractListModel;

    void setEntries(const QList<AuditEntry>& entries) {
        beginResetModel();
        m_entries = entries;
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_entries.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= m_entries.size())
            return {};
        const AuditEntry& entry = m_entries[m_entries.size() - 1 - index.row()];
        const SecurityTimelineMacView::EventLook look = SecurityTimelineMacView::look(entry.type);
        switch (role) {
        case Qt::DisplayRole:
            return look.title;
        case Qt::AccessibleTextRole: {
            QStringList parts{look.title};
            if (!entry.detail.isEmpty())
                parts << entry.detail;
            parts << SecurityTimelineMacView::timeText(entry.unixMillis);
            return parts.join(QStringLiteral(", "));
        }
        case detailRole:
            return entry.detail;
        case timeRole:
            return SecurityTimelineMacView::timeText(entry.unixMillis);
        case symbolRole:
            return look.symbol;
        case colourRole:
            return int(look.colour);
        default:
            return {};
        }
    }

private:
    QList<AuditEntry> m_entries;
};

namespace {

constexpr int rowPadding = 3;
constexpr int rowGap = 12; // between a row and its divider, and the divider and the next row
constexpr int symbolColumn = 20;
constexpr int columnGap = 10;

// One row: the symbol, the title over the detail, the time at the right, and
// a divider beneath.
class TimelineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const Texts texts = layOut(option, index);
        return {texts.width, rowPadding * 2 + texts.title.height() +
                                 (texts.detail.isEmpty() ? 0 : 1 + texts.detail.height()) +
                                 rowGap * 2 + 1};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        const QPalette& palette = option.palette;
        const QRect rect = option.rect;
        const int top = rect.top() + rowPadding;
        const QFontMetrics titleMetrics(titleFont());
        const QFontMetrics captionMetrics(captionFont());
        const Texts texts = layOut(option, index);

        const QString time = index.data(TimelineModel::timeRole).toString();
        const int timeWidth = captionMetrics.horizontalAdvance(time);
        painter->setFont(captionFont());
        painter->setPen(Style::color(SemanticColor::tertiary, palette));
        painter->drawText(QRect(rect.right() - timeWidth, top, timeWidth, captionMetrics.height()),
                          Qt::AlignRight | Qt::AlignTop, time);

        const int side = titleMetrics.height();
        const QColor tint = Style::color(
            SemanticColor(index.data(TimelineModel::colourRole).toInt()), palette);
        const QPixmap symbol = Symbols::pixmap(index.data(TimelineModel::symbolRole).toString(),
                                               side, tint, painter->device()->devicePixelRatioF());
        painter->drawPixmap(rect.left() + (symbolColumn - side) / 2, top, symbol);

        // Title and detail whole, wrapped to as many lines as they take.
        const int textLeft = rect.left() + symbolColumn + columnGap;
        painter->setFont(titleFont());
        painter->setPen(palette.color(QPalette::WindowText));
        SettingsParts::drawWrapped(painter, texts.title.translated(textLeft, top),
                          index.data().toString());
        const QString detail = index.data(TimelineModel::detailRole).toString();
        if (!detail.isEmpty()) {
            painter->setFont(captionFont());
            painter->setPen(Style::color(SemanticColor::secondary, palette));
            SettingsParts::drawWrapped(
                painter, texts.detail.translated(textLeft, top + texts.title.height() + 1), detail);
        }

        const int dividerY = rect.bottom() - rowGap;
        painter->setPen(palette.color(QPalette::Mid));
        painter->drawLine(rect.left(), dividerY, rect.right(), dividerY);
        painter->restore();
    }

private:
    // Where the title and the detail go, from the text column's top left,
    // in a row as wide as the list shows.
    struct Texts {
        int width;
        QRect title;
        QRect detail; // empty without a detail
    };
    static Texts layOut(const QStyleOptionViewItem& option, const QModelIndex& index) {
        const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
        const int width = view ? view->viewport()->width() : option.rect.width();
        const QFontMetrics captionMetrics(captionFont());
        const int timeWidth =
            captionMetrics.horizontalAdvance(index.data(TimelineModel::timeRole).toString());
        const int textWidth = qMax(40, width - symbolColumn - columnGap - timeWidth - columnGap);
        const auto measure = [textWidth](const QFont& font, const QString& text) {
            return QRect(0, 0, textWidth, SettingsParts::wrappedHeight(font, textWidth, text));
        };
        const QString detail = index.data(TimelineModel::detailRole).toString();
        return {width, measure(titleFont(), index.data().toString()),
                detail.isEmpty() ? QRect() : measure(captionFont(), detail)};
    }
    static QFont titleFont() { return Style::font(Style::TextStyle::callout, QFont::Medium); }
    static QFont captionFont() { return Style::font(Style::TextStyle::caption); }
};

QLabel* captionLabel(const QString& text) {
    QLabel* label = Style::label(text, Style::TextStyle::caption, SemanticColor::secondary);
    label->setWordWrap(true);
    return label;
}

} // namespace

SecurityTimelineMacView::EventLook SecurityTimelineMacView::look(const QString& type) {
    struct Known {
        const char* type;
        const char* symbol;
        SemanticColor colour;
        const char* title;
    };
    static const Known known[] = {
        {"account.added", "plus.circle.fill", SemanticColor::green,
         QT_TR_NOOP("Account added")},
        {"account.imported", "square.and.arrow.down.fill", SemanticColor::green,
         QT_TR_NOOP("Accounts imported")},
        {"account.edited", "pencil.circle.fill", SemanticColor::blue,
         QT_TR_NOOP("Account edited")},
        {"account.deleted", "trash.circle.fill", SemanticColor::red,
         QT_TR_NOOP("Account moved to Recently Deleted")},
        {"account.restored", "arrow.uturn.backward.circle.fill", SemanticColor::green,
         QT_TR_NOOP("Account restored")},
        {"account.erased", "xmark.circle.fill", SemanticColor::red,
         QT_TR_NOOP("Account permanently erased")},
        {"backup.exported", "externaldrive.fill.badge.checkmark", SemanticColor::indigo,
         QT_TR_NOOP("Encrypted backup exported")},
        {"passkey.deleted", "person.badge.key.fill", SemanticColor::orange,
         QT_TR_NOOP("Passkey deleted")},
    };
    for (const Known& entry : known)
        if (type == QLatin1String(entry.type))
            return {QLatin1String(entry.symbol), entry.colour, tr(entry.title)};
    return {QStringLiteral("circle.fill"), SemanticColor::secondary, type};
}

QString SecurityTimelineMacView::timeText(qint64 unixMillis, const QLocale& locale) {
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(unixMillis).toLocalTime();
    // The locale's short date tells whether the day or the month comes
    // first; its short time whether it counts hours to 12 with a marker.
    const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    const qsizetype day = dateFormat.indexOf(QLatin1Char('d'));
    const qsizetype month = dateFormat.indexOf(QLatin1Char('M'));
    const QString dayMonth = day >= 0 && month >= 0 && month < day ? QStringLiteral("MMM d")
                                                                    : QStringLiteral("d MMM");
    const QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    const bool twelveHours = timeFormat.contains(QLatin1Char('a'), Qt::CaseInsensitive);
    const QString clock = twelveHours ? QStringLiteral("h:mm AP") : QStringLiteral("HH:mm");
    return locale.toString(when, dayMonth + QStringLiteral(", ") + clock);
}

SecurityTimelineMacView::SecurityTimelineMacView(SecurityLog& log, QWidget* parent)
    : QWidget(parent), m_log(log) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);

    QWidget* banner = SettingsParts::roundedPanel(SettingsParts::panelFill(this));
    auto* bannerRow = new QHBoxLayout(banner);
    bannerRow->setContentsMargins(12, 12, 12, 12);
    bannerRow->setSpacing(10);
    m_bannerSymbol = new QLabel;
    m_bannerSymbol->setAccessibleName(QString()); // the heading says it
    bannerRow->addWidget(m_bannerSymbol, 0, Qt::AlignVCenter);
    auto* bannerTexts = new QVBoxLayout;
    bannerTexts->setSpacing(2);
    m_bannerTitle = Style::label(QString(), Style::TextStyle::body, std::nullopt, QFont::DemiBold);
    bannerTexts->addWidget(m_bannerTitle);
    m_bannerText = captionLabel(QString());
    bannerTexts->addWidget(m_bannerText);
    bannerRow->addLayout(bannerTexts, 1);
    column->addWidget(banner);

    m_empty = Style::label(tr("No events yet. Add, edit, or export accounts and they'll appear "
                              "here."),
                           Style::TextStyle::body, SemanticColor::secondary);
    m_empty->setWordWrap(true);
    m_empty->setContentsMargins(0, 8, 0, 8);
    column->addWidget(m_empty);

    m_model = new TimelineModel(this);
    m_list = new QListView;
    m_list->setAccessibleName(tr("Security Timeline"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(new TimelineDelegate(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setUniformItemSizes(false);
    // Rows are measured a batch at a time between turns of the event loop:
    // a long timeline must not stop the window answering while it is laid out.
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(100);
    // Rows wrap to the list's width: laid out again when it changes.
    m_list->setResizeMode(QListView::Adjust);
    m_list->viewport()->setAutoFillBackground(false);
    column->addWidget(m_list, 1);

    column->addWidget(captionLabel(tr("Quillet keeps this log on this computer only. Codes and "
                                      "secrets are never logged.")));
    column->addStretch(0); // takes the room while the list is hidden

    connect(&m_loading, &QFutureWatcher<SecurityLog::Snapshot>::finished, this,
            [this] { apply(m_loading.result()); });
    refresh();
}

void SecurityTimelineMacView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    load();
}

void SecurityTimelineMacView::load() {
    SecurityLog* log = &m_log;
    m_loading.setFuture(QtConcurrent::run([log] { return log->snapshot(); }));
}

void SecurityTimelineMacView::apply(const SecurityLog::Snapshot& snapshot) {
    m_entries = snapshot.entries;
    m_fault = snapshot.fault;
    m_loaded = true;
    m_model->setEntries(m_entries);
    refresh();
    emit loaded();
}

QString SecurityTimelineMacView::heading() const {
    if (isIntact()) return tr("Timeline integrity verified");
    switch (m_fault.kind) {
    case TimelineFault::notAFile:
    case TimelineFault::tooLarge:
    case TimelineFault::unreadable:
    case TimelineFault::notUtf8:
        return tr("The timeline could not be read");
    case TimelineFault::none:
    case TimelineFault::notAnEntry:
    case TimelineFault::brokenChain:
        break;
    }
    return tr("Integrity check failed");
}

QString SecurityTimelineMacView::explanation() const {
    if (isIntact())
        return tr("Every entry is hash-chained — edits or deletions would be detected.");
    const QString file = QDir::toNativeSeparators(m_log.path());
    QString why;
    switch (m_fault.kind) {
    case TimelineFault::notAFile:
        why = tr("%1 is not a regular file.").arg(file);
        break;
    case TimelineFault::tooLarge:
        why = tr("%1 is larger than %2 MB.")
                  .arg(file)
                  .arg(AuditLog::maximumFileSize / (1 << 20));
        break;
    case TimelineFault::unreadable:
        why = tr("Reading %1 failed: %2.").arg(file, qt_error_string(m_fault.error));
        break;
    case TimelineFault::notUtf8:
        why = tr("%1 is not UTF-8 text.").arg(file);
        break;
    case TimelineFault::notAnEntry:
    case TimelineFault::none:
    case TimelineFault::brokenChain:
        why = tr("The log doesn't match its hash chain. It may have been modified outside the "
                 "app.");
        // Where, when the reader could tell: a line that is no entry at all,
        // or an entry whose hash does not follow the one before.
        if (m_fault.line > 0)
            why += QLatin1Char(' ') + (m_fault.kind == TimelineFault::notAnEntry
                                           ? tr("Line %1 is not an entry of the timeline.")
                                           : tr("The chain breaks at line %1."))
                                          .arg(m_fault.line);
        break;
    }
    return why + QLatin1Char(' ') + tr("New events are not being recorded.");
}

void SecurityTimelineMacView::refresh() {
    const int side = QFontMetrics(Style::font(Style::TextStyle::title3)).height();
    m_bannerSymbol->setPixmap(Symbols::pixmap(
        isIntact() ? QStringLiteral("checkmark.seal.fill")
                 : QStringLiteral("exclamationmark.triangle.fill"),
        side, Style::color(isIntact() ? SemanticColor::green : SemanticColor::orange),
        devicePixelRatioF()));
    m_bannerTitle->setText(heading());
    m_bannerText->setText(explanation());
    // Only a timeline that was read and holds nothing is empty: one that
    // could not be read, or is broken, says so in the banner alone.
    const bool empty = m_loaded && m_entries.isEmpty() && isIntact();
    m_empty->setVisible(empty);
    m_list->setVisible(!empty);
}
