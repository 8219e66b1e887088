#include "streamaudit.h"

#include "tools/sim/pattern.h"

#include <QFile>
#include <QtEndian>

#include <cstdint>
#include <vector>

namespace {

constexpr int kWavHeaderBytes = 44;
constexpr int kFrameBytes = 8;
constexpr qint64 kChunkFrames = 65536;
// Far beyond any soak run (an hour at the highest rate); an index past it is counted undecodable.
constexpr quint64 kMaxIndex = 312500ull * 3600;

} // namespace

StreamAudit auditWav(const QString &path)
{
    StreamAudit a;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() < kWavHeaderBytes || !f.seek(kWavHeaderBytes))
        return a;
    a.read = true;
    std::vector<bool> seen;
    quint64 first = 0, last = 0, highest = 0;
    bool any = false;
    while (true) {
        const QByteArray chunk = f.read(kChunkFrames * kFrameBytes);
        if (chunk.size() < kFrameBytes)
            break;
        const uchar *d = reinterpret_cast<const uchar *>(chunk.constData());
        for (int at = 0; at + kFrameBytes <= chunk.size(); at += kFrameBytes) {
            ++a.pairs;
            uint64_t n;
            if (!pattern::decode(qFromLittleEndian<qint32>(d + at), qFromLittleEndian<qint32>(d + at + 4),
                                 &n) ||
                n > kMaxIndex) {
                ++a.undecodable;
                continue;
            }
            if (any && n != last + 1)
                ++a.jumps;
            if (n >= seen.size())
                seen.resize(size_t(n) + 1 + kChunkFrames, false);
            if (seen[size_t(n)])
                ++a.duplicates;
            else if (any && n < highest)
                ++a.reordered;
            seen[size_t(n)] = true;
            if (!any)
                first = n;
            highest = any ? qMax<quint64>(highest, n) : n;
            last = n;
            any = true;
        }
    }
    a.highest = highest;
    if (any) {
        for (quint64 n = first; n <= highest; ++n)
            a.missing += seen[size_t(n)] ? 0 : 1;
    }
    return a;
}
