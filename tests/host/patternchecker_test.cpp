#include "tools/host/patternchecker.h"
#include "tools/sim/pattern.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

IqPair pairOf(quint64 n)
{
    return {qint32(pattern::i24(n) << 8), qint32(pattern::q24(n) << 8)};
}

// The pairs of the given datagrams, in the order listed.
std::vector<IqPair> datagrams(const std::vector<quint64> &order)
{
    std::vector<IqPair> out;
    for (quint64 k : order)
        for (quint64 n = k * 200; n < (k + 1) * 200; ++n)
            out.push_back(pairOf(n));
    return out;
}

std::vector<quint64> range(quint64 first, quint64 end)
{
    std::vector<quint64> r;
    for (quint64 k = first; k < end; ++k)
        r.push_back(k);
    return r;
}

std::vector<quint64> concat(std::initializer_list<std::vector<quint64>> parts)
{
    std::vector<quint64> r;
    for (const auto &p : parts)
        r.insert(r.end(), p.begin(), p.end());
    return r;
}

// Feeds in host-sized blocks so faults straddle block boundaries as they do in a run.
PatternReport check(const std::vector<IqPair> &pairs)
{
    PatternChecker c;
    for (size_t at = 0; at < pairs.size(); at += 2048)
        c.feed(pairs.data() + at, int(std::min<size_t>(2048, pairs.size() - at)));
    return c.report();
}

struct Expect
{
    quint64 gapDatagrams, duplicateDatagrams, duplicateSamples, reorderings, wrongValues;
};

void expectReport(const PatternReport &r, const Expect &e, const char *name)
{
    SCOPED_TRACE(name);
    EXPECT_EQ(r.gapDatagrams, e.gapDatagrams);
    EXPECT_EQ(r.gapSamples, e.gapDatagrams * 200);
    EXPECT_EQ(r.duplicateDatagrams, e.duplicateDatagrams);
    EXPECT_EQ(r.duplicateSamples, e.duplicateSamples);
    EXPECT_EQ(r.reorderings, e.reorderings);
    EXPECT_EQ(r.wrongValues, e.wrongValues);
    EXPECT_EQ(r.clean(), e.gapDatagrams + e.duplicateDatagrams + e.reorderings + e.wrongValues == 0);
}

} // namespace

TEST(PatternChecker, ClassifiesDatagramFaultsExactly)
{
    struct Case
    {
        const char *name;
        std::vector<quint64> order;
        Expect expect;
    };
    const std::vector<Case> cases = {
        {"clean", range(0, 100), {0, 0, 0, 0, 0}},
        {"clean from a later start", range(57, 120), {0, 0, 0, 0, 0}},
        {"one datagram lost", concat({range(0, 10), range(11, 50)}), {1, 0, 0, 0, 0}},
        {"three lost in a row, two apart",
         concat({range(0, 10), range(13, 20), range(22, 40)}),
         {5, 0, 0, 0, 0}},
        {"repeat right after", concat({range(0, 10), {9}, range(10, 30)}), {0, 1, 200, 0, 0}},
        {"repeat of an older one", concat({range(0, 10), {4, 5}, range(10, 30)}), {0, 2, 400, 0, 0}},
        {"two swapped", concat({range(0, 10), {11, 10}, range(12, 30)}), {0, 0, 0, 1, 0}},
        {"late after three", concat({range(0, 10), range(11, 14), {10}, range(14, 30)}), {0, 0, 0, 1, 0}},
        {"lost and repeated", concat({range(0, 10), range(11, 20), {19}, range(20, 30)}), {1, 1, 200, 0, 0}},
    };
    for (const Case &c : cases)
        expectReport(check(datagrams(c.order)), c.expect, c.name);
}

TEST(PatternChecker, WrongValuesCountEachCorruptionOnce)
{
    std::vector<IqPair> base = datagrams(range(0, 40));

    {
        std::vector<IqPair> p = base;
        p[1000].i |= 0x01;       // does not decode
        p[2047] = pairOf(77777); // decodes, but to the wrong index
        p[5000].q |= 0x80;
        expectReport(check(p), {0, 0, 0, 0, 3}, "scattered corruptions");
    }
    {
        // A jump that is not made of whole datagrams: 50 samples missing mid-datagram.
        std::vector<IqPair> p = base;
        p.erase(p.begin() + 1030, p.begin() + 1080);
        expectReport(check(p), {0, 0, 0, 0, 1}, "partial datagram lost");
    }
    {
        // A block of zeros where samples should be: every pair is wrong.
        std::vector<IqPair> p = base;
        std::fill(p.begin() + 2048, p.begin() + 4096, IqPair{0, 0});
        expectReport(check(p), {0, 0, 0, 0, 2048}, "zeros");
    }
}

TEST(PatternChecker, HostLossIsReportedApartFromStreamGaps)
{
    const std::vector<IqPair> p = datagrams(range(0, 30));
    PatternChecker c;
    c.feed(p.data(), 2048);
    c.hostLost(2048);
    c.feed(p.data() + 4096, int(p.size()) - 4096);
    const PatternReport r = c.report();
    EXPECT_EQ(r.hostLostPairs, 2048u);
    EXPECT_EQ(r.gapDatagrams, 0u);
    EXPECT_EQ(r.duplicateDatagrams, 0u);
    EXPECT_EQ(r.wrongValues, 0u);
    EXPECT_FALSE(r.clean());
    EXPECT_EQ(r.pairs, p.size() - 2048);
}
