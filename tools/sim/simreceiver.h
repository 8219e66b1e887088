#pragma once

// One simulated receiver: its socket for control and stream, its command handling and its stream.

#include "tools/sim/faultplan.h"
#include "tools/sim/signalsource.h"
#include "tools/sim/simconfig.h"
#include "tools/sim/streamwindow.h"
#include "tools/sim/udpsocket.h"

#include <QByteArray>
#include <QHash>

namespace sim {

class DatagramLog;
class SimStats;

class SimReceiver : public DatagramSink
{
public:
    SimReceiver(int index, const ReceiverConfig &rx, const SimConfig &config, SimStats &stats,
                DatagramLog &log);

    bool open(QString *error);
    UdpSocket &socket() { return m_socket; }
    const ReceiverConfig &config() const { return m_rx; }
    Endpoint bound() const { return m_socket.local(); }

    // The identity reply for a requester, announcing the address it reaches this receiver on.
    QByteArray discoveryReplyFor(const Endpoint &requester) const;
    // arrivalNs: the socket's arrival stamp, which tells resends from new requests.
    void handleDatagram(const uchar *d, int len, const Endpoint &from, qint64 nowUs, qint64 arrivalNs);
    void poll(qint64 nowUs) { m_stream.poll(nowUs, *this); }
    qint64 nextWakeUs() const { return m_stream.nextWakeUs(); }

    void sendStream(const uchar *d, int len) override;

private:
    void handleCommand(const uchar *d, int len, const Endpoint &from, qint64 nowUs);
    void send(const QByteArray &d, const Endpoint &to);
    bool isResend(const uchar *d, int len, qint64 arrivalNs) const;

    int m_index;
    ReceiverConfig m_rx;
    Calibration m_calibration;
    SimStats &m_stats;
    DatagramLog &m_log;
    UdpSocket m_socket;
    FaultPlan m_faults;
    SignalSource m_signal;
    StreamWindow m_stream;
    Endpoint m_client;         // where the stream goes: the sender of the last start command
    QByteArray m_runningStart; // the start command of the running stream
    RepeatedStart m_repeatedStart;
    bool m_lpf = false;
    QHash<QByteArray, qint64> m_repliedNs; // each command answered: when its last reply left
};

} // namespace sim
