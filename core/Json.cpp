#include "core/Json.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

namespace Json {
namespace {

// Big integers travel as strings with this prefix. It holds a random part
// made once per process, so no text read from outside can pass for one of
// them (a string can spell any control character as an escape).
const QString& bigIntegerPrefix() {
    static const QString prefix = QStringLiteral("\x01uint64:%1:")
                                      .arg(QRandomGenerator::system()->generate64(), 16, 16,
                                           QLatin1Char('0'));
    return prefix;
}
// The prefix as it stands in JSON text written by Qt.
QByteArray bigIntegerPrefixInJson() {
    return "\\u0001" + bigIntegerPrefix().mid(1).toLatin1();
}
constexpr qint64 referenceDateMsecs = 978307200000LL; // 2001-01-01T00:00:00Z

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Rewrites integer literals above the signed 64-bit range (but within the
// unsigned one) as marked strings so that Qt's parser does not round them.
QByteArray protectBigIntegers(const QByteArray& text) {
    QByteArray out;
    bool inString = false;
    qsizetype copiedUpTo = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
            continue;
        }
        if (!isDigit(c) && c != '-')
            continue;
        qsizetype end = i + 1;
        while (end < text.size() && (isDigit(text[end]) || text[end] == '.' || text[end] == 'e' ||
                                     text[end] == 'E' || text[end] == '+' || text[end] == '-'))
            ++end;
        // Only a number of 19 digits or more can be out of the signed range;
        // shorter ones (most) are not copied out to be looked at. A leading
        // zero is malformed JSON; it is left for the parser to refuse.
        if (end - i >= 19) {
            const QByteArray token = text.mid(i, end - i);
            if (std::all_of(token.begin(), token.end(), isDigit) && token[0] != '0') {
                bool fitsSigned = false;
                token.toLongLong(&fitsSigned);
                bool fitsUnsigned = false;
                const quint64 value = token.toULongLong(&fitsUnsigned);
                if (!fitsSigned && fitsUnsigned) {
                    out.append(text.mid(copiedUpTo, i - copiedUpTo));
                    out.append('"' + bigIntegerPrefixInJson() + QByteArray::number(value) + '"');
                    copiedUpTo = end;
                }
            }
        }
        i = end - 1;
    }
    if (copiedUpTo == 0)
        return text;
    out.append(text.mid(copiedUpTo));
    return out;
}

} // namespace

std::optional<QJsonDocument> parse(const QByteArray& text) {
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(protectBigIntegers(text), &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    return document;
}

QByteArray serialize(const QJsonDocument& document) {
    QByteArray text = document.toJson(QJsonDocument::Compact);
    const QByteArray marker = '"' + bigIntegerPrefixInJson();
    if (!text.contains(marker))
        return text;
    static const QRegularExpression marked(QRegularExpression::escape(QString::fromLatin1(marker)) +
                                           QStringLiteral(R"re((\d+)")re"));
    return QString::fromUtf8(text).replace(marked, QStringLiteral("\\1")).toUtf8();
}

QJsonValue fromUInt64(quint64 value) {
    if (value <= quint64(std::numeric_limits<qint64>::max()))
        return QJsonValue(qint64(value));
    return QJsonValue(bigIntegerPrefix() + QString::number(value));
}

std::optional<QString> toString(const QJsonValue& value) {
    if (!value.isString() || value.toString().startsWith(bigIntegerPrefix()))
        return std::nullopt;
    return value.toString();
}

std::optional<quint64> toUInt64(const QJsonValue& value) {
    if (value.isString()) {
        const QString text = value.toString();
        if (!text.startsWith(bigIntegerPrefix()))
            return std::nullopt;
        bool ok = false;
        const quint64 number = text.mid(bigIntegerPrefix().size()).toULongLong(&ok);
        return ok ? std::optional<quint64>(number) : std::nullopt;
    }
    const auto number = toInt64(value);
    if (!number || *number < 0)
        return std::nullopt;
    return quint64(*number);
}

std::optional<qint64> toInt64(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    // Integers that fit are kept exactly by Qt; a double is taken only when
    // it holds a whole number inside the range. Anything else gives the
    // default, 0, which is then told apart from a true zero.
    const qint64 number = value.toInteger(0);
    if (number == 0 && value.toDouble() != 0)
        return std::nullopt;
    return number;
}

QJsonValue fromDate(const QDateTime& date, DateForm form) {
    const qint64 msecs = date.toMSecsSinceEpoch();
    if (form == DateForm::referenceDate)
        return QJsonValue(double(msecs - referenceDateMsecs) / 1000.0);
    // Whole seconds, rounded toward the past like the platform's formatter.
    const qint64 seconds = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
    return QJsonValue(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
                          .toString(Qt::ISODate));
}

std::optional<QDateTime> toDate(const QJsonValue& value, DateForm form) {
    if (form == DateForm::referenceDate) {
        if (!value.isDouble())
            return std::nullopt;
        const double seconds = value.toDouble();
        // Beyond about 285,000 years the millisecond count leaves 64 bits.
        if (!std::isfinite(seconds) || std::fabs(seconds) > 9.0e12)
            return std::nullopt;
        return QDateTime::fromMSecsSinceEpoch(
            referenceDateMsecs + qint64(std::llround(seconds * 1000.0)), Qt::UTC);
    }
    if (!value.isString())
        return std::nullopt;
    static const QRegularExpression form8601(QRegularExpression::anchoredPattern(QStringLiteral(
        R"((\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(Z|[+-]\d{2}:?\d{2}))")));
    const auto match = form8601.match(value.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate day(match.captured(1).toInt(), match.captured(2).toInt(),
                    match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                     match.captured(6).toInt());
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    const QString zone = match.captured(7);
    if (zone != QLatin1String("Z")) {
        const QString digits = QString(zone.mid(1)).remove(QLatin1Char(':'));
        const int hours = digits.left(2).toInt();
        const int minutes = digits.mid(2).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (zone.startsWith(QLatin1Char('-')) ? -1 : 1);
    }
    return QDateTime(day, time, Qt::UTC).addSecs(-offsetSeconds);
}

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QUuid> toUuid(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    static const QRegularExpression form(QRegularExpression::anchoredPattern(QStringLiteral(
        "[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}")));
    const QString text = value.toString();
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

std::optional<QByteArray> strictBase64(const QString& text) {
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9+/]*={0,2}")));
    if (text.size() % 4 != 0 || !form.match(text).hasMatch())
        return std::nullopt;
    auto result = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                 QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

} // namespace Json
