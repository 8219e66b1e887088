// The stream datagram handler with its history, fed a run of datagrams cut from the input. Besides
// memory faults it checks the handler's promises on every datagram: what is forwarded, what the
// acknowledgement carries, and where the expected sequence number goes.

#include "fuzz/fuzzinput.h"
#include "protocol/stream.h"
#include "stream/dspabstract.h"
#include "stream/streamsequencer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kMaxDatagramsPerInput = 2048;
constexpr int kMaxRawBytes = 1400;
constexpr int kSampleSeedBytes = 24;

class CountingDsp : public DspAbstract
{
public:
    void startOutput(quint16, HostCallback) override {}
    bool stopOutput() override { return true; }
    bool pushSamples(const IqPair *pairs, void *work, int count, quint8 aux) override
    {
        ++pushes;
        last = pairs;
        lastCount = count;
        lastAux = aux;
        hadWork = work != nullptr;
        return true;
    }

    int pushes = 0;
    const IqPair *last = nullptr;
    int lastCount = 0;
    quint8 lastAux = 0;
    bool hadWork = false;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "stream sequencer broke a promise: %s\n", what);
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

// A 1210-byte stream datagram with the given sequence; the samples repeat a short run of input
// bytes, so the fuzzer steers values without paying for 1200 bytes each time.
void buildStream(FuzzInput &in, std::vector<uchar> &d, quint16 sequence)
{
    d.assign(wire::kStreamDatagramBytes, 0);
    in.take(d.data(), 2);
    wire::writeU16(d.data() + wire::kCodeOffset, wire::kCodeStream);
    in.take(d.data() + wire::kStreamClearedOffset, 2);
    wire::writeU16(d.data() + wire::kSequenceOffset, sequence);
    in.take(d.data() + 8, 2);
    uchar seed[kSampleSeedBytes];
    const size_t n = in.take(seed, sizeof seed);
    for (int k = 0; n && k < wire::kPairsPerDatagram * 2 * wire::kSampleBytes; ++k)
        d[size_t(wire::kStreamHeaderBytes + k)] = seed[size_t(k) % n];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    CountingDsp dsp;
    StreamSequencer sequencer(&dsp);
    std::vector<uchar> d;
    std::vector<uchar> original;
    int misses = 0; // consecutive misses as the handler must count them

    for (int n = 0; n < kMaxDatagramsPerInput && !in.empty(); ++n) {
        const uint8_t op = in.byte();
        const quint16 expected = sequencer.expectedSequence();
        switch (op % 5) {
        case 0: // near the expected number: accepts, repeats and short gaps
            buildStream(in, d, quint16(expected + int8_t(in.byte())));
            break;
        case 1: // anywhere
            buildStream(in, d, in.u16());
            break;
        case 2: { // raw bytes of any length, the code word included
            d.assign(size_t(in.u16() % kMaxRawBytes), 0);
            in.take(d.data(), d.size());
            break;
        }
        case 3:
            sequencer.reset();
            misses = 0;
            continue;
        default: // exactly the expected one
            buildStream(in, d, expected);
            break;
        }

        original = d;
        const int pushesBefore = dsp.pushes;
        // An exact-size heap buffer, so a read past its end is caught.
        const auto verdict = sequencer.handle(d.empty() ? nullptr : d.data(), int(d.size()));
        const bool forwarded = dsp.pushes != pushesBefore;
        const bool sized = d.size() == size_t(wire::kStreamDatagramBytes);
        const quint16 s = sized ? wire::readU16(original.data() + wire::kSequenceOffset) : 0;

        check((verdict == StreamSequencer::Verdict::Invalid) == !sized, "length decides validity");
        check(forwarded == (verdict == StreamSequencer::Verdict::Accepted),
              "forwards only accepted datagrams");
        if (StreamSequencer::acknowledges(verdict)) {
            check(wire::readU16(d.data() + wire::kSequenceOffset) == s, "ack carries the datagram's number");
            check(wire::readU16(d.data() + wire::kStreamClearedOffset) == 0, "ack clears offset 4");
        }

        switch (verdict) {
        case StreamSequencer::Verdict::Accepted:
            check(s == expected, "accepts only the expected number");
            check(sequencer.expectedSequence() == quint16(s + 1), "expects the next number");
            check(std::memcmp(d.data(), original.data(), 4) == 0 &&
                      std::memcmp(d.data() + 6, original.data() + 6, 4) == 0,
                  "ack is the datagram's own header");
            check(dsp.lastCount == wire::kPairsPerDatagram && dsp.hadWork,
                  "pushes 200 pairs with a work buffer");
            check(dsp.lastAux == original[wire::kAuxOffset], "passes the aux byte");
            for (int k = 0; k < wire::kPairsPerDatagram; ++k) {
                const uchar *sample = original.data() + wire::kStreamHeaderBytes + 6 * k;
                check(dsp.last[k].i == widen24(sample) && dsp.last[k].q == widen24(sample + 3),
                      "converts every sample");
            }
            misses = 0;
            break;
        case StreamSequencer::Verdict::Repeat:
            check(sequencer.expectedSequence() == expected, "a repeat moves nothing");
            // One from the history ends a run of misses; an older copy known by its samples leaves it.
            check(sequencer.missCount() == 0 || sequencer.missCount() == misses, "a repeat counts no miss");
            misses = sequencer.missCount();
            break;
        case StreamSequencer::Verdict::Restart:
            check(s != expected, "the expected number is taken");
            check(sequencer.expectedSequence() == expected,
                  "other samples under a recent number move nothing");
            check(sequencer.missCount() == misses, "and are no miss");
            break;
        case StreamSequencer::Verdict::Resync:
            check(misses >= StreamSequencer::kMissesBeforeResync, "resynchronises only after 33 misses");
            check(sequencer.expectedSequence() == quint16(s + StreamSequencer::kHistorySlots),
                  "takes up the stream 8 on");
            ++misses;
            break;
        case StreamSequencer::Verdict::Missed:
            check(misses < StreamSequencer::kMissesBeforeResync, "the 34th miss resynchronises");
            check(sequencer.expectedSequence() == expected, "a miss moves nothing");
            ++misses;
            break;
        case StreamSequencer::Verdict::Invalid:
            check(sequencer.expectedSequence() == expected, "an invalid datagram moves nothing");
            check(d == original, "an invalid datagram is left alone");
            break;
        }
    }
    return 0;
}
