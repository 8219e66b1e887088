#include "tools/host/patternchecker.h"

#include "tools/sim/pattern.h"

#include <algorithm>

namespace {
// Bound on the tracked span (one bit per datagram): about 4.8 hours at 312500 samples/s.
constexpr quint64 kMaxSpanDatagrams = quint64(1) << 28;
} // namespace

void PatternChecker::feed(const IqPair *pairs, int count)
{
    // The checker shares the machine with what it measures: the common case, pairs that continue the
    // datagram being visited in sequence, is a plain comparison; everything else takes feedOne().
    int i = 0;
    while (i < count) {
        if (m_inDatagram && m_expected / kPatternDatagramPairs == m_currentDatagram) {
            const int run = int(std::min<quint64>(
                quint64(count - i), kPatternDatagramPairs - m_expected % kPatternDatagramPairs));
            int matched = 0;
            while (matched < run && isPair(pairs[i + matched], m_expected + quint64(matched)))
                ++matched;
            if (matched > 0) {
                m_report.pairs += quint64(matched);
                m_expected += quint64(matched);
                m_hasAlternative = false;
                m_wrongInARow = 0;
                if (m_duplicateVisit)
                    m_report.duplicateSamples += quint64(matched);
                i += matched;
                if (matched == run)
                    continue;
            }
        }
        feedOne(pairs[i++]);
    }
}

bool PatternChecker::isPair(const IqPair &pair, quint64 n)
{
    return quint32(pair.i) == pattern::i24(n) << 8 && quint32(pair.q) == pattern::q24(n) << 8;
}

void PatternChecker::feedOne(const IqPair &pair)
{
    ++m_report.pairs;
    uint64_t n = 0;
    if (!pattern::decode(pair.i, pair.q, &n)) {
        ++m_wrongInARow;
        ++m_report.wrongValues;
        takeExpectedSlot();
        return;
    }
    if (!m_report.started) {
        m_report.started = true;
        m_report.firstIndex = n;
    } else if (n == m_expected || (m_hasAlternative && n == m_alternative)) {
        // in sequence, or the continuation of a run that the previous odd pair began
    } else if (m_expected % kPatternDatagramPairs == 0 && n % kPatternDatagramPairs == 0 &&
               m_wrongInARow < 2) {
        const quint64 k = n / kPatternDatagramPairs;
        if (n < m_expected && !isSeen(k))
            ++m_report.reorderings;
        // Forward jumps are counted as gaps at the end, once late datagrams had their chance.
        m_inDatagram = false; // even the same datagram again is a new delivery
    } else {
        ++m_wrongInARow;
        ++m_report.wrongValues;
        m_hasAlternative = true;
        m_alternative = n + 1;
        takeExpectedSlot();
        return;
    }
    m_hasAlternative = false;
    m_wrongInARow = 0;
    m_expected = n + 1;
    visit(n);
}

void PatternChecker::takeExpectedSlot()
{
    // A damaged pair still arrived in its place: its datagram is wrong, not missing.
    const quint64 k = m_expected / kPatternDatagramPairs;
    if (m_report.started && !isSeen(k)) {
        bool wasSeen = false;
        if (markSeen(k, &wasSeen)) {
            m_inDatagram = true;
            m_currentDatagram = k;
            m_duplicateVisit = false;
        }
    }
    ++m_expected;
}

void PatternChecker::visit(quint64 n)
{
    const quint64 k = n / kPatternDatagramPairs;
    if (!m_inDatagram || k != m_currentDatagram) {
        bool wasSeen = false;
        if (!markSeen(k, &wasSeen)) {
            ++m_report.wrongValues;
            m_inDatagram = false;
            return;
        }
        m_inDatagram = true;
        m_currentDatagram = k;
        m_duplicateVisit = wasSeen;
        if (wasSeen)
            ++m_report.duplicateDatagrams;
    }
    if (m_duplicateVisit)
        ++m_report.duplicateSamples;
}

void PatternChecker::hostLost(quint64 pairs)
{
    m_report.hostLostPairs += pairs;
    if (!m_report.started || pairs == 0)
        return;
    for (quint64 n = m_expected; n < m_expected + pairs; n += kPatternDatagramPairs) {
        bool wasSeen = false;
        markSeen(n / kPatternDatagramPairs, &wasSeen);
    }
    bool wasSeen = false;
    markSeen((m_expected + pairs - 1) / kPatternDatagramPairs, &wasSeen);
    m_expected += pairs;
    m_hasAlternative = false;
    // The next pair may finish the datagram the lost ones began; that is not a repeat.
    m_inDatagram = true;
    m_currentDatagram = (m_expected - 1) / kPatternDatagramPairs;
    m_duplicateVisit = false;
}

bool PatternChecker::isSeen(quint64 k) const
{
    return k >= m_seenBase && k - m_seenBase < m_seen.size() && m_seen[k - m_seenBase];
}

bool PatternChecker::markSeen(quint64 k, bool *wasSeen)
{
    if (m_seen.empty()) {
        m_seenBase = k;
        m_seen.push_back(false);
    }
    const quint64 end = m_seenBase + m_seen.size();
    const quint64 low = std::min(k, m_seenBase);
    const quint64 high = std::max(k + 1, end);
    if (high - low > kMaxSpanDatagrams)
        return false;
    if (k < m_seenBase) {
        m_seen.insert(m_seen.begin(), m_seenBase - k, false);
        m_seenBase = k;
    } else if (k >= end) {
        m_seen.resize(k - m_seenBase + 1, false);
    }
    *wasSeen = m_seen[k - m_seenBase];
    m_seen[k - m_seenBase] = true;
    return true;
}

PatternReport PatternChecker::report() const
{
    PatternReport r = m_report;
    r.gapDatagrams = quint64(std::count(m_seen.begin(), m_seen.end(), false));
    r.gapSamples = r.gapDatagrams * kPatternDatagramPairs;
    return r;
}
