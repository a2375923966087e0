#include "execution/Utf8StreamDecoder.h"

#include <QStringDecoder>

namespace {

// Length a lead byte announces; 1 for bytes that cannot start a longer sequence.
int announcedLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 1;
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Number of bytes at the end that begin a sequence the data does not complete.
qsizetype incompleteTail(const char *bytes, qsizetype size)
{
    const qsizetype earliest = size > 3 ? size - 3 : 0;
    for (qsizetype start = size - 1; start >= earliest; --start) {
        const auto byte = static_cast<unsigned char>(bytes[start]);
        if (isContinuation(byte))
            continue;
        return announcedLength(byte) > size - start ? size - start : 0;
    }
    return 0;
}

QString decodeWhole(const char *bytes, qsizetype size)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes, size));
}

} // namespace

QString Utf8StreamDecoder::decode(const char *bytes, qsizetype size)
{
    if (size <= 0)
        return {};
    if (!m_carry.isEmpty()) {
        QByteArray joined = m_carry;
        m_carry.clear();
        joined.append(bytes, size);
        return decode(joined.constData(), joined.size());
    }
    const qsizetype tail = incompleteTail(bytes, size);
    if (tail > 0)
        m_carry = QByteArray(bytes + size - tail, tail);
    return decodeWhole(bytes, size - tail);
}

QString Utf8StreamDecoder::finish()
{
    const QByteArray rest = m_carry;
    m_carry.clear();
    return decodeWhole(rest.constData(), rest.size());
}
