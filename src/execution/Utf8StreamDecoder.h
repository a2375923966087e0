#pragma once

#include <QByteArray>
#include <QString>

// Decodes one stream of UTF-8 bytes that arrives in arbitrary pieces. A
// character split between two pieces comes out whole; each invalid sequence
// becomes U+FFFD; a byte-order mark is kept as the character it is.
//
// The incomplete tail of a piece is carried over by hand rather than left in a
// stateful QStringDecoder, whose UTF-8 state swallows the byte that follows an
// incomplete sequence when the two arrive in separate pieces.
class Utf8StreamDecoder {
public:
    QString decode(const char *bytes, qsizetype size);
    QString decode(const QByteArray &bytes) { return decode(bytes.constData(), bytes.size()); }

    // The end of the stream: an incomplete sequence left over becomes U+FFFD.
    QString finish();

private:
    QByteArray m_carry;
};
