// The parts of the spectrum that need no FFT: peak finding and the file handed to the drawing child.
#include "tools/host/spectrum.h"

#include "protocol/bytes.h"
#include "tools/host/plainfile.h"

#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
constexpr quint32 kDataMagic = 0x54535045; // identifies a saved SpectrumData file
constexpr quint32 kDataVersion = 1;
constexpr quint32 kMaxSavedPoints = 1 << 20;
constexpr quint32 kMaxSpanBytes = 4096;
constexpr int kDataHeaderBytes = 44;
} // namespace

std::vector<int> strongestPeaks(const std::vector<double> &dbfs, int count, int guardBins)
{
    const int n = int(dbfs.size());
    std::vector<int> order;
    for (int k = 0; k < n; ++k) {
        const bool left = k == 0 || dbfs[size_t(k)] >= dbfs[size_t(k - 1)];
        const bool right = k == n - 1 || dbfs[size_t(k)] > dbfs[size_t(k + 1)];
        if (left && right)
            order.push_back(k);
    }
    std::sort(order.begin(), order.end(), [&](int a, int b) { return dbfs[size_t(a)] > dbfs[size_t(b)]; });
    std::vector<int> peaks;
    for (int k : order) {
        if (int(peaks.size()) >= count)
            break;
        const bool near =
            std::any_of(peaks.begin(), peaks.end(), [&](int p) { return std::abs(p - k) <= guardBins; });
        if (!near)
            peaks.push_back(k);
    }
    return peaks;
}

QByteArray SpectrumData::toBytes() const
{
    const QByteArray spanText = span.toUtf8();
    std::vector<uchar> b(size_t(kDataHeaderBytes) + size_t(spanText.size()) + dbfs.size() * 8);
    wire::writeU32(&b[0], kDataMagic);
    wire::writeU32(&b[4], kDataVersion);
    wire::writeF64(&b[8], loHz);
    wire::writeF64(&b[16], sampleRateHz);
    wire::writeU64(&b[24], frames);
    wire::writeU32(&b[32], quint32(points));
    wire::writeU32(&b[36], quint32(spanText.size()));
    wire::writeU32(&b[40], quint32(dbfs.size()));
    std::memcpy(b.data() + kDataHeaderBytes, spanText.constData(), size_t(spanText.size()));
    size_t at = size_t(kDataHeaderBytes) + size_t(spanText.size());
    for (double v : dbfs) {
        wire::writeF64(b.data() + at, v);
        at += 8;
    }
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

bool SpectrumData::fromBytes(const QByteArray &b)
{
    if (b.size() < kDataHeaderBytes || wire::readU32(b, 0) != kDataMagic ||
        wire::readU32(b, 4) != kDataVersion)
        return false;
    const quint32 spanBytes = wire::readU32(b, 36);
    const quint32 count = wire::readU32(b, 40);
    if (count > kMaxSavedPoints || spanBytes > kMaxSpanBytes ||
        qint64(b.size()) != qint64(kDataHeaderBytes) + spanBytes + qint64(count) * 8)
        return false;
    loHz = wire::readF64(b, 8);
    sampleRateHz = wire::readF64(b, 16);
    frames = wire::readU64(b, 24);
    points = int(wire::readU32(b, 32));
    span = QString::fromUtf8(b.constData() + kDataHeaderBytes, int(spanBytes));
    dbfs.resize(count);
    int at = kDataHeaderBytes + int(spanBytes);
    for (double &v : dbfs) {
        v = wire::readF64(b, at);
        at += 8;
    }
    return true;
}

bool SpectrumData::save(const QString &path, QString *error) const
{
    return writePlainFile(path, toBytes(), error);
}

bool SpectrumData::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!fromBytes(file.readAll())) {
        *error = QStringLiteral("%1 is not a spectrum data file").arg(path);
        return false;
    }
    return true;
}
