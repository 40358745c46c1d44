#include "platform/look/Style.h"

#include <QHash>
#include <QMutex>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace Style {

namespace {

constexpr qreal referenceBodySize = 13.0;

// Rounded faces that some desktops install; none is required.
const QString& installedRoundedFamily() {
    static const QString family = [] {
        for (const char* name : {"Nunito", "Varela Round", "M PLUS Rounded 1c"}) {
            const QString candidate = QString::fromLatin1(name);
            if (QFontDatabase::hasFamily(candidate)) return candidate;
        }
        return QString();
    }();
    return family;
}

bool digitsEquallyWide(const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (!qFuzzyCompare(metrics.horizontalAdvance(QLatin1Char(digit)), zero)) return false;
    }
    return true;
}

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

// Sizes in points at the reference body size of 13 points.
qreal referencePointSize(TextStyle style) {
    switch (style) {
    case TextStyle::largeTitle:
        return 26;
    case TextStyle::title:
        return 22;
    case TextStyle::title2:
        return 17;
    case TextStyle::title3:
        return 15;
    case TextStyle::headline:
        return 13;
    case TextStyle::body:
        return 13;
    case TextStyle::callout:
        return 12;
    case TextStyle::subheadline:
        return 11;
    case TextStyle::footnote:
        return 10;
    case TextStyle::caption:
        return 10;
    case TextStyle::caption2:
        return 10;
    }
    return referenceBodySize;
}

} // namespace

namespace {

QFont makeFont(TextStyle style, QFont::Weight weight, bool monospacedDigits, bool rounded) {
    QFont result = QGuiApplication::font();
    // A font set in pixels has no point size; scale from the reference then.
    const qreal body = result.pointSizeF() > 0 ? result.pointSizeF() : referenceBodySize;
    result.setPointSizeF(body * referencePointSize(style) / referenceBodySize);
    if (style == TextStyle::headline && weight == QFont::Normal) weight = QFont::Bold;
    result.setWeight(weight);
    if (rounded && !installedRoundedFamily().isEmpty())
        result.setFamilies({installedRoundedFamily()});
    if (monospacedDigits) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
        result.setFeature(QFont::Tag("tnum"), 1);
#else
        // No OpenType feature control before Qt 6.7: most desktop faces have
        // equal-width digits already; for the others take the fixed face.
        if (!digitsEquallyWide(result))
            result.setFamilies({QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
#endif
    }
    return result;
}

} // namespace

QFont font(TextStyle style, QFont::Weight weight, bool monospacedDigits, bool rounded) {
    // Every row of every list asks for the same few fonts, and measuring the
    // digits is not free: each combination is made once per application font.
    static QMutex mutex;
    static QHash<QString, QFont> made;
    const QString key = QStringLiteral("%1/%2/%3/%4/%5")
                            .arg(int(style))
                            .arg(int(weight))
                            .arg(monospacedDigits)
                            .arg(rounded)
                            .arg(QGuiApplication::font().key());
    QMutexLocker locker(&mutex);
    const auto found = made.constFind(key);
    if (found != made.constEnd()) return *found;
    return *made.insert(key, makeFont(style, weight, monospacedDigits, rounded));
}

int points(qreal length) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96;
    return qRound(length * std::max<qreal>(1, dpi / 96));
}

namespace {

// Relative luminance of an opaque colour, as WCAG 2 defines it.
double luminance(const QColor& colour) {
    const auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

QColor blended(const QColor& top, const QColor& bottom, double amount) {
    const QColor a = top.toRgb();
    const QColor b = bottom.toRgb();
    const auto mix = [amount](float x, float y) { return float(x * amount + y * (1 - amount)); };
    return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()),
                            mix(a.blueF(), b.blueF()));
}

} // namespace

double contrastRatio(const QColor& text, const QColor& background) {
    const QColor ground = background.toRgb();
    const double over = luminance(blended(text, ground, text.alphaF()));
    const double under = luminance(ground);
    return (std::max(over, under) + 0.05) / (std::min(over, under) + 0.05);
}

QColor readable(const QColor& text, const QColor& background, double ratio) {
    const QColor shown = blended(text, background, text.alphaF());
    if (contrastRatio(shown, background) >= ratio) return shown;
    // Black or white, whichever stands further from the background.
    const QColor extreme = contrastRatio(Qt::white, background) > contrastRatio(Qt::black, background)
                               ? Qt::white
                               : Qt::black;
    constexpr int steps = 40;
    for (int step = 1; step < steps; ++step) {
        const QColor candidate = blended(extreme, shown, double(step) / steps);
        if (contrastRatio(candidate, background) >= ratio) return candidate;
    }
    return extreme;
}

QColor color(SemanticColor c, const QPalette& palette) {
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const bool dark = isDark(palette);
    switch (c) {
    case SemanticColor::primary:
        return text;
    case SemanticColor::secondary:
        return withAlpha(text, 0.55);
    case SemanticColor::tertiary:
        return withAlpha(text, 0.3);
    case SemanticColor::quaternary:
        return withAlpha(text, 0.14);
    case SemanticColor::accent:
        return palette.color(QPalette::Active, QPalette::Highlight);
    case SemanticColor::green:
        return dark ? QColor(50, 215, 75) : QColor(40, 205, 65);
    case SemanticColor::orange:
        return dark ? QColor(255, 159, 10) : QColor(255, 149, 0);
    case SemanticColor::red:
        return dark ? QColor(255, 69, 58) : QColor(255, 59, 48);
    case SemanticColor::yellow:
        return dark ? QColor(255, 214, 10) : QColor(255, 204, 0);
    case SemanticColor::blue:
        return dark ? QColor(10, 132, 255) : QColor(0, 122, 255);
    case SemanticColor::mint:
        return dark ? QColor(99, 230, 226) : QColor(0, 199, 190);
    case SemanticColor::indigo:
        return dark ? QColor(94, 92, 230) : QColor(88, 86, 214);
    }
    return text;
}

} // namespace Style
