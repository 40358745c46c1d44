#include "core/Base32.h"

#include <array>

namespace Base32 {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

// Built at compile time, so it is made once and shared by every thread.
constexpr std::array<qint8, 128> decodingTable = [] {
    std::array<qint8, 128> table{};
    table.fill(-1);
    for (int i = 0; i < 32; ++i)
        table[size_t(alphabet[i])] = qint8(i);
    return table;
}();

} // namespace

std::optional<QByteArray> decode(const QString& text) {
    QString cleaned = text.toUpper();
    cleaned.remove(QLatin1Char(' '));
    cleaned.remove(QLatin1Char('-'));
    cleaned.remove(QLatin1Char('='));
    cleaned = cleaned.trimmed();
    if (cleaned.isEmpty())
        return std::nullopt;

    QByteArray out;
    out.reserve(cleaned.size() * 5 / 8 + 1);
    quint32 buffer = 0;
    int bits = 0;
    for (const QChar c : std::as_const(cleaned)) {
        const char16_t u = c.unicode();
        if (u >= decodingTable.size() || decodingTable[u] < 0)
            return std::nullopt;
        buffer = (buffer << 5) | quint32(decodingTable[u]);
        bits += 5;
        if (bits >= 8) {
            out.append(char((buffer >> (bits - 8)) & 0xFF));
            bits -= 8;
        }
    }
    return out;
}

QString encode(const QByteArray& bytes) {
    QString out;
    out.reserve((bytes.size() * 8 + 4) / 5);
    quint32 buffer = 0;
    int bits = 0;
    for (const char byte : bytes) {
        buffer = (buffer << 8) | quint8(byte);
        bits += 8;
        while (bits >= 5) {
            out.append(QLatin1Char(alphabet[(buffer >> (bits - 5)) & 0x1F]));
            bits -= 5;
        }
    }
    if (bits > 0)
        out.append(QLatin1Char(alphabet[(buffer << (5 - bits)) & 0x1F]));
    return out;
}

} // namespace Base32
