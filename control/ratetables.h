#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

// What each rate index means for the receiver. Rate index 0..3; the panel offers 1..3.
namespace ratetables {

constexpr int kRateCount = 4;
constexpr int kStageCount = 8;

constexpr std::array<double, kRateCount> kSampleRatesSps = {39062.5, 78125.0, 156250.0, 312500.0};

// Per rate index, one value per stage, stage 1 first. Forwarded to the receiver as they are.
constexpr std::array<std::array<quint32, kStageCount>, kRateCount> kStageLists = {{
    {15, 10, 8, 5, 3, 2, 2, 2},
    {10, 8, 5, 3, 2, 2, 2, 1},
    {8, 6, 4, 3, 2, 1, 1, 1},
    {5, 4, 3, 1, 1, 1, 1, 1},
}};

constexpr std::array<quint32, kRateCount> kRateWords = {0, 1, 2, 3};
constexpr std::array<quint8, kRateCount> kRateBytes = {0, 0, 0, 0};

// Rate indexes 1..3 keep their own row; 0 and everything else (also out-of-range values) use row 0,
// so no lookup ever leaves the tables.
int tableRow(int rateIndex);

// Writes the stage list, the rate word (twice) and the rate byte (twice) for `rateIndex` into a
// start-stream datagram. A datagram shorter than wire::kStartStreamMinBytes is left untouched.
void writeStartStreamRateFields(QByteArray &datagram, int rateIndex);

} // namespace ratetables
