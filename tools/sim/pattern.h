#pragma once

// The simulator's verifiable signal: every sample carries its global index n (0, 1, 2, ... over all
// stream datagrams a simulated receiver generated since it was first started, 200 per datagram,
// whatever their sequence numbers; a restart or a stop and start carries on counting), so a checker
// finds every gap, duplicate, reordering and wrong value, and tells a restarted stream from repeats.
//   I24 = n bits 0..23, Q24 = n bits 24..47.
// The plug-in delivers each 24-bit value multiplied by 256, so the low byte of every delivered
// 32-bit value must be zero.

#include <cstdint>

namespace pattern {

inline uint32_t i24(uint64_t n)
{
    return uint32_t(n & 0xFFFFFF);
}
inline uint32_t q24(uint64_t n)
{
    return uint32_t((n >> 24) & 0xFFFFFF);
}

// Decodes a delivered pair; false if it cannot be a pattern sample (low byte not zero).
inline bool decode(int32_t i, int32_t q, uint64_t *n)
{
    const uint32_t ui = uint32_t(i), uq = uint32_t(q);
    if ((ui & 0xFF) || (uq & 0xFF))
        return false;
    *n = uint64_t(ui >> 8) | (uint64_t(uq >> 8) << 24);
    return true;
}

} // namespace pattern
