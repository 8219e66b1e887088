#include "control/control.h"
#include "driver/receiverinfo.h"

#include <gtest/gtest.h>

namespace {

ReceiverInfo record(quint16 deviceType, quint32 flags)
{
    ReceiverInfo info;
    info.deviceType = deviceType;
    info.id = QStringLiteral("RVD010a1f00123");
    info.versionMajor = 2;
    info.versionMinor = 7;
    info.pcbRevision = 3;
    info.statusFlags = flags;
    return info;
}

} // namespace

TEST(ControlInfoText, LaysOutEachCaseCharacterForCharacter)
{
    struct Case
    {
        const char *what;
        ReceiverInfo info;
        QString expected;
    };
    const QString head = QStringLiteral("Serial: RVD010a1f00123\nVersion: 2.7\nPCB revision: 3\n");
    const Case cases[] = {
        {"no PLL, other device type", record(1, 0x000), head + "PLL: NO"},
        {"no PLL, receiver", record(2, 0x800), "Receiver: TarnixDDC\n" + head + "PLL: NO"},
        {"PLL, internal reference, nothing else", record(2, 0x801),
         "Receiver: TarnixDDC\n" + head +
             "PLL: support\n\tReference mode: Internal\n\tInternal reference: NO\n"
             "\tExternal reference: NO\n\tPLL1 Lock: NO\n\tPLL2 Lock: NO\n\tPLL2 REF clock: NO\n"
             "\tPLL2 FB  clock: NO\n\tVCXO status: NO\n"},
        {"PLL, every bit but internal mode", record(2, 0x1DF),
         "Receiver: TarnixDDC\n" + head +
             "PLL: support\n\tReference mode: External\n\tInternal reference: OK\n"
             "\tExternal reference: OK\n\tPLL1 Lock: OK\n\tPLL2 Lock: OK\n\tPLL2 REF clock: OK\n"
             "\tPLL2 FB  clock: OK\n\tVCXO status: OK\n"},
        // An unanswered request leaves the record empty and the box prints it as it is.
        {"unanswered request", ReceiverInfo(), "Serial: \nVersion: 0.0\nPCB revision: 0\nPLL: NO"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Control::infoText(c.info).toStdString(), c.expected.toStdString()) << c.what;
}

TEST(ControlInfoText, EachStatusBitDrivesItsOwnLine)
{
    struct Bit
    {
        quint32 flag;
        const char *line;
    };
    const Bit bits[] = {{0x010, "\tInternal reference: OK\n"}, {0x008, "\tExternal reference: OK\n"},
                        {0x002, "\tPLL1 Lock: OK\n"},          {0x004, "\tPLL2 Lock: OK\n"},
                        {0x100, "\tPLL2 REF clock: OK\n"},     {0x080, "\tPLL2 FB  clock: OK\n"},
                        {0x040, "\tVCXO status: OK\n"}};
    for (const Bit &b : bits) {
        const QString text = Control::infoText(record(2, 0x001 | b.flag));
        EXPECT_TRUE(text.contains(QLatin1String(b.line))) << b.line;
        EXPECT_EQ(text.count(QStringLiteral("OK\n")), 1) << b.line;
    }
}
