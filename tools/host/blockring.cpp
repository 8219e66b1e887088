#include "tools/host/blockring.h"

#include <algorithm>
#include <cstring>

BlockRing::BlockRing(int slotCount)
    : m_slotCount(quint64(std::max(slotCount, 2))), m_slots(new SampleBlock[m_slotCount])
{}

bool BlockRing::push(const IqPair *pairs, int count)
{
    count = std::clamp(count, 0, kBlockPairs);
    const quint64 written = m_written.load(std::memory_order_relaxed);
    if (written - m_read.load(std::memory_order_acquire) >= m_slotCount) {
        m_lostPending += quint64(count);
        m_lostTotal.fetch_add(quint64(count), std::memory_order_relaxed);
        return false;
    }
    SampleBlock &slot = m_slots[written % m_slotCount];
    slot.count = count;
    slot.pairsLostBefore = m_lostPending;
    m_lostPending = 0;
    if (count > 0)
        std::memcpy(slot.pairs, pairs, size_t(count) * sizeof(IqPair));
    m_written.store(written + 1, std::memory_order_release);
    return true;
}

const SampleBlock *BlockRing::peek() const
{
    const quint64 read = m_read.load(std::memory_order_relaxed);
    if (read == m_written.load(std::memory_order_acquire))
        return nullptr;
    return &m_slots[read % m_slotCount];
}

void BlockRing::release()
{
    m_read.store(m_read.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}
