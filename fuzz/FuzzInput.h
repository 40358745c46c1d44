#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

// The fuzzer's bytes in the forms the readers take.
namespace FuzzInput {

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline QString text(const uint8_t* data, size_t size) {
    return QString::fromUtf8(bytes(data, size));
}

// The top-level object, as the import dispatch hands it to a reader.
inline std::optional<QJsonObject> object(const uint8_t* data, size_t size) {
    const QJsonDocument document = QJsonDocument::fromJson(bytes(data, size));
    if (!document.isObject()) return std::nullopt;
    return document.object();
}

} // namespace FuzzInput
