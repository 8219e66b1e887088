#include "control/ratetables.h"
#include "protocol/bytes.h"

#include <gtest/gtest.h>

#include <array>

namespace {

struct Expected
{
    int rateIndex;
    std::array<quint32, 8> stages;
    quint16 word;
};

} // namespace

// Every rate index writes its row into a start datagram and nothing else; indexes outside 1..3 use
// row 0 for every field.
TEST(RateTables, StartPayloadFieldsPerRateIndex)
{
    const Expected cases[] = {
        {0, {15, 10, 8, 5, 3, 2, 2, 2}, 0},  {1, {10, 8, 5, 3, 2, 2, 2, 1}, 1},
        {2, {8, 6, 4, 3, 2, 1, 1, 1}, 2},    {3, {5, 4, 3, 1, 1, 1, 1, 1}, 3},
        {4, {15, 10, 8, 5, 3, 2, 2, 2}, 0},  {1000, {15, 10, 8, 5, 3, 2, 2, 2}, 0},
        {-1, {15, 10, 8, 5, 3, 2, 2, 2}, 0},
    };
    for (const Expected &c : cases) {
        // A marker byte everywhere shows which bytes were written.
        QByteArray d(68, char(0xAA));
        ratetables::writeStartStreamRateFields(d, c.rateIndex);
        for (int stage = 0; stage < 8; ++stage)
            EXPECT_EQ(wire::readU32(d, 18 + 4 * stage), c.stages[stage]) << c.rateIndex << " stage " << stage;
        EXPECT_EQ(wire::readU16(d, 56), c.word) << c.rateIndex;
        EXPECT_EQ(wire::readU16(d, 58), c.word) << c.rateIndex;
        EXPECT_EQ(quint8(d[64]), 0) << c.rateIndex;
        EXPECT_EQ(quint8(d[65]), 0) << c.rateIndex;
        for (int at : {0, 17, 50, 55, 60, 63, 66, 67})
            EXPECT_EQ(quint8(d[at]), 0xAA) << c.rateIndex << " byte " << at;
    }
}

TEST(RateTables, ShortDatagramIsLeftAlone)
{
    QByteArray d(65, char(0xAA));
    ratetables::writeStartStreamRateFields(d, 3);
    EXPECT_EQ(d, QByteArray(65, char(0xAA)));
}
