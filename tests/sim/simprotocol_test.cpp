// The simulator's datagrams against fixed byte vectors written out by hand.

#include "protocol/commands.h"
#include "tools/sim/simprotocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

using namespace sim;

namespace {

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}
const uchar *u(const QByteArray &d)
{
    return reinterpret_cast<const uchar *>(d.constData());
}

// Reference CRC-32 (reflected 0xEDB88320), independent of zlib.
quint32 referenceCrc32(const uchar *d, int n)
{
    quint32 c = 0xFFFFFFFF;
    for (int i = 0; i < n; ++i) {
        c ^= d[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320 & (0u - (c & 1)));
    }
    return ~c;
}

} // namespace

TEST(SimProtocol, DiscoveryRequestIsRecognisedOnlyExactly)
{
    const QByteArray request = hex("12ff001a000000000000000000000000000000000000ece6");
    EXPECT_EQ(discoveryRequest(), request);
    EXPECT_TRUE(isDiscoveryRequest(u(request), request.size()));

    QByteArray badChecksum = request;
    badChecksum[23] = char(0xE7);
    QByteArray nonZero = request;
    nonZero[9] = 1;
    const QByteArray longer = request + QByteArray(1, '\0');
    for (const QByteArray &d : {badChecksum, nonZero, longer, request.left(23)})
        EXPECT_FALSE(isDiscoveryRequest(u(d), d.size())) << d.toHex().constData();
}

TEST(SimProtocol, DiscoveryReplyMatchesTheExample)
{
    ReceiverConfig rx;
    rx.serialNumber = 123;
    rx.serialByteA = 0x0A;
    rx.serialByteB = 0x1F;
    const QByteArray reply = discoveryReply(rx, 0x0A000007, 50001);
    ASSERT_EQ(reply.size(), 24);
    EXPECT_EQ(reply.left(4), hex("12ff011a"));
    EXPECT_EQ(reply.mid(4, 4), hex("7b000000"));
    EXPECT_EQ(uchar(reply[8]), 0x0A);
    EXPECT_EQ(uchar(reply[9]), 0x1F);
    EXPECT_EQ(reply.mid(10, 4), hex("0a000007"));
    EXPECT_EQ(reply.mid(18, 2), hex("51c3"));
    EXPECT_EQ(reply.mid(20, 2), hex("0000"));
}

TEST(SimProtocol, ReceiverIdentifiers)
{
    EXPECT_EQ(receiverIdentifier(123, 0x0A, 0x1F), QStringLiteral("RVD010a1f00123"));
    EXPECT_EQ(receiverIdentifier(7, 0xFF, 0x00), QStringLiteral("RVD01ff0000007"));
}

TEST(SimProtocol, CommandPayloadsAreRead)
{
    const QByteArray tuning =
        hex("12 FF 08 00 08 00 00 00 00 00 01 00 00 00 00 00 00 00 00 A2 4A 04 00 00 00 00");
    ASSERT_EQ(tuning.size(), wire::kTuningBytes);
    EXPECT_EQ(commandLength(wire::kCmdTuning), tuning.size());
    EXPECT_DOUBLE_EQ(tuningHz(u(tuning)), 7200000.0);

    std::array<uchar, wire::kStartStreamBytes> start{};
    for (int word : {0, 1, 2, 3, 4, 0xFFFF}) {
        wire::writeU16(start.data() + 56, quint16(word));
        EXPECT_EQ(startRateIndex(start.data()), word <= 3 ? word : 0) << word;
    }
}

TEST(SimProtocol, RepliesEchoCodeAndChannelWithStatusOne)
{
    const QByteArray tuning = hex("12ff0800 0800 01000000 01000000 00000000 00a24a0400000000");
    const QByteArray reply = commandReply(u(tuning), tuning.size(), ReceiverConfig(), Calibration());
    EXPECT_EQ(reply, hex("12ff0800 0000 01000000 01000000 00000000"));
}

TEST(SimProtocol, CalibrationReplyCarriesValuesUnderACrc)
{
    Calibration cal;
    cal.values = {1.5, -2.25, 0, 0, 0, 0, 0, 8.0};
    cal.factor = 1.0000125;
    const QByteArray reply = calibrationReply(cal);
    ASSERT_EQ(reply.size(), wire::kCalibrationReplyBytes);
    EXPECT_EQ(reply.left(18), hex("12ff0e004c00000000000100000000000000"));
    EXPECT_EQ(wire::readU32(reply, wire::kStatusOffset), 1u);
    EXPECT_EQ(wire::readU32(reply, 18), referenceCrc32(u(reply) + 22, 72));
    EXPECT_EQ(wire::readF64(reply, 22), 1.5);
    EXPECT_EQ(wire::readF64(reply, 30), -2.25);
    EXPECT_EQ(wire::readF64(reply, 78), 8.0);
    EXPECT_EQ(wire::readF64(reply, 86), 1.0000125);
    // The CRC of the standard check string, so a wrong polynomial or seed would show.
    EXPECT_EQ(referenceCrc32(reinterpret_cast<const uchar *>("123456789"), 9), 0xCBF43926u);
}

TEST(SimProtocol, DeviceInfoReplyLayout)
{
    ReceiverConfig rx;
    rx.serialNumber = 7;
    rx.serialByteA = 0xFF;
    rx.serialByteB = 0x00;
    rx.info = {0x1111, 2, 3, 14, 0x22222222, 0x33333333, 0x801, 5};
    const QByteArray reply = deviceInfoReply(rx);
    ASSERT_EQ(reply.size(), wire::kDeviceInfoReplyBytes);
    EXPECT_EQ(reply.left(6), hex("12ff1a002400"));
    EXPECT_EQ(reply.mid(18), hex("1111"
                                 "0200"
                                 "0300"
                                 "0e00"
                                 "22222222"
                                 "00000000"
                                 "33333333"
                                 "07000000"
                                 "ff00"
                                 "0000"
                                 "01080000"
                                 "05000000"));
}

TEST(SimProtocol, ResizedTruncatesAndPads)
{
    const QByteArray d = hex("0102030405");
    EXPECT_EQ(resized(d, 2), hex("0102"));
    EXPECT_EQ(resized(d, 7), hex("01020304050000"));
}
