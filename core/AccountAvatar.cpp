#include "core/AccountAvatar.h"

#include "core/Text.h"
#include "platform/look/Style.h"

#include <QCache>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QPainterPath>
#include <QSet>
#include <QSvgRenderer>
#include <QtMath>
#include <array>
#include <cstdint>
#include <utility>

namespace AccountAvatar {

namespace {

struct BrandColor {
    const char* keyword;
    double red, green, blue;
};

// Order matters: the first keyword found among a key's words wins.
constexpr std::array<BrandColor, 25> brandColors{{
    {"github", 0.38, 0.42, 0.48},    {"google", 0.26, 0.52, 0.96},    {"gmail", 0.92, 0.26, 0.21},
    {"apple", 0.46, 0.46, 0.50},     {"microsoft", 0.00, 0.47, 0.83}, {"amazon", 0.86, 0.53, 0.07},
    {"aws", 0.86, 0.53, 0.07},       {"facebook", 0.26, 0.40, 0.70},  {"meta", 0.26, 0.40, 0.70},
    {"instagram", 0.80, 0.24, 0.55}, {"x", 0.40, 0.42, 0.46},         {"twitter", 0.11, 0.63, 0.95},
    {"dropbox", 0.10, 0.44, 0.94},   {"stripe", 0.39, 0.36, 0.96},    {"binance", 0.78, 0.58, 0.06},
    {"coinbase", 0.16, 0.38, 0.92},  {"bybit", 0.90, 0.55, 0.10},     {"kucoin", 0.13, 0.68, 0.55},
    {"paypal", 0.10, 0.36, 0.66},    {"discord", 0.35, 0.40, 0.95},   {"steam", 0.30, 0.38, 0.50},
    {"epic", 0.42, 0.44, 0.48},      {"nvidia", 0.35, 0.58, 0.10},    {"sony", 0.38, 0.40, 0.46},
    {"telegram", 0.15, 0.63, 0.90},
}};

constexpr std::array<std::array<double, 3>, 10> palette{{
    {0.20, 0.45, 0.90},
    {0.35, 0.34, 0.84},
    {0.56, 0.27, 0.68},
    {0.83, 0.24, 0.55},
    {0.85, 0.23, 0.23},
    {0.90, 0.49, 0.13},
    {0.60, 0.40, 0.20},
    {0.13, 0.55, 0.33},
    {0.11, 0.53, 0.56},
    {0.30, 0.42, 0.55},
}};

constexpr const char* logoKeywords[] = {
    "1password",   "airbnb",     "aliexpress", "amd",          "apple",       "asana",
    "atlassian",   "auth0",      "binance",    "bitbucket",    "bitwarden",   "booking",
    "box",         "cisco",      "cloudflare", "cloudinary",   "coinbase",    "confluence",
    "dashlane",    "datadog",    "debian",     "digitalocean", "discord",     "docker",
    "dropbox",     "duo",        "ea",         "ebay",         "epic",        "epicgames",
    "etsy",        "expressvpn", "facebook",   "fastly",       "fedora",      "figma",
    "firebase",    "fly",        "gandi",      "ghost",        "gitea",       "github",
    "gitlab",      "gmail",      "godaddy",    "google",       "grab",        "grafana",
    "hbo",         "huawei",     "icloud",     "instagram",    "intel",       "jira",
    "kubernetes",  "kucoin",     "lastpass",   "lg",           "linear",      "lyft",
    "mailchimp",   "mailgun",    "mastodon",   "medium",       "messenger",   "meta",
    "mongodb",     "mullvad",    "mysql",      "name",         "namecheap",   "netflix",
    "netlify",     "nordvpn",    "notion",     "npm",          "nvidia",      "okta",
    "okx",         "patreon",    "paypal",     "pinterest",    "planetscale", "playstation",
    "porkbun",     "postgresql", "proton",     "protonmail",   "protonvpn",   "railway",
    "raspberrypi", "reddit",     "redis",      "render",       "revolut",     "riot",
    "roblox",      "samsung",    "sentry",     "shopify",      "signal",      "snapchat",
    "sony",        "spotify",    "square",     "squarespace",  "steam",       "stripe",
    "substack",    "supabase",   "surfshark",  "telegram",     "tesla",       "tiktok",
    "trello",      "trezor",     "tumblr",     "twitch",       "twitchtv",    "twitter",
    "uber",        "ubisoft",    "ubuntu",     "vercel",       "vultr",       "webflow",
    "whatsapp",    "wise",       "wix",        "wordpress",    "x",           "xiaomi",
    "youtube",     "zoho",       "zoom",
};
static_assert(std::size(logoKeywords) == 135);

// Keywords whose logo is filed under another name.
constexpr std::pair<const char*, const char*> logoRenames[] = {
    {"booking", "logo_bookingdotcom"}, {"duo", "logo_cisco"},
    {"epic", "logo_epicgames"},        {"fly", "logo_flydotio"},
    {"gmail", "logo_google"},          {"name", "logo_namecheap"},
    {"protonmail", "logo_proton"},     {"riot", "logo_riotgames"},
    {"twitchtv", "logo_twitch"},       {"twitter", "logo_x"},
};

// Built once, thread-safely (function-local statics), and never changed.
const QHash<QString, QString>& logoTable() {
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> t;
        for (const char* keyword : logoKeywords)
            t.insert(QLatin1String(keyword), QLatin1String("logo_") + QLatin1String(keyword));
        for (const auto& [keyword, asset] : logoRenames)
            t.insert(QLatin1String(keyword), QLatin1String(asset));
        return t;
    }();
    return table;
}

QColor rgb(double red, double green, double blue) {
    return QColor::fromRgbF(red, green, blue);
}

// Letters in the wide sense: Qt's letter and number categories, plus the
// enclosed Latin letters, which Unicode counts as alphabetic symbols.
bool isWordCharacter(char32_t c) {
    return QChar::isLetterOrNumber(c) || (c >= 0x24B6 && c <= 0x24E9) ||
           (c >= 0x1F130 && c <= 0x1F149) || (c >= 0x1F150 && c <= 0x1F169) ||
           (c >= 0x1F170 && c <= 0x1F189);
}

QString firstGrapheme(const QString& word) {
    QString first;
    Text::forEachGrapheme(word, [&first](QStringView grapheme) {
        first = grapheme.toString();
        return false;
    });
    return first;
}

// djb2 over the UTF-8 bytes, in the wrapping signed 64-bit arithmetic of the
// original design. Unsigned arithmetic gives the same bits without undefined
// overflow; the conversion back to signed is exact two's complement in C++20.
std::int64_t djb2(const QString& key) {
    std::uint64_t h = 5381;
    for (const char byte : key.toUtf8())
        h = h * 33 + static_cast<unsigned char>(byte);
    return static_cast<std::int64_t>(h);
}

// The magnitude is taken as unsigned, so −2^63 has the magnitude 2^63 and
// index 9223372036854775808 mod 10 = 8, where a signed abs() would overflow.
int paletteIndex(std::int64_t h) {
    const std::uint64_t magnitude =
        h < 0 ? std::uint64_t(0) - static_cast<std::uint64_t>(h) : static_cast<std::uint64_t>(h);
    return int(magnitude % 10);
}

// Rendered logos by asset, pixel size and colour: a list repaints its
// avatars often, and an SVG is parsed and rasterised once per combination.
QCache<QString, QImage>& logoCache() {
    static QCache<QString, QImage> cache(256);
    return cache;
}

QMutex& logoCacheMutex() {
    static QMutex mutex;
    return mutex;
}

// The logo image, if the application carries one, as a template: its own
// colours are ignored and its shape is filled with `color`, scaled to fit
// `box` with its aspect ratio kept.
std::optional<QImage> logoImage(const QString& asset, const QSizeF& box, qreal ratio,
                                const QColor& color) {
    const QSize target = (box * ratio).toSize();
    if (target.isEmpty()) return std::nullopt;
    const QString key = QStringLiteral("%1 %2x%3 %4 %5")
                            .arg(asset)
                            .arg(target.width())
                            .arg(target.height())
                            .arg(color.rgba())
                            .arg(ratio);
    {
        const QMutexLocker lock(&logoCacheMutex());
        if (const QImage* cached = logoCache().object(key)) return *cached;
    }

    const QString path = QStringLiteral(":/logos/") + asset + QStringLiteral(".svg");
    if (!QFile::exists(path)) return std::nullopt;
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) return std::nullopt;
    const QSizeF natural = renderer.viewBoxF().size();
    const QSize fitted = (natural.isEmpty() ? QSizeF(target) : natural)
                             .scaled(QSizeF(target), Qt::KeepAspectRatio)
                             .toSize()
                             .expandedTo(QSize(1, 1));
    QImage image(fitted, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter draw(&image);
        draw.setRenderHint(QPainter::Antialiasing);
        renderer.render(&draw, QRectF(QPointF(0, 0), QSizeF(fitted)));
        draw.setCompositionMode(QPainter::CompositionMode_SourceIn);
        draw.fillRect(image.rect(), color);
    }
    image.setDevicePixelRatio(ratio);

