#include "driver/requests.h"
#include "protocol/bytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

TEST(Requests, TuningDatagramIsByteExact)
{
    EXPECT_EQ(requests::tuning(0, 7200000.0).toHex(' '),
              hex("12FF 0800 0800 00000000 01000000 00000000 00A24A0400000000").toHex(' '));
    // 900 MHz is clamped to 800 MHz; the channel lands in the header.
    EXPECT_EQ(requests::tuning(1, 900000000.0).toHex(' '),
              hex("12FF 0800 0800 01000000 01000000 00000000 0050D6DC01000000").toHex(' '));
}

TEST(Requests, TuningValueTruncatesAndClamps)
{
    const quint64 max = requests::kMaxTuningValue;
    const struct
    {
        double hz;
        quint64 expected;
    } cases[] = {
        {7200000.0, 72000000},
        {0.05, 0},  // 0.5 tenths truncates toward zero
        {-0.05, 0}, // -0.5 truncates to 0, which is in range
        {12345.67, 123456},
        {800000000.0, max},
        {800000000.09, max}, // 8000000000.9 truncates onto the limit itself
        {800000000.1, max},
        {900000000.0, max},
        {-1.0, max},  // negative values read unsigned are huge
        {1e300, max}, // outside int64: must not be converted unchecked
        {-1e300, max},
        {std::numeric_limits<double>::quiet_NaN(), max},
        {std::numeric_limits<double>::infinity(), max},
    };
    for (const auto &c : cases)
        EXPECT_EQ(requests::tuningValue(c.hz), c.expected) << c.hz;
}

TEST(Requests, StartStreamDatagramIsByteExact)
{
    const QByteArray header = hex("12FF 0100 3200 00000000 01000000 00000000");
    const QByteArray rate3 =
        header + hex("05000000 04000000 03000000 01000000 01000000 01000000 01000000 01000000"
                     "00000000 0100 0300 0300 00000000 00 00 0000");
    EXPECT_EQ(requests::startStream(3, 1).toHex(' '), rate3.toHex(' '));
    // Above 3: row 0 for the stages, the word and the byte fields.
    const QByteArray above =
        header + hex("0F000000 0A000000 08000000 05000000 03000000 02000000 02000000 02000000"
                     "00000000 0700 0000 0000 00000000 00 00 0000");
    EXPECT_EQ(requests::startStream(9, 7).toHex(' '), above.toHex(' '));
}

TEST(Requests, EveryCommandHasItsCodeLengthAndPayload)
{
    const struct
    {
        const char *what;
        QByteArray datagram;
        QByteArray expected;
    } cases[] = {
        {"stop", requests::stopStream(), hex("12FF 0200 0400 00000000 01000000 00000000 00000000")},
        {"attenuator on", requests::attenuator(0), hex("12FF 0500 0400 00000000 01000000 00000000 00000000")},
        {"attenuator off", requests::attenuator(1),
         hex("12FF 0500 0400 00000000 01000000 00000000 01000000")},
        {"filter on", requests::lowPassFilter(true),
         hex("12FF 1B00 0400 00000000 01000000 00000000 01000000")},
        {"filter off", requests::lowPassFilter(false),
         hex("12FF 1B00 0400 00000000 01000000 00000000 00000000")},
        {"calibration", requests::calibrationRead(), hex("12FF 0E00 0000 00000000 01000000 00000000")},
        {"device info", requests::deviceInfoRead(), hex("12FF 1A00 0000 00000000 01000000 00000000")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.datagram.toHex(' '), c.expected.toHex(' ')) << c.what;
}
