#include "autofill/DomainGuard.h"

#include "core/Text.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <QUrl>
#include <QVarLengthArray>

#include <numeric>

namespace {

// Below U+0300 no code point joins its neighbour into one character, except a
// carriage return followed by a line feed, and every text is already in its
// composed normal form. Hosts nearly always look like this, and are then
// handled one code unit at a time.
bool isSimple(QStringView text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x300 || c == u'\r')
            return false;
    return true;
}

// The user-perceived characters of a text. A simple text needs no table:
// each code unit is one character.
class Characters {
public:
    explicit Characters(QStringView text) : m_text(text), m_simple(isSimple(text)) {
        if (m_simple)
            return;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
        for (qsizetype at = 0; at >= 0 && at < text.size(); at = finder.toNextBoundary())
            m_starts.append(at);
    }

    qsizetype size() const { return m_simple ? m_text.size() : m_starts.size(); }
    // Where the character starts in the text, and where the text ends.
    qsizetype offset(qsizetype i) const {
        if (i >= size())
            return m_text.size();
        return m_simple ? i : m_starts[i];
    }
    QStringView operator[](qsizetype i) const {
        return m_text.sliced(offset(i), offset(i + 1) - offset(i));
    }
    // Whether the characters start with these ASCII ones.
    bool startsWith(QLatin1String prefix) const {
        if (size() < prefix.size())
            return false;
        for (qsizetype i = 0; i < prefix.size(); ++i)
            if ((*this)[i] != QLatin1String(prefix.data() + i, 1))
                return false;
        return true;
    }

private:
    QStringView m_text;
    bool m_simple;
    QList<qsizetype> m_starts;
};

QString composed(const QString& text) {
    return isSimple(text) ? text : text.normalized(QString::NormalizationForm_C);
}

// The labels between the "." characters, empty ones included, as views into
// the host.
using Labels = QVarLengthArray<QStringView, 16>;
Labels labels(QStringView host) {
    Labels out;
    const Characters chars(host);
    qsizetype start = 0;
    for (qsizetype i = 0; i < chars.size(); ++i)
        if (chars[i] == u".") {
            out.append(host.sliced(start, chars.offset(i) - start));
            start = chars.offset(i) + 1;
        }
    out.append(host.sliced(start));
    return out;
}

const QSet<QString>& twoLevelSuffixes() {
    static const QSet<QString> suffixes{
        QStringLiteral("co.uk"),  QStringLiteral("org.uk"), QStringLiteral("gov.uk"),
        QStringLiteral("ac.uk"),  QStringLiteral("co.jp"),  QStringLiteral("co.kr"),
        QStringLiteral("com.au"), QStringLiteral("net.au"), QStringLiteral("org.au"),
        QStringLiteral("com.br"), QStringLiteral("com.mx"), QStringLiteral("com.tr"),
        QStringLiteral("co.in"),  QStringLiteral("co.nz"),  QStringLiteral("co.za"),
        QStringLiteral("com.sg"), QStringLiteral("com.hk"), QStringLiteral("com.cn"),
        QStringLiteral("co.il"),
    };
    return suffixes;
}