    const QMutexLocker lock(&logoCacheMutex());
    logoCache().insert(key, new QImage(image));
    return image;
}

QFont initialsFont(qreal pixelSize) {
    QFont font = Style::font(Style::TextStyle::body, QFont::DemiBold, false, true);
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    return font;
}

} // namespace

QString keyText(const Account& account) {
    return account.issuer.isEmpty() ? account.name : account.issuer;
}

QStringList words(const QString& text) {
    QStringList result;
    QString current;
    Text::forEachGrapheme(text, [&](QStringView grapheme) {
        if (isWordCharacter(Text::firstCodePoint(grapheme))) {
            current += grapheme;
        } else if (!current.isEmpty()) {
            result.append(current);
            current.clear();
        }
        return true;
    });
    if (!current.isEmpty()) result.append(current);
    return result;
}

QString initials(const Account& account) {
    const QStringList all = words(keyText(account));
    if (all.isEmpty()) return QStringLiteral("?");
    QString letters;
    for (qsizetype i = 0; i < qMin<qsizetype>(2, all.size()); ++i)
        letters += firstGrapheme(all[i]);
    return letters.toUpper();
}

QColor brandColor(const Account& account) {
    const QString key = keyText(account).toLower();
    const QStringList keyWords = words(key);
    const QSet<QString> present(keyWords.cbegin(), keyWords.cend());
    for (const BrandColor& brand : brandColors) {
        if (present.contains(QLatin1String(brand.keyword)))
            return rgb(brand.red, brand.green, brand.blue);
    }
    const auto& [red, green, blue] = palette[std::size_t(paletteIndex(djb2(key)))];
    return rgb(red, green, blue);
}

