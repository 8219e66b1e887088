#include "tools/host/wavwriter.h"

#include "protocol/bytes.h"
#include "tools/host/plainfile.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kStagingPairs = 2048;
constexpr quint16 kFormatPcm = 1;
constexpr quint16 kChannels = 2;
constexpr quint16 kBitsPerSample = 32;
} // namespace

WavWriter::WavWriter() : m_buffer(size_t(kStagingPairs) * kWavFrameBytes) {}

WavWriter::~WavWriter()
{
    if (m_file)
        finish();
}

quint64 WavWriter::maxFrames()
{
    // The RIFF size field (file size - 8) must fit in 32 bits.
    return (quint64(0xFFFFFFFFu) - (kWavHeaderBytes - 8)) / kWavFrameBytes;
}

QByteArray WavWriter::header(quint32 sampleRateHz, quint64 frames)
{
    const quint32 dataBytes = quint32(std::min(frames, maxFrames()) * kWavFrameBytes);
    uchar h[kWavHeaderBytes] = {};
    std::memcpy(h + 0, "RIFF", 4);
    wire::writeU32(h + 4, dataBytes + (kWavHeaderBytes - 8));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    wire::writeU32(h + 16, 16);
    wire::writeU16(h + 20, kFormatPcm);
    wire::writeU16(h + 22, kChannels);
    wire::writeU32(h + 24, sampleRateHz);
    wire::writeU32(h + 28, sampleRateHz * kWavFrameBytes);
    wire::writeU16(h + 32, kWavFrameBytes);
    wire::writeU16(h + 34, kBitsPerSample);
    std::memcpy(h + 36, "data", 4);
    wire::writeU32(h + 40, dataBytes);
    return QByteArray(reinterpret_cast<const char *>(h), kWavHeaderBytes);
}

bool WavWriter::open(const QString &path, quint32 sampleRateHz)
{
    if (m_file)
        finish();
    m_path = path;
    m_frames = 0;
    m_truncated = false;
    m_failed = false;
    m_file = openPlainFile(path, "wb");
    if (!m_file) {
        m_error = QStringLiteral("cannot write %1: %2").arg(path, lastFileError());
        return false;
    }
    m_sampleRateHz = sampleRateHz;
    // Sizes of zero until finish(): a reader of an unfinished file sees an empty recording.
    if (std::fwrite(header(sampleRateHz, 0).constData(), 1, kWavHeaderBytes, m_file) !=
        size_t(kWavHeaderBytes)) {
        m_error = QStringLiteral("cannot write %1: %2").arg(path, lastFileError());
        m_failed = true;
        return false;
    }
    return true;
}

bool WavWriter::write(const IqPair *pairs, int count)
{
    if (!m_file || m_failed)
        return false;
    while (count > 0) {
        const quint64 room = maxFrames() - m_frames;
        if (room == 0) {
            m_truncated = true;
            return true;
        }
        const int n = int(std::min<quint64>({quint64(count), quint64(kStagingPairs), room}));
        uchar *out = m_buffer.data();
        for (int i = 0; i < n; ++i) {
            wire::writeU32(out + i * kWavFrameBytes, quint32(pairs[i].i));
            wire::writeU32(out + i * kWavFrameBytes + 4, quint32(pairs[i].q));
        }
        const size_t bytes = size_t(n) * kWavFrameBytes;
        if (std::fwrite(m_buffer.data(), 1, bytes, m_file) != bytes) {
            m_error = QStringLiteral("writing %1 failed: %2").arg(m_path, lastFileError());
            m_failed = true;
            return false;
        }
        m_frames += quint64(n);
        pairs += n;
        count -= n;
    }
    return true;
}

bool WavWriter::finish()
{
    if (!m_file)
        return !m_failed;
    bool ok = !m_failed;
    if (ok && (std::fseek(m_file, 0, SEEK_SET) != 0 ||
               std::fwrite(header(m_sampleRateHz, m_frames).constData(), 1, kWavHeaderBytes, m_file) !=
                   size_t(kWavHeaderBytes))) {
        m_error = QStringLiteral("finishing %1 failed: %2").arg(m_path, lastFileError());
        ok = false;
    }
    if (std::fclose(m_file) != 0 && ok) {
        m_error = QStringLiteral("closing %1 failed: %2").arg(m_path, lastFileError());
        ok = false;
    }
    m_file = nullptr;
    m_failed = !ok;
    return ok;
}
