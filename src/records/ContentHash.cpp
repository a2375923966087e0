#include "records/ContentHash.h"

#include <QHash>

#include <algorithm>

ContentHash::ContentHash(size_t seed)
    : m_state(seed)
{}

void ContentHash::add(QByteArrayView bytes)
{
    // Whole blocks, each hashed with the state so far as its seed, whichever piece they lie in.
    if (!m_pending.isEmpty()) {
        const qsizetype taken = std::min(blockSize - m_pending.size(), bytes.size());
        m_pending.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        if (m_pending.size() < blockSize)
            return;
        m_state = qHash(QByteArrayView(m_pending), m_state);
        m_pending.truncate(0);
    }
    while (bytes.size() >= blockSize) {
        m_state = qHash(bytes.first(blockSize), m_state);
        bytes = bytes.sliced(blockSize);
    }
    if (!bytes.isEmpty()) {
        m_pending.reserve(blockSize);
        m_pending.append(bytes);
    }
}

size_t ContentHash::result()
{
    if (!m_pending.isEmpty()) {
        m_state = qHash(QByteArrayView(m_pending), m_state);
        m_pending.truncate(0);
    }
    return m_state;
}

size_t ContentHash::of(QByteArrayView bytes, size_t seed)
{
    ContentHash hash(seed);
    hash.add(bytes);
    return hash.result();
}