std::optional<QString> logoAssetName(const Account& account) {
    const QHash<QString, QString>& table = logoTable();
    for (const QString& word : words(keyText(account).toLower())) {
        const auto found = table.constFind(word);
        if (found != table.constEnd()) return *found;
    }
    return std::nullopt;
}

QStringList logoAssetNames() {
    QStringList names = logoTable().values();
    names.sort();
    names.removeDuplicates();
    return names;
}

void paint(QPainter& painter, const QRectF& square, const Account& account) {
    const qreal size = qMin(square.width(), square.height());
    if (size <= 0) return;
    const QRectF frame(square.center().x() - size / 2, square.center().y() - size / 2, size, size);
    const QColor brand = brandColor(account);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QColor background = brand;
    background.setAlphaF(0.16f);
    QPainterPath tile;
    tile.addRoundedRect(frame, size * 0.28, size * 0.28);
    painter.fillPath(tile, background);

    if (const auto asset = logoAssetName(account)) {
        const QRectF box = frame.adjusted(size * 0.24, size * 0.24, -size * 0.24, -size * 0.24);
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        if (const auto image = logoImage(*asset, box.size(), ratio, brand)) {
            const QSizeF shown = image->deviceIndependentSize();
            painter.drawImage(
                QRectF(box.center() - QPointF(shown.width(), shown.height()) / 2, shown), *image);
        } else {
            // A known service whose logo does not ship gets a neutral mark
            // of our own: its initials inside a thin ring, which keeps it
            // apart from the plain initials of unknown services.
            const QRectF ring = box.adjusted(-size * 0.04, -size * 0.04, size * 0.04, size * 0.04);
            const qreal line = qMax(1.0, size * 0.04);
            painter.setPen(QPen(brand, line));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(ring.adjusted(line / 2, line / 2, -line / 2, -line / 2));
            const QString text = initials(account);
            painter.setFont(initialsFont(size * (text.size() > 1 ? 0.2 : 0.26)));
            painter.drawText(ring, Qt::AlignCenter, text);
        }
    } else {
        painter.setPen(brand);
        painter.setFont(initialsFont(size * 0.4));
        painter.drawText(frame, Qt::AlignCenter, initials(account));
    }
    painter.restore();
}

} // namespace AccountAvatar
