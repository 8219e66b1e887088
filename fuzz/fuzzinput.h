#pragma once

#include <cstddef>
#include <cstdint>

// Reads a fuzzer's input front to back; past the end every read gives zeros, so a target never has
// to check what is left before asking.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_at >= m_size; }
    size_t remaining() const { return m_size - m_at; }

    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint16_t u16()
    {
        const uint16_t lo = byte();
        return uint16_t(lo | uint16_t(byte()) << 8);
    }

    // Up to `wanted` bytes from the input, fewer at its end; the count taken is returned.
    size_t take(uint8_t *out, size_t wanted)
    {
        size_t n = 0;
        for (; n < wanted && m_at < m_size; ++n)
            out[n] = m_data[m_at++];
        return n;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};