// The Latin letter a character resembles, if it is one of the look-alikes.
char16_t lookAlike(char16_t c) {
    switch (c) {
    case u'0': return u'o';
    case u'1': return u'l';
    case u'5': return u's';
    case u'i': return u'l';
    case u'|': return u'l';
    case 0x0430: return u'a'; // Cyrillic a
    case 0x0435: return u'e'; // Cyrillic ie
    case 0x043E: return u'o'; // Cyrillic o
    case 0x0440: return u'p'; // Cyrillic er
    case 0x0441: return u'c'; // Cyrillic es
    case 0x0445: return u'x'; // Cyrillic ha
    case 0x0443: return u'y'; // Cyrillic u
    case 0x0456: return u'l'; // Cyrillic Byelorussian-Ukrainian i
    case 0x0458: return u'j'; // Cyrillic je
    case 0x0455: return u's'; // Cyrillic dze
    case 0x051B: return u'q'; // Cyrillic qa
    case 0x051D: return u'w'; // Cyrillic we
    case 0x0433: return u'r'; // Cyrillic ghe
    case 0x03B1: return u'a'; // Greek alpha
    case 0x03BF: return u'o'; // Greek omicron
    case 0x03C1: return u'p'; // Greek rho
    case 0x03F2: return u'c'; // Greek lunate sigma
    case 0x03C4: return u't'; // Greek tau
    case 0x03C5: return u'u'; // Greek upsilon
    case 0x03BD: return u'v'; // Greek nu
    case 0x03B9: return u'l'; // Greek iota
    case 0x03BA: return u'k'; // Greek kappa
    case 0x03B2: return u'b'; // Greek beta
    case 0x03B7: return u'n'; // Greek eta
    default: return 0;
    }
}

// Punycode's parameters.
constexpr qint64 base = 36, tMin = 1, tMax = 26, skew = 38, damp = 700, initialBias = 72,
                 initialN = 128;

qint64 adapt(qint64 delta, qint64 points, bool first) {
    delta = first ? delta / damp : delta / 2;
    delta += delta / points;
    qint64 k = 0;
    while (delta > ((base - tMin) * tMax) / 2) {
        delta /= base - tMin;
        k += base;
    }
    return k + (base - tMin + 1) * delta / (delta + skew);
}

// The value of a digit character, or -1.
qint64 digitValue(QStringView c) {
    if (c.size() != 1)
        return -1;
    const char16_t u = c.front().unicode();
    if (u >= u'a' && u <= u'z')
        return u - u'a';
    if (u >= u'A' && u <= u'Z')
        return u - u'A';
    if (u >= u'0' && u <= u'9')
        return u - u'0' + 26;
    return -1;
}

} // namespace

