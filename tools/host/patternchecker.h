#pragma once

#include "protocol/hostinterface.h"

#include <QtGlobal>

#include <vector>

constexpr quint64 kPatternDatagramPairs = 200;

struct PatternReport
{
    quint64 pairs = 0;
    bool started = false;
    quint64 firstIndex = 0;         // sample index of the first decodable pair
    quint64 gapDatagrams = 0;       // datagrams never delivered between the first and the last one seen
    quint64 gapSamples = 0;         // 200 per missing datagram
    quint64 duplicateDatagrams = 0; // deliveries of a datagram that had been delivered before
    quint64 duplicateSamples = 0;
    quint64 reorderings = 0;   // datagrams delivered after a later one
    quint64 wrongValues = 0;   // pairs that do not decode, and jumps not made of whole datagrams
    quint64 hostLostPairs = 0; // pairs the host itself failed to take in (its ring was full)

    bool clean() const
    {
        return gapDatagrams == 0 && duplicateDatagrams == 0 && reorderings == 0 && wrongValues == 0 &&
               hostLostPairs == 0;
    }
};

// Checks the simulator's verifiable signal (tools/sim/pattern.h): consecutive pairs must carry
// consecutive sample indices. Departures are classified by the stream's unit, the 200-pair datagram:
// a jump from one datagram boundary to another is a gap, a repeat or a late datagram; anything else
// is a wrong value. A single corrupted pair inside a run counts once, as does a jump to a new run.
class PatternChecker
{
public:
    void feed(const IqPair *pairs, int count);
    // The host dropped this many pairs right here; assume the plug-in delivered them in order.
    void hostLost(quint64 pairs);
    PatternReport report() const;

private:
    void feedOne(const IqPair &pair);
    static bool isPair(const IqPair &pair, quint64 n);
    void visit(quint64 n);
    void takeExpectedSlot();
    // Marks datagram k as delivered; false when k lies implausibly far from what was seen so far.
    bool markSeen(quint64 k, bool *wasSeen);
    bool isSeen(quint64 k) const;

    PatternReport m_report;
    quint64 m_expected = 0;
    bool m_hasAlternative = false;
    quint64 m_alternative = 0; // the index that would continue a run started by the last odd pair
    // Inside a stretch of rubbish (zeros, say) an index that happens to sit on a datagram boundary
    // is rubbish too, not a jump.
    int m_wrongInARow = 0;
    bool m_inDatagram = false;
    quint64 m_currentDatagram = 0;
    bool m_duplicateVisit = false;
    std::vector<bool> m_seen; // datagram k delivered, for k in [m_seenBase, m_seenBase + size)
    quint64 m_seenBase = 0;
};
