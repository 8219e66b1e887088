#include "driver/calibration.h"
#include "driver/receiverinfo.h"
#include "protocol/commands.h"
#include "readoutreplies.h"

#include <gtest/gtest.h>

TEST(CalibrationReply, ChecksStatusLengthAndCrcBeforeUsingValues)
{
    const std::array<double, 8> values = {-20.0, 1, 2, 3, 4, 5, 6, 7.5};
    const QByteArray good = calibrationReply(values, 1.0000125);
    QByteArray tampered = good;
    tampered[40] = char(tampered[40] ^ 0x01); // changed after the CRC was computed
    const QByteArray status0 = withStatus(good, 0);

    const struct
    {
        const char *what;
        QByteArray reply;
        calibration::Outcome expected;
    } cases[] = {
        {"valid", good, calibration::Outcome::Valid},
        {"valid with trailing bytes", good + QByteArray(6, '\x5A'), calibration::Outcome::Valid},
        {"crc mismatch", tampered, calibration::Outcome::CrcMismatch},
        {"status 0", status0, calibration::Outcome::Failed},
        {"one byte short", good.left(93), calibration::Outcome::Failed},
        {"header only", good.left(18), calibration::Outcome::Failed},
        {"empty", QByteArray(), calibration::Outcome::Failed},
    };
    for (const auto &c : cases) {
        CalibrationData out;
        out.correctionPercent = 42.0;
        EXPECT_EQ(calibration::decodeReply(c.reply, &out), c.expected) << c.what;
        if (c.expected == calibration::Outcome::Valid) {
            EXPECT_EQ(out.calibration, values) << c.what;
            EXPECT_NEAR(out.correctionPercent, 0.00125, 1e-12) << c.what;
        } else {
            EXPECT_EQ(out.correctionPercent, 42.0) << c.what << ": written although not valid";
        }
    }
}

TEST(DeviceInfoBlock, FieldsAndIdentifier)
{
    const QByteArray reply = deviceInfoReply(wire::kDeviceInfoReplyBytes);
    const ReceiverInfo info = receiverinfo::fromBlock(reinterpret_cast<const quint8 *>(reply.constData()) +
                                                      wire::kControlHeaderBytes);
    EXPECT_EQ(info.rawWord0, 0x1234);
    EXPECT_EQ(info.deviceType, 2);
    EXPECT_EQ(info.versionMajor, 3);
    EXPECT_EQ(info.versionMinor, 14);
    EXPECT_EQ(info.rawValue8, 0xCAFEF00Du);
    EXPECT_EQ(info.rawValue16, 0x01020304u);
    EXPECT_EQ(info.id, QStringLiteral("RVD01ff0000007"));
    EXPECT_EQ(info.statusFlags, quint32(ReceiverInfo::PllPresent | ReceiverInfo::RefModeInternal));
    EXPECT_EQ(info.pcbRevision, 5u);
    EXPECT_TRUE(info.name.isEmpty());
}
