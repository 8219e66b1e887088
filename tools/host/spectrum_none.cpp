// The accumulator of builds without FFTW (the Windows host): it takes the samples and never has a
// frame, so a run reports no spectrum. --spectrum is refused before a run starts.
#include "tools/host/spectrum.h"

#include <algorithm>

SpectrumAccumulator::SpectrumAccumulator(int points) : m_points(std::max(points, 16)) {}

SpectrumAccumulator::~SpectrumAccumulator() = default;

void SpectrumAccumulator::reset() {}

void SpectrumAccumulator::feed(const IqPair *, int) {}

void SpectrumAccumulator::transformFrame() {}

std::vector<double> SpectrumAccumulator::averageDbfs() const
{
    return {};
}