namespace Punycode {

std::optional<QString> decode(const QString& label) {
    const Characters chars(label);
    qsizetype delimiter = chars.size() - 1;
    while (delimiter >= 0 && chars[delimiter] != u"-")
        --delimiter;

    QList<char32_t> basic;
    for (qsizetype at = 0; at < delimiter; ++at) {
        const QStringView c = chars[at];
        if (c == u"\r\n")
            basic.append(0x0A);
        else if (c.size() == 1 && c.front().unicode() < 0x80)
            basic.append(c.front().unicode());
        else
            return std::nullopt;
    }

    // Each delta inserts one code point at a position of the output so far.
    // Inserting into the text itself would cost the square of the label's
    // length; the insertions are recorded and placed once, at the end.
    struct Insertion {
        qsizetype at;
        char32_t point;
    };
    QList<Insertion> insertions;
    qint64 n = initialN, i = 0, bias = initialBias;
    for (qsizetype at = delimiter + 1; at < chars.size();) {
        const qint64 oldI = i;
        qint64 w = 1;
        for (qint64 k = base;; k += base) {
            if (at >= chars.size())
                return std::nullopt;
            const qint64 digit = digitValue(chars[at++]);
            if (digit < 0)
                return std::nullopt;
            qint64 step = 0;
            if (__builtin_mul_overflow(digit, w, &step) || __builtin_add_overflow(i, step, &i))
                return std::nullopt;
            const qint64 t = k <= bias ? tMin : k >= bias + tMax ? tMax : k - bias;
            if (digit < t)
                break;
            if (__builtin_mul_overflow(w, base - t, &w))
                return std::nullopt;
        }
        const qint64 points = basic.size() + insertions.size() + 1;
        bias = adapt(i - oldI, points, oldI == 0);
        if (__builtin_add_overflow(n, i / points, &n))
            return std::nullopt;
        i %= points;
        // n never decreases: once past the last scalar value, the result
        // cannot be Unicode text.
        if (n > 0x10FFFF || (n >= 0xD800 && n <= 0xDFFF))
            return std::nullopt;
        insertions.append({qsizetype(i), char32_t(n)});
        ++i;
    }

    // Placed from the last insertion back: the last one lands at its own
    // position among all the slots, each earlier one at its position among
    // the slots still free, and the basic code points fill the rest in
    // order. The free slots are counted in a Fenwick tree.
    const qsizetype total = basic.size() + insertions.size();
    QList<char32_t> text(total, 0);
    QList<qsizetype> tree(total + 1, 0);
    for (qsizetype slot = 1; slot <= total; ++slot) {
        tree[slot] += 1;
        if (const qsizetype parent = slot + (slot & -slot); parent <= total)
            tree[parent] += tree[slot];
    }
    qsizetype highBit = 1;
    while (highBit * 2 <= total)
        highBit *= 2;
    const auto takeFree = [&](qsizetype rank) { // the free slot after `rank` others
        qsizetype slot = 0;
        for (qsizetype step = highBit; step > 0; step /= 2)
            if (slot + step <= total && tree[slot + step] <= rank) {
                slot += step;
                rank -= tree[slot];
            }
        for (qsizetype at = slot + 1; at <= total; at += at & -at)
            tree[at] -= 1;
        return slot; // 0-based
    };
    for (qsizetype k = insertions.size() - 1; k >= 0; --k)
        text[takeFree(insertions[k].at)] = insertions[k].point;
    for (const char32_t point : std::as_const(basic))
        text[takeFree(0)] = point;
    return QString::fromUcs4(text.constData(), text.size());
}

QString decodeHost(const QString& host) {
    // Most hosts have no encoded label at all. One that no name server
    // would serve is not decoded: its labels could be any length.
    if (!host.contains(QLatin1String("xn--"), Qt::CaseInsensitive) || !DomainGuard::withinNameLimits(host))
        return host;
    QStringList parts;
    for (const QStringView label : labels(host)) {
        const QString lower = Text::lowercased(label.toString());
        const Characters chars(lower);
        std::optional<QString> decoded;
        if (chars.startsWith(QLatin1String("xn--"))) {
            decoded = decode(lower.sliced(chars.offset(4)));
            // A label that is not the A-label IDNA gives what it decodes to
            // is no name IDNA gives out: one that decodes to plain ASCII
            // ("xn--github-" to "github", whose A-label is "github"), another
            // spelling of its text ("xn---abc"), or one whose text is no
            // valid label (capitals, controls, text not in its composed
            // form). It stands for itself, never for the text it would
            // decode to.
            if (decoded && QString::fromLatin1(QUrl::toAce(*decoded)) != lower)
                decoded.reset();
        }
        parts.append(decoded ? *decoded : label.toString());
    }
    return parts.join(QLatin1Char('.'));
}

} // namespace Punycode

namespace Confusables {

QString skeleton(const QString& text) {
    QString out = Text::lowercased(text);
    if (isSimple(out)) {
        for (QChar& c : out)
            if (const char16_t letter = lookAlike(c.unicode()))
                c = QChar(letter);
        return out;
    }
    const QString lower = out;
    const Characters chars(lower);
    out.clear();
    for (qsizetype i = 0; i < chars.size(); ++i) {
        // A character that is canonically one code point (a single one, or a
        // sequence that composes to it) is looked up as that code point.
        const QString single = chars[i].toString().normalized(QString::NormalizationForm_C);
        if (const char16_t letter = single.size() == 1 ? lookAlike(single.front().unicode()) : 0)
            out.append(QChar(letter));
        else
            out.append(chars[i]);
    }
    return out;
}

} // namespace Confusables

