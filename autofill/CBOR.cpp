#include "autofill/CBOR.h"

#include <algorithm>

namespace CBOR {

QByteArray head(quint8 majorType, quint64 argument) {
    const char type = char(majorType << 5);
    QByteArray out;
    const auto bigEndian = [&](int bytes) {
        for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
            out.append(char((argument >> shift) & 0xFF));
    };
    if (argument < 24) {
        out.append(char(type | char(argument)));
    } else if (argument <= 0xFF) {
        out.append(char(type | 24));
        bigEndian(1);
    } else if (argument <= 0xFFFF) {
        out.append(char(type | 25));
        bigEndian(2);
    } else if (argument <= 0xFFFFFFFF) {
        out.append(char(type | 26));
        bigEndian(4);
    } else {
        out.append(char(type | 27));
        bigEndian(8);
    }
    return out;
}

QByteArray uint(quint64 value) { return head(0, value); }

QByteArray negInt(qint64 value) { return head(1, quint64(-1 - value)); }

QByteArray byteString(const QByteArray& bytes) { return head(2, quint64(bytes.size())) + bytes; }

QByteArray textString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return head(3, quint64(utf8.size())) + utf8;
}

QByteArray array(const QList<QByteArray>& items) {
    QByteArray out = head(4, quint64(items.size()));
    for (const QByteArray& item : items)
        out += item;
    return out;
}

QByteArray map(QList<std::pair<QByteArray, QByteArray>> pairs) {
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
        if (a.first.size() != b.first.size())
            return a.first.size() < b.first.size();
        // QByteArray compares its bytes as unsigned values.
        return a.first < b.first;
    });
    QByteArray out = head(5, quint64(pairs.size()));
    for (const auto& [key, value] : std::as_const(pairs))
        out += key + value;
    return out;
}

} // namespace CBOR

namespace COSEKey {

QByteArray es256(const QByteArray& x, const QByteArray& y) {
    return CBOR::map({
        {CBOR::uint(1), CBOR::uint(2)},     // key type: EC2
        {CBOR::uint(3), CBOR::negInt(-7)},  // algorithm: ES256
        {CBOR::negInt(-1), CBOR::uint(1)},  // curve: P-256
        {CBOR::negInt(-2), CBOR::byteString(x)},
        {CBOR::negInt(-3), CBOR::byteString(y)},
    });
}

} // namespace COSEKey
