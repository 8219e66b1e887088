#pragma once

#include "protocol/hostinterface.h"

#include <QMutex>

#include <memory>

// A ring of I/Q pairs between the stream receiver (the one writer) and the delivery thread (the one
// reader). The writer never waits: when it gets a whole ring ahead it overwrites unread pairs, and
// because the fill level is taken modulo the capacity the overtaken pairs count as gone.
class SampleFifo
{
public:
    // The index arithmetic masks with capacity - 1, so a capacity that is not a power of two is
    // rounded up to the next one (and anything below 1 becomes 1).
    explicit SampleFifo(int capacity);
    ~SampleFifo();

    SampleFifo(const SampleFifo &) = delete;
    SampleFifo &operator=(const SampleFifo &) = delete;

    // Zeroes the ring and empties it.
    void clear();
    // Returns the fill level after the push.
    unsigned int push(const IqPair *pairs, int count);
    // Fill level, 0..capacity - 1.
    unsigned int available() const;
    // Copies `count` pairs out, oldest first; false (and nothing taken) when fewer are available.
    bool pop(IqPair *out, unsigned int count);

    int capacity() const { return m_capacity; }

private:
    unsigned int availableLocked() const;

    mutable QMutex m_mutex;
    const int m_capacity;
    const unsigned int m_mask;
    std::unique_ptr<IqPair[]> m_storage;
    unsigned int m_writeIndex = 0;
    unsigned int m_readIndex = 0;
};
