#pragma once

#include "protocol/hostinterface.h"

#include <QtGlobal>

#include <cstddef>

// 312500 samples/s in, 250000 out: up by 4, a low-pass FIR, down by 5, computed as four polyphase
// branches so that only the taps that meet a real input are multiplied. Passband flat (within
// 0.01 dB) to +-100 kHz, at least 70 dB down from 125 kHz, where the output's band ends; unity gain,
// outputs saturate at the 32-bit full scale. Each output is made when the newest input it needs
// comes, so after a reset input n (counting from 0) completes output 4n/5 when n % 5 < 4.
class Resampler
{
public:
    static constexpr int kUp = 4;
    static constexpr int kDown = 5;
    static constexpr int kTapsPerPhase = 56;

    Resampler();

    // Forgets every input, so nothing before a discontinuity reaches the outputs after it.
    void reset();
    // Writes the outputs that `count` more inputs complete to `out`, which has room for
    // outputsFor(); returns how many.
    size_t process(const IqPair *in, size_t count, IqPair *out);

    // Outputs the first `inputs` inputs after a reset complete: ceil(4 n / 5).
    static quint64 outputsFor(quint64 inputs) { return (kUp * inputs + kDown - 1) / kDown; }
    // The most inputs after a reset that complete no more than `outputs` outputs: floor(5 n / 4).
    static quint64 inputsFor(quint64 outputs) { return kDown * outputs / kUp; }

private:
    // The last kTapsPerPhase inputs as interleaved I, Q, written twice so that the window ending at
    // the newest is always one contiguous run.
    alignas(16) float m_history[4 * kTapsPerPhase];
    int m_next = 0;  // where the next input goes (0..kTapsPerPhase-1)
    int m_cycle = 0; // the next input's place in the cycle of five (inputs 0..3 complete an output)
};
