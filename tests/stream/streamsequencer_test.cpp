#include "stream/streamsequencer.h"

#include "capturingdsp.h"
#include "tests/support/fakereceiver.h"

#include <gtest/gtest.h>

#include <random>

using testsupport::Sample24;
using testsupport::StreamHeader;
using Verdict = StreamSequencer::Verdict;

namespace {

struct Sequencer
{
    CapturingDsp dsp;
    QMutex sequenceMutex;
    StreamSequencer seq{&dsp, &sequenceMutex};

    // Handles a copy of `d`; returns the verdict and leaves the (possibly rewritten) copy in `out`.
    Verdict handle(const QByteArray &d, QByteArray *out = nullptr)
    {
        QByteArray copy = d;
        const Verdict v = seq.handle(wire::bytes(copy), copy.size());
        if (out)
            *out = copy;
        return v;
    }
    // The samples carry the number and `take`, so a receiver's second pass over the same numbers
    // (another take) brings other samples.
    Verdict send(quint16 sequence, const StreamHeader &header = {}, QByteArray *out = nullptr,
                 qint32 take = 1)
    {
        return handle(testsupport::streamDatagram(sequence, {{qint32(sequence), take}}, header), out);
    }
    // Misses `count` datagrams numbered from `first`, expecting them all dropped.
    void missRun(quint16 first, int count)
    {
        for (int k = 0; k < count; ++k)
            ASSERT_EQ(send(quint16(first + k)), Verdict::Missed) << "miss " << k + 1;
    }
};

QByteArray ackOf(const QByteArray &d)
{
    return d.left(wire::kAckBytes);
}

} // namespace

TEST(SampleConversion, WidensEdgeValuesAtEveryPosition)
{
    struct Case
    {
        quint32 in;
        qint32 out;
    };
    const Case cases[] = {
        {0x000000, 0},          {0x000001, 256},        {0x7FFFFF, 2147483392}, {0x800000, -2147483647 - 1},
        {0xFFFFFF, -256},       {0x123456, 0x12345600}, {0xFFFFFE, -512},       {0x800001, -2147483392},
        {0x00FF00, 0x00FF0000}, {0x0000FF, 0x0000FF00},
    };
    constexpr int kCases = int(sizeof cases / sizeof cases[0]);
    // Spread the table over I and Q of every pair, the last one included (it is widened apart).
    std::vector<Sample24> samples(wire::kPairsPerDatagram);
    for (int k = 0; k < wire::kPairsPerDatagram; ++k)
        samples[size_t(k)] = {qint32(cases[k % kCases].in), qint32(cases[(k + 3) % kCases].in)};
    const QByteArray d = testsupport::streamDatagram(0, samples);
    IqPair out[wire::kPairsPerDatagram];
    convertSamples24(wire::bytes(d) + wire::kStreamHeaderBytes, out, wire::kPairsPerDatagram);
    for (int k = 0; k < wire::kPairsPerDatagram; ++k) {
        EXPECT_EQ(out[k].i, cases[k % kCases].out) << "pair " << k << " I";
        EXPECT_EQ(out[k].q, cases[(k + 3) % kCases].out) << "pair " << k << " Q";
    }
    for (const Case &c : cases) {
        const uchar b[3] = {uchar(c.in), uchar(c.in >> 8), uchar(c.in >> 16)};
        EXPECT_EQ(widen24(b), c.out) << std::hex << c.in;
    }
}

TEST(SampleConversion, MatchesByteWiseWideningForRandomDataAndAnyCount)
{
    std::mt19937 rng(12345);
    for (int pairs : {0, 1, 2, 3, 7, 200}) {
        // Exactly the samples' bytes, so a sanitizer build catches a read past the last one.
        std::vector<uchar> bytes(static_cast<size_t>(6 * pairs));
        for (uchar &b : bytes)
            b = uchar(rng());
        std::vector<IqPair> out(size_t(pairs) + 1, IqPair{0x11111111, 0x22222222});
        convertSamples24(bytes.data(), out.data(), pairs);
        for (int k = 0; k < pairs; ++k) {
            ASSERT_EQ(out[size_t(k)].i, widen24(&bytes[size_t(6 * k)])) << pairs << "/" << k;
            ASSERT_EQ(out[size_t(k)].q, widen24(&bytes[size_t(6 * k + 3)])) << pairs << "/" << k;
        }
        EXPECT_EQ(out[size_t(pairs)].i, 0x11111111) << "wrote past " << pairs << " pairs";
    }
}

