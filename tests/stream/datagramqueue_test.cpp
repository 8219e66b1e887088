#include "stream/datagramqueue.h"

#include "stream/tarnixdevice.h"

#include <gtest/gtest.h>

TEST(DatagramQueue, KeepsOrderAndDropsNewArrivalsWhenFull)
{
    DatagramQueue queue(TarnixDevice::kMaxQueuedDatagrams);
    ASSERT_EQ(queue.limit(), 1024);
    for (int k = 0; k < 1100; ++k)
        EXPECT_EQ(queue.append(QByteArray::number(k)), k < 1024) << k;
    EXPECT_EQ(queue.size(), 1024);
    QByteArray out;
    for (int k = 0; k < 1024; ++k) {
        ASSERT_TRUE(queue.takeFirst(out));
        ASSERT_EQ(out, QByteArray::number(k));
    }
    EXPECT_FALSE(queue.takeFirst(out));
    EXPECT_EQ(out, QByteArray::number(1023)) << "a failed take leaves the output alone";
    EXPECT_TRUE(queue.append("again")) << "room again once drained";
}
