#include "discovery/discoveryprotocol.h"
#include "discovery/searcher.h"
#include "discovery/tarnixsearcher.h"
#include "tests/support/loopbackpeer.h"

#include <QUdpSocket>
#include <QtEndian>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <thread>

namespace {

const QHostAddress kPeerAddress(QStringLiteral("127.0.0.2"));

QByteArray reply(quint32 serialNumber, quint8 a, quint8 b, quint16 port)
{
    std::array<uchar, 24> d{0x12, 0xFF, 0x01, 0x1A};
    qToLittleEndian<quint32>(serialNumber, d.data() + 4);
    d[8] = a;
    d[9] = b;
    d[10] = 10;
    d[13] = b;
    qToLittleEndian<quint16>(port, d.data() + 18);
    return QByteArray(reinterpret_cast<const char *>(d.data()), int(d.size()));
}

// Answers every discovery request with `answers`, in order.
std::unique_ptr<LoopbackPeer> startPeer(quint16 port, const QList<QByteArray> &answers)
{
    auto peer = std::make_unique<LoopbackPeer>(kPeerAddress, port, [answers](const QByteArray &request) {
        return request == discovery::buildRequest() ? answers : QList<QByteArray>();
    });
    EXPECT_TRUE(peer->startBound());
    return peer;
}

class SearcherLoopback : public ::testing::Test
{
protected:
    void SetUp() override { searcher.setBroadcastTarget(kPeerAddress); }
    Searcher searcher;
};

} // namespace

TEST_F(SearcherLoopback, AnswersComeBackInArrivalOrderAndShortOnesAreSkipped)
{
    const quint16 port = freeUdpPort();
    ASSERT_NE(port, 0);
    // Cut inside the status word: too short to be a reply.
    const QByteArray shortSignature = reply(5, 1, 2, port).left(21);
    auto peer = startPeer(port, {reply(1, 0xA1, 0x01, 50001), shortSignature, reply(2, 0xB2, 0x02, 50002),
                                 reply(1, 0xA1, 0x01, 50001)});

    const QList<Receiver> found = searcher.search(port);
    ASSERT_EQ(found.size(), 3);
    EXPECT_EQ(found[0].serial, QStringLiteral("RVD01a10100001"));
    EXPECT_EQ(found[0].address, QHostAddress(QStringLiteral("10.0.0.1")));
    EXPECT_EQ(found[1].serial, QStringLiteral("RVD01b20200002"));
    EXPECT_EQ(found[1].port, 50002);
    EXPECT_EQ(found[2].serial, found[0].serial); // repeats are kept

    const auto arrivals = peer->arrivals();
    ASSERT_EQ(arrivals.size(), 1);
    EXPECT_EQ(arrivals[0].datagram, discovery::buildRequest());
}

TEST_F(SearcherLoopback, FindReceiverPicksBySerialElseTheFirstAnswer)
{
    const quint16 port = freeUdpPort();
    ASSERT_NE(port, 0);
    auto peer = startPeer(port, {reply(1, 0xA1, 0x01, 50001), reply(2, 0xB2, 0x02, 50002)});

    const struct
    {
        QString serial;
        QString expected;
    } cases[] = {
        {QStringLiteral("RVD01b20200002"), QStringLiteral("RVD01b20200002")},
        {QString(), QStringLiteral("RVD01a10100001")},
        {QStringLiteral("RVD01ffff99999"), QStringLiteral("RVD01a10100001")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(searcher.findReceiver(c.serial, port).serial, c.expected) << c.serial.toStdString();
}

TEST_F(SearcherLoopback, NobodyAnsweringGivesTheEmptyRecord)
{
    const quint16 port = freeUdpPort();
    ASSERT_NE(port, 0);
    const Receiver none = searcher.findReceiver(QStringLiteral("RVD010a1f00123"), port);
    EXPECT_TRUE(none.serial.isEmpty());
    EXPECT_TRUE(none.address.isNull());
}

TEST_F(SearcherLoopback, BusyPortMovesTheSearchAndTheRequestOneLower)
{
    const quint16 port = freeUdpPort(true);
    ASSERT_NE(port, 0);
    QUdpSocket holder; // no address sharing, so the search cannot bind beside it
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, port, QUdpSocket::DontShareAddress));
    auto peer = startPeer(port - 1, {reply(9, 0x0C, 0x0D, port)});

    const QList<Receiver> found = searcher.search(port);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].serial, QStringLiteral("RVD010c0d00009"));
    EXPECT_EQ(peer->arrivals().size(), 1);
    // The search waited long after sending; a request to the busy port would be here by now.
    EXPECT_FALSE(holder.hasPendingDatagrams());
}

TEST(TarnixSearcher, OneInstanceUntilItsOwnerDeletesIt)
{
    TarnixSearcher *seen[2] = {};
    std::thread other([&seen] { seen[1] = TarnixSearcher::instance(); });
    seen[0] = TarnixSearcher::instance();
    other.join();
    ASSERT_NE(seen[0], nullptr);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(TarnixSearcher::instance(), seen[0]);

    const quint16 port = freeUdpPort();
    ASSERT_NE(port, 0);
    auto peer = startPeer(port, {reply(3, 0x01, 0x02, 50001)});
    seen[0]->setBroadcastTarget(kPeerAddress);
    EXPECT_EQ(seen[0]->findReceiver(QString(), port).serial, QStringLiteral("RVD010102"
                                                                            "00003"));

    delete seen[0];
    // A fresh object, not the deleted one; it never searches here (its target is the broadcast address).
    TarnixSearcher *fresh = TarnixSearcher::instance();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(TarnixSearcher::instance(), fresh);
    delete fresh;
}