TEST(StreamSequencer, AcceptsInOrderForwardsAndAcknowledgesWithOffsetFourCleared)
{
    Sequencer s;
    for (quint16 n = 0; n < 20; ++n) {
        StreamHeader h;
        h.aux = quint8(n * 3);
        const QByteArray sent = testsupport::streamDatagram(n, {{qint32(n), -qint32(n)}}, h);
        QByteArray after;
        ASSERT_EQ(s.handle(sent, &after), Verdict::Accepted);
        QByteArray expectedAck = ackOf(sent);
        expectedAck[4] = 0;
        expectedAck[5] = 0;
        EXPECT_EQ(ackOf(after), expectedAck) << n;
    }
    EXPECT_EQ(s.seq.expectedSequence(), 20);
    const auto pushes = s.dsp.pushes();
    ASSERT_EQ(pushes.size(), 20u);
    for (int n = 0; n < 20; ++n) {
        ASSERT_EQ(pushes[size_t(n)].pairs.size(), size_t(wire::kPairsPerDatagram));
        EXPECT_EQ(pushes[size_t(n)].pairs[0].i, n * 256);
        EXPECT_EQ(pushes[size_t(n)].pairs[0].q, -n * 256);
        EXPECT_EQ(pushes[size_t(n)].pairs[1].i, 0);
        EXPECT_EQ(pushes[size_t(n)].aux, quint8(n * 3));
        EXPECT_TRUE(pushes[size_t(n)].hadWorkBuffer);
    }
}

TEST(StreamSequencer, RepeatIsReacknowledgedFromHistoryAndNotForwarded)
{
    Sequencer s;
    StreamHeader original;
    original.word0 = 0x1111;
    for (quint16 n = 0; n < 10; ++n)
        ASSERT_EQ(s.send(n, original), Verdict::Accepted);
    s.missRun(50, 5);
    EXPECT_EQ(s.seq.missCount(), 5);

    // The resent copy carries other header bytes: the acknowledgement is the stored one.
    StreamHeader resent;
    resent.word0 = 0x2222;
    resent.byte8 = 0x99;
    QByteArray ack;
    ASSERT_EQ(s.send(4, resent, &ack), Verdict::Repeat);
    QByteArray expected = ackOf(testsupport::streamDatagram(4, {}, original));
    expected[4] = 0;
    expected[5] = 0;
    EXPECT_EQ(ackOf(ack), expected);
    EXPECT_EQ(s.seq.missCount(), 0);
    EXPECT_EQ(s.dsp.pushCount(), 10u);
    EXPECT_EQ(s.seq.expectedSequence(), 10);

    // Further back than the eight, a copy is still known by its samples: acknowledged with its own
    // header, not forwarded, no miss. Other samples under that number are a miss.
    EXPECT_EQ(s.send(1, resent, &ack), Verdict::Repeat);
    EXPECT_EQ(wire::readU16(ack, 0), 0x2222);
    EXPECT_EQ(wire::readU16(ack, wire::kStreamClearedOffset), 0);
    EXPECT_EQ(s.send(1, {}, nullptr, 2), Verdict::Missed);
    EXPECT_EQ(s.send(2), Verdict::Repeat);
    EXPECT_EQ(s.dsp.pushCount(), 10u);
}

TEST(StreamSequencer, LostDatagramHoldsTheStreamUntilItArrives)
{
    Sequencer s;
    for (quint16 n = 0; n < 5; ++n)
        ASSERT_EQ(s.send(n), Verdict::Accepted);
    QByteArray after;
    const QByteArray ahead = testsupport::streamDatagram(6);
    ASSERT_EQ(s.handle(ahead, &after), Verdict::Missed);
    EXPECT_EQ(after, ahead) << "a dropped datagram is left as it was";
    s.missRun(7, 10);
    EXPECT_EQ(s.dsp.pushCount(), 5u);
    EXPECT_EQ(s.send(5), Verdict::Accepted);
    EXPECT_EQ(s.send(6), Verdict::Accepted);
    EXPECT_EQ(s.seq.missCount(), 0);
    EXPECT_EQ(s.dsp.pushes().back().pairs[0].i, 6 * 256);
}