namespace DomainGuard {

namespace {

// One walk over the labels, one trailing "." (the root's label) aside: at
// most 253 characters in all, none over 63, and, unless allowed, none empty.
bool keepsNameLimits(QStringView host, bool emptyLabelsAllowed) {
    if (host.endsWith(u'.'))
        host.chop(1);
    if (host.size() > maxHostLength)
        return false;
    qsizetype label = 0;
    for (const QChar c : host) {
        if (c != u'.') {
            if (++label > maxLabelLength)
                return false;
        } else if (label == 0 && !emptyLabelsAllowed) {
            return false;
        } else {
            label = 0;
        }
    }
    return label > 0 || emptyLabelsAllowed;
}

} // namespace

bool withinNameLimits(QStringView host) {
    return keepsNameLimits(host, true);
}

bool isServableName(QStringView host) {
    return keepsNameLimits(host, false);
}

bool holdsNonHostCharacter(QStringView text) {
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u' ': case u'#': case u'%': case u'/': case u':': case u'<': case u'>':
        case u'?': case u'@': case u'[': case u'\\': case u']': case u'^': case u'|':
        case 0x7F:
            return true;
        default:
            if (c.unicode() < 0x20)
                return true;
        }
    }
    return false;
}

std::optional<QString> hostOfURL(const QString& url) {
    // Leading and trailing controls and spaces go, tabs and line breaks
    // anywhere.
    QString text;
    text.reserve(url.size());
    for (const QChar c : url)
        if (c != u'\t' && c != u'\n' && c != u'\r')
            text.append(c);
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    const QStringView view = QStringView(text).sliced(begin, end - begin);

    // The scheme: a letter, then letters, digits, "+", "-" or ".", then ":".
    const auto isAlpha = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    };
    if (view.isEmpty() || !isAlpha(view.front()))
        return std::nullopt;
    qsizetype colon = 1;
    while (colon < view.size() && (isAlpha(view[colon]) || view[colon].isDigit() ||
                                   view[colon] == u'+' || view[colon] == u'-' || view[colon] == u'.'))
        ++colon;
    if (colon >= view.size() || view[colon] != u':')
        return std::nullopt;
    // Only the web's schemes name a host of the network. A "file:" URL names
    // a file of this computer, "data:" and the others no place at all.
    static const QStringList webSchemes{QStringLiteral("http"), QStringLiteral("https"),
                                        QStringLiteral("ws"), QStringLiteral("wss"),
                                        QStringLiteral("ftp")};
    if (!webSchemes.contains(view.first(colon).toString(), Qt::CaseInsensitive))
        return std::nullopt;

    // Any number of "/" and "\" lead to the authority, which ends at the
    // first "/", "\", "?" or "#": whatever the path holds ("|", "^", "%zz",
    // "{}") is the path's, as browsers have it.
    qsizetype at = colon + 1;
    while (at < view.size() && (view[at] == u'/' || view[at] == u'\\'))
        ++at;
    qsizetype authorityEnd = at;
    while (authorityEnd < view.size() && view[authorityEnd] != u'/' && view[authorityEnd] != u'\\' &&
           view[authorityEnd] != u'?' && view[authorityEnd] != u'#')
        ++authorityEnd;
    QStringView hostAndPort = view.sliced(at, authorityEnd - at);
    if (const qsizetype user = hostAndPort.lastIndexOf(u'@'); user >= 0)
        hostAndPort = hostAndPort.sliced(user + 1);

    QStringView host = hostAndPort, port;
    if (hostAndPort.startsWith(u'[')) {
        const qsizetype close = hostAndPort.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        host = hostAndPort.first(close + 1);
        port = hostAndPort.sliced(close + 1);
        if (!port.isEmpty() && !port.startsWith(u':'))
            return std::nullopt;
        port = port.isEmpty() ? port : port.sliced(1);
        // An IPv6 address: hex digits, ":" and "." only.
        for (const QChar c : host.sliced(1).chopped(1))
            if (!(c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || c == u':' ||
                  c == u'.'))
                return std::nullopt;
    } else if (const qsizetype portColon = hostAndPort.indexOf(u':'); portColon >= 0) {
        host = hostAndPort.first(portColon);
        port = hostAndPort.sliced(portColon + 1);
    }
    // A port is digits and at most 65535; browsers refuse any other.
    qint64 portNumber = 0;
    for (const QChar c : port) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        portNumber = portNumber * 10 + (c.unicode() - u'0');
        if (portNumber > 65535)
            return std::nullopt;
    }
    if (host.isEmpty())
        return std::nullopt;
    if (host.startsWith(u'['))
        return host.toString();

    // Escapes in the host are decoded as UTF-8; what is left must be able
    // to stand in a host name ("%zz" leaves a "%", which cannot).
    QString decoded = host.toString();
    if (decoded.contains(u'%'))
        decoded = QString::fromUtf8(QByteArray::fromPercentEncoding(decoded.toUtf8()));
    if (decoded.isEmpty() || holdsNonHostCharacter(decoded) || decoded.contains(QChar::ReplacementCharacter))
        return std::nullopt;
    return decoded;
}

