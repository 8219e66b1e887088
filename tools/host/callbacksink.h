#pragma once

#include "tools/host/blockring.h"
#include "tools/host/extiolibrary.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>

// What the host saw of the plug-in's callback calls, read by the host's main thread.
struct CallbackStats
{
    quint64 dataCalls = 0;      // calls carrying samples
    quint64 statusCalls = 0;    // calls with a negative count (status notifications)
    quint64 irregularCalls = 0; // data calls whose count was not 2048, or whose data pointer was null
    quint64 pairs = 0;
    qint64 firstBlockNs = -1; // since the sink's start time; -1 before the first block
    qint64 lastBlockNs = -1;
    quintptr callbackThread = 0;
    bool severalCallbackThreads = false;
    int lastStatus = 0;
};

// Receives the plug-in's sample callback. The callback is a plain function, so one sink at a time
// is reachable through a process-wide pointer. Work on the plug-in's thread is a copy into the ring
// and a few relaxed counters.
class CallbackSink
{
public:
    explicit CallbackSink(BlockRing *ring);
    ~CallbackSink();
    CallbackSink(const CallbackSink &) = delete;
    CallbackSink &operator=(const CallbackSink &) = delete;

    static void EXTIO_CALLBACK callback(int count, int status, float iqOffset, void *data);

    // Nanoseconds since the sink was made; the host timestamps its own steps on the same clock.
    qint64 nowNs() const;
    CallbackStats stats() const;

private:
    void onCall(int count, int status, const void *data);

    BlockRing *const m_ring;
    const std::chrono::steady_clock::time_point m_start;
    std::atomic<quint64> m_dataCalls{0}, m_statusCalls{0}, m_irregularCalls{0}, m_pairs{0};
    std::atomic<qint64> m_firstBlockNs{-1}, m_lastBlockNs{-1};
    std::atomic<quintptr> m_thread{0};
    std::atomic<bool> m_severalThreads{false};
    std::atomic<int> m_lastStatus{0};
};
