#include "discovery/discoveryprotocol.h"
#include "discovery/identifier.h"

#include <gtest/gtest.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The example answer: serial 123, bytes 0A 1F, 10.0.0.7, port 50001, status 0.
QByteArray exampleReply()
{
    return hex("12FF011A 7B000000 0A1F 0A000007 00000000 51C3 0000 0000");
}

} // namespace

TEST(DiscoveryProtocol, RequestIsTheFixedChecksummedDatagram)
{
    EXPECT_EQ(discovery::buildRequest().toHex(' '),
              hex("12FF001A 000000000000000000000000000000000000 ECE6").toHex(' '));
    // Summing a datagram together with its own checksum gives zero when the checksum is right.
    EXPECT_EQ(discovery::internetChecksum(discovery::buildRequest()), 0);
}

TEST(DiscoveryProtocol, ExampleReplyGivesTheFullRecord)
{
    Receiver r;
    ASSERT_TRUE(discovery::parseReply(exampleReply(), &r));
    EXPECT_TRUE(r.flag);
    EXPECT_EQ(r.name, QStringLiteral("TarnixDDC"));
    EXPECT_EQ(r.serial, QStringLiteral("RVD010a1f00123"));
    EXPECT_EQ(r.address, QHostAddress(QStringLiteral("10.0.0.7")));
    EXPECT_EQ(r.port, 50001);

    QByteArray busy = exampleReply();
    busy[20] = 1;
    ASSERT_TRUE(discovery::parseReply(busy, &r));
    EXPECT_FALSE(r.flag);

    // The last two bytes are never examined: replies without them are whole.
    for (int size : {22, 23}) {
        Receiver cut;
        ASSERT_TRUE(discovery::parseReply(exampleReply().left(size), &cut)) << size;
        EXPECT_EQ(cut.serial, QStringLiteral("RVD010a1f00123")) << size;
        EXPECT_EQ(cut.port, 50001) << size;
        EXPECT_TRUE(cut.flag) << size;
    }
}

TEST(DiscoveryProtocol, AnythingButAReplyIsIgnored)
{
    const struct
    {
        const char *what;
        QByteArray datagram;
    } cases[] = {
        {"empty", QByteArray()},
        {"signature only", hex("12FF011A")},
        {"status word cut", exampleReply().left(21)},
        {"our own request", discovery::buildRequest()},
        {"control reply", hex("12FF0100") + exampleReply().mid(4)},
    };
    for (const auto &c : cases) {
        Receiver r;
        r.serial = QStringLiteral("untouched");
        EXPECT_FALSE(discovery::parseReply(c.datagram, &r)) << c.what;
        EXPECT_EQ(r.serial, QStringLiteral("untouched")) << c.what;
    }
}

TEST(ReceiverIdentifier, PadsAndKeepsEveryDigit)
{
    const struct
    {
        quint8 a, b;
        quint32 serial;
        const char *expected;
    } cases[] = {
        {0x0A, 0x1F, 123, "RVD010a1f00123"},
        {0xFF, 0x00, 7, "RVD01ff0000007"},
        {0x00, 0x01, 99999,
         "RVD010001"
         "99999"},
        {0xAB, 0xCD, 100000, "RVD01abcd100000"},
        {0x00, 0x00, 4294967295u, "RVD0100004294967295"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(receiverIdentifier(c.a, c.b, c.serial), QString::fromLatin1(c.expected)) << c.expected;
}
