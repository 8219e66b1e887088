#pragma once

#include "protocol/hostinterface.h"

#include <QtGlobal>

#include <atomic>
#include <memory>

constexpr int kBlockPairs = 2048;

struct SampleBlock
{
    int count = 0;               // pairs in this block (a plug-in may send fewer than 2048)
    quint64 pairsLostBefore = 0; // pairs the host had to drop just before this block (ring full)
    IqPair pairs[kBlockPairs];
};

// Single-producer/single-consumer ring of sample blocks. The plug-in's delivery thread pushes
// (a copy, no allocation, no lock); the host's main thread reads. All memory is allocated up front.
class BlockRing
{
public:
    explicit BlockRing(int slotCount);

    // Producer side. False (and the pairs are counted as lost) when the consumer is a whole ring behind.
    bool push(const IqPair *pairs, int count);
    // Consumer side: the oldest unread block or null; release() hands its slot back.
    const SampleBlock *peek() const;
    void release();

    quint64 lostPairs() const { return m_lostTotal.load(std::memory_order_relaxed); }

private:
    const quint64 m_slotCount;
    std::unique_ptr<SampleBlock[]> m_slots;
    std::atomic<quint64> m_written{0}; // blocks published by the producer
    std::atomic<quint64> m_read{0};    // blocks released by the consumer
    quint64 m_lostPending = 0;         // producer only
    std::atomic<quint64> m_lostTotal{0};
};