TEST(StreamSequencer, ThirtyFourthMissResynchronisesEightAhead)
{
    Sequencer s;
    for (quint16 n = 0; n < 5; ++n)
        ASSERT_EQ(s.send(n), Verdict::Accepted);
    s.missRun(100, 33);
    QByteArray after;
    StreamHeader h;
    ASSERT_EQ(s.send(133, h, &after), Verdict::Resync);
    EXPECT_EQ(wire::readU16(after, wire::kStreamClearedOffset), 0);
    EXPECT_EQ(wire::readU16(after, wire::kSequenceOffset), 133);
    EXPECT_EQ(s.seq.expectedSequence(), 141);
    EXPECT_EQ(s.dsp.pushCount(), 5u);

    for (quint16 n = 134; n <= 140; ++n) {
        QByteArray ack;
        ASSERT_EQ(s.send(n, h, &ack), Verdict::Repeat) << n;
        EXPECT_EQ(wire::readU16(ack, wire::kSequenceOffset), n);
        EXPECT_EQ(wire::readU16(ack, wire::kStreamClearedOffset), 0);
    }
    EXPECT_EQ(s.dsp.pushCount(), 5u);
    ASSERT_EQ(s.send(141), Verdict::Accepted);
    EXPECT_EQ(s.dsp.pushes().back().pairs[0].i, 141 * 256);
}

TEST(StreamSequencer, EveryMissAfterTheThirtyFourthResynchronises)
{
    Sequencer s;
    s.missRun(1000, 33);
    ASSERT_EQ(s.send(1033), Verdict::Resync);
    EXPECT_EQ(s.send(3000), Verdict::Resync);
    EXPECT_EQ(s.seq.expectedSequence(), 3008);
    // A repeat ends the run of misses: the next miss is dropped again.
    EXPECT_EQ(s.send(3001), Verdict::Repeat);
    EXPECT_EQ(s.send(5000), Verdict::Missed);
}

TEST(StreamSequencer, SequenceNumbersWrapThroughResyncAndAcceptance)
{
    Sequencer s;
    // Resynchronise on 65526 so that 65534 is expected, then run across the wrap.
    s.missRun(65000, 33);
    ASSERT_EQ(s.send(65526), Verdict::Resync);
    EXPECT_EQ(s.seq.expectedSequence(), 65534);
    for (quint16 n = 65527; n != 65534; ++n)
        ASSERT_EQ(s.send(n), Verdict::Repeat) << n;
    for (quint16 n : {65534, 65535, 0, 1, 2})
        ASSERT_EQ(s.send(n), Verdict::Accepted) << n;
    EXPECT_EQ(s.send(65535), Verdict::Repeat);

    // A resync just below the wrap expects a number past it.
    s.missRun(60000, 33);
    ASSERT_EQ(s.send(65530), Verdict::Resync);
    EXPECT_EQ(s.seq.expectedSequence(), 2);
    EXPECT_EQ(s.send(65535, {}, nullptr, 2), Verdict::Repeat);
    EXPECT_EQ(s.send(0, {}, nullptr, 2), Verdict::Repeat);
    EXPECT_EQ(s.send(2, {}, nullptr, 2), Verdict::Accepted);
}

TEST(StreamSequencer, DatagramsOfTheWrongLengthAreDroppedUntouched)
{
    Sequencer s;
    ASSERT_EQ(s.send(0), Verdict::Accepted);
    // Exact-size heap buffers, so a sanitizer build catches any read past the end.
    for (int size : {0, 4, 9, 10, 11, 1209, 1211, 2048}) {
        std::vector<uchar> d(size_t(size), 0x5A);
        if (size >= 8) {
            wire::writeU16(d.data() + wire::kCodeOffset, wire::kCodeStream);
            wire::writeU16(d.data() + wire::kSequenceOffset, 1);
        }
        const std::vector<uchar> before = d;
        EXPECT_EQ(s.seq.handle(size ? d.data() : nullptr, size), Verdict::Invalid) << size;
        EXPECT_EQ(d, before) << size;
    }
    EXPECT_EQ(s.seq.expectedSequence(), 1);
    EXPECT_EQ(s.seq.missCount(), 0);
    EXPECT_EQ(s.dsp.pushCount(), 1u);
}

TEST(StreamSequencer, ResetExpectsZeroAgainButKeepsTheHistory)
{
    Sequencer s;
    for (quint16 n = 0; n < 4; ++n)
        ASSERT_EQ(s.send(n), Verdict::Accepted);
    s.missRun(200, 3);
    s.seq.reset();
    EXPECT_EQ(s.seq.expectedSequence(), 0);
    EXPECT_EQ(s.seq.missCount(), 0);
    EXPECT_EQ(s.send(2), Verdict::Repeat);
    EXPECT_EQ(s.send(0), Verdict::Accepted);
}
