#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>

// A hash of a file's bytes that tells whether the file still holds exactly
// what was written or read: neither a size check nor the timestamps (coarse
// on many file systems) can tell an edit of the same size apart, the contents
// can. Seeded by its owner, so nobody can craft other bytes of the same hash.
// Bytes given in pieces (a write spliced from several) hash to the same value
// as the same bytes given at once.
class ContentHash {
public:
    explicit ContentHash(size_t seed);

    void add(QByteArrayView bytes);
    size_t result();

    static size_t of(QByteArrayView bytes, size_t seed);

private:
    static constexpr qsizetype blockSize = qsizetype(1) << 16;

    size_t m_state;
    QByteArray m_pending; // the start of a block that the pieces so far have not filled
};
