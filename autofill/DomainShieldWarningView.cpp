#include "autofill/DomainShieldWarningView.h"

#include "core/Text.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

// Each run between a pair of "**" in bold. The template is ours, so only the
// values need escaping, and they are put in after the markers are replaced:
// a "**" inside a host stays two asterisks.
QString boldRuns(const QString& text) {
    const QStringList runs = text.toHtmlEscaped().split(QStringLiteral("**"));
    QString out;
    for (qsizetype i = 0; i < runs.size(); ++i)
        out += i % 2 ? QStringLiteral("<b>") + runs[i] + QStringLiteral("</b>") : runs[i];
    return out;
}

// The sentence with its values put in, each between isolates: a
// right-to-left host or label then stays one island, and the words around it
// keep their order.
QString sentence(const DomainShieldWarning& warning, const QString& accountLabel) {
    const auto value = [](const QString& text) { return Text::isolated(text).toHtmlEscaped(); };
    const QString host = value(HostText::shown(warning.requestHost));
    const QString known = value(HostText::shown(warning.knownDomain));
    const QString label = value(accountLabel);
    if (warning.verdict == DomainVerdict::spoof)
        return boldRuns(DomainShieldWarningView::tr(
                            "**%1** imitates **%2** \u2014 the real site for %3. Entering a code "
                            "here could hand your account to an attacker."))
            .arg(host, known, label);
    return boldRuns(DomainShieldWarningView::tr(
                        "This code belongs to **%1** (%2), but the request comes from **%3**."))
        .arg(known, label, host);
}

// The sentence as plain text, without isolates, which a screen reader would
// read out as marks or pauses.
QString spokenSentence(const DomainShieldWarning& warning, const QString& accountLabel) {
    QTextDocument document;
    document.setHtml(sentence(warning, accountLabel));
    return ScreenReader::spoken(document.toPlainText());
}

} // namespace

QString DomainShieldWarningView::message(const DomainShieldWarning& warning,
                                         const QString& accountLabel) {
    // The paragraph takes the interface's direction, not that of its first
    // letter: Qt looks into isolates for it, so a right-to-left host at the
    // start would turn the whole sentence round.
    const bool rightToLeft = QGuiApplication::layoutDirection() == Qt::RightToLeft;
    return QStringLiteral("<div dir=\"%1\">%2</div>")
        .arg(rightToLeft ? QStringLiteral("rtl") : QStringLiteral("ltr"),
             sentence(warning, accountLabel));
}

DomainShieldWarningView::DomainShieldWarningView(const DomainShieldWarning& warning,
                                                 const QString& accountLabel,
                                                 std::function<void()> onFillAnyway,
                                                 std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), m_onFillAnyway(std::move(onFillAnyway)), m_onCancel(std::move(onCancel)) {
    const bool spoof = warning.verdict == DomainVerdict::spoof;
    const QColor tint = Style::color(spoof ? Style::SemanticColor::red : Style::SemanticColor::orange);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);
    layout->addSpacerItem(new QSpacerItem(0, 12, QSizePolicy::Minimum, QSizePolicy::Expanding));

    auto* icon = new QLabel;
    const QString symbol = spoof ? QStringLiteral("exclamationmark.octagon.fill")
                                 : QStringLiteral("exclamationmark.triangle.fill");
    icon->setPixmap(Symbols::pixmap(symbol, 44, tint, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(spoof ? tr("Danger") : tr("Warning"));
    layout->addWidget(icon);

    auto* title = Style::label(spoof ? tr("This site looks like a fake") : tr("Different website"),
                               Style::TextStyle::title3, std::nullopt, QFont::Bold);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    layout->addWidget(title);

    auto* text = new QLabel(message(warning, accountLabel));
    text->setTextFormat(Qt::RichText);
    text->setFont(Style::font(Style::TextStyle::callout));
    Style::setTextColor(text, Style::color(Style::SemanticColor::secondary));
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    text->setContentsMargins(24, 0, 24, 0);
    text->setAccessibleName(spokenSentence(warning, accountLabel));
    layout->addWidget(text);

    layout->addSpacerItem(new QSpacerItem(0, 8, QSizePolicy::Minimum, QSizePolicy::Expanding));

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(10);
    buttons->setContentsMargins(24, 0, 24, 20);
    auto* refuse = new QPushButton(tr("Don't Fill"));
    refuse->setFont(Style::font(Style::TextStyle::body, QFont::DemiBold));
    refuse->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white; "
                                         "border: none; border-radius: 6px; padding: 6px; }")
                              .arg(tint.name()));
    connect(refuse, &QPushButton::clicked, this, [this] { m_onCancel(); });
    buttons->addWidget(refuse);
    auto* fill = new QPushButton(tr("Fill Anyway"));
    fill->setFlat(true);
    QPalette secondary = fill->palette();
    secondary.setColor(QPalette::ButtonText, Style::color(Style::SemanticColor::secondary));
    fill->setPalette(secondary);
    connect(fill, &QPushButton::clicked, this, [this] { m_onFillAnyway(); });
    buttons->addWidget(fill);
    layout->addLayout(buttons);

    // Return (the keypad's Enter too) means the safe choice wherever the
    // focus is, and Escape refuses as it does in the account list; "Fill
    // Anyway" has no key of its own. The keys work once the focus is in the
    // view, which it takes when it shows (showEvent).
    refuse->setDefault(true);
    setFocusProxy(refuse);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { m_onCancel(); });
    }
    // As tall as the message's lines at the width it is given.
    Style::fitHeightToWidth(this);
}

// It replaces a screen that had the keyboard, and the focus left with that
// screen: "Don't Fill" takes it whenever the view shows.
void DomainShieldWarningView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocus(Qt::OtherFocusReason);
}
