#include "tools/host/wavwriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <vector>

namespace {
quint32 u32(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
quint16 u16(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
} // namespace

TEST(WavWriter, HeaderAndDataMatchWhatWasWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("r.wav"));
    std::vector<IqPair> pairs;
    for (int n = 0; n < 5000; ++n)
        pairs.push_back({n * 256 - 0x40000000, -n * 65536 + 0x7FFFFF00});
    pairs.push_back({INT32_MIN, INT32_MAX});

    WavWriter w;
    ASSERT_TRUE(w.open(path, 0));
    // Uneven pieces, larger and smaller than the internal staging buffer.
    ASSERT_TRUE(w.write(pairs.data(), 3));
    ASSERT_TRUE(w.write(pairs.data() + 3, 4500));
    ASSERT_TRUE(w.write(pairs.data() + 4503, int(pairs.size()) - 4503));
    w.setSampleRate(156250);
    ASSERT_TRUE(w.finish());
    EXPECT_EQ(w.framesWritten(), pairs.size());

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray b = f.readAll();
    const quint32 dataBytes = quint32(pairs.size() * 8);
    ASSERT_EQ(b.size(), int(44 + dataBytes));
    EXPECT_EQ(b.left(4), QByteArray("RIFF"));
    EXPECT_EQ(u32(b, 4), 36 + dataBytes);
    EXPECT_EQ(b.mid(8, 8), QByteArray("WAVEfmt "));
    EXPECT_EQ(u32(b, 16), 16u);
    EXPECT_EQ(u16(b, 20), 1u); // integer PCM
    EXPECT_EQ(u16(b, 22), 2u);
    EXPECT_EQ(u32(b, 24), 156250u);
    EXPECT_EQ(u32(b, 28), 156250u * 8);
    EXPECT_EQ(u16(b, 32), 8u);
    EXPECT_EQ(u16(b, 34), 32u);
    EXPECT_EQ(b.mid(36, 4), QByteArray("data"));
    EXPECT_EQ(u32(b, 40), dataBytes);
    for (size_t n = 0; n < pairs.size(); ++n) {
        ASSERT_EQ(qint32(u32(b, 44 + int(n) * 8)), pairs[n].i) << n;
        ASSERT_EQ(qint32(u32(b, 48 + int(n) * 8)), pairs[n].q) << n;
    }
}

TEST(WavWriter, SizesStayWithinTheRiffLimit)
{
    // A recording past 4 GiB cannot be described; the header must still be consistent.
    const QByteArray h = WavWriter::header(312500, WavWriter::maxFrames() + 1000);
    EXPECT_EQ(u32(h, 40), WavWriter::maxFrames() * 8);
    EXPECT_EQ(quint64(u32(h, 4)), WavWriter::maxFrames() * 8 + 36);
    EXPECT_LE(quint64(u32(h, 4)), 0xFFFFFFFFull);
}

TEST(WavWriter, UnwritablePathIsAnError)
{
    WavWriter w;
    EXPECT_FALSE(w.open(QStringLiteral("/nonexistent-dir/r.wav"), 1000));
    EXPECT_TRUE(w.errorString().contains(QStringLiteral("/nonexistent-dir/r.wav")));
    const IqPair p{1, 2};
    EXPECT_FALSE(w.write(&p, 1));
}
