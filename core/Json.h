#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUuid>
#include <optional>

// JSON reading and writing helpers shared by every stored record.
//
// Qt keeps JSON integers as signed 64-bit values, but an HOTP counter may use
// the whole unsigned 64-bit range. parse() and serialize() carry integers
// above the signed range through a private string form, so such a counter is
// read and written exactly; fromUInt64() and toUInt64() are the only code that
// needs to know about it.
namespace Json {

// How a record writes its dates.
enum class DateForm {
    iso8601,       // text, UTC, whole seconds: 2024-05-01T12:30:00Z
    referenceDate, // number of seconds since 2001-01-01 00:00:00 UTC, with fraction
};

std::optional<QJsonDocument> parse(const QByteArray& text);
QByteArray serialize(const QJsonDocument& document);

QJsonValue fromUInt64(quint64 value);
// A JSON string; nothing for anything else, a big integer included (it
// travels as a string inside a parsed document).
std::optional<QString> toString(const QJsonValue& value);
// A non-negative integer up to 2^64 - 1; nothing for anything else.
std::optional<quint64> toUInt64(const QJsonValue& value);
// A number with no fraction in the signed 64-bit range; nothing otherwise.
std::optional<qint64> toInt64(const QJsonValue& value);

QJsonValue fromDate(const QDateTime& date, DateForm form);
std::optional<QDateTime> toDate(const QJsonValue& value, DateForm form);

// Upper-case 8-4-4-4-12 text.
QString uuidText(const QUuid& id);
// Accepts the 8-4-4-4-12 form in either case, nothing else.
std::optional<QUuid> toUuid(const QJsonValue& value);

// Standard Base64 with "=" padding, read strictly.
std::optional<QByteArray> strictBase64(const QString& text);

} // namespace Json
