#pragma once

#include "protocol/hostinterface.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <vector>

constexpr int kWavHeaderBytes = 44;
constexpr int kWavFrameBytes = 8; // I and Q, 32 bits each

// Writes I/Q pairs as a two-channel 32-bit integer PCM WAV file (I left, Q right). The sizes in the
// header are written when the file is finished; a RIFF file cannot exceed 4 GiB, so frames beyond
// that are not written and truncated() says so.
class WavWriter
{
public:
    WavWriter();
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    bool open(const QString &path, quint32 sampleRateHz);
    bool write(const IqPair *pairs, int count);
    // The rate may be known only after the recording started; the header is written at finish().
    void setSampleRate(quint32 sampleRateHz) { m_sampleRateHz = sampleRateHz; }
    // Patches the header sizes and closes; true when every write and the patch succeeded.
    bool finish();

    quint64 framesWritten() const { return m_frames; }
    bool truncated() const { return m_truncated; }
    QString errorString() const { return m_error; }

    static quint64 maxFrames();
    static QByteArray header(quint32 sampleRateHz, quint64 frames);

private:
    std::FILE *m_file = nullptr;
    QString m_path;
    std::vector<uchar> m_buffer; // little-endian staging for one block, allocated once
    quint32 m_sampleRateHz = 0;
    quint64 m_frames = 0;
    bool m_truncated = false;
    bool m_failed = false;
    QString m_error;
};
