// A receiver that catches up after a resend stall delivers what it held back in one burst, far
// faster than real time: the sample FIFO must hold it all, and the delivery thread hand it all over.
// With a 4096-pair FIFO the soak runs lost a ring's worth of samples on every lost datagram.
#include "platform/mutexlocker.h"
#include "stream/tarnixdsp.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kWaitMs = 10000;

QMutex g_mutex;
std::vector<IqPair> g_delivered;

void collect(int count, int, float, void *data)
{
    platform::MutexLocker lock(&g_mutex);
    const IqPair *p = static_cast<const IqPair *>(data);
    g_delivered.insert(g_delivered.end(), p, p + count);
}

size_t deliveredPairs()
{
    platform::MutexLocker lock(&g_mutex);
    return g_delivered.size();
}

} // namespace

TEST(CatchUpBurst, ABacklogOfAStalledStreamIsDeliveredWhole)
{
    struct Case
    {
        const char *name;
        int datagrams;
    };
    // 20 ms and 100 ms of held-back stream at 312500 samples/s, and the FIFO's design limit.
    const Case cases[] = {{"one resend stall", 32}, {"a resynchronisation", 157}, {"0.2 s", 320}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            platform::MutexLocker lock(&g_mutex);
            g_delivered.clear();
        }
        TarnixDsp dsp;
        dsp.startOutput(1, collect);
        // The whole backlog in one go, as the receive thread hands it over within a pass.
        std::vector<IqPair> datagram(200);
        qint32 n = 0;
        for (int d = 0; d < c.datagrams; ++d) {
            for (IqPair &p : datagram) {
                p = {n, -n};
                ++n;
            }
            dsp.pushSamples(datagram.data(), nullptr, int(datagram.size()), 0);
        }
        const size_t wholeBlocks = size_t(n / TarnixDsp::kBlockPairs) * TarnixDsp::kBlockPairs;
        QElapsedTimer waited;
        waited.start();
        while (deliveredPairs() < wholeBlocks && waited.elapsed() < kWaitMs)
            QThread::msleep(1);
        ASSERT_TRUE(dsp.stopOutput());

        platform::MutexLocker lock(&g_mutex);
        ASSERT_EQ(g_delivered.size(), wholeBlocks);
        for (size_t k = 0; k < g_delivered.size(); ++k) {
            ASSERT_EQ(g_delivered[k].i, qint32(k)) << "first loss at pair " << k;
            ASSERT_EQ(g_delivered[k].q, -qint32(k));
        }
    }
}
