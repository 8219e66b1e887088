// Figures for the stream's hot paths: one stream datagram through the accept path, the FIFO, and
// the SoapySDR module's 312500 to 250000 resampler.
#include "protocol/stream.h"
#include "soapy/resampler.h"
#include "stream/samplefifo.h"
#include "stream/streamsequencer.h"
#include "stream/tarnixdsp.h"

#include <benchmark/benchmark.h>

#include <QMutex>

#include <vector>

namespace {

// A 1210-byte stream datagram with the given sequence number and arbitrary sample bytes.
std::vector<uchar> streamDatagram(quint16 sequence)
{
    std::vector<uchar> d(wire::kStreamDatagramBytes);
    for (size_t k = 0; k < d.size(); ++k)
        d[k] = uchar(k * 37 + 11);
    wire::writeU16(d.data() + wire::kCodeOffset, wire::kCodeStream);
    wire::writeU16(d.data() + wire::kSequenceOffset, sequence);
    return d;
}

// Sequence check, conversion, FIFO push (under its lock), history copy: everything the receive
// thread does for an in-order datagram short of the socket calls. The dsp's delivery thread is not
// started, so the FIFO simply wraps.
void BM_AcceptPath(benchmark::State &state)
{
    TarnixDsp dsp;
    QMutex sequenceMutex;
    StreamSequencer sequencer(&dsp, &sequenceMutex);
    std::vector<uchar> d = streamDatagram(0);
    quint16 sequence = 0;
    for (auto _ : state) {
        wire::writeU16(d.data() + wire::kSequenceOffset, sequence++);
        const auto verdict = sequencer.handle(d.data(), int(d.size()));
        benchmark::DoNotOptimize(verdict);
    }
    if (sequencer.expectedSequence() != sequence)
        state.SkipWithError("a datagram was not accepted");
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * wire::kStreamDatagramBytes);
}
BENCHMARK(BM_AcceptPath);

void BM_Conversion(benchmark::State &state)
{
    const std::vector<uchar> d = streamDatagram(0);
    IqPair out[wire::kPairsPerDatagram];
    for (auto _ : state) {
        convertSamples24(d.data() + wire::kStreamHeaderBytes, out, wire::kPairsPerDatagram);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * wire::kPairsPerDatagram);
}
BENCHMARK(BM_Conversion);

// Push then pop the same number of pairs, so the ring keeps wrapping at every offset.
void BM_FifoPushPop(benchmark::State &state)
{
    const int pairs = int(state.range(0));
    SampleFifo fifo(TarnixDsp::kFifoCapacityPairs);
    std::vector<IqPair> in(static_cast<size_t>(pairs), IqPair{1, 2});
    std::vector<IqPair> out(static_cast<size_t>(pairs));
    for (auto _ : state) {
        fifo.push(in.data(), pairs);
        const bool popped = fifo.pop(out.data(), unsigned(pairs));
        benchmark::DoNotOptimize(popped);
    }
    state.SetItemsProcessed(state.iterations() * pairs);
}
BENCHMARK(BM_FifoPushPop)->Arg(200)->Arg(2048);

void BM_FifoPush(benchmark::State &state)
{
    const int pairs = int(state.range(0));
    SampleFifo fifo(TarnixDsp::kFifoCapacityPairs);
    std::vector<IqPair> in(static_cast<size_t>(pairs), IqPair{1, 2});
    for (auto _ : state)
        fifo.push(in.data(), pairs);
    state.SetItemsProcessed(state.iterations() * pairs);
}
BENCHMARK(BM_FifoPush)->Arg(200)->Arg(2048);

// A read's worth of receiver pairs through the resampler; items are output pairs, so the time per
// item is the reading thread's cost per sample at 250000 samples/s.
void BM_Resample4To5(benchmark::State &state)
{
    constexpr size_t kInputs = 10240;
    std::vector<IqPair> in(kInputs);
    for (size_t k = 0; k < kInputs; ++k)
        in[k] = {qint32(k * 2654435761u) & ~0xff, qint32(k * 40503u) << 8};
    std::vector<IqPair> out(Resampler::outputsFor(kInputs));
    Resampler resampler;
    size_t made = 0;
    for (auto _ : state) {
        made += resampler.process(in.data(), kInputs, out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(made));
}
BENCHMARK(BM_Resample4To5);

} // namespace

BENCHMARK_MAIN();
