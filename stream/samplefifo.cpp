#include "stream/samplefifo.h"

#include "platform/mutexlocker.h"

#include <QtMath>

#include <algorithm>
#include <cstring>

namespace {

int roundUpToPowerOfTwo(int capacity)
{
    if (capacity <= 1)
        return 1;
    // qNextPowerOfTwo(n) is the smallest power of two strictly above n.
    return int(qNextPowerOfTwo(quint32(capacity - 1)));
}

} // namespace

SampleFifo::SampleFifo(int capacity)
    : m_capacity(roundUpToPowerOfTwo(capacity)), m_mask(unsigned(m_capacity) - 1),
      m_storage(new IqPair[size_t(m_capacity)])
{}

SampleFifo::~SampleFifo() = default;

void SampleFifo::clear()
{
    platform::MutexLocker lock(&m_mutex);
    std::memset(m_storage.get(), 0, sizeof(IqPair) * size_t(m_capacity));
    m_writeIndex = 0;
    m_readIndex = 0;
}

unsigned int SampleFifo::push(const IqPair *pairs, int count)
{
    platform::MutexLocker lock(&m_mutex);
    if (!pairs || count <= 0)
        return availableLocked();
    // A push of more than a ring's worth simply goes round again, leaving the last capacity pairs.
    unsigned int at = m_writeIndex;
    unsigned int left = unsigned(count);
    const IqPair *from = pairs;
    while (left > 0) {
        const unsigned int run = std::min(left, unsigned(m_capacity) - at);
        std::memcpy(m_storage.get() + at, from, sizeof(IqPair) * run);
        from += run;
        left -= run;
        at = (at + run) & m_mask;
    }
    m_writeIndex = (m_writeIndex + unsigned(count)) & m_mask;
    return availableLocked();
}

unsigned int SampleFifo::availableLocked() const
{
    return (m_writeIndex - m_readIndex) & m_mask;
}

unsigned int SampleFifo::available() const
{
    platform::MutexLocker lock(&m_mutex);
    return availableLocked();
}

bool SampleFifo::pop(IqPair *out, unsigned int count)
{
    if (!out)
        return false;
    // One lock for the check and the copy, so an overrunning writer cannot slip in between them.
    platform::MutexLocker lock(&m_mutex);
    if (count > availableLocked())
        return false;
    unsigned int at = m_readIndex;
    unsigned int left = count;
    IqPair *to = out;
    while (left > 0) {
        const unsigned int run = std::min(left, unsigned(m_capacity) - at);
        std::memcpy(to, m_storage.get() + at, sizeof(IqPair) * run);
        to += run;
        left -= run;
        at = (at + run) & m_mask;
    }
    m_readIndex = at;
    return true;
}