QString normalize(const QString& host) {
    const QString decoded = Punycode::decodeHost(Text::lowercased(host));
    const Characters chars(decoded);
    qsizetype count = chars.size();
    if (count > 0 && chars[count - 1] == u".")
        --count;
    const qsizetype start = count >= 4 && chars.startsWith(QLatin1String("www.")) ? 4 : 0;
    return decoded.sliced(chars.offset(start), chars.offset(count) - chars.offset(start));
}

QString registrableDomain(const QString& host) {
    const QString normalized = normalize(host);
    Labels parts = labels(normalized);
    parts.removeIf([](QStringView label) { return label.isEmpty(); });
    const qsizetype n = parts.size();
    // The last labels, from `from` on, joined by single dots.
    const auto joined = [&](qsizetype from) {
        if (from >= n)
            return QString();
        const qsizetype start = parts[from].data() - normalized.data();
        const qsizetype end = parts[n - 1].data() + parts[n - 1].size() - normalized.data();
        // Usually they stand so in the host; dropped empty labels aside.
        QString out = normalized.sliced(start, end - start);
        if (out.size() == std::accumulate(parts.begin() + from, parts.end(), n - from - 1,
                                          [](qsizetype sum, QStringView p) { return sum + p.size(); }))
            return out;
        out.clear();
        for (qsizetype i = from; i < n; ++i) {
            if (i > from)
                out += QLatin1Char('.');
            out += parts[i];
        }
        return out;
    };
    if (n <= 2)
        return joined(0);
    const QString lastTwo = joined(n - 2);
    return twoLevelSuffixes().contains(composed(lastTwo)) ? joined(n - 3) : lastTwo;
}

DomainVerdict verdict(const QString& requestHost, const QString& knownDomain) {
    const QString known = Text::trimmedBlanksAndTabs(knownDomain);
    if (known.isEmpty())
        return DomainVerdict::unverified;
    // A request's hosts are all checked against one known domain in a row:
    // its reductions are worked out once.
    struct Known {
        QString domain;
        QString registrable;
        std::optional<QString> skeleton;
    };
    thread_local Known last;
    if (last.domain != known || last.domain.isNull())
        last = {known, composed(registrableDomain(known)), std::nullopt};
    // A known domain that reduces to nothing names no site to compare with.
    if (last.registrable.isEmpty())
        return DomainVerdict::unverified;
    // A requesting host that reduces to nothing ("", ".", "..") is no host of
    // the site: it is another site, as far as the user is concerned.
    const QString request = composed(registrableDomain(requestHost));
    if (request.isEmpty())
        return DomainVerdict::mismatch;
    // Text that no browser would take for a host name ("evil.q/x.shop.q"),
    // or a name that no name server serves (too long, or with an empty
    // label, as "shop..q"), belongs to no domain: its last labels merely
    // read like one.
    if (request == last.registrable)
        return isServableName(requestHost) && !holdsNonHostCharacter(requestHost)
                   ? DomainVerdict::match
                   : DomainVerdict::mismatch;
    if (!last.skeleton)
        last.skeleton = composed(Confusables::skeleton(last.registrable));
    if (composed(Confusables::skeleton(request)) == *last.skeleton)
        return DomainVerdict::spoof;
    return DomainVerdict::mismatch;
}

} // namespace DomainGuard
