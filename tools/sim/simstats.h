#pragma once

// What a run did: counts for the summary and the acknowledgement latencies for the benchmarks.

#include <QByteArray>
#include <QMap>
#include <QString>

#include <vector>

namespace sim {

struct LatencyStats
{
    quint64 count = 0;
    quint64 medianUs = 0;
    quint64 p99Us = 0;
    quint64 maxUs = 0;
};

class SimStats
{
public:
    quint64 sent = 0;      // stream datagrams put on the wire, first transmissions
    quint64 resent = 0;    // retransmissions
    quint64 acked = 0;     // window entries retired by an acknowledgement
    quint64 abandoned = 0; // given up after the resend limit
    quint64 generated = 0;
    quint64 ackUnmatched = 0; // acknowledgements for no datagram in the window
    quint64 ackMismatch = 0;  // acknowledgements whose bytes differ from the datagram's header
    quint64 received = 0;
    quint64 sendErrors = 0;
    QMap<quint16, quint64> commands;
    QMap<QString, quint64> faults;
    std::vector<quint32> ackLatencyUs;

    void fault(const char *name, quint64 n = 1) { faults[QLatin1String(name)] += n; }
    void ackLatency(qint64 us) { ackLatencyUs.push_back(quint32(qBound<qint64>(0, us, 0xFFFFFFFF))); }

    LatencyStats latency() const;
    QByteArray toJson() const;
    QString summaryLine() const;
};

} // namespace sim
