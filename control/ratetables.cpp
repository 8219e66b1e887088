#include "control/ratetables.h"

#include "protocol/commands.h"

namespace ratetables {

int tableRow(int rateIndex)
{
    return rateIndex >= 1 && rateIndex < kRateCount ? rateIndex : 0;
}

void writeStartStreamRateFields(QByteArray &datagram, int rateIndex)
{
    if (datagram.size() < wire::kStartStreamMinBytes)
        return;
    const int row = tableRow(rateIndex);
    // Each field group is assembled locally and copied in with replace(): it keeps the writes inside
    // the size checked above without writing through data() (which GCC's overflow analysis cannot
    // follow).
    std::array<uchar, 4 * kStageCount> stages;
    for (int stage = 0; stage < kStageCount; ++stage)
        wire::writeU32(stages.data() + 4 * stage, kStageLists[row][stage]);
    std::array<uchar, 4> words;
    wire::writeU16(words.data(), quint16(kRateWords[row]));
    wire::writeU16(words.data() + 2, quint16(kRateWords[row]));
    const std::array<uchar, 2> bytes = {kRateBytes[row], kRateBytes[row]};

    const auto put = [&datagram](int at, const uchar *from, int count) {
        datagram.replace(at, count, reinterpret_cast<const char *>(from), count);
    };
    put(wire::kStagesOffset, stages.data(), int(stages.size()));
    put(wire::kRateWordOffset, words.data(), int(words.size()));
    put(wire::kRateByteOffset, bytes.data(), int(bytes.size()));
}

} // namespace ratetables
